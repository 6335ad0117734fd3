#include "engine/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <string>
#include <vector>

#include "engine/worker_pool.h"
#include "numeric/random.h"
#include "tests/engine/oracles.h"
#include "tests/engine/test_data.h"

namespace korvelan::engine {
namespace {

class RunsTest : public ::testing::Test {
 protected:
  void SetUp() override { numeric::ResetRandomStreamForTesting(); }
};

struct IndexCase {
  std::string name;
  std::int32_t l;
  float u;
  std::int32_t k;
};

class ExchangeIndexTest : public ::testing::TestWithParam<IndexCase> {};

TEST_P(ExchangeIndexTest, TruncatesTheExactProduct) {
  EXPECT_EQ(ExchangeIndex(GetParam().l, GetParam().u), GetParam().k);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExchangeIndexTest,
    ::testing::Values(IndexCase{"TenTimesSecondNumber", 10, 0.13153778f, 2},
                      IndexCase{"LargestNumberAtTwo", 2, 0.99999994f, 2},
                      IndexCase{"SmallestNumberAtLargeL", 400000, 4.6566126E-10f, 1},
                      IndexCase{"LargestNumberAtLargestL", 499999, 0.99999994f, 499999},
                      IndexCase{"JustBelowAThird", 3, 0.33333331f, 1},
                      IndexCase{"JustAboveAThird", 3, 0.33333334f, 2}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(RunsTest, OneStudyOverFourProbesFromSeedOne) {
  std::vector<float> x{1, 2, 3, 4};
  DrawStream draws(1);
  ShuffleColumn(x.data(), 4, draws);
  EXPECT_EQ(x, (std::vector<float>{4, 2, 3, 1}));
  EXPECT_EQ(draws.saved_seed(), 470211272);  // six draws from seed 1
}

struct MissingCase {
  std::string name;
  std::int32_t seed;  // state before the first draw
  std::vector<float> expect;
};

class ShuffleMissing : public RunsTest, public ::testing::WithParamInterface<MissingCase> {};

// (5, -99, 9): at L = 3 K = 1 exchanges slots 1 and 3, K = 2 (a -99) does
// nothing; at L = 2 slot 2 holds -99, so nothing is ever exchanged there.
TEST_P(ShuffleMissing, MissingRankNeverMoves) {
  std::vector<float> x{5, -99, 9};
  DrawStream draws(GetParam().seed);
  ShuffleColumn(x.data(), 3, draws);
  EXPECT_EQ(x, GetParam().expect);
}

INSTANTIATE_TEST_SUITE_P(Cases, ShuffleMissing,
                         ::testing::Values(
                             // First numbers 7.8e-06 (K = 1), then 0.7556 at L = 2 (K = 2 = L).
                             MissingCase{"DrawnSlotOne", 1, {9, -99, 5}},
                             // From state 1622650073: 0.4587 (K = 2, the -99), then 0.2190 at L = 2
                             // (K = 1, but slot L holds -99).
                             MissingCase{"DrawnSlotTwo", 1622650073, {5, -99, 9}}),
                         [](const auto& param_info) { return param_info.param.name; });

TEST_F(RunsTest, NoDrawForOneProbeOrNone) {
  for (std::int32_t p : {-3, 0, 1}) {
    std::vector<float> x{7};
    DrawStream draws(99);
    ShuffleColumn(x.data(), p, draws);
    EXPECT_EQ(draws.saved_seed(), 99) << "P = " << p;
    EXPECT_EQ(x, std::vector<float>{7});
  }
}

TEST_F(RunsTest, AllMissingStudyStillTakesItsDraws) {
  std::vector<float> x(6, -99.0f);
  DrawStream draws(12345);
  ShuffleColumn(x.data(), 6, draws);
  EXPECT_EQ(x, std::vector<float>(6, -99.0f));
  EXPECT_EQ(draws.saved_seed(), numeric::StateAfter(12345, 10));
}

// The stepped stream against the straightforward SETSEED/RNUN/GETSEED loop:
// same permutations study after study, same saved seed at the end.
TEST_F(RunsTest, SteppedDrawsMatchTheStraightforwardLoop) {
  std::mt19937 rng(7);
  for (std::int32_t seed : {1, 2, 16807, 2147483646, 1234567890}) {
    std::int32_t saved = seed;
    DrawStream draws(seed);
    for (int study = 0; study < 6; ++study) {
      const std::int32_t p = 2 + static_cast<std::int32_t>(rng() % 200);
      std::vector<float> fast(static_cast<std::size_t>(p));
      for (auto& v : fast) v = (rng() % 4 == 0) ? -99.0f : static_cast<float>(rng() % 50);
      std::vector<float> slow = fast;
      ShuffleColumn(fast.data(), p, draws);
      oracle::Shuffle(slow, p, saved);
      ASSERT_EQ(fast, slow) << "seed " << seed << " study " << study;
      ASSERT_EQ(draws.saved_seed(), saved) << "seed " << seed << " study " << study;
    }
    numeric::ResetRandomStreamForTesting();
  }
}

// Columns longer than one chunk of draws: the chunks must join up without a
// gap, for lengths just around the chunk boundaries.
TEST_F(RunsTest, ChunkedDrawsMatchTheStraightforwardLoopAcrossChunks) {
  const std::int32_t chunk = ColumnShuffler::kChunk;
  std::mt19937 rng(17);
  for (std::int32_t p : {chunk, chunk + 1, chunk + 2, 2 * chunk + 1, 3 * chunk + 77}) {
    std::int32_t saved = 1 + static_cast<std::int32_t>(rng() % 2147483646u);
    DrawStream draws(saved);
    std::vector<float> fast(static_cast<std::size_t>(p));
    for (auto& v : fast) v = (rng() % 5 == 0) ? -99.0f : static_cast<float>(rng() % 1000);
    std::vector<float> slow = fast;
    ShuffleColumn(fast.data(), p, draws);
    oracle::Shuffle(slow, p, saved);
    ASSERT_EQ(fast, slow) << "P = " << p;
    ASSERT_EQ(draws.saved_seed(), saved) << "P = " << p;
    numeric::ResetRandomStreamForTesting();
  }
}

// The interleaved generators of a chunk give the numbers of the one stream,
// for every length of a chunk's tail.
TEST_F(RunsTest, ExchangeIndicesAreThoseOfSinglePairs) {
  std::mt19937 rng(19);
  for (std::int32_t steps = 1; steps <= 40; ++steps) {
    const std::int32_t seed = 1 + static_cast<std::int32_t>(rng() % 2147483646u);
    const std::int32_t first_l = steps + static_cast<std::int32_t>(rng() % 1000000);
    DrawStream bulk(seed);
    DrawStream single(seed);
    std::vector<std::int32_t> k(static_cast<std::size_t>(steps));
    bulk.ExchangeIndices(first_l, steps, k.data());
    for (std::int32_t i = 0; i < steps; ++i) {
      ASSERT_EQ(k[static_cast<std::size_t>(i)], ExchangeIndex(first_l - i, single.NextPair()))
          << steps << " steps, step " << i;
    }
    ASSERT_EQ(bulk.saved_seed(), single.saved_seed()) << steps << " steps";
    numeric::ResetRandomStreamForTesting();
  }
}

// The stream's numbers at its edge states and at random ones, against the
// stream's own state-to-number function.
TEST_F(RunsTest, NumbersAreThoseOfTheStreamsStates) {
  std::mt19937 rng(99);
  std::vector<std::int32_t> targets{1,          2,          3,          2147483646, 2147483645,
                                    2147483584, 2147483583, 1073741824, 16807};
  for (int i = 0; i < 20000; ++i)
    targets.push_back(1 + static_cast<std::int32_t>(rng() % 2147483646u));
  for (std::int32_t target : targets) {
    // The state one step before `target`.
    const std::int32_t before = numeric::StateAfter(target, 2147483645u);
    ASSERT_EQ(numeric::NextState(before), target);
    DrawStream draws(before);
    draws.Establish();
    ASSERT_EQ(draws.Next(), numeric::UniformFromState(target)) << "state " << target;
    numeric::ResetRandomStreamForTesting();
  }
}

TEST_F(RunsTest, EstablishAndSkipKeepTheSequence) {
  std::vector<float> straight;
  {
    DrawStream draws(1);
    for (int i = 0; i < 12; ++i) straight.push_back(draws.Next());
  }
  numeric::ResetRandomStreamForTesting();
  DrawStream draws(1);
  draws.Establish();
  EXPECT_EQ(draws.saved_seed(), 1) << "establishing consumes no number";
  EXPECT_EQ(draws.Next(), straight[0]);
  draws.Skip(5);
  EXPECT_EQ(draws.Next(), straight[6]);
  EXPECT_EQ(draws.NextPair(), straight[7]);
  EXPECT_EQ(draws.Next(), straight[9]);
}

TEST_F(RunsTest, SingleDrawsAndPairsShareOneSequence) {
  DrawStream draws(1);
  EXPECT_EQ(draws.Next(), 7.82636835E-06f);
  EXPECT_EQ(draws.NextPair(), 0.13153778f);  // discards 0.75560528
  EXPECT_EQ(draws.Next(), 0.458650112f);
  EXPECT_EQ(draws.NextPair(), 0.532767177f);  // discards 0.218959168
  EXPECT_EQ(draws.saved_seed(), 470211272);
}

// Seed 0 takes the clock seed at the first draw. The second can change
// between reading the clock here and in the stream, so either is accepted.
TEST_F(RunsTest, ZeroSeedStartsFromTheClock) {
  const std::int32_t before = numeric::ClockSeed();
  DrawStream draws(0);
  const float u = draws.Next();
  const std::int32_t after = numeric::ClockSeed();
  const std::int32_t s = draws.saved_seed();
  EXPECT_TRUE(s == numeric::NextState(before) || s == numeric::NextState(after)) << s;
  EXPECT_EQ(u, numeric::UniformFromState(s));
  // Later draws continue the same stream.
  EXPECT_EQ(draws.Next(), numeric::UniformFromState(numeric::NextState(s)));
}

TEST_F(RunsTest, RunsKeepEachColumnsMultisetAndMissingCells) {
  std::mt19937 rng(11);
  const std::int32_t p = 150;
  const std::int32_t s = 4;
  RankMatrix x = testing::RandomRanks(rng, p, s, 0.3);
  for (std::int32_t i = 1; i <= p; ++i) x.Set(i, s + 1, static_cast<float>(1 + i % 3));
  const RankMatrix before = x;
  AnalysisParameters params;
  params.studies = s;
  params.probes = p;
  params.runs = 3;
  Statistics run(p);
  DrawStream draws(42);
  std::vector<std::int32_t> seen;
  std::string calls;
  RunHooks hooks;
  hooks.before_run = [&](std::int32_t n) { calls += "before " + std::to_string(n) + ";"; };
  hooks.after_run = [&](std::int32_t n) {
    seen.push_back(n);
    calls += "after " + std::to_string(n) + ";";
  };
  hooks.after_runs = [&] { calls += "end"; };
  PermutationRuns(params, x, testing::Weights({1, 2, 3, 4}), draws, run, hooks);
  EXPECT_EQ(seen, (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_EQ(calls, "before 1;after 1;before 2;after 2;before 3;after 3;end");
  EXPECT_EQ(draws.saved_seed(), numeric::StateAfter(42, 3 * s * 2 * (p - 1)));
  for (std::int32_t j = 1; j <= s + 2; ++j) {
    std::vector<float> a(before.column(j), before.column(j) + p);
    std::vector<float> b(x.column(j), x.column(j) + p);
    for (std::int32_t i = 0; i < p; ++i) {
      ASSERT_EQ(a[static_cast<std::size_t>(i)] == -99.0f, b[static_cast<std::size_t>(i)] == -99.0f)
          << "column " << j << " row " << i + 1;
    }
    if (j > s) {
      EXPECT_EQ(a, b) << "column " << j << " is not a study and must not move";
    }
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b) << "column " << j;
  }
}

// Studies shuffled side by side must give exactly the serial results.
TEST_F(RunsTest, ThreadCountDoesNotChangeTheRuns) {
  std::mt19937 rng(23);
  for (int trial = 0; trial < 6; ++trial) {
    const std::int32_t p = 2 + static_cast<std::int32_t>(rng() % 120);
    const std::int32_t s = 1 + static_cast<std::int32_t>(rng() % 7);
    const RankMatrix loaded = testing::RandomRanks(rng, p, s, 0.25);
    AnalysisParameters params;
    params.studies = s;
    params.probes = p;
    params.runs = 3;
    StudyWeights w;
    for (std::int32_t j = 1; j <= s; ++j) w.Set(j, static_cast<float>(j));
    std::vector<std::uint32_t> serial_rmeans;
    std::int32_t serial_seed = 0;
    RankMatrix serial = loaded;
    for (unsigned threads : {1u, 2u, 3u, 8u}) {
      numeric::ResetRandomStreamForTesting();
      RankMatrix x = loaded;
      Statistics run(p);
      DrawStream draws(1000 + trial);
      std::vector<std::uint32_t> rmeans;  // bit patterns: NaN rows compare too
      RunHooks hooks;
      hooks.after_run = [&](std::int32_t) {
        for (float v : run.rmean.span()) rmeans.push_back(std::bit_cast<std::uint32_t>(v));
      };
      PermutationRuns(params, x, w, draws, run, hooks, threads);
      if (threads == 1) {
        serial_rmeans = rmeans;
        serial_seed = draws.saved_seed();
        serial = x;
        continue;
      }
      EXPECT_EQ(draws.saved_seed(), serial_seed) << "trial " << trial << " threads " << threads;
      EXPECT_EQ(rmeans, serial_rmeans) << "trial " << trial << " threads " << threads;
      for (std::int32_t j = 1; j <= s; ++j) {
        EXPECT_TRUE(std::equal(x.column(j), x.column(j) + p, serial.column(j)))
            << "trial " << trial << " threads " << threads << " study " << j;
      }
    }
  }
}

// The jump a study or a piece of draws starts with: Skip(k) must land where
// k single draws land. Jumps of a whole period or more are compared with
// the steps of their remainder.
TEST_F(RunsTest, SkipLandsWhereSingleDrawsLand) {
  constexpr std::uint64_t kPeriod = 2147483646;  // the multiplier's order
  const struct {
    const char* name;
    std::int32_t seed;
    std::uint64_t jump;
    std::uint64_t steps;  // single draws that must end in the same state
  } cases[] = {
      {"none", 12345, 0, 0},
      {"one", 12345, 1, 1},
      {"one from the top seed", 2147483646, 1, 1},
      {"one pair", 1, 2, 2},
      {"one chunk of pairs", 777, 2 * 2048, 2 * 2048},
      {"a study of the real data", 20261208, 2 * 7893, 2 * 7893},
      {"odd and large", 1043618065, 999983, 999983},
      {"a whole period", 42, kPeriod, 0},
      {"across the period", 42, kPeriod + 5, 5},
      {"across two periods", 16807, 2 * kPeriod + 4099, 4099},
  };
  for (const auto& c : cases) {
    DrawStream jumped = DrawStream::Seeded(c.seed);
    jumped.Skip(c.jump);
    DrawStream stepped = DrawStream::Seeded(c.seed);
    for (std::uint64_t i = 0; i < c.steps; ++i) stepped.Next();
    EXPECT_EQ(jumped.saved_seed(), stepped.saved_seed()) << c.name;
    // And the draws after it agree.
    EXPECT_EQ(jumped.Next(), stepped.Next()) << c.name;
  }
}

// The run loop with its draws made ahead, in pieces of every length that
// matters (one step, a few, not dividing the column, a whole column), or
// not at all, on every thread count: the same statistics run after run, the
// same columns and the same stream at the end as one thread drawing as it
// goes.
TEST_F(RunsTest, EveryDivisionOfTheRunsGivesTheSerialRuns) {
  const struct {
    const char* name;
    RunDivision division;
  } divisions[] = {
      {"drawn as it goes", {0, 4}},
      {"pieces of one step", {std::size_t{1} << 24, 1}},
      {"pieces of seven steps", {std::size_t{1} << 24, 7}},
      {"pieces across chunks", {std::size_t{1} << 24, 2048 + 3}},
      {"the default", {}},
  };
  std::mt19937 rng(31);
  for (int trial = 0; trial < 4; ++trial) {
    // Some columns longer than a chunk of draws, so pieces and chunks meet.
    const std::int32_t p = trial == 0 ? 2 : 2 + static_cast<std::int32_t>(rng() % 5000);
    const std::int32_t s = 1 + static_cast<std::int32_t>(rng() % 6);
    const RankMatrix loaded = testing::RandomRanks(rng, p, s, 0.25);
    AnalysisParameters params;
    params.studies = s;
    params.probes = p;
    params.runs = 3;
    StudyWeights w;
    for (std::int32_t j = 1; j <= s; ++j) w.Set(j, static_cast<float>(j));
    const auto go = [&](unsigned threads, const RunDivision& division, RankMatrix& x,
                        std::vector<std::uint32_t>& stats) {
      Statistics run(p);
      DrawStream draws = DrawStream::Seeded(5000 + trial);
      RunHooks hooks;
      hooks.after_run = [&](std::int32_t) {
        for (const auto* part : {&run.rmean, &run.rwmean, &run.q}) {
          for (float v : part->span()) stats.push_back(std::bit_cast<std::uint32_t>(v));
        }
      };
      WorkerPool pool(threads);
      PermutationRuns(params, x, w, draws, run, hooks, pool, nullptr, division);
      return draws.saved_seed();
    };
    RankMatrix serial = loaded;
    std::vector<std::uint32_t> serial_stats;
    const std::int32_t serial_seed = go(1, RunDivision{0, 4}, serial, serial_stats);
    for (const auto& d : divisions) {
      for (unsigned threads : {1u, 2u, 3u, 7u}) {
        const std::string what = std::string(d.name) + ", P " + std::to_string(p) + ", S " +
                                 std::to_string(s) + ", " + std::to_string(threads) + " threads";
        RankMatrix x = loaded;
        std::vector<std::uint32_t> stats;
        EXPECT_EQ(go(threads, d.division, x, stats), serial_seed) << what;
        EXPECT_EQ(stats, serial_stats) << what;
        for (std::int32_t j = 1; j <= s; ++j) {
          EXPECT_TRUE(std::equal(x.column(j), x.column(j) + p, serial.column(j)))
              << what << ", study " << j;
        }
      }
    }
  }
}

TEST_F(RunsTest, NoRunCallsOnlyTheEndAndDrawsNothing) {
  RankMatrix x = testing::LoadedMatrix(1, {{1, 1}, {2, 1}});
  AnalysisParameters params;
  params.studies = 1;
  params.probes = 2;
  for (std::int32_t n : {0, -5}) {
    params.runs = n;
    Statistics run(2);
    DrawStream draws(5);
    bool called = false;
    int ends = 0;
    RunHooks hooks;
    hooks.before_run = [&](std::int32_t) { called = true; };
    hooks.after_run = [&](std::int32_t) { called = true; };
    hooks.after_runs = [&] { ++ends; };
    PermutationRuns(params, x, testing::Weights({1}), draws, run, hooks);
    EXPECT_EQ(ends, 1);
    EXPECT_FALSE(called);
    EXPECT_EQ(draws.saved_seed(), 5);
    EXPECT_EQ(run.rmean.Get(1), 0.0f) << "STATS must not run without a run";
  }
}

TEST_F(RunsTest, RunStatisticsAreThoseOfTheShuffledMatrix) {
  // One study over four probes from seed 1: ranks (1, 2, 3, 4) become
  // (4, 2, 3, 1), so the run R-means are 4, 2, 3, 1.
  RankMatrix x = testing::LoadedMatrix(1, {{1, 1}, {2, 1}, {3, 1}, {4, 1}});
  AnalysisParameters params;
  params.studies = 1;
  params.probes = 4;
  params.runs = 1;
  Statistics run(4);
  DrawStream draws(1);
  std::vector<float> rmeans;
  RunHooks hooks;
  hooks.after_run = [&](std::int32_t) {
    for (std::int32_t i = 1; i <= 4; ++i) rmeans.push_back(run.rmean.Get(i));
  };
  PermutationRuns(params, x, testing::Weights({1}), draws, run, hooks);
  EXPECT_EQ(rmeans, (std::vector<float>{4, 2, 3, 1}));
}

}  // namespace
}  // namespace korvelan::engine
