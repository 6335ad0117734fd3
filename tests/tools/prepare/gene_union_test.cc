#include "tools/prepare/gene_union.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/tools/test_support.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;

StudyRanks Study(std::string name, std::vector<std::string> genes,
                 std::vector<std::int64_t> half_ranks) {
  StudyRanks study;
  study.name = std::move(name);
  study.genes = std::move(genes);
  study.half_ranks = std::move(half_ranks);
  for (std::int64_t h : study.half_ranks) study.ranked += h != kNotRanked;
  return study;
}

TEST(UniteStudies, JoinsGenesInByteOrderWithClassesAndMissingMarks) {
  std::vector<StudyRanks> studies = {
      Study("S1", {"b", "a-1", "B"}, {2, 4, 6}),
      Study("S2", {"a-1", "c", "b"}, {2, kNotRanked, 4}),
  };
  UnitedGenes united = UniteStudies(studies, GeneOrder::kSorted);
  // Capitals before lower case, "a-1" as bytes: the C locale's order.
  EXPECT_EQ(united.genes, (std::vector<std::string>{"B", "a-1", "b"}));
  EXPECT_EQ(united.classes, (std::vector<std::int32_t>{1, 2, 2}));
  EXPECT_EQ(united.HalfRank(0, 0), 6);
  EXPECT_EQ(united.HalfRank(0, 1), kNotRanked);
  EXPECT_EQ(united.HalfRank(1, 1), 2);
  // "c" is listed but never ranked: class 0 cannot be placed.
  EXPECT_EQ(united.unranked, 1u);
  EXPECT_EQ(united.ClassSizes(), (std::vector<std::size_t>{1, 2}));
}

TEST(UniteStudies, FirstSeenOrderFollowsTheStudiesInTurn) {
  std::vector<StudyRanks> studies = {
      Study("S1", {"z", "y"}, {kNotRanked, 2}),
      Study("S2", {"x", "z"}, {2, 4}),
  };
  UnitedGenes united = UniteStudies(studies, GeneOrder::kFirstSeen);
  EXPECT_EQ(united.genes, (std::vector<std::string>{"y", "x", "z"}));
}

TEST(UniteStudies, EnforcesTheProgramsLimits) {
  struct Case {
    const char* name;
    std::vector<StudyRanks> studies;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"one study", {Study("S1", {"a"}, {2})}, "at least 2 study tables, 1 given"});
  std::vector<StudyRanks> many;
  for (std::size_t s = 0; s < 99; ++s) many.push_back(Study(testing::Numbered("S", s), {"a"}, {2}));
  cases.push_back({"99 studies", many, "99 study tables given; KORVELAN takes at most 98"});
  cases.push_back({"same name",
                   {Study("GSE1", {"a"}, {2}), Study("GSE1", {"a"}, {2})},
                   "two studies are named \"GSE1\""});
  std::vector<std::string> genes;
  std::vector<std::int64_t> ranks;
  for (std::size_t g = 0; g < 500000; ++g) {
    genes.push_back(testing::Numbered("g", g));
    ranks.push_back(static_cast<std::int64_t>(2 * (g + 1)));
  }
  cases.push_back({"500000 genes",
                   {Study("S1", genes, ranks), Study("S2", {"g0"}, {2})},
                   "rank 500000 distinct genes; KORVELAN takes at most 499999"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      UniteStudies(c.studies, GeneOrder::kSorted);
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
  // 98 studies and 499999 genes are still taken.
  many.pop_back();
  EXPECT_EQ(UniteStudies(many, GeneOrder::kSorted).StudyCount(), 98u);
  genes.pop_back();
  ranks.pop_back();
  std::vector<StudyRanks> largest = {Study("S1", genes, ranks), Study("S2", {"g0"}, {2})};
  EXPECT_EQ(UniteStudies(largest, GeneOrder::kFirstSeen).genes.size(), 499999u);
}

}  // namespace
}  // namespace korvelan::tools
