// The whole chain on the real five-study data, through the built programs:
// korvelan-prepare, then korvelan itself with the prepared answers, then
// korvelan-report.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "tests/tools/test_support.h"

namespace korvelan::tools {
namespace {

using testing::ReadText;
using testing::ScratchDirectory;

const std::filesystem::path kData = KORVELAN_TOOLS_TEST_DATA;

std::string Quoted(const std::filesystem::path& path) {
  std::string quoted = "'";
  quoted += path.string();
  quoted += '\'';
  return quoted;
}

int Shell(const std::string& command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::vector<std::string>> TsvRows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    rows.push_back(fields);
  }
  return rows;
}

double Value(const std::string& cell) { return cell == "NA" ? std::nan("") : std::stod(cell); }

TEST(Chain, StudyTablesToRankedResultsOnTheFiveStudySet) {
  ScratchDirectory scratch;
  const std::filesystem::path work = scratch.path() / "analysis";
  std::string tables;
  for (const char* study : {"GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"}) {
    std::filesystem::path table = kData / study;
    table += ".tsv";
    tables += ' ';
    tables += Quoted(table);
  }
  ASSERT_EQ(Shell(Quoted(KORVELAN_PREPARE) + " -o " + Quoted(work) +
                  " --gene Symbol --pvalue pvalue --runs 5" + tables + " > " +
                  Quoted(scratch.path() / "prepare.log")),
            0);
  ASSERT_EQ(Shell("cd " + Quoted(work) + " && " + Quoted(KORVELAN_PROGRAM) +
                  " --seed 4711 < answers.txt > screen.txt"),
            0)
      << ReadText(work / "screen.txt");
  ASSERT_EQ(Shell(Quoted(KORVELAN_REPORT) + " " + Quoted(work) + " --svg " +
                  Quoted(work / "figure.svg") + " > " + Quoted(scratch.path() / "report.log")),
            0);

  std::vector<std::vector<std::string>> rows = TsvRows(ReadText(work / "results.tsv"));
  ASSERT_EQ(rows.size(), 7894u + 1);
  const std::vector<std::string> header = rows.front();
  ASSERT_EQ(header.size(), 17u);
  EXPECT_EQ(header[0], "gene");
  rows.erase(rows.begin());

  std::set<std::string> genes;
  std::set<std::string> lines;
  std::map<std::string, std::size_t> class_sizes;
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 17u);
    genes.insert(row[0]);
    lines.insert(row[1]);
    ++class_sizes[row[2]];
  }
  EXPECT_EQ(genes.size(), 7894u);
  EXPECT_EQ(lines.size(), 7894u);
  EXPECT_EQ(class_sizes, (std::map<std::string, std::size_t>{
                             {"1", 507}, {"2", 585}, {"3", 672}, {"4", 178}, {"5", 5952}}));
  std::set<std::string> prepared;
  for (const auto& row : TsvRows(ReadText(work / "genes.tsv"))) prepared.insert(row[1]);
  prepared.erase("gene");
  EXPECT_EQ(genes, prepared);

  // Default order: p_Rmean_left ascending, ties by R-mean, then line, NA last.
  const std::size_t sort_column = 6;
  ASSERT_EQ(header[sort_column], "p_Rmean_left");
  for (std::size_t r = 1; r < rows.size(); ++r) {
    double before = Value(rows[r - 1][sort_column]);
    double here = Value(rows[r][sort_column]);
    if (std::isnan(before)) {
      ASSERT_TRUE(std::isnan(here)) << r;
    } else if (!std::isnan(here)) {
      ASSERT_LE(before, here) << r;
      if (before == here) {
        const double mean_before = Value(rows[r - 1][3]);
        const double mean_here = Value(rows[r][3]);
        ASSERT_LE(mean_before, mean_here) << r;
        if (mean_before == mean_here) {
          ASSERT_LT(std::stoul(rows[r - 1][1]), std::stoul(rows[r][1])) << r;
        }
      }
    }
  }
  // Every q column is monotone in its P column.
  for (std::size_t c = 0; c < 6; ++c) {
    SCOPED_TRACE(header[5 + c]);
    std::vector<std::pair<double, double>> pairs;
    for (const auto& row : rows) {
      double p = Value(row[5 + c]);
      double q = Value(row[11 + c]);
      ASSERT_EQ(std::isnan(p), std::isnan(q));
      if (!std::isnan(p)) {
        ASSERT_GE(q, p);
        ASSERT_LE(q, 1.0);
        pairs.emplace_back(p, q);
      }
    }
    std::sort(pairs.begin(), pairs.end());
    for (std::size_t i = 1; i < pairs.size(); ++i) ASSERT_LE(pairs[i - 1].second, pairs[i].second);
  }
  std::string figure = ReadText(work / "figure.svg");
  EXPECT_TRUE(figure.starts_with("<?xml"));
  EXPECT_TRUE(figure.ends_with("</svg>\n"));
}

}  // namespace
}  // namespace korvelan::tools
