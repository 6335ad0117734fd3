#include "common/ranking.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace korvelan::tools {
namespace {

std::vector<std::int64_t> HalfRanksOf(const std::vector<double>& values, RankFirst first) {
  std::vector<RankKey> keys;
  for (double v : values) keys.push_back(ValueKey(v, first));
  return AverageHalfRanks(keys);
}

TEST(AverageHalfRanks, TiesShareTheAverageOfTheRanksTheySpan) {
  struct Case {
    const char* name;
    std::vector<double> values;
    RankFirst first;
    std::vector<std::int64_t> half_ranks;  // 2 x rank
  };
  const std::vector<Case> cases = {
      {"no ties", {0.3, 0.1, 0.2}, RankFirst::kSmallest, {6, 2, 4}},
      {"pair tie -> 1.5", {0.1, 0.1, 0.5}, RankFirst::kSmallest, {3, 3, 6}},
      {"triple tie in the middle -> 3",
       {0.9, 0.2, 0.2, 0.2, 0.1},
       RankFirst::kSmallest,
       {10, 6, 6, 6, 2}},
      {"all tied", {1, 1, 1, 1}, RankFirst::kSmallest, {5, 5, 5, 5}},
      {"largest first", {-1.5, 3.0, 0.0}, RankFirst::kLargest, {6, 2, 4}},
      {"largest first with ties and infinities",
       {HUGE_VAL, 2, 2, -HUGE_VAL},
       RankFirst::kLargest,
       {2, 5, 5, 8}},
      {"zero and negative zero tie", {0.0, -0.0}, RankFirst::kSmallest, {3, 3}},
      {"single", {0.5}, RankFirst::kSmallest, {2}},
      {"empty", {}, RankFirst::kSmallest, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(HalfRanksOf(c.values, c.first), c.half_ranks);
  }
}

TEST(AverageHalfRanks, HalvesStayExactAtTheLargestSizes) {
  // 499999 genes all tied: rank 250000; a tie of the last two: 499998.5.
  std::vector<double> values(499999, 0.5);
  values.back() = 0.9;
  values[values.size() - 2] = 0.9;
  std::vector<std::int64_t> half = HalfRanksOf(values, RankFirst::kSmallest);
  EXPECT_EQ(half.front(), 2 * 249999);  // ranks 1 .. 499997 average 249999
  EXPECT_EQ(half.back(), 999997);       // (499998 + 499999) / 2 = 499998.5
  EXPECT_EQ(static_cast<double>(static_cast<float>(499998.5)), 499998.5);
}

TEST(SignedSignificanceKey, OrdersUpThenZeroThenDown) {
  struct Gene {
    double effect;
    double p;
  };
  // Expected order, most significantly up first.
  const std::vector<Gene> genes = {
      {2.0, 1e-10}, {0.1, 0.01},  {5.0, 0.5},   // up, ascending p
      {0.0, 0.001}, {3.0, 1.0},   {-3.0, 1.0},  // score 0: one tie
      {-0.2, 0.6},  {-1.0, 0.02}, {-4.0, 0.0},  // down, descending p
  };
  std::vector<RankKey> keys;
  for (const Gene& g : genes)
    keys.push_back(SignedSignificanceKey(g.effect, g.p, RankFirst::kLargest));
  EXPECT_EQ(AverageHalfRanks(keys), (std::vector<std::int64_t>{2, 4, 6, 10, 10, 10, 14, 16, 18}));

  keys.clear();
  for (const Gene& g : genes)
    keys.push_back(SignedSignificanceKey(g.effect, g.p, RankFirst::kSmallest));
  EXPECT_EQ(AverageHalfRanks(keys), (std::vector<std::int64_t>{18, 16, 14, 10, 10, 10, 6, 4, 2}));
}

}  // namespace
}  // namespace korvelan::tools
