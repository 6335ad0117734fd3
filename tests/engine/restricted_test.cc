#include "engine/restricted.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "textio/channels.h"
#include "textio/termination.h"

namespace korvelan::engine {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

ClassRanges Ranges(const std::vector<std::pair<std::int32_t, std::int32_t>>& r) {
  const auto m = static_cast<std::int32_t>(r.size());
  ClassRanges out{RowArray<std::int32_t>(m, kMaxClasses), RowArray<std::int32_t>(m, kMaxClasses)};
  for (std::int32_t k = 1; k <= m; ++k) {
    out.first.Set(k, r[static_cast<std::size_t>(k - 1)].first);
    out.last.Set(k, r[static_cast<std::size_t>(k - 1)].second);
  }
  return out;
}

Statistics RmeanAndQ(const std::vector<float>& rmean, const std::vector<float>& q) {
  Statistics s(static_cast<std::int32_t>(rmean.size()));
  for (std::size_t i = 0; i < rmean.size(); ++i) {
    s.rmean.span()[i] = rmean[i];
    s.q.span()[i] = q[i];
  }
  return s;
}

// What happened: the console output and how the analysis ended.
struct Outcome {
  std::string console;
  std::optional<int> severe;       // condition number, when one was thrown
  std::optional<int> stop_status;  // a stop (no report line)
  std::int64_t band = 0, right = 0, left = 0;
};

// Runs `runs` per-run steps with the same run statistics, then the final
// step, catching the ending.
Outcome Analyse(std::int32_t g, std::int32_t k, std::int32_t limit, const Statistics& observed,
                const ClassRanges& ranges, const Statistics& run, int runs = 1) {
  Outcome o;
  RestrictedAnalysis a(g, k, limit, observed, ranges);
  ::testing::internal::CaptureStdout();
  try {
    for (int n = 0; n < runs; ++n) a.CountRun(run);
    // The lines the console program makes of the result.
    const RestrictedPValues p = a.Finish();
    textio::ConsoleWrite("right-sided P-value for Q=", p.right);
    textio::ConsoleWrite("left-sided P-value for Q=", p.left);
  } catch (const LimitProblem&) {
    EXPECT_TRUE(a.LimitTooLarge());
    textio::ConsoleWrite("Problem with the \"limit\" value");
    o.stop_status = 1;
  } catch (const textio::Termination& t) {
    if (t.SevereNumber() != 0) {
      o.severe = t.SevereNumber();
    } else {
      o.stop_status = t.ExitStatus();
      EXPECT_EQ(t.ReportLine(), "");
    }
  }
  o.console = ::testing::internal::GetCapturedStdout();
  o.band = a.band_count();
  o.right = a.right_count();
  o.left = a.left_count();
  return o;
}

constexpr char kLimitLine[] = " Problem with the \"limit\" value\r\n";
constexpr char kNaNLines[] =
    " right-sided P-value for Q= NaN                    \r\n"
    " left-sided P-value for Q= NaN                    \r\n";

// Gene in row 1 with R-mean 120.5 and Q 10; class 1 = rows 2 .. 4.
struct Fixture {
  Statistics observed = RmeanAndQ({120.5f, 1, 1, 1}, {10, 0, 0, 0});
  ClassRanges ranges = Ranges({{2, 4}, {5, 4}});  // class 2 empty
};

TEST(Restricted, LimitBelowTheRmeanRunsAndCounts) {
  Fixture f;
  // Run R-means 0.5 (lower bound, in), 240.5 (upper bound, in), 240.6 (out);
  // run Q 10 (tie), 11, 0.
  const Statistics run = RmeanAndQ({0, 0.5f, 240.5f, 240.6f}, {0, 10, 11, 0});
  const Outcome o = Analyse(1, 1, 120, f.observed, f.ranges, run, 2);
  EXPECT_FALSE(o.severe);
  EXPECT_FALSE(o.stop_status);
  EXPECT_EQ(o.band, 4);
  EXPECT_EQ(o.right, 4);  // 10 <= 10 and 10 <= 11, twice
  EXPECT_EQ(o.left, 2);   // 10 >= 10, twice
  EXPECT_EQ(o.console,
            " right-sided P-value for Q=   1.00000000000000     \r\n"
            " left-sided P-value for Q=  0.500000000000000     \r\n");
}

TEST(Restricted, LimitAtOrAboveTheRmeanStopsAfterItsLine) {
  Fixture f;
  const Statistics run = RmeanAndQ({0, 1, 1, 1}, {0, 0, 0, 0});
  const Outcome o = Analyse(1, 1, 121, f.observed, f.ranges, run);
  EXPECT_EQ(o.stop_status, 1);
  EXPECT_EQ(o.console, kLimitLine);
}

TEST(Restricted, LimitZeroCountsOnlyEqualRmeans) {
  Fixture f;
  const Statistics run = RmeanAndQ({0, 120.5f, 120.50001f, 120.49999f}, {0, 3, 3, 3});
  const Outcome o = Analyse(1, 1, 0, f.observed, f.ranges, run);
  EXPECT_EQ(o.band, 1);
  EXPECT_EQ(o.left, 1);
  EXPECT_EQ(o.right, 0);
}

TEST(Restricted, NaNRunValuesAreNeverInTheBand) {
  Fixture f;
  const Statistics run = RmeanAndQ({0, kNaN, 100, 100}, {0, 5, kNaN, 10});
  const Outcome o = Analyse(1, 1, 50, f.observed, f.ranges, run);
  EXPECT_EQ(o.band, 2);  // the NaN R-mean is out; a NaN Q still counts in the band
  EXPECT_EQ(o.left, 1);  // only the tie 10
  EXPECT_EQ(o.right, 1);
}

struct NaNCase {
  std::string name;
  std::int32_t k;
  std::int32_t limit;
  int runs;
};

class RestrictedNaN : public ::testing::TestWithParam<NaNCase> {};

TEST_P(RestrictedNaN, EmptyBandGivesNaNLines) {
  Fixture f;
  const Statistics run = RmeanAndQ({0, 100, 110, 118}, {0, 1, 2, 3});
  const NaNCase& c = GetParam();
  const Outcome o = Analyse(1, c.k, c.limit, f.observed, f.ranges, run, c.runs);
  EXPECT_FALSE(o.severe);
  EXPECT_FALSE(o.stop_status);
  EXPECT_EQ(o.console, kNaNLines);
}

INSTANTIATE_TEST_SUITE_P(Cases, RestrictedNaN,
                         ::testing::Values(NaNCase{"NegativeLimit", 1, -1, 3},
                                           NaNCase{"EmptyClassEvenWithABadLimit", 2, 1000, 3},
                                           NaNCase{"NoRuns", 1, 1000, 0},
                                           NaNCase{"NothingWithinTheLimit", 1, 1, 2}),
                         [](const auto& param_info) { return param_info.param.name; });

struct BoundsCase {
  std::string name;
  std::int32_t g, k, limit;
  const char* console;  // written before the ending
  std::optional<int> severe;
  std::optional<int> stop;
};

class RestrictedEndings : public ::testing::TestWithParam<BoundsCase> {};

TEST_P(RestrictedEndings, EndAtTheFirstAccess) {
  Fixture f;
  const Statistics run = RmeanAndQ({0, 100, 110, 120}, {0, 1, 2, 3});
  const BoundsCase& c = GetParam();
  const Outcome o = Analyse(c.g, c.k, c.limit, f.observed, f.ranges, run);
  EXPECT_EQ(o.severe, c.severe);
  EXPECT_EQ(o.stop_status, c.stop);
  EXPECT_EQ(o.console, c.console);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestrictedEndings,
    ::testing::Values(
        // A gene beyond P reads R-mean 0: any limit >= 0 stops.
        BoundsCase{"GeneBeyondPStops", 5, 1, 0, kLimitLine, std::nullopt, 1},
        BoundsCase{"GeneAtTheLastRowStops", 500000, 1, 0, kLimitLine, std::nullopt, 1},
        BoundsCase{"GeneZeroIsBoundsInTheBand", 0, 1, 0, "", 161, std::nullopt},
        BoundsCase{"GeneAboveRowsIsBoundsInTheBand", 500001, 1, 0, "", 161, std::nullopt},
        // With an empty class the gene id is first used at the division.
        BoundsCase{"GeneZeroWithEmptyClassAtTheDivision", 0, 2, 0, "", 161, std::nullopt},
        BoundsCase{"ClassZeroIsBounds", 1, 0, 0, "", 161, std::nullopt},
        BoundsCase{"ClassAboveBoundIsBounds", 1, 500001, 0, "", 161, std::nullopt},
        BoundsCase{"NegativeClassIsBounds", 0, -4, 0, "", 161, std::nullopt},
        // A class above M: rows 0 .. 0. The band and limit test come first.
        BoundsCase{"ClassAboveMFailsOnRowZero", 1, 3, 1, "", 161, std::nullopt},
        BoundsCase{"ClassAboveMStopsOnTheLimitFirst", 1, 500000, 200, kLimitLine, std::nullopt, 1}),
    [](const auto& param_info) { return param_info.param.name; });

TEST(Restricted, NaNLowerBoundPassesTheLimitTest) {
  Fixture f;
  f.observed.rmean.Set(1, kNaN);
  const Statistics run = RmeanAndQ({0, 100, 110, 120}, {0, 1, 2, 3});
  const Outcome o = Analyse(1, 1, 5, f.observed, f.ranges, run);
  EXPECT_FALSE(o.stop_status);
  EXPECT_EQ(o.band, 0);
  EXPECT_EQ(o.console, kNaNLines);
}

TEST(Restricted, BandBoundsRoundToFloat) {
  // R-mean 16777216 (2^24): 16777216 - 1 is a float, 16777216 + 1 is not and
  // rounds back to 2^24, so a run R-mean of 16777218 stays out of the band.
  Fixture f;
  f.observed.rmean.Set(1, 16777216.0f);
  const Statistics run = RmeanAndQ({0, 16777215.0f, 16777218.0f, 16777216.0f}, {0, 1, 2, 3});
  const Outcome o = Analyse(1, 1, 1, f.observed, f.ranges, run);
  EXPECT_EQ(o.band, 2);
}

}  // namespace
}  // namespace korvelan::engine
