#include "common/study.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;

RankingRule PValueRule() {
  RankingRule rule;
  rule.gene_column = "Symbol";
  rule.value_column = "pvalue";
  return rule;
}

TEST(RankStudy, RanksByAscendingPValueWithMissingValuesUnranked) {
  Table table = ParseTable(
      "Symbol\tLog2FC\tpvalue\n"
      "TP53\t1.0\t0.04\n"
      "EGFR\t-2\tNA\n"
      "MYC\t0.5\t0.001\n"
      "KRAS\t0.1\t\n"
      "BRCA1\t-0.3\t0.04\n",
      "s.tsv");
  StudyRanks study = RankStudy(table, "S1", PValueRule());
  EXPECT_EQ(study.name, "S1");
  EXPECT_EQ(study.genes, (std::vector<std::string>{"TP53", "EGFR", "MYC", "KRAS", "BRCA1"}));
  EXPECT_EQ(study.half_ranks, (std::vector<std::int64_t>{5, kNotRanked, 2, kNotRanked, 5}));
  EXPECT_EQ(study.ranked, 3u);
}

TEST(RankStudy, RanksAStatisticOrSignedSignificanceInTheChosenDirection) {
  Table table = ParseTable("g,t,p\nA,2.5,0.01\nB,-4,0.001\nC,0.5,0.5\n", "s.csv");
  RankingRule rule{RankingRule::Kind::kStatistic, "g", "t", "", RankFirst::kLargest};
  EXPECT_EQ(RankStudy(table, "S", rule).half_ranks, (std::vector<std::int64_t>{2, 6, 4}));
  rule.first = RankFirst::kSmallest;
  EXPECT_EQ(RankStudy(table, "S", rule).half_ranks, (std::vector<std::int64_t>{6, 2, 4}));

  rule = RankingRule{RankingRule::Kind::kSignedPValue, "g", "p", "t", RankFirst::kLargest};
  EXPECT_EQ(RankStudy(table, "S", rule).half_ranks, (std::vector<std::int64_t>{2, 6, 4}));
}

TEST(RankStudy, AMissingSignLeavesTheGeneUnranked) {
  Table table = ParseTable("g,fc,p\nA,NA,0.01\nB,1,0.2\n", "s.csv");
  RankingRule rule{RankingRule::Kind::kSignedPValue, "g", "p", "fc", RankFirst::kLargest};
  EXPECT_EQ(RankStudy(table, "S", rule).half_ranks, (std::vector<std::int64_t>{kNotRanked, 2}));
}

TEST(RankStudy, RefusesBadTablesNamingFileLineAndValue) {
  struct Case {
    const char* name;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"missing gene column", "Gene\tpvalue\nA\t0.1\n", "s.tsv: no column \"Symbol\""},
      {"missing value column", "Symbol\tP.Value\nA\t0.1\n", "s.tsv: no column \"pvalue\""},
      {"duplicate gene", "Symbol\tpvalue\nA\t0.1\nB\t0.2\nA\tNA\n",
       "s.tsv: gene \"A\" is listed twice, on lines 2 and 4"},
      {"non-numeric value", "Symbol\tpvalue\nA\t0.1\nB\tlow\n",
       "s.tsv line 3: column \"pvalue\" holds \"low\", which is not a number"},
      {"decimal comma", "Symbol\tpvalue\nA\t0,1\n", "s.tsv line 2: column \"pvalue\" holds \"0,1\""},
      {"p above one", "Symbol\tpvalue\nA\t1.5\n",
       "s.tsv line 2: column \"pvalue\" holds 1.5, which is not a p-value (0 .. 1)"},
      {"negative p", "Symbol\tpvalue\nA\t-0.01\n", "which is not a p-value"},
      {"infinite p", "Symbol\tpvalue\nA\tInf\n", "which is not a p-value"},
      {"empty gene id", "Symbol\tpvalue\nA\t0.1\n\t0.2\n",
       "s.tsv line 3: the gene id in column \"Symbol\" is empty"},
      {"quote in gene id", "Symbol,pvalue\n\"A\"\"1\",0.1\n", "is not usable"},
      {"nothing ranked", "Symbol\tpvalue\nA\tNA\nB\t\n",
       "s.tsv: no gene has a value in column \"pvalue\""},
      {"header only", "Symbol\tpvalue\n", "no gene has a value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      RankStudy(ParseTable(c.text, "s.tsv"), "S", PValueRule());
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

}  // namespace
}  // namespace korvelan::tools
