#include "korvelan/meta.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>

namespace korvelan {
namespace {

const double kNaN = std::nan("");

TEST(BenjaminiHochberg, MatchesHandComputedQValues) {
  struct Case {
    const char* name;
    std::vector<double> p;
    std::vector<double> q;
  };
  const std::vector<Case> cases = {
      // m = 5; sorted 0.01 0.02 0.03 0.04 0.05 -> 5/k x p = 0.05 each.
      {"equal ratios", {0.05, 0.01, 0.03, 0.02, 0.04}, {0.05, 0.05, 0.05, 0.05, 0.05}},
      // m = 4, sorted 0.01 0.03 0.04 0.5: 4 x 0.01 = 0.04, 2 x 0.03 = 0.06,
      // 4/3 x 0.04 = 0.0533, 0.5; the running minimum from the top lowers
      // 0.06 to 0.0533.
      {"running minimum", {0.01, 0.04, 0.03, 0.5}, {0.04, 4.0 / 3 * 0.04, 4.0 / 3 * 0.04, 0.5}},
      // m = 3: 3 x 0.001 = 0.003, 1.5 x 0.2 = 0.3, 0.9.
      {"spread", {0.9, 0.2, 0.001}, {0.9, 0.3, 0.003}},
      // Capped at one: 2 x 0.6 = 1.2.
      {"cap", {0.6, 0.9}, {0.9, 0.9}},
      // Ties share the q of the largest rank: 3/3 x 0.02.
      {"ties", {0.02, 0.02, 0.02}, {0.02, 0.02, 0.02}},
      // NaN takes no part: m = 2, 2 x 0.01 = 0.02, 0.03.
      {"NaN not counted", {0.01, kNaN, 0.03}, {0.02, kNaN, 0.03}},
      {"all NaN", {kNaN, kNaN}, {kNaN, kNaN}},
      {"zeros", {0, 0, 1}, {0, 0, 1}},
      {"empty", {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> q = BenjaminiHochberg(c.p);
    ASSERT_EQ(q.size(), c.q.size());
    for (std::size_t i = 0; i < q.size(); ++i) {
      if (std::isnan(c.q[i])) {
        EXPECT_TRUE(std::isnan(q[i])) << i;
      } else {
        EXPECT_DOUBLE_EQ(q[i], c.q[i]) << i;
      }
    }
  }
}

// The textbook definition, evaluated directly: min over j >= i of m/j p(j).
TEST(BenjaminiHochberg, AgreesWithTheDefinitionAndIsMonotone) {
  std::mt19937 engine(7);
  std::uniform_int_distribution<int> count(0, 40);  // coarse: many ties
  std::vector<double> p(300);
  for (double& value : p) value = count(engine) / 40.0;
  std::vector<double> q = BenjaminiHochberg(p);
  std::vector<double> sorted = p;
  std::sort(sorted.begin(), sorted.end());
  const double m = static_cast<double>(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) {
    // Rank of p[i] in ascending order: the last position holding its value.
    std::size_t last = static_cast<std::size_t>(
        std::upper_bound(sorted.begin(), sorted.end(), p[i]) - sorted.begin());
    double expected = 1.0;
    for (std::size_t j = last; j <= sorted.size(); ++j) {
      expected = std::min(expected, m / static_cast<double>(j) * sorted[j - 1]);
    }
    EXPECT_DOUBLE_EQ(q[i], expected) << i;
    for (std::size_t k = 0; k < p.size(); ++k) {
      if (p[k] < p[i]) {
        EXPECT_LE(q[k], q[i]);
      }
    }
  }
}

}  // namespace
}  // namespace korvelan
