#include "numeric/random.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/numeric/report_capture.h"

namespace korvelan::numeric {
namespace {

using testing::CapturedReports;
using testing::EndsWithStop;

// The scale spelled out by its bits, independent of the setup loop.
float ScaleFromBits() { return std::bit_cast<float>(0x2FFFFFFFu); }

float Expected(std::int32_t state) {
  return static_cast<float>(static_cast<double>(state) * static_cast<double>(ScaleFromBits()));
}

constexpr std::array<std::int32_t, 6> kStatesFromOne = {16807,     282475249,  1622650073,
                                                        984943658, 1144108930, 470211272};
constexpr std::array<float, 6> kNumbersFromOne = {7.82636835E-06f, 0.13153778f,  0.75560528f,
                                                  0.458650112f,    0.532767177f, 0.218959168f};

TEST(UniformStream, ScaleIsTheLargestFloatBelowTwoToMinus31) {
  EXPECT_EQ(std::bit_cast<std::uint32_t>(UniformScale()), 0x2FFFFFFFu);
  EXPECT_EQ(static_cast<double>(UniformScale()), 16777215.0 * 0x1p-55);
}

TEST(UniformStream, SeedOneGivesTheKnownSixNumbers) {
  CapturedReports reports;
  SETSEED(1);
  std::array<float, 6> u{};
  RNUN(6, u.data());
  std::int32_t state = 1;
  for (std::size_t i = 0; i < u.size(); ++i) {
    state = NextState(state);
    EXPECT_EQ(state, kStatesFromOne[i]) << i;
    EXPECT_EQ(u[i], Expected(kStatesFromOne[i])) << i;
    EXPECT_FLOAT_EQ(u[i], kNumbersFromOne[i]) << i;
    EXPECT_EQ(UniformFromState(kStatesFromOne[i]), u[i]) << i;
  }
  std::int32_t seed = 0;
  GETSEED(seed);
  EXPECT_EQ(seed, 470211272);
  EXPECT_TRUE(reports.lines().empty());
}

TEST(UniformStream, TopSeedGivesTheLargestNumbers) {
  CapturedReports reports;
  SETSEED(2147483646);
  float u = 0.0f;
  RNUN(1, &u);
  std::int32_t seed = 0;
  GETSEED(seed);
  EXPECT_EQ(seed, 2147466840);
  EXPECT_EQ(u, Expected(2147466840));
  EXPECT_FLOAT_EQ(u, 0.999992132f);
}

TEST(UniformStream, NumbersStayStrictlyInsideTheUnitInterval) {
  EXPECT_EQ(UniformFromState(1), ScaleFromBits());
  EXPECT_EQ(UniformFromState(2147483646), 0.99999994f);
  EXPECT_EQ(UniformFromState(2147483584), 0.99999994f);
  EXPECT_LT(UniformFromState(2147483583), 0.99999994f);
  CapturedReports reports;
  SETSEED(1);
  std::vector<float> u(200000);
  RNUN(static_cast<std::int32_t>(u.size()), u.data());
  for (float v : u) {
    ASSERT_GT(v, 0.0f);
    ASSERT_LT(v, 1.0f);
  }
}

TEST(UniformStream, MinimalStandardCheckValue) {
  CapturedReports reports;
  SETSEED(1);
  std::vector<float> u(10000);
  RNUN(10000, u.data());
  std::int32_t seed = 0;
  GETSEED(seed);
  EXPECT_EQ(seed, 1043618065);
  std::int32_t s = 1;
  for (int i = 0; i < 10000; ++i) s = NextState(s);
  EXPECT_EQ(s, 1043618065);
}

TEST(UniformStream, ReadSeedContinuesTheSequence) {
  CapturedReports reports;
  SETSEED(1);
  std::array<float, 3> first{};
  std::array<float, 3> second{};
  RNUN(3, first.data());
  std::int32_t k = 0;
  GETSEED(k);
  SETSEED(k);
  RNUN(3, second.data());
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(first[i], Expected(kStatesFromOne[i])) << i;
    EXPECT_EQ(second[i], Expected(kStatesFromOne[i + 3])) << i;
  }
}

TEST(UniformStream, CallSizesDoNotChangeTheNumbers) {
  CapturedReports reports;
  SETSEED(1);
  std::array<float, 6> one_by_one{};
  for (float& v : one_by_one) RNUN(1, &v);
  SETSEED(1);
  std::array<float, 6> at_once{};
  RNUN(6, at_once.data());
  EXPECT_EQ(one_by_one, at_once);
}

TEST(UniformStream, InvalidSeedsAreIgnoredSilently) {
  for (std::int32_t bad : {-5, 2147483647, -2147483647 - 1}) {
    CapturedReports reports;
    SETSEED(1234);
    SETSEED(bad);
    std::int32_t seed = 0;
    GETSEED(seed);
    EXPECT_EQ(seed, 1234) << bad;
    EXPECT_TRUE(reports.lines().empty()) << bad;
  }
}

// The clock seed is read from the running clock: a call straddling a second
// may see either side of it.
void ExpectClockSeedNear(std::int32_t seed, std::int32_t before, std::int32_t after) {
  EXPECT_TRUE(seed == before || seed == after) << seed << " " << before << " " << after;
  EXPECT_TRUE((seed >= 2 && seed <= 235961) || seed == 123457) << seed;
}

TEST(UniformStream, FirstOperationWithoutSeedTakesTheClock) {
  {
    CapturedReports reports;
    const std::int32_t before = ClockSeed();
    std::int32_t seed = 0;
    GETSEED(seed);
    ExpectClockSeedNear(seed, before, ClockSeed());
  }
  {
    CapturedReports reports;
    const std::int32_t before = ClockSeed();
    SETSEED(-5);  // ensure: a clock seed, kept by the next read
    std::int32_t seed = 0;
    GETSEED(seed);
    ExpectClockSeedNear(seed, before, ClockSeed());
  }
  {
    CapturedReports reports;
    const std::int32_t before = ClockSeed();
    float u = 0.0f;
    RNUN(1, &u);
    const std::int32_t after = ClockSeed();
    std::int32_t seed = 0;
    GETSEED(seed);
    EXPECT_TRUE(seed == NextState(before) || seed == NextState(after)) << seed;
  }
}

TEST(UniformStream, SeedZeroReplacesASetSeedWithTheClock) {
  CapturedReports reports;
  SETSEED(99);
  const std::int32_t before = ClockSeed();
  SETSEED(0);
  const std::int32_t after = ClockSeed();
  std::int32_t seed = 0;
  GETSEED(seed);
  ExpectClockSeedNear(seed, before, after);
}

TEST(RNUN, CountBelowOneIsATerminalReportWithoutTraceback) {
  for (std::int32_t nr : {0, -3}) {
    CapturedReports reports;
    SETSEED(1);
    std::array<float, 2> u = {-1.0f, -2.0f};
    EXPECT_TRUE(EndsWithStop([&] { RNUN(nr, u.data()); })) << nr;
    const std::vector<std::string> expected = {
        "",
        " *** TERMINAL ERROR 1 from RNUN.  NR = " + std::to_string(nr) +
            ".  NR must be greater than or equal",
        " ***          to 1."};
    EXPECT_EQ(reports.lines(), expected) << nr;
    EXPECT_EQ(u[0], -1.0f);
    EXPECT_EQ(u[1], -2.0f);
    std::int32_t seed = 0;
    GETSEED(seed);
    EXPECT_EQ(seed, 1) << "the seed moved";
  }
}

TEST(ClockSeedOf, CountsSecondsOfTheDayInDecimalFields) {
  struct Case {
    int h, m, s;
    std::int32_t seed;
  } cases[] = {{14, 5, 9, 140510},   {0, 0, 0, 123457},    {0, 0, 1, 2},
               {23, 59, 59, 235960}, {12, 34, 56, 123457}, {0, 1, 0, 101}};
  for (const Case& c : cases) {
    EXPECT_EQ(ClockSeedOf(c.h, c.m, c.s), c.seed) << c.h << ":" << c.m << ":" << c.s;
  }
}

TEST(StateAfter, MatchesSequentialStepsUpToAMillion) {
  constexpr std::uint64_t kSteps = 1000000;
  // Every k for one seed, a stride through the others.
  const struct {
    std::int32_t seed;
    std::uint64_t stride;
  } runs[] = {{1, 1}, {2, 997}, {123457, 991}, {2147483646, 983}, {1043618065, 977}};
  for (const auto& run : runs) {
    std::int32_t state = run.seed;
    std::uint64_t mismatches = 0;
    for (std::uint64_t k = 0; k <= kSteps; ++k) {
      if (k % run.stride == 0 && StateAfter(run.seed, k) != state) ++mismatches;
      state = NextState(state);
    }
    EXPECT_EQ(mismatches, 0u) << "seed " << run.seed;
  }
}

TEST(StateAfter, LargeJumpsCompose) {
  for (std::int32_t s : {1, 16807, 2147483646}) {
    // 2^40 steps as 2^20 jumps of 2^20, then three single steps.
    std::int32_t z = s;
    for (int i = 0; i < (1 << 20); ++i) z = StateAfter(z, std::uint64_t{1} << 20);
    for (int i = 0; i < 3; ++i) z = NextState(z);
    EXPECT_EQ(StateAfter(s, (std::uint64_t{1} << 40) + 3), z) << s;
    // The multiplier's order divides the modulus less one.
    EXPECT_EQ(StateAfter(s, 2147483646u), s) << s;
    EXPECT_EQ(StateAfter(s, 2 * std::uint64_t{2147483646} + 5), StateAfter(s, 5)) << s;
    EXPECT_EQ(StateAfter(s, ~std::uint64_t{0}), StateAfter(s, ~std::uint64_t{0} % 2147483646u)) << s;
  }
}

#ifdef KORVELAN_CLOCK_PROBE
// The clock seed end to end, under a frozen fake clock.
TEST(UniformStream, ClockSeedFollowsTheLocalTimeOfDay) {
  if (std::system("command -v faketime >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "faketime is not installed";
  }
  struct Case {
    const char* when;
    const char* expected;
  } cases[] = {
      {"2026-12-08 14:05:09", "clock 140510 first-read 140510 after-set 140510 next 214067923"},
      {"2026-12-08 00:00:00", "clock 123457 first-read 123457 after-set 123457 next 2074941799"},
  };
  for (const Case& c : cases) {
    const std::string command = std::string("TZ=UTC ASAN_OPTIONS=verify_asan_link_order=0 ") +
                                "faketime -f '" + c.when + "' " + KORVELAN_CLOCK_PROBE;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[256] = {};
    const bool got = std::fgets(buffer, sizeof buffer, pipe) != nullptr;
    const int status = pclose(pipe);
    ASSERT_TRUE(got) << c.when;
    EXPECT_EQ(status, 0) << c.when;
    std::string line(buffer);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    EXPECT_EQ(line, c.expected) << c.when;
  }
}
#endif

}  // namespace
}  // namespace korvelan::numeric
