#include "tools/report/results_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "tests/tools/test_support.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ResultsLegend;
using testing::ResultsRecord;

const double kNaN = std::nan("");

TEST(ParseResultsFile, ReadsEveryFieldOfEveryRecord) {
  std::string text =
      ResultsLegend() +
      ResultsRecord(17, 2347.8794, {0.25, 0.0500000007450581, 1, 0, 0.5, 0.75}, 12533417.0) +
      ResultsRecord(499999, 3.5, {0, 1, 0.125, 0.875, 0.0625, 0.9375}, 0);
  std::vector<ResultRecord> records = ParseResultsFile(text, "output.txt");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].line, 17u);
  EXPECT_EQ(records[0].r_mean, 2347.8794);
  EXPECT_EQ(records[0].q, 12533417.0);
  EXPECT_EQ(records[0].p[kRmeanRight], 0.25);
  EXPECT_EQ(records[0].p[kRmeanLeft], 0.0500000007450581);
  EXPECT_EQ(records[0].p[kRwmeanRight], 1.0);
  EXPECT_EQ(records[0].p[kQRight], 0.5);
  EXPECT_EQ(records[0].p[kQLeft], 0.75);
  EXPECT_EQ(records[1].line, 499999u);
  EXPECT_EQ(records[1].p[kRwmeanLeft], 0.875);
}

TEST(ParseResultsFile, KeepsNaNFieldsAsNaN) {
  // A probe without ranks: NaN statistics, and P-values 0 on both sides;
  // with no run at all every P-value is NaN.
  std::string text =
      ResultsLegend() + ResultsRecord(3, kNaN, {kNaN, kNaN, kNaN, kNaN, kNaN, kNaN}, kNaN);
  std::vector<ResultRecord> records = ParseResultsFile(text, "output.txt");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_TRUE(std::isnan(records[0].r_mean));
  EXPECT_TRUE(std::isnan(records[0].q));
  for (double p : records[0].p) EXPECT_TRUE(std::isnan(p));
}

TEST(ParseResultsFile, TakesLfOnlyAndTheEmptyRecordOfNoProbes) {
  std::string record = ResultsRecord(1, 1, {1, 1, 1, 1, 1, 1}, 0);
  std::string lf = ResultsLegend() + record;
  for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.erase(at, 1);
  EXPECT_EQ(ParseResultsFile(lf, "o").size(), 1u);
  // Without a final line end the record is still whole.
  EXPECT_EQ(ParseResultsFile(ResultsLegend() + record.substr(0, 199), "o").size(), 1u);
  EXPECT_TRUE(ParseResultsFile(ResultsLegend() + "\r\n", "o").empty());
}

TEST(ParseResultsFile, RefusesDamagedFilesNamingLineAndField) {
  std::string good = ResultsRecord(5, 10, {0.5, 0.5, 0.5, 0.5, 0.5, 0.5}, 1);
  std::string stars_q = good;
  stars_q.replace(127, 24, std::string(24, '*'));
  std::string stars_line = good;
  stars_line.replace(0, 7, "*******");
  std::string word = good;
  word.replace(31, 24, "                 garbage");
  std::string legend = ResultsLegend();
  std::string wrong_legend = legend;
  wrong_legend.replace(wrong_legend.find("Q-mean"), 1, "X");
  struct Case {
    const char* name;
    std::string text;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"asterisks in Q", legend + good + stars_q,
       "o line 14: the Q is asterisks (the value did not fit its field), so it is unknown"},
      {"asterisks in the line number", legend + stars_line,
       "o line 13: the line number is asterisks"},
      {"a word", legend + word,
       "o line 13: the right-sided P-value for R-mean field \"                 garbage\" is not a number"},
      {"short record", legend + good.substr(0, 150) + "\r\n",
       "o line 13: a results record has 199 characters, this one 150"},
      {"blank line after the records", legend + good + "\r\n",
       "o line 14: a results record has 199"},
      {"other legend", wrong_legend + good, "o line 9: not the column legend"},
      {"not a results file", "gene\tp\nA\t0.5\n", "o line 1: not the column legend"},
      {"empty", "", "o line 1: not the column legend"},
      {"line number twice", legend + good + good, "o line 14: line number 5 appears a second time"},
      {"line number zero", legend + ResultsRecord(0, 1, {1, 1, 1, 1, 1, 1}, 1),
       "line number 0. is not a line of data.txt"},
      {"P-value above one", legend + ResultsRecord(1, 1, {1, 1.5, 1, 1, 1, 1}, 1),
       "the left-sided P-value for R-mean 1.5000000000000000 is not a P-value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseResultsFile(c.text, "o");
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

}  // namespace
}  // namespace korvelan::tools
