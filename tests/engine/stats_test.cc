#include "engine/stats.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/oracles.h"
#include "tests/engine/test_data.h"

namespace korvelan::engine {
namespace {

using testing::LoadedMatrix;
using testing::Weights;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Same float, NaN equal to NaN.
bool Same(float a, float b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

struct OneProbeCase {
  std::string name;
  std::vector<float> ranks;
  std::vector<float> weights;
  float rmean, rwmean, q;
};

class StatsOneProbe : public ::testing::TestWithParam<OneProbeCase> {};

TEST_P(StatsOneProbe, GivesTheThreeStatistics) {
  const OneProbeCase& c = GetParam();
  const auto s = static_cast<std::int32_t>(c.ranks.size());
  RankMatrix x(1, s + 2);
  StudyWeights w;
  for (std::int32_t j = 1; j <= s; ++j) {
    x.Set(1, j, c.ranks[static_cast<std::size_t>(j - 1)]);
    w.Set(j, c.weights[static_cast<std::size_t>(j - 1)]);
  }
  Statistics out(1);
  STATS(x, w, out, 1, s);
  EXPECT_PRED2(Same, out.rmean.Get(1), c.rmean);
  EXPECT_PRED2(Same, out.rwmean.Get(1), c.rwmean);
  EXPECT_PRED2(Same, out.q.Get(1), c.q);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StatsOneProbe,
    ::testing::Values(
        OneProbeCase{"OneStudy", {7.5f}, {2.0f}, 7.5f, 7.5f, 0.0f},
        OneProbeCase{"TwoStudiesWeighted", {10.0f, 30.0f}, {1.0f, 3.0f}, 20.0f, 25.0f, 200.0f},
        OneProbeCase{"MissingStudyIgnoredWithItsWeight",
                     {10.0f, -99.0f, 30.0f},
                     {1.0f, 100.0f, 3.0f},
                     20.0f,
                     25.0f,
                     200.0f},
        OneProbeCase{"AllMissing", {-99.0f, -99.0f}, {1.0f, 1.0f}, kNaN, 0.0f, 0.0f},
        OneProbeCase{"NoStudies", {}, {}, kNaN, 0.0f, 0.0f},
        OneProbeCase{"AllWeightsZero", {10.0f, 30.0f}, {0.0f, 0.0f}, 20.0f, kNaN, 200.0f},
        // Weights adding up to 0 with non-zero terms: w / 0 is infinite.
        OneProbeCase{"WeightsCancel", {10.0f, 30.0f}, {1.0f, -1.0f}, 20.0f, kNaN, 200.0f},
        OneProbeCase{"ZeroWeightOverZeroSum", {10.0f}, {0.0f}, 10.0f, kNaN, 0.0f},
        // v = +inf and -inf; with ranks of opposite signs both terms are +inf.
        OneProbeCase{
            "CancellingWeightsGiveInfinity", {10.0f, -10.0f}, {1.0f, -1.0f}, 0.0f, kInf, 200.0f},
        OneProbeCase{
            "NegativeAndZeroRanksArePresent", {-98.0f, 0.0f}, {1.0f, 1.0f}, -49.0f, -49.0f, 4802.0f},
        // 1/3 rounds to float before it multiplies: 0.33333334f * 3 * 3 in
        // double is 3.0000000596..., which rounds back to 3.0f.
        OneProbeCase{
            "ThirdsRoundedAsFloats", {3.0f, 3.0f, 3.0f}, {1.0f, 1.0f, 1.0f}, 3.0f, 3.0f, 0.0f}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Stats, FloatAccumulatorRoundsAfterEveryAddition) {
  // 2^24 + 1 is not a float: a double accumulator would keep the 1s.
  RankMatrix x(1, 5);
  x.Set(1, 1, 16777216.0f);
  x.Set(1, 2, 1.0f);
  x.Set(1, 3, 1.0f);
  const StudyWeights w = Weights({1.0f, 1.0f, 1.0f});
  Statistics out(1);
  STATS(x, w, out, 1, 3);
  EXPECT_EQ(out.rmean.Get(1), static_cast<float>(16777216.0 / 3.0));
}

TEST(Stats, QUsesTheRmeanAsStoredInFloat) {
  // Ranks 1, 2, 4: R-mean 7/3 stored as a float; Q from that float in double.
  RankMatrix x(1, 5);
  x.Set(1, 1, 1.0f);
  x.Set(1, 2, 2.0f);
  x.Set(1, 3, 4.0f);
  Statistics out(1);
  STATS(x, Weights({1, 1, 1}), out, 1, 3);
  const double m = static_cast<float>(7.0 / 3.0);
  float q = 0.0f;
  for (double r : {1.0, 2.0, 4.0}) q = static_cast<float>(q + (r - m) * (r - m));
  EXPECT_EQ(out.q.Get(1), q);
}

TEST(Stats, InfiniteRankGivesInfinityAndNaN) {
  RankMatrix x(1, 4);
  x.Set(1, 1, kInf);
  x.Set(1, 2, 1.0f);
  Statistics out(1);
  STATS(x, Weights({1, 1}), out, 1, 2);
  EXPECT_EQ(out.rmean.Get(1), kInf);
  EXPECT_EQ(out.rwmean.Get(1), kInf);
  EXPECT_TRUE(std::isnan(out.q.Get(1)));  // inf - inf
}

TEST(Stats, ZeroProbesWritesNothingAndLeavesRowsBeyondPAlone) {
  RankMatrix x = LoadedMatrix(1, {{5.0f, 1.0f}, {6.0f, 1.0f}});
  std::vector<float> rmean{-1, -1}, rwmean{-1, -1}, q{-1, -1};
  STATS(x, Weights({1}), rmean, rwmean, q, 0, 1);
  EXPECT_EQ(rmean, (std::vector<float>{-1, -1}));
  STATS(x, Weights({1}), rmean, rwmean, q, 1, 1);
  EXPECT_EQ(rmean, (std::vector<float>{5, -1}));
  EXPECT_EQ(rwmean, (std::vector<float>{5, -1}));
  EXPECT_EQ(q, (std::vector<float>{0, -1}));
}

TEST(Stats, ReadsNeitherClassNorLineNumberColumn) {
  RankMatrix x = LoadedMatrix(2, {{1.0f, 3.0f, 999.0f}});
  Statistics out(1);
  STATS(x, Weights({1, 1}), out, 1, 2);
  EXPECT_EQ(out.rmean.Get(1), 2.0f);
}

TEST(Stats, StatisticsReadZeroBeyondPAndBoundsOutside) {
  Statistics out(3);
  EXPECT_EQ(out.q.Get(500000), 0.0f);
  EXPECT_THROW(out.q.Get(0), textio::Termination);
  EXPECT_THROW(out.q.Get(500001), textio::Termination);
}

// The probe-by-probe oracle and the study-by-study passes must agree bit
// for bit, also with zero, negative and cancelling weights, and in every
// instruction-set form of the passes (which must also agree with each
// other to the last bit, NaNs included). Some trials add infinities,
// subnormal ranks and ranks large enough for the sums to overflow.
TEST(Stats, MatchesTheProbeByProbeOracleOnRandomData) {
  std::mt19937 rng(20240611);
  for (int trial = 0; trial < 60; ++trial) {
    const std::int32_t p = 1 + static_cast<std::int32_t>(rng() % 300);
    const std::int32_t s = static_cast<std::int32_t>(rng() % 12);
    RankMatrix x = testing::RandomRanks(rng, p, s, trial % 3 == 0 ? 0.6 : 0.2);
    // Scale like the loading does, to get fractional ranks.
    for (std::int32_t j = 1; j <= s; ++j) {
      for (std::int32_t i = 1; i <= p; ++i) {
        const float r = x.Get(i, j);
        if (r != -99.0f) x.Set(i, j, static_cast<float>(p / (p - 0.37 * j) * r));
      }
    }
    if (trial % 4 == 1) {
      const float special[] = {kInf, -kInf, 1e-40f, -3e-45f, 3e38f, -3e38f, 0.0f, -0.0f};
      for (std::int32_t j = 1; j <= s; ++j) {
        for (std::int32_t i = 1; i <= p; ++i) {
          if (rng() % 8 == 0) x.Set(i, j, special[rng() % 8]);
        }
      }
    }
    StudyWeights w;
    std::uniform_real_distribution<float> weight(-1.0f, 5.0f);
    for (std::int32_t j = 1; j <= s; ++j) w.Set(j, trial % 5 == 0 ? 0.0f : weight(rng));
    const oracle::StatsRows expect = oracle::Stats(x, w, p, s);
    Statistics widest(p);
    Statistics baseline(p);
    STATS(x, w, widest.rmean.span(), widest.rwmean.span(), widest.q.span(), p, s,
          VectorForm::kWidest);
    STATS(x, w, baseline.rmean.span(), baseline.rwmean.span(), baseline.q.span(), p, s,
          VectorForm::kBaseline);
    for (std::int32_t i = 1; i <= p; ++i) {
      const auto k = static_cast<std::size_t>(i - 1);
      ASSERT_PRED2(Same, widest.rmean.Get(i), expect.rmean[k]) << "trial " << trial << " row " << i;
      ASSERT_PRED2(Same, widest.rwmean.Get(i), expect.rwmean[k])
          << "trial " << trial << " row " << i;
      ASSERT_PRED2(Same, widest.q.Get(i), expect.q[k]) << "trial " << trial << " row " << i;
    }
    const auto bits = [](const RowArray<float>& a) {
      std::vector<std::uint32_t> b;
      for (float v : a.span()) b.push_back(std::bit_cast<std::uint32_t>(v));
      return b;
    };
    ASSERT_EQ(bits(widest.rmean), bits(baseline.rmean)) << "trial " << trial;
    ASSERT_EQ(bits(widest.rwmean), bits(baseline.rwmean)) << "trial " << trial;
    ASSERT_EQ(bits(widest.q), bits(baseline.q)) << "trial " << trial;
  }
}

}  // namespace
}  // namespace korvelan::engine
