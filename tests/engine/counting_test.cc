#include "engine/counting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/engine/oracles.h"

namespace korvelan::engine {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// Class ranges given as (first, last) for classes 1 .. M.
ClassRanges Ranges(const std::vector<std::pair<std::int32_t, std::int32_t>>& r) {
  const auto m = static_cast<std::int32_t>(r.size());
  ClassRanges out{RowArray<std::int32_t>(m, kMaxClasses), RowArray<std::int32_t>(m, kMaxClasses)};
  for (std::int32_t k = 1; k <= m; ++k) {
    out.first.Set(k, r[static_cast<std::size_t>(k - 1)].first);
    out.last.Set(k, r[static_cast<std::size_t>(k - 1)].second);
  }
  return out;
}

// All three statistics set to the same values.
Statistics Same(const std::vector<float>& v) {
  Statistics s(static_cast<std::int32_t>(v.size()));
  for (std::size_t i = 0; i < v.size(); ++i) {
    s.rmean.span()[i] = v[i];
    s.rwmean.span()[i] = v[i];
    s.q.span()[i] = v[i];
  }
  return s;
}

std::vector<float> Column(const Statistics& s, int statistic) {
  const RowArray<float>& a = statistic == kRmean ? s.rmean : statistic == kRwmean ? s.rwmean : s.q;
  return {a.span().begin(), a.span().end()};
}

bool SameDouble(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// Values drawn from a small pool so that ties are common, with NaN,
// infinities and both zeros among them.
float PoolValue(std::mt19937& rng) {
  static const float pool[] = {kNaN, -kInf, kInf,  0.0f,  -0.0f, 1.0f,  1.5f,
                               2.0f, 2.0f,  3.25f, -1.0f, 7.0f,  100.0f};
  const auto n = sizeof(pool) / sizeof(pool[0]);
  if (rng() % 3 == 0) return static_cast<float>(rng() % 1000) / 7.0f;
  return pool[rng() % n];
}

TEST(Counting, MatchesPairCountingOracleOnRandomClasses) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 60; ++trial) {
    // Class sizes including empty and one-probe classes; ranges from the top
    // class down, as the class sort lays them out.
    const std::int32_t m = 1 + static_cast<std::int32_t>(rng() % 6);
    std::vector<std::int32_t> size(static_cast<std::size_t>(m));
    for (auto& n : size) n = static_cast<std::int32_t>(rng() % 4 == 0 ? rng() % 2 : rng() % 40);
    std::vector<std::pair<std::int32_t, std::int32_t>> r(static_cast<std::size_t>(m));
    std::int32_t total = 0;
    for (std::int32_t k = m; k >= 1; --k) {
      total += size[static_cast<std::size_t>(k - 1)];
      r[static_cast<std::size_t>(k - 1)] = {total - size[static_cast<std::size_t>(k - 1)] + 1,
                                            total};
    }
    const std::int32_t p = total;
    Statistics observed(p);
    for (int s = 0; s < kStatistics; ++s) {
      RowArray<float>& a = s == 0 ? observed.rmean : s == 1 ? observed.rwmean : observed.q;
      for (auto& v : a.span()) v = PoolValue(rng);
    }
    const ClassRanges ranges = Ranges(r);
    ExceedanceCounter counter(observed, ranges, m, p);
    std::vector<std::vector<double>> right(3, std::vector<double>(static_cast<std::size_t>(p)));
    std::vector<std::vector<double>> left = right;
    const int runs = 1 + static_cast<int>(rng() % 4);
    for (int n = 0; n < runs; ++n) {
      Statistics run(p);
      for (int s = 0; s < kStatistics; ++s) {
        RowArray<float>& a = s == 0 ? run.rmean : s == 1 ? run.rwmean : run.q;
        for (auto& v : a.span()) v = PoolValue(rng);
      }
      counter.CountRun(run);
      for (int s = 0; s < kStatistics; ++s) {
        for (std::int32_t k = 1; k <= m; ++k) {
          oracle::CountPairs(Column(observed, s), Column(run, s),
                             r[static_cast<std::size_t>(k - 1)].first,
                             r[static_cast<std::size_t>(k - 1)].second,
                             right[static_cast<std::size_t>(s)], left[static_cast<std::size_t>(s)]);
        }
      }
    }
    counter.Settle();
    for (int s = 0; s < kStatistics; ++s) {
      for (std::int32_t i = 1; i <= p; ++i) {
        ASSERT_EQ(static_cast<double>(counter.right(s, i)),
                  right[static_cast<std::size_t>(s)][static_cast<std::size_t>(i - 1)])
            << "trial " << trial << " statistic " << s << " row " << i;
        ASSERT_EQ(static_cast<double>(counter.left(s, i)),
                  left[static_cast<std::size_t>(s)][static_cast<std::size_t>(i - 1)])
            << "trial " << trial << " statistic " << s << " row " << i;
      }
    }
    for (std::int32_t k = 1; k <= m; ++k) {
      EXPECT_EQ(counter.total(k), std::int64_t{runs} * size[static_cast<std::size_t>(k - 1)]);
    }
  }
}

struct PValueCase {
  std::string name;
  std::vector<float> observed;           // one class over all rows
  std::vector<std::vector<float>> runs;  // run values per run
  std::vector<double> right, left;       // expected P-values per row
};

class PValuesOfOneClass : public ::testing::TestWithParam<PValueCase> {};

TEST_P(PValuesOfOneClass, AreCountsOverTheClassTotal) {
  const PValueCase& c = GetParam();
  const auto p = static_cast<std::int32_t>(c.observed.size());
  const Statistics observed = Same(c.observed);
  const ClassRanges ranges = Ranges({{1, p}});
  ExceedanceCounter counter(observed, ranges, 1, p);
  for (const auto& values : c.runs) counter.CountRun(Same(values));
  counter.Settle();
  const SidedPValues pv = counter.Finish();
  for (int s = 0; s < kStatistics; ++s) {
    for (std::int32_t i = 1; i <= p; ++i) {
      EXPECT_PRED2(SameDouble, pv.right[s].Get(i), c.right[static_cast<std::size_t>(i - 1)])
          << "statistic " << s << " row " << i;
      EXPECT_PRED2(SameDouble, pv.left[s].Get(i), c.left[static_cast<std::size_t>(i - 1)])
          << "statistic " << s << " row " << i;
    }
  }
}

constexpr double kNaND = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Cases, PValuesOfOneClass,
    ::testing::Values(
        PValueCase{"IdenticalValuesGiveOneOnBothSides", {2, 2}, {{2, 2}, {2, 2}}, {1, 1}, {1, 1}},
        PValueCase{"NaNObservedGivesZeroOnBothSides", {kNaN, 1}, {{1, 1}}, {0, 1}, {0, 1}},
        PValueCase{"NaNRunValueCountsForNobody", {1, 2}, {{kNaN, 2}}, {0.5, 0.5}, {0, 0.5}},
        PValueCase{"NoRunGivesNaN", {1, 2}, {}, {kNaND, kNaND}, {kNaND, kNaND}},
        // Ties count on both sides: the excess over 1 is the tie fraction.
        PValueCase{
            "TiesOnBothSides", {1, 2, 3}, {{1, 2, 3}}, {1, 2.0 / 3, 1.0 / 3}, {1.0 / 3, 2.0 / 3, 1}},
        PValueCase{"SignedZerosAreEqual", {0.0f, -0.0f}, {{-0.0f, 0.0f}}, {1, 1}, {1, 1}},
        PValueCase{"InfinitiesAreOrdered",
                   {kInf, -kInf, 0},
                   {{-kInf, 0, kInf}},
                   {1.0 / 3, 1, 2.0 / 3},
                   {1, 1.0 / 3, 2.0 / 3}},
        PValueCase{"OneProbeClassIsTheFractionOfRuns", {5}, {{4}, {5}, {6}, {7}}, {0.75}, {0.5}}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Counting, RowsOutsideEveryClassGetZeroAndEmptyClassesAreSkipped) {
  // Rows 1 .. 5; class 3 covers row 1, class 2 is empty, class 1 rows 2 .. 3;
  // rows 4 and 5 lie in no range.
  const Statistics observed = Same({1, 2, 3, 4, 5});
  const ClassRanges ranges = Ranges({{2, 3}, {2, 1}, {1, 1}});
  ExceedanceCounter counter(observed, ranges, 3, 5);
  counter.CountRun(Same({5, 4, 3, 2, 1}));
  counter.Settle();
  const SidedPValues pv = counter.Finish();
  EXPECT_EQ(counter.total(1), 2);
  EXPECT_EQ(counter.total(2), 0);
  EXPECT_EQ(counter.total(3), 1);
  EXPECT_EQ(pv.right[kQ].Get(1), 1.0);  // run 5 >= observed 1
  EXPECT_EQ(pv.left[kQ].Get(1), 0.0);
  EXPECT_EQ(pv.right[kQ].Get(2), 1.0);  // run values 4, 3 against 2
  EXPECT_EQ(pv.left[kQ].Get(3), 0.5);   // 3 <= 3
  for (std::int32_t i : {4, 5}) {
    EXPECT_EQ(pv.right[kRmean].Get(i), 0.0) << "row " << i;
    EXPECT_EQ(pv.left[kRwmean].Get(i), 0.0) << "row " << i;
  }
}

TEST(Counting, ACounterForNoRunsReadsAsAPreparedOneWithoutRunsAndRefusesARun) {
  // Classes with NaN, ties and rows outside every range: with no run the
  // P-values are NaN inside a class (0 / 0) and 0 outside, either way.
  std::mt19937 rng(11);
  const std::int32_t p = 60;
  Statistics observed(p);
  for (int s = 0; s < kStatistics; ++s) {
    RowArray<float>& a = s == kRmean ? observed.rmean : s == kRwmean ? observed.rwmean : observed.q;
    for (auto& v : a.span()) v = PoolValue(rng);
  }
  const ClassRanges ranges = Ranges({{31, 58}, {2, 1}, {1, 30}});
  const ExceedanceCounter prepared(observed, ranges, 3, p);
  ExceedanceCounter unprepared(observed, ranges, 3, p, nullptr, false);
  const SidedPValues a = prepared.Finish();
  const SidedPValues b = unprepared.Finish();
  for (int s = 0; s < kStatistics; ++s) {
    for (std::int32_t row = 1; row <= p; ++row) {
      SCOPED_TRACE("statistic " + std::to_string(s) + " row " + std::to_string(row));
      EXPECT_TRUE(SameDouble(a.right[s].Get(row), b.right[s].Get(row)));
      EXPECT_TRUE(SameDouble(a.left[s].Get(row), b.left[s].Get(row)));
      EXPECT_EQ(unprepared.right(s, row), 0);
      EXPECT_EQ(unprepared.left(s, row), 0);
    }
  }
  EXPECT_TRUE(std::isnan(b.right[kQ].Get(1)));
  EXPECT_EQ(b.right[kQ].Get(60), 0.0);
  EXPECT_EQ(unprepared.Tasks(), 0u);
  EXPECT_THROW(unprepared.CountRun(observed), std::logic_error);
}

TEST(Counting, RightPlusLeftExceedsOneByTheTieFraction) {
  std::mt19937 rng(5);
  const std::int32_t p = 40;
  Statistics observed(p);
  for (auto& v : observed.q.span()) v = static_cast<float>(rng() % 6);
  const ClassRanges ranges = Ranges({{1, p}});
  ExceedanceCounter counter(observed, ranges, 1, p);
  std::vector<double> ties(static_cast<std::size_t>(p));
  const int runs = 7;
  for (int n = 0; n < runs; ++n) {
    Statistics run(p);
    for (auto& v : run.q.span()) v = static_cast<float>(rng() % 6);
    counter.CountRun(run);
    for (std::int32_t i = 0; i < p; ++i) {
      for (float v : run.q.span())
        ties[static_cast<std::size_t>(i)] += v == observed.q.span()[static_cast<std::size_t>(i)];
    }
  }
  counter.Settle();
  const SidedPValues pv = counter.Finish();
  for (std::int32_t i = 1; i <= p; ++i) {
    const double excess = pv.right[kQ].Get(i) + pv.left[kQ].Get(i) - 1.0;
    EXPECT_NEAR(excess, ties[static_cast<std::size_t>(i - 1)] / (runs * p), 1e-15) << "row " << i;
  }
}

TEST(OrderKeys, FollowTheOrderOfTheFloats) {
  // Ascending, each strictly above the one before except the two zeros.
  const std::vector<float> ascending{-kInf,
                                     -std::numeric_limits<float>::max(),
                                     -1.0f,
                                     -std::numeric_limits<float>::min(),
                                     -std::numeric_limits<float>::denorm_min(),
                                     -0.0f,
                                     0.0f,
                                     std::numeric_limits<float>::denorm_min(),
                                     std::numeric_limits<float>::min(),
                                     1.0f,
                                     1.0000001f,
                                     std::numeric_limits<float>::max(),
                                     kInf};
  for (std::size_t i = 1; i < ascending.size(); ++i) {
    const float a = ascending[i - 1], b = ascending[i];
    if (a == b) {
      EXPECT_EQ(OrderKey(a), OrderKey(b)) << a << " and " << b;
    } else {
      EXPECT_LT(OrderKey(a), OrderKey(b)) << a << " and " << b;
    }
  }
  EXPECT_LT(OrderKey(kInf), 0xFFFFFFFFu) << "no key may be the end marker";
  std::mt19937 rng(8);
  for (int n = 0; n < 100000; ++n) {
    const float a = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    const float b = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    if (std::isnan(a) || std::isnan(b)) continue;
    ASSERT_EQ(a < b, OrderKey(a) < OrderKey(b)) << a << " and " << b;
    ASSERT_EQ(a == b, OrderKey(a) == OrderKey(b)) << a << " and " << b;
  }
}

TEST(SortKeyedRows, SortsLikeAComparisonSort) {
  struct Case {
    const char* name;
    std::size_t n;
    std::uint32_t (*key)(std::mt19937&);
  };
  const std::vector<Case> cases = {
      {"short", 100, [](std::mt19937& r) { return static_cast<std::uint32_t>(r()); }},
      {"empty", 0, [](std::mt19937& r) { return static_cast<std::uint32_t>(r()); }},
      {"full range", 5000, [](std::mt19937& r) { return static_cast<std::uint32_t>(r()); }},
      {"rank-like floats", 20000,
       [](std::mt19937& r) { return OrderKey(static_cast<float>(1 + r() % 20000) / 3.0f); }},
      {"few values", 3000, [](std::mt19937& r) { return OrderKey(static_cast<float>(r() % 4)); }},
      {"all equal", 1000, [](std::mt19937&) { return OrderKey(2.5f); }},
      {"only the low digit varies", 4000,
       [](std::mt19937& r) { return 0xABC00000u | static_cast<std::uint32_t>(r() % 2048); }},
      {"only the high digit varies", 4000,
       [](std::mt19937& r) { return static_cast<std::uint32_t>(r() % 1024) << 22; }},
  };
  std::mt19937 rng(9);
  for (const Case& c : cases) {
    std::vector<std::uint32_t> keys(c.n);
    for (auto& k : keys) k = c.key(rng);
    // The keys with their rows below them: sorted by key, rows
    // ascending among equal keys (the order of a full sort).
    std::vector<std::uint64_t> rows(c.n), room(c.n);
    for (std::size_t i = 0; i < c.n; ++i) rows[i] = std::uint64_t{keys[i]} << 32 | i;
    std::vector<std::uint64_t> expect_rows = rows;
    std::sort(expect_rows.begin(), expect_rows.end());
    const std::uint64_t* sorted_rows = SortKeyedRows(rows.data(), room.data(), c.n);
    EXPECT_TRUE(sorted_rows == rows.data() || sorted_rows == room.data()) << c.name;
    EXPECT_TRUE(std::equal(expect_rows.begin(), expect_rows.end(), sorted_rows)) << c.name;
  }
}

}  // namespace
}  // namespace korvelan::engine
