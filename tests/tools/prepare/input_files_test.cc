#include "tools/prepare/input_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "textio/list_input.h"
#include "textio/termination.h"
#include "tests/tools/test_support.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;

UnitedGenes Example() {
  UnitedGenes united;
  united.study_names = {"GSE1", "GSE2"};
  united.genes = {"A1BG", "TP53", "ZZZ3"};
  united.classes = {2, 1, 2};
  united.half_ranks = {3, 2, 3, kNotRanked, 6, 5};  // 1.5 1 / 1.5 - / 3 2.5
  return united;
}

TEST(ComposeInputFiles, WritesTheFourFilesOfAMainAnalysis) {
  InputFiles files = ComposeInputFiles(Example(), std::vector<float>{24.0f, 0.5f}, 5);
  EXPECT_EQ(files.data, "1 1.5 1 2\n2 1.5 -99 1\n3 3 2.5 2\n");
  EXPECT_EQ(files.weights, "24.0 0.5\n");
  EXPECT_EQ(files.genes,
            "line\tgene\tclass\tGSE1\tGSE2\n"
            "1\tA1BG\t2\t1.5\t1\n"
            "2\tTP53\t1\t1.5\t-99\n"
            "3\tZZZ3\t2\t3\t2.5\n");
  EXPECT_EQ(files.answers, "1\n2\n3\n2\n5\n");
}

// The program reads data.txt with its list-directed reader: every value
// must arrive as exactly the float meant.
TEST(ComposeInputFiles, TheProgramsReaderGetsExactlyTheRanksAndWeights) {
  UnitedGenes united;
  united.study_names = {"S1", "S2"};
  for (std::int32_t g = 0; g < 1000; ++g) {
    united.genes.push_back(testing::Numbered("g", static_cast<std::size_t>(g)));
    united.classes.push_back(2);
    // Large halves near the top of the range and small ones.
    united.half_ranks.push_back(999999 - 2 * g);
    united.half_ranks.push_back(2 * g + 3);
  }
  std::vector<float> weights = {0.1f, 3.3333333f};
  InputFiles files = ComposeInputFiles(united, weights, 1);

  std::vector<float> values(united.genes.size() * 4);
  textio::ListReader data(textio::StringSource(files.data), textio::kDataUnit, "data.txt");
  data.ReadReals(values);
  for (std::size_t g = 0; g < united.genes.size(); ++g) {
    SCOPED_TRACE(g);
    EXPECT_EQ(values[4 * g], static_cast<float>(g + 1));
    EXPECT_EQ(values[4 * g + 1], static_cast<float>(united.HalfRank(g, 0)) / 2);
    EXPECT_EQ(values[4 * g + 2], static_cast<float>(united.HalfRank(g, 1)) / 2);
    EXPECT_EQ(values[4 * g + 3], 2.0f);
  }
  std::vector<float> read_weights(2);
  textio::ListReader weights_reader(textio::StringSource(files.weights), textio::kWeightsUnit,
                                    "weights.txt");
  weights_reader.ReadReals(read_weights);
  EXPECT_EQ(read_weights, weights);
}

TEST(ParseWeights, TakesEqualOrOnePositiveNumberPerStudy) {
  EXPECT_EQ(ParseWeights("equal", 3), (std::vector<float>{1, 1, 1}));
  EXPECT_EQ(ParseWeights("12, 30,7.5", 3), (std::vector<float>{12, 30, 7.5f}));
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"12,30", "--weights lists 2 weights for 3 studies"},
      {"12,30,7,1", "lists 4 weights for 3 studies"},
      {"12,x,7", "weight \"x\" in --weights is not a number"},
      {"12,,7", "weight \"\" in --weights is not a number"},
      {"12,0,7", "weight 0 in --weights is not a positive number"},
      {"12,-3,7", "is not a positive number"},
      {"12,1e39,7", "within the float range"},
      {"12,1e-50,7", "within the float range"},
      {"12,Inf,7", "is not a number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    try {
      ParseWeights(c.text, 3);
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

TEST(ComposeInputFiles, RefusesRunCountsTheDialogueCannotTake) {
  std::vector<float> weights = {1, 1};
  EXPECT_THROW(ComposeInputFiles(Example(), weights, 0), ToolError);
  EXPECT_THROW(ComposeInputFiles(Example(), weights, 2147483648LL), ToolError);
  EXPECT_NO_THROW(ComposeInputFiles(Example(), weights, 2147483647LL));
}

}  // namespace
}  // namespace korvelan::tools
