#include "tools/report/report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "tests/tools/test_support.h"
#include "tools/report/report_command.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ReadText;
using testing::ResultsLegend;
using testing::ResultsRecord;
using testing::ScratchDirectory;
using testing::WriteText;

const double kNaN = std::nan("");

const char kGenes[] =
    "line\tgene\tclass\tS1\tS2\n"
    "1\tA1BG\t2\t1\t2\n"
    "2\tTP53\t1\t2\t-99\n"
    "3\tMYC\t2\t3\t1\n"
    "4\tEGFR\t2\t4\t3\n";

// Class-sorted order, as the program writes it: class 2 first.
std::string Output() {
  return ResultsLegend() + ResultsRecord(1, 1.5, {0.5, 0.25, 0.5, 0.25, 0.75, 0.5}, 0.5) +
         ResultsRecord(3, 2, {0.25, 0.25, 0.25, 0.25, 0.75, 0.5}, 2) +
         ResultsRecord(4, 3.5, {0.125, 1, 0.125, 1, kNaN, kNaN}, 0.5) +
         ResultsRecord(2, 2, {1, 1, 1, 1, 1, 1}, 0);
}

TEST(JoinResults, NamesEveryGeneAndAdjustsEachColumn) {
  std::vector<ReportRow> rows =
      JoinResults(ParseResultsFile(Output(), "output.txt"), ParseGenesFile(kGenes, "genes.tsv"),
                  "output.txt", "genes.tsv");
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[1].gene, "MYC");
  EXPECT_EQ(rows[1].line, 3u);
  EXPECT_EQ(rows[1].info_class, 2);
  // p_Rmean_left 0.25 0.25 1 1: m = 4, q = 4/2 x 0.25 = 0.5 for both.
  EXPECT_EQ(rows[0].q_values[kRmeanLeft], 0.5);
  EXPECT_EQ(rows[3].q_values[kRmeanLeft], 1.0);
  // p_Q_right 0.75 0.75 NaN 1: m = 3, q = 3/2 x 0.75 = 1.125 -> 1.
  EXPECT_EQ(rows[0].q_values[kQRight], 1.0);
  EXPECT_TRUE(std::isnan(rows[2].q_values[kQRight]));
}

TEST(SortRows, AscendingByTheChosenColumnTiesByLineNaLast) {
  std::vector<ReportRow> rows =
      JoinResults(ParseResultsFile(Output(), "o"), ParseGenesFile(kGenes, "g"), "o", "g");
  auto lines = [&] {
    std::vector<std::size_t> order;
    for (const ReportRow& row : rows) order.push_back(row.line);
    return order;
  };
  SortRows(rows, kRmeanRight);
  EXPECT_EQ(lines(), (std::vector<std::size_t>{4, 3, 1, 2}));
  SortRows(rows, kRmeanLeft);
  EXPECT_EQ(lines(), (std::vector<std::size_t>{1, 3, 2, 4}));
  SortRows(rows, kQLeft);
  EXPECT_EQ(lines(), (std::vector<std::size_t>{1, 3, 2, 4}));
  SortRows(rows, kQRight);
  EXPECT_EQ(lines(), (std::vector<std::size_t>{1, 3, 2, 4}));
}

TEST(SortRows, EqualPValuesGoBySmallerMeanRankBeforeLine) {
  std::vector<ReportRow> rows(3);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i].line = i + 1;
    rows[i].p.fill(0.5);
  }
  rows[0].r_mean = 9;
  rows[1].r_mean = kNaN;
  rows[2].r_mean = 4;
  SortRows(rows, kRmeanLeft);
  EXPECT_EQ(rows[0].line, 3u);
  EXPECT_EQ(rows[1].line, 1u);
  EXPECT_EQ(rows[2].line, 2u);
}

TEST(PlusOnePValues, CountsRecoveredFromTheWrittenValues) {
  std::vector<ReportRow> rows =
      JoinResults(ParseResultsFile(Output(), "o"), ParseGenesFile(kGenes, "g"), "o", "g");
  // 8 runs: class 2 (three genes) has 24 comparisons, class 1 has 8.
  PlusOnePValues(rows, 8, "o");
  EXPECT_EQ(rows[0].p[kRmeanLeft], 7.0 / 25.0);   // 0.25 = 6 / 24
  EXPECT_EQ(rows[2].p[kRmeanRight], 4.0 / 25.0);  // 0.125 = 3 / 24
  EXPECT_EQ(rows[3].p[kRmeanLeft], 9.0 / 9.0);    // 1 = 8 / 8
  EXPECT_TRUE(std::isnan(rows[2].p[kQRight]));
  // 5 runs: 0.5 x 15 is no whole count.
  rows = JoinResults(ParseResultsFile(Output(), "o"), ParseGenesFile(kGenes, "g"), "o", "g");
  try {
    PlusOnePValues(rows, 5, "o");
    ADD_FAILURE() << "accepted";
  } catch (const ToolError& e) {
    EXPECT_THAT(
        e.what(),
        HasSubstr(
            "o: the P-value 0.5 of line 1 is not count / 15 for one whole count (5 runs x 3 genes"));
  }
}

TEST(JoinResults, RefusesFilesThatDoNotBelongTogether) {
  std::string swapped_classes =
      "line\tgene\tclass\tS1\tS2\n1\tA1BG\t1\t1\t-99\n2\tTP53\t2\t2\t1\n3\tMYC\t2\t3\t1\n"
      "4\tEGFR\t2\t4\t3\n";
  std::string three_genes =
      "line\tgene\tclass\tS1\tS2\n1\tA\t2\t1\t1\n2\tB\t2\t1\t1\n3\tC\t2\t1\t1\n";
  // The last record (201 bytes with its line end) names line 5 instead.
  std::string beyond =
      Output().substr(0, Output().size() - 201) + ResultsRecord(5, 1, {1, 1, 1, 1, 1, 1}, 0);
  struct Case {
    const char* name;
    std::string output;
    std::string genes;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"counts differ", Output(), three_genes,
       "o holds 4 results but g lists 3 genes: they do not come from the same data.txt"},
      {"line beyond the genes", beyond, kGenes,
       "o: result 4 is for line 5, beyond the 4 genes of g"},
      {"class order broken", Output(), swapped_classes,
       "o: result 2 (line 3, class 2) follows a result of class 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      JoinResults(ParseResultsFile(c.output, "o"), ParseGenesFile(c.genes, "g"), "o", "g");
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

TEST(ParseGenesFile, RefusesAnotherFileOrBrokenRows) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"gene\tline\tclass\n", "g: not a genes.tsv of korvelan-prepare"},
      {"line\tgene\tclass\tS\n2\tA\t1\t1\n", "g line 2: line number \"2\" where 1 is due"},
      {"line\tgene\tclass\tS\n1\tA\t2\t1\n", "g line 2: class \"2\" is not 1 .. 1"},
      {"line\tgene\tclass\tS\n1\t\t1\t1\n", "g line 2: the gene id is empty"},
      {"line\tgene\tclass\tS\n1\tA\t1\tx\n",
       "g line 2: rank \"x\" in study S is neither -99 nor a rank of 1 or more"},
      {"line\tgene\tclass\tS\n1\tA\t1\t0\n", "g line 2: rank \"0\" in study S"},
      {"line\tgene\tclass\tS\n1\tA\t1\tNaN\n", "g line 2: rank \"NaN\" in study S"},
      {"line\tgene\tclass\tS\n1\tA\t1\t-98\n", "g line 2: rank \"-98\" in study S"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseGenesFile(c.text, "g");
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

TEST(ReportMain, WritesTheSortedTableWithQValuesAndNa) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "output.txt", Output());
  WriteText(scratch.path() / "genes.tsv", kGenes);
  std::ostringstream out;
  std::ostringstream err;
  std::vector<std::string> args = {scratch.path().string(), "--sort-by", "Rmean_right"};
  ASSERT_EQ(ReportMain(args, out, err), 0) << err.str();
  EXPECT_EQ(ReadText(scratch.path() / "results.tsv"),
            "gene\tline\tclass\tR_mean\tQ\tp_Rmean_right\tp_Rmean_left\tp_Rwmean_right\t"
            "p_Rwmean_left\tp_Q_right\tp_Q_left\tq_Rmean_right\tq_Rmean_left\tq_Rwmean_right\t"
            "q_Rwmean_left\tq_Q_right\tq_Q_left\n"
            "EGFR\t4\t2\t3.5\t0.5\t0.125\t1\t0.125\t1\tNA\tNA\t0.5\t1\t0.5\t1\tNA\tNA\n"
            "MYC\t3\t2\t2\t2\t0.25\t0.25\t0.25\t0.25\t0.75\t0.5\t0.5\t0.5\t0.5\t0.5\t1\t0.75\n"
            "A1BG\t1\t2\t1.5\t0.5\t0.5\t0.25\t0.5\t0.25\t0.75\t0.5\t0.6666666666666666\t0.5\t"
            "0.6666666666666666\t0.5\t1\t0.75\n"
            "TP53\t2\t1\t2\t0\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\t1\n");
  EXPECT_THAT(out.str(), HasSubstr("4 genes into"));
}

TEST(ReportMain, UsageAndFileErrorsAreOneLine) {
  ScratchDirectory scratch;
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{scratch.path().string(), "--sort-by", "p_value"},
       2,
       "korvelan-report: --sort-by p_value is not a P-value column"},
      {{scratch.path().string()},
       1,
       "korvelan-report: cannot open " + (scratch.path() / "output.txt").string() +
           ": No such file or directory\n"},
      {{"--unknown"}, 2, "korvelan-report: "},
  };
  for (const Case& c : cases) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(ReportMain(c.args, out, err), c.status);
    std::string message = err.str();
    EXPECT_THAT(message, HasSubstr(c.message));
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
  }
}

}  // namespace
}  // namespace korvelan::tools
