// korvelan-meta end to end, through the built binary: the shipped data sets
// in every input shape (fixed seeds), against korvelan-prepare and
// `korvelan --seed` on the five real studies, every option, every refused
// input with its message and status, and an interrupt during the runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tests/e2e/program_runner.h"
#include "common/sha256.h"

namespace korvelan {
namespace {

namespace fs = std::filesystem;
using e2e::ReadBytes;
using e2e::RunResult;
using e2e::RunSpec;
using e2e::ScratchDir;
using e2e::WriteBytes;

const fs::path kMetaData = KORVELAN_META_TEST_DATA;
const fs::path kTools = KORVELAN_TOOLS_TEST_DATA;
const fs::path kProstate = kMetaData / "rankaggreg-prostate5" / "geneLists.tsv";
const fs::path kBreast = kMetaData / "topklists-breast3" / "breast.tsv";
const char* const kFive[] = {"GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"};

using Row = std::map<std::string, std::string>;

// results.tsv as rows keyed by column name, in file order.
std::vector<Row> ReadResults(const fs::path& file) {
  std::istringstream lines(ReadBytes(file));
  std::vector<std::string> header;
  std::vector<Row> rows;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (header.empty()) {
      header = fields;
      continue;
    }
    EXPECT_EQ(fields.size(), header.size()) << line;
    Row row;
    for (std::size_t c = 0; c < header.size() && c < fields.size(); ++c) row[header[c]] = fields[c];
    rows.push_back(row);
  }
  return rows;
}

double Number(const std::string& cell) { return cell == "NA" ? std::nan("") : std::stod(cell); }

class MetaProgram : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, int signal = 0) {
    RunSpec spec;
    spec.args = std::move(args);
    spec.signal = signal;
    spec.signal_after = "running";
    spec.signal_delay = std::chrono::milliseconds(300);
    const fs::path io = scratch_.path() / ("io" + std::to_string(++runs_));
    fs::create_directories(io);
    return e2e::RunProgram(scratch_.path(), io, spec);
  }
  fs::path Path(const std::string& name) const { return scratch_.path() / name; }
  std::vector<std::string> FiveTables() const {
    std::vector<std::string> files;
    for (const char* s : kFive) files.push_back((kTools / (std::string(s) + ".tsv")).string());
    return files;
  }
  // Writes the prostate rows as one list file per study.
  std::vector<std::string> ProstateLists() {
    std::istringstream lines(ReadBytes(kProstate));
    std::string line;
    std::getline(lines, line);  // header
    std::vector<std::string> files;
    while (std::getline(lines, line)) {
      std::istringstream cells(line);
      std::string name, id, list = "# top 25\n";
      std::getline(cells, name, '\t');
      while (std::getline(cells, id, '\t')) list += id + "\n\n";
      files.push_back(Path(name + ".txt").string());
      WriteBytes(files.back(), list);
    }
    return files;
  }

  ScratchDir scratch_;
  int runs_ = 0;
};

TEST_F(MetaProgram, FiveStudiesMatchPrepareAndTheConsoleProgram) {
  const fs::path work = Path("work");
  std::string tables;
  for (const std::string& f : FiveTables()) tables += " '" + f + "'";
  ASSERT_EQ(std::system(("'" KORVELAN_PREPARE "' -o '" + work.string() +
                         "' --gene Symbol --pvalue pvalue --runs 7" + tables + " > /dev/null")
                            .c_str()),
            0);
  ASSERT_EQ(std::system(("cd '" + work.string() +
                         "' && '" KORVELAN_PROGRAM
                         "' --seed 4711 < answers.txt > screen.txt && '" KORVELAN_REPORT
                         "' . > /dev/null && '" KORVELAN_REPORT
                         "' . --pvalues plus-one -o plus.tsv > /dev/null")
                            .c_str()),
            0);
  std::vector<std::string> args = {"-o",        "meta",   "--gene", "Symbol", "--pvalue",
                                   "pvalue",    "--runs", "7",      "--seed", "4711",
                                   "--pvalues", "exact",  "-q"};
  for (const std::string& f : FiveTables()) args.push_back(f);
  const RunResult r = Run(args);
  ASSERT_EQ(r.exit_status, 0) << e2e::Describe(r);

  std::map<std::string, Row> reference;
  for (const Row& row : ReadResults(work / "results.tsv")) reference[row.at("gene")] = row;
  std::map<std::string, Row> plus;
  for (const Row& row : ReadResults(work / "plus.tsv")) plus[row.at("gene")] = row;
  args[std::find(args.begin(), args.end(), "exact") - args.begin()] = "plus-one";
  args[1] = "meta-plus";
  const RunResult plus_run = Run(args);
  ASSERT_EQ(plus_run.exit_status, 0) << e2e::Describe(plus_run);
  std::map<std::string, Row> plus_meta;
  for (const Row& row : ReadResults(Path("meta-plus") / "results.tsv"))
    plus_meta[row.at("gene")] = row;
  const std::vector<Row> rows = ReadResults(Path("meta") / "results.tsv");
  ASSERT_EQ(rows.size(), reference.size());
  for (const Row& row : rows) {
    const Row& ref = reference.at(row.at("gene"));
    EXPECT_EQ(row.at("n_studies"), ref.at("class")) << row.at("gene");
    // output.txt holds single-precision P-values in as many digits as
    // tell them apart: both texts read back to the same float.
    for (const char* p : {"p_Rmean_right", "p_Rmean_left", "p_Rwmean_right", "p_Rwmean_left",
                          "p_Q_right", "p_Q_left"}) {
      // One-study genes have Q NA here; the console program writes its P.
      if (p[2] == 'Q' && row.at("n_studies") == "1") continue;
      EXPECT_EQ(static_cast<float>(Number(row.at(p))), static_cast<float>(Number(ref.at(p))))
          << row.at("gene") << " " << p;
    }
    // Plus-one from the counts korvelan-report recovers: the same doubles.
    const Row& plus_ref = plus.at(row.at("gene"));
    const Row& plus_row = plus_meta.at(row.at("gene"));
    for (const char* p :
         {"p_Rmean_right", "p_Rmean_left", "p_Rwmean_right", "p_Rwmean_left", "p_Q_left"}) {
      if (p[2] == 'Q' && row.at("n_studies") == "1") continue;
      EXPECT_EQ(plus_row.at(p), plus_ref.at(p)) << row.at("gene") << " " << p;
    }
    // output.txt shows R-mean with four decimals; results.tsv the shortest
    // text of the float, which may be further from those decimals than the
    // float itself is.
    EXPECT_NEAR(static_cast<float>(Number(row.at("R_mean"))), Number(ref.at("R_mean")), 5.1e-5)
        << row.at("gene");
  }
}

TEST_F(MetaProgram, ProstateListsBelowPutHpnAndAmacrOnTopInEveryShape) {
  // The same five lists as rows, as one list file per study and as a long
  // table: the same results.tsv byte for byte.
  const RunResult rows = Run({kProstate.string(), "-o", "rows", "--seed", "11", "--runs", "200"});
  ASSERT_EQ(rows.exit_status, 0) << e2e::Describe(rows);
  EXPECT_NE(rows.out.find("(rows), absent genes below"), std::string::npos) << rows.out;
  // Without --universe the union stands for it, and the screen says why
  // that matters.
  EXPECT_NE(rows.out.find("no universe was given: the 89 genes the inputs name stand for"),
            std::string::npos);
  const std::vector<Row> top = ReadResults(Path("rows") / "results.tsv");
  ASSERT_EQ(top.size(), 89u);
  EXPECT_EQ(top[0].at("gene"), "HPN");
  EXPECT_EQ(top[1].at("gene"), "AMACR");
  EXPECT_EQ(top[1].at("rank_Singh"), "57.5");  // below 25 of 89: (26 + 89) / 2

  std::vector<std::string> args = ProstateLists();
  for (const char* a : {"-o", "lists", "--seed", "11", "--runs", "200"}) args.push_back(a);
  const RunResult lists = Run(args);
  ASSERT_EQ(lists.exit_status, 0) << e2e::Describe(lists);
  EXPECT_NE(lists.out.find("(lists)"), std::string::npos);
  EXPECT_EQ(ReadBytes(Path("lists") / "results.tsv"), ReadBytes(Path("rows") / "results.tsv"));

  std::string long_table = "study,gene,rank\n";
  for (const Row& row : top) {
    for (const char* s : {"Luo", "Welsh", "Dhana", "True", "Singh"}) {
      const std::string rank = row.at(std::string("rank_") + s);
      if (Number(rank) <= 25)
        long_table += std::string(s) + "," + row.at("gene") + "," + rank + "\n";
    }
  }
  WriteBytes(Path("long.csv"), long_table);
  const RunResult lng =
      Run({"long.csv", "-o", "long", "--seed", "11", "--runs", "200", "--absent", "below"});
  ASSERT_EQ(lng.exit_status, 0) << e2e::Describe(lng);
  // Studies come in order of first appearance in the long table.
  const std::vector<Row> long_rows = ReadResults(Path("long") / "results.tsv");
  EXPECT_EQ(long_rows[0].at("gene"), "HPN");
  EXPECT_EQ(long_rows[0].at("p_Rmean_left"), top[0].at("p_Rmean_left"));

  // Absent as missing: OGT, first in one list only, is scaled to the
  // third-best R-mean and sits among the top genes; below, it falls away.
  const RunResult missing = Run({kProstate.string(), "-o", "missing", "--seed", "11", "--runs",
                                 "200", "--absent", "missing"});
  ASSERT_EQ(missing.exit_status, 0);
  const std::vector<Row> m = ReadResults(Path("missing") / "results.tsv");
  const auto ogt =
      std::find_if(m.begin(), m.end(), [](const Row& row) { return row.at("gene") == "OGT"; });
  ASSERT_NE(ogt, m.end());
  EXPECT_LT(ogt - m.begin(), 5);
  EXPECT_EQ(ogt->at("R_mean"), "3.56");  // float(89 / 25 x 1), written as the float it is
  EXPECT_EQ(ogt->at("Q"), "NA");
  EXPECT_EQ(ogt->at("p_Q_right"), "NA");
  for (std::size_t i = 0; i < 10; ++i) EXPECT_NE(top[i].at("gene"), "OGT");
}

TEST_F(MetaProgram, ProstateListsOverAUniverseOf20000ReachTheResolutionLimit) {
  // Every gene of the universe, named or not, takes part in the runs: a
  // gene on top of four lists out of 20000 is never matched by chance.
  const RunResult r = Run({kProstate.string(), "-o", "wide", "--seed", "3", "--runs", "40",
                           "--universe", "20000", "--top", "4"});
  ASSERT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_NE(r.out.find("  Luo: 25 ids listed, universe 20000, absent genes below\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("19911 genes of the universe have no id"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("no universe was given"), std::string::npos);
  const std::vector<Row> rows = ReadResults(Path("wide") / "results.tsv");
  ASSERT_EQ(rows.size(), 89u);
  std::set<std::string> top;
  for (std::size_t i = 0; i < 4; ++i) {
    top.insert(rows[i].at("gene"));
    EXPECT_EQ(Number(rows[i].at("p_Rmean_left")), 1.0 / (40.0 * 20000 + 1)) << rows[i].at("gene");
  }
  EXPECT_EQ(top, (std::set<std::string>{"HPN", "AMACR", "NME1", "GDF15"}));
  EXPECT_LT(std::stoi(rows[4].at("n_studies")), 4);
  const auto run = nlohmann::json::parse(ReadBytes(Path("wide") / "run.json"));
  EXPECT_EQ(run["counts"]["genes_analysed"], 20000);
  EXPECT_EQ(run["counts"]["genes_without_ids"], 19911);
  EXPECT_EQ(run["study_universes"][4]["study"], "Singh");
  EXPECT_EQ(run["study_universes"][4]["universe"], 20000);
  EXPECT_EQ(run["study_universes"][4]["universe_from"], "given");
  EXPECT_FALSE(run.contains("universe_note"));
}

TEST_F(MetaProgram, BreastTopHundredOverItsUniverseComesCloseToTheFullRankings) {
  // The three full rankings of 917 genes, and the same cut to their top
  // 100 with --universe 917: the runs must permute over all 917 genes, or
  // the cut lists' top genes lose most of their evidence.
  std::istringstream lines(ReadBytes(kBreast));
  std::string cut;
  std::string line;
  for (int n = 0; n <= 100 && std::getline(lines, line); ++n) cut += line + "\n";
  WriteBytes(Path("top100.tsv"), cut);
  const std::vector<std::string> common = {"--seed", "8", "--runs", "300", "-q"};
  std::vector<std::string> full_args = {kBreast.string(), "-o", "full"};
  std::vector<std::string> cut_args = {"top100.tsv", "-o", "cut", "--universe", "917"};
  full_args.insert(full_args.end(), common.begin(), common.end());
  cut_args.insert(cut_args.end(), common.begin(), common.end());
  ASSERT_EQ(Run(full_args).exit_status, 0);
  ASSERT_EQ(Run(cut_args).exit_status, 0);
  const std::vector<Row> full = ReadResults(Path("full") / "results.tsv");
  std::map<std::string, Row> by_gene;
  for (const Row& row : ReadResults(Path("cut") / "results.tsv")) by_gene[row.at("gene")] = row;
  for (std::size_t i = 0; i < 20; ++i) {
    const std::string& gene = full[i].at("gene");
    ASSERT_TRUE(by_gene.contains(gene)) << gene;
    const double p_full = Number(full[i].at("p_Rmean_left"));
    const double p_cut = Number(by_gene[gene].at("p_Rmean_left"));
    EXPECT_LT(p_cut, 2.5 * p_full + 2e-5) << gene << ": " << p_cut << " against " << p_full;
  }
  EXPECT_EQ(by_gene.at("ESR1").at("p_Rmean_left"), full[0].at("p_Rmean_left"));
}

TEST_F(MetaProgram, SheetMixesTablesWithATopList) {
  // Four of the five real tables and the fifth cut to its 200 smallest
  // p-values, a list over the genes of its table.
  const std::vector<std::string> tables = FiveTables();
  std::istringstream lines(ReadBytes(tables[0]));
  std::string line;
  std::getline(lines, line);
  std::vector<std::pair<double, std::string>> genes;
  std::string universe;
  while (std::getline(lines, line)) {
    std::istringstream cells(line);
    std::string id, lfc, p;
    std::getline(cells, id, '\t');
    std::getline(cells, lfc, '\t');
    std::getline(cells, p, '\t');
    genes.emplace_back(std::stod(p), id);
    universe += id + "\n";
  }
  std::stable_sort(genes.begin(), genes.end());
  std::string top;
  for (std::size_t k = 0; k < 200; ++k) top += genes[k].second + "\n";
  WriteBytes(Path("top200.txt"), top);
  WriteBytes(Path("measured.txt"), universe);
  std::string sheet = "file\tstudy\tuniverse\ntop200.txt\tcut\tmeasured.txt\n";
  for (std::size_t j = 1; j < tables.size(); ++j) sheet += tables[j] + "\t\t\n";
  WriteBytes(Path("sheet.tsv"), sheet);
  const RunResult r = Run({"--studies", "sheet.tsv", "-o", "mixed", "--gene", "Symbol", "--pvalue",
                           "pvalue", "--runs", "3", "--seed", "2", "--top", "0"});
  ASSERT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_NE(r.out.find("5 studies (sheet), absent genes per study"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  cut: 200 ids listed, universe " + std::to_string(genes.size()) +
                       ", absent genes below\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("  GSE24883: "), std::string::npos) << r.out;
  const auto run = nlohmann::json::parse(ReadBytes(Path("mixed") / "run.json"));
  EXPECT_EQ(run["sheet"]["sha256"], tools::Sha256Hex(sheet));
  EXPECT_EQ(run["study_universes"][0]["absent"], "below");
  EXPECT_EQ(run["study_universes"][0]["universe_given"], "measured.txt");
  EXPECT_EQ(run["study_universes"][1]["absent"], "missing");
  EXPECT_EQ(run["inputs"][1]["sha256"], tools::Sha256Hex(ReadBytes(tables[1])));

  // A row naming a file that is not there: the sheet and its line.
  WriteBytes(Path("bad.tsv"), "file\ntop200.txt\nnone.txt\n");
  const RunResult bad = Run({"--studies", "bad.tsv", "-o", "bad", "--seed", "2"});
  EXPECT_EQ(bad.exit_status, 1);
  EXPECT_NE(bad.err.find("bad.tsv line 3: the file \"none.txt\" does not exist"), std::string::npos)
      << bad.err;
  EXPECT_FALSE(fs::exists(Path("bad")));
}

TEST_F(MetaProgram, BreastColumnsAndTheRunRecord) {
  const RunResult r = Run({kBreast.string(), "-o", "breast", "--runs", "20", "--top", "3"});
  ASSERT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_NE(r.out.find("(columns), absent genes below"), std::string::npos);
  EXPECT_NE(r.out.find("\nESR1 "), std::string::npos) << r.out;
  const std::vector<Row> rows = ReadResults(Path("breast") / "results.tsv");
  ASSERT_EQ(rows.size(), 917u);
  EXPECT_EQ(rows[0].at("gene"), "ESR1");
  for (const Row& row : rows) ASSERT_EQ(row.at("n_studies"), "3");
  for (const Row& row : rows) ASSERT_GT(Number(row.at("p_Rmean_left")), 0.0);  // plus-one

  const auto run = nlohmann::json::parse(ReadBytes(Path("breast") / "run.json"));
  EXPECT_TRUE(run["options"]["seed_drawn"].get<bool>());
  EXPECT_EQ(run["inputs"][0]["sha256"], tools::Sha256Hex(ReadBytes(kBreast)));
  EXPECT_EQ(run["counts"]["genes"], 917);
  EXPECT_EQ(run["options"]["absent"], "below");
  EXPECT_EQ(run["command_line"][0], "korvelan-meta");
  // The recorded seed repeats the run.
  const std::string seed = std::to_string(run["seed"].get<int>());
  const RunResult again = Run({kBreast.string(), "-o", "again", "--runs", "20", "--seed", seed});
  ASSERT_EQ(again.exit_status, 0);
  EXPECT_EQ(ReadBytes(Path("again") / "results.tsv"), ReadBytes(Path("breast") / "results.tsv"));
  EXPECT_TRUE(fs::exists(Path("breast") / "report.html"));
}

TEST_F(MetaProgram, OptionsChangeWhatTheyShould) {
  std::vector<std::string> lists = ProstateLists();
  auto run = [&](const std::string& dir, std::vector<std::string> extra) {
    std::vector<std::string> args = {kProstate.string(), "-o", dir, "--seed", "5",
                                     "--runs",           "50", "-q"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = Run(args);
    EXPECT_EQ(r.exit_status, 0) << dir << ": " << e2e::Describe(r);
    return ReadResults(Path(dir) / "results.tsv");
  };
  // --min-studies: genes measured by fewer studies are NA and last. (A
  // top-k list measures its whole universe, so only tables leave genes out.)
  const std::vector<Row> min3 = run("min3", {"--min-studies", "3", "--absent", "missing"});
  std::size_t na = 0;
  for (const Row& row : min3) {
    if (std::stoi(row.at("n_studies")) < 3) {
      ++na;
      EXPECT_EQ(row.at("p_Rmean_left"), "NA");
      EXPECT_EQ(row.at("q_Rmean_left"), "NA");
    }
  }
  EXPECT_GT(na, 70u);
  EXPECT_EQ(min3.back().at("p_Rmean_left"), "NA");
  // --universe N: the below rank spreads over N.
  const std::vector<Row> wide = run("wide", {"--universe", "1000"});
  EXPECT_EQ(wide[1].at("rank_Singh"), "513");  // (26 + 1000) / 2
  // --universe FILE: the ids of a file; the extra ids are listed by none.
  std::string universe;
  for (const Row& row : wide) universe += row.at("gene") + "\n";
  universe += "EXTRA1\nEXTRA2\n";
  WriteBytes(Path("universe.txt"), universe);
  const std::vector<Row> file = run("file", {"--universe", "universe.txt"});
  EXPECT_EQ(file.size(), 91u);
  EXPECT_EQ(file.back().at("n_studies"), "0");
  // --pvalues exact: count / total, zero allowed.
  const std::vector<Row> exact = run("exact", {"--pvalues", "exact"});
  EXPECT_EQ(exact[0].at("p_Rmean_left"), "0");
  // --weights change R_wmean only.
  const std::vector<Row> weighted = run("weighted", {"--weights", "1,2,3,4,5"});
  const std::vector<Row> plain = run("plain", {});
  EXPECT_EQ(weighted[0].at("R_mean"), plain[0].at("R_mean"));
  EXPECT_NE(weighted[0].at("R_wmean"), plain[0].at("R_wmean"));
  // --threads and a named --input-format change no byte.
  run("one-thread", {"--threads", "1", "--input-format", "rows"});
  EXPECT_EQ(ReadBytes(Path("one-thread") / "results.tsv"), ReadBytes(Path("plain") / "results.tsv"));
  for (const char* threads : {"2", "3", "7"}) {
    const std::string name = std::string("threads-") + threads;
    run(name, {"--threads", threads});
    EXPECT_EQ(ReadBytes(Path(name) / "results.tsv"), ReadBytes(Path("plain") / "results.tsv"))
        << name;
  }
  // --sort-by
  const std::vector<Row> by_q = run("byq", {"--sort-by", "p_Q_right"});
  for (std::size_t i = 1; i < by_q.size(); ++i) {
    if (by_q[i].at("p_Q_right") == "NA") break;
    EXPECT_LE(Number(by_q[i - 1].at("p_Q_right")), Number(by_q[i].at("p_Q_right")));
  }
  // --duplicates: an id twice in one list.
  WriteBytes(Path("dup.txt"), "A\nB\nA\nC\n");
  WriteBytes(Path("other.txt"), "C\nA\nB\n");
  for (const char* mode : {"first", "best", "mean"}) {
    const RunResult r = Run({"dup.txt", "other.txt", "-o", std::string("dup-") + mode,
                             "--duplicates", mode, "--seed", "1", "--runs", "5", "-q"});
    EXPECT_EQ(r.exit_status, 0) << mode << ": " << e2e::Describe(r);
  }
  // --force replaces an existing directory.
  const RunResult forced =
      Run({kProstate.string(), "-o", "plain", "--force", "--seed", "6", "--runs", "5", "-q"});
  EXPECT_EQ(forced.exit_status, 0) << e2e::Describe(forced);
  EXPECT_NE(ReadBytes(Path("plain") / "run.json").find("\"seed\": 6"), std::string::npos);
}

TEST_F(MetaProgram, RefusedInputsNameWhatIsWrong) {
  WriteBytes(Path("a.txt"), "x\ny\nz\n");
  WriteBytes(Path("dup.txt"), "x\ny\n# note\nx\n");
  WriteBytes(Path("empty.txt"), "# nothing\n\n");
  WriteBytes(Path("one.txt"), "x\n");
  WriteBytes(Path("tab.csv"), "A,B\nx,y\n\"p\tq\",z\n");
  WriteBytes(Path("quote.txt"), "x\ny\"z\n");
  WriteBytes(Path("gap.tsv"), "A\tB\nx\ty\n\tz\nw\tv\n");
  WriteBytes(Path("long.csv"), "study,gene,score\nA,x,1\n");
  std::string many = "study\tr1\tr2";
  for (int s = 0; s < 99; ++s) many += "\n" + std::string("s") + std::to_string(s) + "\tx\ty";
  WriteBytes(Path("many.tsv"), many + "\n");
  WriteBytes(Path("table1.tsv"), "Symbol\tpvalue\nx\t0.1\ny\t0.2\n");
  WriteBytes(Path("odd.tsv"), "probe\tscore\nx\t0.1\ny\t0.2\n");
  WriteBytes(Path("odd2.tsv"), "probe\tscore\nx\t0.1\ny\t0.2\n");
  WriteBytes(Path("badp.tsv"), "Symbol\tpvalue\nx\t0.1\ny\t2\n");
  WriteBytes(Path("badp.tsv.gz"), std::string("\x1f\x8b\x08\x00", 4));
  fs::create_directories(Path("exists"));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing file", {"nofile.txt", "a.txt"}, 1, "cannot open nofile.txt"},
      {"unknown format", {"--input-format", "xml", "a.txt", "a.txt"}, 2, "--input-format"},
      {"duplicates",
       {"dup.txt", "a.txt"},
       1,
       "dup.txt: study \"dup\" lists \"x\" twice, on lines 1 and 4"},
      {"empty list", {"empty.txt", "a.txt"}, 1, "the file holds no ids"},
      {"empty list second", {"a.txt", "empty.txt"}, 1, "study \"empty\" ranks 0 ids"},
      {"one gene", {"a.txt", "one.txt"}, 1, "study \"one\" ranks 1 id; a study must rank at least 2"},
      {"one list", {"a.txt"}, 1, "takes 2 to 98 studies, not 1"},
      {"99 studies", {"many.tsv"}, 1, "takes 2 to 98 studies, not 99"},
      {"tab in id", {"tab.csv"}, 1, "tab.csv line 3: the id \"p\\tq\" of study \"A\" is not usable"},
      {"quote in id", {"quote.txt", "a.txt"}, 1, "quote.txt line 2: the id \"y\"z\""},
      {"cell after the end",
       {"gap.tsv"},
       1,
       "gap.tsv line 4: column \"A\" holds \"w\" after its list ended"},
      {"long without rank column", {"long.csv"}, 1, "no column \"rank\""},
      {"table without known columns",
       {"odd.tsv", "odd2.tsv"},
       1,
       "odd.tsv: cannot tell which column holds the gene ids from the header (\"probe\", \"score\"); "
       "name the columns with --gene COLUMN"},
      {"table with a bad p-value",
       {"table1.tsv", "badp.tsv"},
       1,
       "badp.tsv line 3: column \"pvalue\" holds 2, which is not a p-value"},
      {"table with a bad gzip",
       {"table1.tsv", "badp.tsv.gz"},
       1,
       "badp.tsv.gz: the gzip data end too early"},
      {"wrong gene column",
       {"--gene", "Gene", "--pvalue", "pvalue", "table1.tsv", "table1.tsv"},
       1,
       "no column \"Gene\""},
      {"existing directory", {"a.txt", "a.txt", "-o", "exists"}, 2, "exists already exists"},
      {"universe with missing",
       {"a.txt", "one.txt", "--absent", "missing", "--universe", "9"},
       2,
       "--universe applies to --absent below"},
      {"small universe",
       {"a.txt", "dup.txt", "--duplicates", "first", "--universe", "2"},
       1,
       "the universe size 2 is smaller than the 3 genes"},
      {"weights count", {"a.txt", "a.txt", "--weights", "1,2,3"}, 2, "weight"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "-o") == args.end()) {
      args.push_back("-o");
      args.push_back("out");
    }
    args.push_back("--seed");
    args.push_back("3");
    const RunResult r = Run(args);
    EXPECT_EQ(r.exit_status, c.status) << c.name << ": " << e2e::Describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_FALSE(fs::exists(Path("out"))) << c.name;
  }
  EXPECT_TRUE(fs::is_empty(Path("exists")));
}

TEST_F(MetaProgram, ShippedTablesNeedNoColumnOptionsAndReadFromAnyStream) {
  // Recognised as simple tables, ranked by direction: the same bytes as
  // with the columns named.
  std::vector<std::string> detected = {"-o", "detected", "--runs", "7", "--seed", "4711"};
  std::vector<std::string> named = {"-o",     "named",     "--runs", "7",      "--seed",
                                    "4711",   "-q",        "--gene", "Symbol", "--pvalue",
                                    "pvalue", "--sign-by", "Log2FC"};
  for (const std::string& f : FiveTables()) {
    detected.push_back(f);
    named.push_back(f);
  }
  const RunResult r = Run(detected);
  ASSERT_EQ(r.exit_status, 0) << e2e::Describe(r);
  const RunResult quiet = Run(named);
  ASSERT_EQ(quiet.exit_status, 0);
  EXPECT_EQ(quiet.out.find("simple table"), std::string::npos) << "-q shows no per-study lines";
  EXPECT_EQ(ReadBytes(Path("detected") / "results.tsv"), ReadBytes(Path("named") / "results.tsv"));
  EXPECT_NE(r.out.find(
                "\n  GSE12050: simple table: id \"Symbol\", ranked by sign(Log2FC) x -log10(pvalue), "
                "largest first (rank 1 = most up); 6573 rows\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err, "");  // the five studies share their symbols: no warning
  const auto run = nlohmann::json::parse(ReadBytes(Path("detected") / "run.json"));
  ASSERT_EQ(run["tables"].size(), 5u);
  EXPECT_EQ(run["tables"][3]["study"], "GSE27949");
  EXPECT_EQ(run["tables"][3]["rows"], 7131);
  EXPECT_EQ(run["tables"][3]["fold_change"], "Log2FC");
  EXPECT_EQ(run["options"]["duplicates"], "mean");

  // The same table gzipped, on standard input, and through a pipe.
  const std::vector<std::string> five = FiveTables();
  const std::string gse = five[0];
  ASSERT_EQ(
      std::system(("gzip -c '" + gse + "' > '" + Path("GSE12050.tsv.gz").string() + "'").c_str()),
      0);
  const std::vector<std::string> rest(five.begin() + 1, five.end());
  auto args = [&](const std::string& out, const std::string& first) {
    std::vector<std::string> a = {"-o", out, "--runs", "7", "--seed", "4711", "-q", first};
    a.insert(a.end(), rest.begin(), rest.end());
    return a;
  };
  ASSERT_EQ(Run(args("gz", Path("GSE12050.tsv.gz").string())).exit_status, 0);
  EXPECT_EQ(ReadBytes(Path("gz") / "results.tsv"), ReadBytes(Path("detected") / "results.tsv"));
  RunSpec stdin_spec;
  stdin_spec.args = args("stdin", "-");
  stdin_spec.input = ReadBytes(gse);
  const fs::path io = Path("io-stdin");
  fs::create_directories(io);
  const RunResult piped = e2e::RunProgram(scratch_.path(), io, stdin_spec);
  ASSERT_EQ(piped.exit_status, 0) << e2e::Describe(piped);
  // Only the study's name (from the file name) differs.
  std::string expected = ReadBytes(Path("detected") / "results.tsv");
  expected.replace(expected.find("rank_GSE12050"), 13, "rank_stdin");
  expected.replace(expected.find("logFC_GSE12050"), 14, "logFC_stdin");
  EXPECT_EQ(ReadBytes(Path("stdin") / "results.tsv"), expected);
  std::string command = "cd '" + scratch_.path().string() +
                        "' && bash -c \"'" KORVELAN_BINARY
                        "' -o fifo --runs 7 --seed 4711 -q <(zcat GSE12050.tsv.gz)";
  for (const std::string& f : rest) command += " '" + f + "'";
  ASSERT_EQ(std::system((command + "\" > /dev/null").c_str()), 0);
  std::string from_fifo = ReadBytes(Path("fifo") / "results.tsv");
  for (const char* prefix : {"rank_", "logFC_"}) {
    const std::size_t name = from_fifo.find(prefix) + std::string(prefix).size();
    from_fifo.replace(name, from_fifo.find('\t', name) - name, "GSE12050");
  }
  EXPECT_EQ(from_fifo, ReadBytes(Path("detected") / "results.tsv"));
}

// The tables with every fold change negated (Log2FC, the second column).
std::string NegatedFoldChanges(const std::string& table) {
  std::istringstream lines(table);
  std::string out;
  std::getline(lines, out);
  out += '\n';
  for (std::string line; std::getline(lines, line);) {
    const std::size_t start = line.find('\t') + 1;
    if (line.compare(start, 1, "-") == 0) {
      line.erase(start, 1);
    } else if (line.compare(start, 2, "NA") != 0 && line[start] != '\t') {
      line.insert(start, "-");
    }
    out += line + '\n';
  }
  return out;
}

TEST_F(MetaProgram, DirectionFollowsTheSignsAndSwapsWithThem) {
  std::vector<std::string> given = {"-o", "given", "--runs", "400", "--seed", "99", "-q"};
  std::vector<std::string> negated = {"-o", "negated", "--runs", "400", "--seed", "99", "-q"};
  for (const char* s : kFive) {
    given.push_back((kTools / (std::string(s) + ".tsv")).string());
    const fs::path copy = Path(std::string(s) + ".tsv");
    WriteBytes(copy, NegatedFoldChanges(ReadBytes(kTools / (std::string(s) + ".tsv"))));
    negated.push_back(copy.string());
  }
  ASSERT_EQ(Run(given).exit_status, 0);
  ASSERT_EQ(Run(negated).exit_status, 0);
  const std::vector<Row> rows = ReadResults(Path("given") / "results.tsv");
  std::map<std::string, Row> mirrored;
  for (Row& row : ReadResults(Path("negated") / "results.tsv")) mirrored[row["gene"]] = row;
  ASSERT_EQ(rows.size(), mirrored.size());
  ASSERT_EQ(rows.front().count("logFC_mean"), 1u);

  // From the tables themselves: each gene's fold changes, for genes on one
  // row with a p-value in every table that has them.
  std::map<std::string, std::vector<double>> up;
  std::set<std::string> repeated;
  for (const char* s : kFive) {
    std::istringstream lines(ReadBytes(kTools / (std::string(s) + ".tsv")));
    std::map<std::string, std::vector<double>> own;
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      std::vector<std::string> f;
      std::istringstream cells(line);
      for (std::string cell; std::getline(cells, cell, '\t');) f.push_back(cell);
      if (f.size() < 3 || f[1] == "NA" || f[2] == "NA" || f[1].empty() || f[2].empty()) continue;
      own[f[0]].push_back(std::stod(f[1]));
    }
    for (const auto& [gene, values] : own) {
      if (values.size() > 1) repeated.insert(gene);
      up[gene].push_back(values.front());
    }
  }
  for (const std::string& gene : repeated) up.erase(gene);
  const std::map<std::string, std::string> swapped = {{"up", "down"}, {"down", "up"}, {"NA", "NA"}};
  // Mirrored ranks give mirrored run means, up to single-precision rounding
  // that moves a few of the runs x class-size values across the observed
  // one: here at most 1.5e-4 apart.
  const double tolerance = 1e-3;
  std::size_t all_up = 0;
  for (const Row& row : rows) {
    const std::string& gene = row.at("gene");
    Row other = mirrored.at(gene);
    EXPECT_EQ(other["direction"], swapped.at(row.at("direction"))) << gene;
    EXPECT_EQ(other["n_up"], row.at("n_down")) << gene;
    EXPECT_EQ(other["n_down"], row.at("n_up")) << gene;
    EXPECT_EQ(other["n_studies"], row.at("n_studies")) << gene;
    for (const std::string column : {"logFC_mean", "logFC_GSE12050", "logFC_GSE24883",
                                     "logFC_GSE25401", "logFC_GSE27949", "logFC_GSE29718"}) {
      const double a = Number(other[column]), b = Number(row.at(column));
      EXPECT_TRUE(a == -b || (std::isnan(a) && std::isnan(b))) << gene << " " << column;
    }
    for (const char* stat : {"Rmean", "Rwmean"}) {
      for (const auto& [side, opposite] : {std::pair{"left", "right"}, std::pair{"right", "left"}}) {
        const std::string a = std::string("p_") + stat + "_" + side;
        const std::string b = std::string("p_") + stat + "_" + opposite;
        EXPECT_NEAR(Number(other[a]), Number(row.at(b)), tolerance) << gene << " " << a;
      }
    }
    const auto folds = up.find(gene);
    if (folds == up.end() || folds->second.size() < 2) continue;
    const bool up_everywhere =
        std::all_of(folds->second.begin(), folds->second.end(), [](double f) { return f > 0; });
    if (!up_everywhere) continue;
    EXPECT_EQ(row.at("n_down"), "0") << gene;
    EXPECT_EQ(row.at("n_up"), std::to_string(folds->second.size())) << gene;
    if (Number(row.at("p_Rmean_left")) < 0.01) {
      EXPECT_EQ(row.at("direction"), "up") << gene;
      ++all_up;
    }
  }
  // The check above must have met genes to check.
  EXPECT_GT(all_up, 10u);
}

TEST_F(MetaProgram, StudiesOfOtherIdsAndProbeTablesAreReported) {
  // Probes of one gene merged by the mean of their ranks (the default), or
  // by the best row; a study of Ensembl ids among symbol studies warned.
  WriteBytes(Path("p1.tsv"),
             "ID\tGene.symbol\tlogFC\tt\tP.Value\tadj.P.Val\n"
             "1\tA\t2\t9\t0.001\t0.01\n2\tA\t-1\t-3\t0.01\t0.05\n3\tB\t1\t5\t0.01\t0.05\n"
             "4\t\t0\t0\t1\t1\n5\tC\t0\t1\t0.5\t0.9\n6\tD\tNA\tNA\tNA\tNA\n");
  WriteBytes(Path("p2.tsv"), "Symbol\tLog2FC\tpvalue\nA\t1\t0.01\nB\t1\t0.02\nC\t-1\t0.03\n");
  WriteBytes(Path("ens.tsv"), "gene_id\tstat\nENSG1\t2\nENSG2\t1\nENSG3\t-1\n");
  const RunResult mean =
      Run({"p1.tsv", "p2.tsv", "ens.tsv", "-o", "mean", "--seed", "2", "--runs", "5"});
  ASSERT_EQ(mean.exit_status, 0) << e2e::Describe(mean);
  EXPECT_NE(mean.out.find(
                "  p1: GEO web tool: id \"Gene.symbol\", ranked by \"t\", largest first (rank 1 = "
                "most up); fold change \"logFC\"; 6 rows, 1 row without an id skipped, 1 row "
                "without a value skipped, 1 repeated id merged\n"
                "  p2: simple table:"),
            std::string::npos)
      << mean.out;
  EXPECT_NE(mean.out.find("the mean of their ranks counts (--duplicates mean;"), std::string::npos);
  EXPECT_NE(mean.err.find("warning: study \"ens\" shares only 0 of its 3 ids"), std::string::npos)
      << mean.err;
  const auto run = nlohmann::json::parse(ReadBytes(Path("mean") / "run.json"));
  EXPECT_EQ(run["tables"][0]["rows_merged"], 1);
  EXPECT_EQ(run["tables"][0]["skipped_without_id"], 1);
  EXPECT_EQ(run["warnings"].size(), 1u);
  // Row ranks in p1 (t, largest first): A 1 and 4, B 2, C 3. Mean: A's
  // 2.5 ranks after B's 2 and before C's 3; best: A keeps 1.
  const std::vector<Row> by_mean = ReadResults(Path("mean") / "results.tsv");
  auto rank_of = [](const std::vector<Row>& rows, const std::string& gene) {
    return std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.at("gene") == gene; })
        ->at("rank_p1");
  };
  EXPECT_EQ(rank_of(by_mean, "A"), "2");
  EXPECT_EQ(rank_of(by_mean, "B"), "1");
  ASSERT_EQ(Run({"p1.tsv", "p2.tsv", "-o", "best", "--duplicates", "best", "--seed", "2", "--runs",
                 "5", "-q"})
                .exit_status,
            0);
  const std::vector<Row> by_best = ReadResults(Path("best") / "results.tsv");
  EXPECT_EQ(rank_of(by_best, "A"), "1");
  EXPECT_EQ(rank_of(by_best, "B"), "2");
  const RunResult refused = Run({"p1.tsv", "p2.tsv", "-o", "refused", "--duplicates", "refuse"});
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.err.find("p1.tsv: gene \"A\" is listed twice, on lines 2 and 3"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(Path("refused")));
}

TEST_F(MetaProgram, InterruptLeavesNoResults) {
  // Enough runs to be in the middle of them when the signal comes.
  std::vector<std::string> args = {kBreast.string(), "-o", "big",       "--runs", "2000000",
                                   "--seed",         "9",  "--threads", "1"};
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = Run(args, SIGINT);
  ASSERT_TRUE(r.signal_sent);
  EXPECT_EQ(r.exit_status, 130) << e2e::Describe(r);
  EXPECT_NE(r.err.find("interrupted; nothing was written"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("big")));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  for (const auto& e : fs::directory_iterator(scratch_.path())) {
    EXPECT_EQ(e.path().filename().string().find(".big."), std::string::npos) << e.path();
  }
  // An existing directory replaced with --force stays as it was.
  fs::create_directories(Path("kept"));
  WriteBytes(Path("kept") / "results.tsv", "old\n");
  const RunResult term =
      Run({kBreast.string(), "-o", "kept", "--force", "--runs", "2000000", "--seed", "9"}, SIGTERM);
  EXPECT_EQ(term.exit_status, 143) << e2e::Describe(term);
  EXPECT_EQ(ReadBytes(Path("kept") / "results.tsv"), "old\n");
}

}  // namespace
}  // namespace korvelan
