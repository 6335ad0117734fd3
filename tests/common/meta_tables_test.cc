// Study tables as the common tools write them: the columns recognised from
// the header, incomplete rows skipped and counted, probes of one gene
// merged, joined ids split, compressed and piped inputs, and the warning
// for a study whose ids the others do not share.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "tests/tools/test_support.h"
#include "common/input_text.h"
#include "common/meta_input.h"
#include "common/table.h"
#include "common/table_columns.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using testing::ScratchDirectory;
using testing::WriteText;

// One small table per tool, written after the tools' documented output:
// NA rows, empty ids, several probes (or rows) of one gene, CRLF line
// ends, a byte-order mark and quoted fields among them.
struct Format {
  const char* name;
  const char* text;
  ColumnRequest named;  // the same columns named as a user would
  const char* layout;
  std::size_t no_id, no_value, repeated;
  const char* top;  // the gene ranked 1 (the most "up")
};

const Format kFormats[] = {
    {"limma topTable via write.table (row names, annotation)",
     "Symbol\tlogFC\tAveExpr\tt\tP.Value\tadj.P.Val\tB\n"
     "201_at\tTP53\t1.5\t8.1\t6.2\t0.0001\t0.01\t3.1\n"
     "202_at\tTP53\t0.2\t8.0\t1.1\t0.3\t0.6\t-4\n"
     "203_at\tEGFR\t-2.1\t7.2\t-7.5\t0.00001\t0.001\t4.2\n"
     "204_at\t\t0.1\t5.0\t0.4\t0.7\t0.9\t-6\n"
     "205_at\tMYC\tNA\tNA\tNA\tNA\tNA\tNA\n"
     "206_at\tGAPDH\t0.05\t12\t0.2\t0.8\t0.9\t-7\n",
     {"Symbol", "", "t", "", RankFirst::kLargest},
     "limma topTable",
     1,
     1,
     1,
     "TP53"},
    {"limma topTable via write.csv (empty first header, quoted, CRLF)",
     "\"\",\"ID\",\"logFC\",\"AveExpr\",\"t\",\"P.Value\",\"adj.P.Val\",\"B\"\r\n"
     "\"1\",\"EGFR\",-2.1,7.2,-7.5,1e-05,0.001,4.2\r\n"
     "\"2\",\"TP53\",1.5,8.1,6.2,1e-04,0.01,3.1\r\n"
     "\"3\",\"NA\",0.1,5,0.4,0.7,0.9,-6\r\n"
     "\"4\",\"GAPDH\",0.05,12,0.2,0.8,0.9,-7\r\n",
     {"ID", "", "t", "", RankFirst::kLargest},
     "limma topTable",
     1,
     0,
     0,
     "TP53"},
    {"GEO web tool (quoted, ---, joined ids, BOM)",
     "\xEF\xBB\xBF\"ID\"\t\"adj.P.Val\"\t\"P.Value\"\t\"t\"\t\"B\"\t\"logFC\"\t\"Gene.symbol\"\t\"Gene.title\"\n"
     "\"1552\"\t\"0.01\"\t\"0.0001\"\t\"6.2\"\t\"3.1\"\t\"1.5\"\t\"TP53\"\t\"tumor protein p53\"\n"
     "\"1553\"\t\"0.001\"\t\"1e-05\"\t\"-7.5\"\t\"4.2\"\t\"-2.1\"\t\"EGFR\"\t\"epidermal growth factor receptor\"\n"
     "\"1554\"\t\"0.9\"\t\"0.7\"\t\"0.4\"\t\"-6\"\t\"0.1\"\t\"\"\t\"\"\n"
     "\"1555\"\t\"0.9\"\t\"0.7\"\t\"0.3\"\t\"-6\"\t\"0.1\"\t\"---\"\t\"---\"\n"
     "\"1556\"\t\"0.6\"\t\"0.3\"\t\"1.1\"\t\"-4\"\t\"0.2\"\t\"HBA1///HBA2\"\t\"hemoglobin, alpha\"\n"
     "\"1557\"\t\"0.9\"\t\"0.8\"\t\"0.2\"\t\"-7\"\t\"0.05\"\t\"GAPDH\"\t\"glyceraldehyde\"\n",
     {"Gene.symbol", "", "t", "", RankFirst::kLargest},
     "GEO web tool",
     2,
     0,
     0,
     "TP53"},
    {"DESeq2 results via write.csv (NA p-values of outliers and empty genes)",
     "\"\",\"baseMean\",\"log2FoldChange\",\"lfcSE\",\"stat\",\"pvalue\",\"padj\"\n"
     "\"EGFR\",120.5,-2.1,0.3,-7,2.5e-12,1e-10\n"
     "\"TP53\",80.1,1.5,0.25,6,2e-09,4e-08\n"
     "\"MYC\",0,NA,NA,NA,NA,NA\n"
     "\"KRAS\",15.2,0.9,0.4,2.25,NA,NA\n"
     "\"GAPDH\",900,0.05,0.1,0.5,0.62,0.8\n",
     {"row.names", "", "stat", "", RankFirst::kLargest},
     "DESeq2 results",
     0,
     1,
     0,
     "TP53"},
    {"edgeR topTags via write.table (row names; NA row)",
     "logFC\tlogCPM\tPValue\tFDR\n"
     "EGFR\t-2.1\t7.2\t1e-05\t0.001\n"
     "TP53\t1.5\t8.1\t1e-04\t0.01\n"
     "KRAS\tNA\t4\tNA\tNA\n"
     "GAPDH\t0.05\t12\t0.8\t0.9\n",
     {"row.names", "PValue", "", "logFC", RankFirst::kLargest},
     "edgeR topTags",
     0,
     1,
     0,
     "TP53"},
    {"Seurat FindMarkers via write.csv (p_val 0 for the strongest markers)",
     "\"\",\"p_val\",\"avg_log2FC\",\"pct.1\",\"pct.2\",\"p_val_adj\"\r\n"
     "\"CD3E\",0,2.4,0.9,0.1,0\r\n"
     "\"MS4A1\",0,-3.1,0.05,0.8,0\r\n"
     "\"IL7R\",1e-50,1.2,0.7,0.2,1e-46\r\n"
     "\"ACTB\",0.4,0.01,1,1,1\r\n",
     {"row.names", "p_val", "", "avg_log2FC", RankFirst::kLargest},
     "Seurat FindMarkers",
     0,
     0,
     0,
     "CD3E"},
    {"scanpy rank_genes_groups_df via to_csv (index column, nan)",
     ",names,scores,logfoldchanges,pvals,pvals_adj\n"
     "0,CD3E,25.5,2.4,1e-100,1e-96\n"
     "1,IL7R,12.25,1.2,1e-30,1e-27\n"
     "2,ACTB,0.5,0.01,0.6,0.9\n"
     "3,RPL3,nan,nan,nan,nan\n"
     "4,MS4A1,-20.5,-3.1,1e-80,1e-77\n",
     {"names", "", "scores", "", RankFirst::kLargest},
     "scanpy rank_genes_groups_df",
     0,
     1,
     0,
     "CD3E"},
    {"simple table (Symbol, Log2FC, pvalue)",
     "Symbol\tLog2FC\tpvalue\tCI.L\tCI.R\n"
     "EGFR\t-2.1\t1e-05\t-2.5\t-1.7\n"
     "TP53\t1.5\t1e-04\t1.1\t1.9\n"
     "\t0.3\t0.5\t0\t0.6\n"
     "GAPDH\t0.05\t0.8\t-0.1\t0.2\n",
     {"Symbol", "pvalue", "", "Log2FC", RankFirst::kLargest},
     "simple table",
     1,
     0,
     0,
     "TP53"},
};

TEST(StudyTables, EachFormatReadWithoutOptionsAsWithItsColumnsNamed) {
  for (const Format& f : kFormats) {
    SCOPED_TRACE(f.name);
    MetaReadOptions detected;
    TableFacts facts;
    const Study study = ParseStudyTable(f.text, "t.tsv", "S", detected, facts);
    EXPECT_EQ(facts.columns.substr(0, facts.columns.find(':')), f.layout);
    EXPECT_EQ(facts.no_id, f.no_id);
    EXPECT_EQ(facts.no_value, f.no_value);
    EXPECT_EQ(facts.repeated, f.repeated);
    ASSERT_FALSE(study.ids.empty());
    const std::size_t best = static_cast<std::size_t>(
        std::min_element(study.values.begin(), study.values.end()) - study.values.begin());
    EXPECT_EQ(study.ids[best], f.top);
    EXPECT_EQ(study.values[best], 1.0);

    MetaReadOptions named;
    named.rule.gene_column = f.named.gene;
    named.value_given = true;
    named.rule.kind = !f.named.statistic.empty() ? RankingRule::Kind::kStatistic
                      : f.named.sign_by.empty()  ? RankingRule::Kind::kPValue
                                                 : RankingRule::Kind::kSignedPValue;
    named.rule.value_column = f.named.statistic.empty() ? f.named.pvalue : f.named.statistic;
    named.rule.sign_column = f.named.sign_by;
    TableFacts named_facts;
    const Study by_name = ParseStudyTable(f.text, "t.tsv", "S", named, named_facts);
    EXPECT_EQ(by_name.ids, study.ids);
    EXPECT_EQ(by_name.values, study.values);
    EXPECT_EQ(named_facts.no_id + named_facts.no_value, facts.no_id + facts.no_value);
  }
}

TEST(StudyTables, ColumnChoiceFollowsTheHeaderAndYieldsToOptions) {
  struct Case {
    const char* name;
    std::vector<std::string> header;
    ColumnRequest request;
    RankingRule::Kind kind;
    const char *gene, *value, *sign, *fold_change;
  } cases[] = {
      {"signed statistic beats p-value",
       {"gene", "logFC", "t", "P.Value"},
       {},
       RankingRule::Kind::kStatistic,
       "gene",
       "t",
       "",
       "logFC"},
      {"p-value with fold change",
       {"symbol", "pval", "log2fc"},
       {},
       RankingRule::Kind::kSignedPValue,
       "symbol",
       "pval",
       "log2fc",
       "log2fc"},
      {"p-value alone: no direction",
       {"Gene", "PValue"},
       {},
       RankingRule::Kind::kPValue,
       "Gene",
       "PValue",
       "",
       ""},
      {"symbol before the probe id",
       {"ID", "Gene.symbol", "t"},
       {},
       RankingRule::Kind::kStatistic,
       "Gene.symbol",
       "t",
       "",
       ""},
      {"named gene, detected ranking",
       {"probe", "symbol", "stat"},
       {"probe", "", "", "", {}},
       RankingRule::Kind::kStatistic,
       "probe",
       "stat",
       "",
       ""},
      {"named p-value stays unsigned",
       {"gene", "pvalue", "logFC", "t"},
       {"", "pvalue", "", "", {}},
       RankingRule::Kind::kPValue,
       "gene",
       "pvalue",
       "",
       "logFC"},
      {"named statistic wins",
       {"gene", "pvalue", "logFC", "t"},
       {"", "", "logFC", "", {}},
       RankingRule::Kind::kStatistic,
       "gene",
       "logFC",
       "",
       "logFC"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ColumnChoice choice = ChooseColumns(c.header, c.request, "s.tsv");
    EXPECT_EQ(choice.rule.kind, c.kind);
    EXPECT_EQ(choice.rule.gene_column, c.gene);
    EXPECT_EQ(choice.rule.value_column, c.value);
    EXPECT_EQ(choice.rule.sign_column, c.sign);
    EXPECT_EQ(choice.fold_change, c.fold_change);
  }
  for (const std::vector<std::string>& header :
       {std::vector<std::string>{"probe", "t"}, std::vector<std::string>{"gene", "score", "fdr"}}) {
    try {
      ChooseColumns(header, {}, "odd.tsv");
      ADD_FAILURE() << header[1];
    } catch (const ToolError& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("odd.tsv: cannot tell"), std::string::npos) << what;
      EXPECT_NE(what.find("\"" + header[1] + "\""), std::string::npos) << what;
      EXPECT_NE(what.find("--gene COLUMN"), std::string::npos) << what;
    }
  }
}

TEST(StudyTables, RepeatedIdsMergedSplitOrRefused) {
  const std::string text = "gene\tt\nA///B\t3\nA\t1\nC\t2\nC\t-1\nNA\t5\nD\t\n";
  MetaReadOptions o;
  TableFacts facts;
  Study s = ParseStudyTable(text, "p.tsv", "P", o, facts);
  EXPECT_EQ(s.ids, (std::vector<std::string>{"A///B", "A", "C", "C"}));
  EXPECT_EQ(s.values, (std::vector<double>{1, 3, 2, 4}));  // rows ranked, t largest first
  EXPECT_EQ(facts.repeated, 1u);
  EXPECT_EQ(facts.no_id, 1u);
  EXPECT_EQ(facts.no_value, 1u);

  o.split_ids = "///";
  s = ParseStudyTable(text, "p.tsv", "P", o, facts);
  EXPECT_EQ(s.ids, (std::vector<std::string>{"A", "B", "A", "C", "C"}));
  EXPECT_EQ(s.values, (std::vector<double>{1, 1, 3, 2, 4}));  // both genes take the row's rank
  EXPECT_EQ(facts.split, 1u);
  EXPECT_EQ(facts.repeated, 2u);

  o.duplicates = Duplicates::kRefuse;
  try {
    ParseStudyTable(text, "p.tsv", "P", o, facts);
    ADD_FAILURE();
  } catch (const ToolError& e) {
    EXPECT_STREQ(e.what(),
                 "p.tsv: gene \"A\" is listed twice, on lines 2 and 3 (--duplicates first, best "
                 "or mean resolves it)");
  }
}

TEST(StudyTables, RefusalsNameFileLineAndWhatWasExpected) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"gene\tt\nA\t1\nB\thigh\n",
       "p.tsv line 3: column \"t\" holds \"high\", which is not a number (empty, NA or NaN mark a "
       "missing value)"},
      {"gene\tpvalue\nA\t0.1\nB\t1.5\n",
       "p.tsv line 3: column \"pvalue\" holds 1.5, which is not a p-value (0 .. 1)"},
      {"gene\tt\nA\t1\nB\t2\tx\n",
       "p.tsv line 3: 3 tab-separated fields, but the header has 2 columns"},
      {"gene\tt\nA\tNA\n", "p.tsv: no gene has a value in column \"t\""},
      {"gene\tt\n\"A\"\"x\"\t1\n", "p.tsv line 2: the gene id in column \"gene\" is not usable"},
  };
  for (const auto& c : cases) {
    try {
      TableFacts facts;
      ParseStudyTable(c.text, "p.tsv", "P", {}, facts);
      ADD_FAILURE() << c.text;
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, std::string(c.message).size()), c.message);
    }
  }
}

std::string Gzip(const std::string& text) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, text.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(InputText, GzipUnpackedAndDamageNamed) {
  const std::string text = "gene\tt\nA\t1\nB\t2\n";
  EXPECT_EQ(Unpacked(Gzip(text), "x.gz"), text);
  EXPECT_EQ(Unpacked(Gzip(text) + Gzip("C\t3\n"), "x.gz"), text + "C\t3\n");  // cat a.gz b.gz
  EXPECT_EQ(Unpacked(text, "x.tsv"), text);
  EXPECT_EQ(Unpacked("", "x.tsv"), "");
  const std::string packed = Gzip(text);
  for (const std::string& bad : {packed.substr(0, packed.size() / 2), packed + "junk",
                                 packed.substr(0, 12) + std::string(20, 'x')}) {
    try {
      Unpacked(bad, "x.gz");
      ADD_FAILURE() << bad.size();
    } catch (const ToolError& e) {
      EXPECT_EQ(std::string(e.what()).substr(0, 6), "x.gz: ");
    }
  }
  EXPECT_EQ(StudyNameOf("dir/GSE1.tsv.gz"), "GSE1");
  EXPECT_EQ(StudyNameOf("GSE1.csv"), "GSE1");
  EXPECT_EQ(StudyNameOf("-"), "stdin");
}

TEST(StudyTables, GzippedFilesReadLikeThePlainOnes) {
  ScratchDirectory dir;
  const std::string a = kFormats[0].text;
  const std::string b = kFormats[7].text;
  WriteText(dir.path() / "a.tsv", a);
  WriteText(dir.path() / "b.tsv", b);
  WriteText(dir.path() / "b.tsv.gz", Gzip(b));
  const MetaInput plain = ReadMetaInput({dir.path() / "a.tsv", dir.path() / "b.tsv"}, {});
  const MetaInput packed = ReadMetaInput({dir.path() / "a.tsv", dir.path() / "b.tsv.gz"}, {});
  EXPECT_EQ(packed.shape, InputShape::kTables);
  ASSERT_EQ(packed.studies.size(), 2u);
  EXPECT_EQ(packed.studies[1].name, "b");
  EXPECT_EQ(packed.studies[1].ids, plain.studies[1].ids);
  EXPECT_EQ(packed.studies[1].values, plain.studies[1].values);
  EXPECT_EQ(packed.duplicates, Duplicates::kMean);
  EXPECT_NE(packed.sha256[1], plain.sha256[1]);  // of the bytes as read
}

TEST(StudyTables, StudiesSharingFewIdsAreWarnedAbout) {
  auto study = [](std::string name, int first, int count) {
    Study s;
    s.name = std::move(name);
    for (int i = first; i < first + count; ++i) s.ids.push_back("g" + std::to_string(i));
    return s;
  };
  // "ens" shares 1 of its 20 ids; "sym2" shares exactly a tenth (2 of 20).
  const std::vector<Study> studies = {study("sym", 0, 20), study("ens", 19, 20)};
  std::vector<std::string> w = OverlapWarnings(studies);
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[1].substr(0, 51), "study \"ens\" shares only 1 of its 20 ids with the ot");
  w = OverlapWarnings({study("a", 0, 20), study("b", 18, 20)});
  EXPECT_TRUE(w.empty());
  w = OverlapWarnings({study("a", 0, 20), study("b", 0, 20), study("c", 100, 5)});
  ASSERT_EQ(w.size(), 1u);
  EXPECT_NE(w[0].find("\"c\" shares only 0 of its 5 ids"), std::string::npos);
  // Probes of one gene: an id on several rows of one study counts once,
  // and is not shared with itself.
  Study probes = study("probes", 100, 20);
  for (int k = 0; k < 5; ++k) probes.ids.push_back("g0");
  probes.ids.push_back("g101");
  w = OverlapWarnings({study("a", 0, 20), probes});
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0].find("\"a\" shares only 1 of its 20 ids"), std::string::npos);
  EXPECT_NE(w[1].find("\"probes\" shares only 1 of its 21 ids"), std::string::npos);
}

}  // namespace
}  // namespace korvelan::tools
