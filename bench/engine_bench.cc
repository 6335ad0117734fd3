// Micro-benchmarks of the engine's inner loops and of the loading, on the
// sizes of the benchmark workloads (see bench/README.md for the figures).
//
//   exchange steps    one study column shuffled (items = exchange steps)
//   STATS             all probes of a run (items = probe x study cells)
//   counting          one run's counting step, fast form and the pair
//                     oracle (items = class members counted)
//   class sort        the row order of the whole 500000-row matrix
//   loading           the list-directed read of "data.txt" text from memory
//                     (bytes = text bytes)
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "driver/loading.h"
#include "engine/model.h"
#include "engine/class_sort.h"
#include "engine/counting.h"
#include "engine/runs.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"
#include "tests/engine/oracles.h"

namespace korvelan::engine {
namespace {

// Ranks 1 .. p of each study in random order, about `missing` of them -99.
RankMatrix Ranks(std::int32_t p, std::int32_t s, double missing, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::bernoulli_distribution gap(missing);
  RankMatrix x(p, s + 2);
  std::vector<float> column(static_cast<std::size_t>(p));
  for (std::int32_t j = 1; j <= s; ++j) {
    for (std::int32_t i = 0; i < p; ++i)
      column[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
    std::shuffle(column.begin(), column.end(), rng);
    float* c = x.column(j);
    for (std::int32_t i = 0; i < p; ++i)
      c[i] = gap(rng) ? kMissing : column[static_cast<std::size_t>(i)];
  }
  for (std::int32_t i = 1; i <= p; ++i) x.Set(i, s + 2, static_cast<float>(i));
  return x;
}

StudyWeights Equal(std::int32_t s) {
  StudyWeights w;
  for (std::int32_t j = 1; j <= s; ++j) w.Set(j, 1.0f);
  return w;
}

// Arguments: P, missing percentage.
void BM_ExchangeSteps(benchmark::State& state) {
  const auto p = static_cast<std::int32_t>(state.range(0));
  RankMatrix x = Ranks(p, 1, static_cast<double>(state.range(1)) / 100.0, 1);
  ColumnShuffler shuffler;
  DrawStream draws(12345);
  draws.Establish();
  for (auto _ : state) {
    shuffler.Shuffle(x.column(1), p, draws);
    benchmark::DoNotOptimize(x.column(1));
  }
  state.SetItemsProcessed(state.iterations() * (p - 1));
}
BENCHMARK(BM_ExchangeSteps)
    ->Args({20000, 20})
    ->Args({100000, 20})
    ->Args({499999, 20})
    ->Args({20000, 0});

// The index half of a step alone: the draws and K.
void BM_ExchangeIndices(benchmark::State& state) {
  const auto steps = static_cast<std::int32_t>(ColumnShuffler::kChunk);
  std::vector<std::int32_t> k(static_cast<std::size_t>(steps));
  DrawStream draws(12345);
  draws.Establish();
  for (auto _ : state) {
    draws.ExchangeIndices(20000, steps, k.data());
    benchmark::DoNotOptimize(k.data());
  }
  state.SetItemsProcessed(state.iterations() * steps);
}
BENCHMARK(BM_ExchangeIndices);

// Arguments: P, S, threads.
void BM_STATS(benchmark::State& state) {
  const auto p = static_cast<std::int32_t>(state.range(0));
  const auto s = static_cast<std::int32_t>(state.range(1));
  const RankMatrix x = Ranks(p, s, 0.2, 2);
  const StudyWeights w = Equal(s);
  Statistics out(p);
  WorkerPool pool(static_cast<unsigned>(state.range(2)));
  for (auto _ : state) {
    STATS(x, w, out, p, s, pool);
    benchmark::DoNotOptimize(out.q.data());
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t{p} * s);
}
BENCHMARK(BM_STATS)
    ->Args({20000, 10, 1})
    ->Args({20000, 10, 2})
    ->Args({499999, 98, 1})
    ->Args({499999, 98, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Observed and run statistics of one class of n probes: R-means of five
// studies' ranks, so ties are as common as in the runs.
struct OneClass {
  explicit OneClass(std::int32_t n) : observed(n), run(n) {
    std::mt19937 rng(3);
    for (Statistics* st : {&observed, &run}) {
      const RankMatrix x = Ranks(n, 5, 0.2, static_cast<std::uint32_t>(rng()));
      STATS(x, Equal(5), *st, n, 5);
    }
    AnalysisParameters params;
    params.classes = 1;
    params.probes = n;
    params.class_column = 1;
    RankMatrix classes(n, 1);
    for (std::int32_t i = 1; i <= n; ++i) classes.Set(i, 1, 1.0f);
    ranges = ComputeClassRanges(params, classes);
  }
  Statistics observed, run;
  ClassRanges ranges;
};

// Arguments: class size n, threads.
void BM_CountingFast(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const OneClass c(n);
  ExceedanceCounter counter(c.observed, c.ranges, 1, n);
  WorkerPool pool(static_cast<unsigned>(state.range(1)));
  for (auto _ : state) counter.CountRun(c.run, pool);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CountingFast)
    ->Args({100000, 1})
    ->Args({100000, 2})
    ->Args({20000, 1})
    ->Args({10000, 1})
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

// Per run value: P probes in M classes of equal size (7894 in 5 is the
// real example's shape), three statistics, one thread; the time per item
// is the time per run value.
void BM_CountingPerRunValue(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const auto m = static_cast<std::int32_t>(state.range(1));
  const OneClass c(n);
  ClassRanges ranges{RowArray<std::int32_t>(m, kMaxClasses), RowArray<std::int32_t>(m, kMaxClasses)};
  for (std::int32_t k = 1; k <= m; ++k) {
    ranges.first.Set(k, (k - 1) * (n / m) + 1);
    ranges.last.Set(k, k == m ? n : k * (n / m));
  }
  ExceedanceCounter counter(c.observed, ranges, m, n);
  WorkerPool pool(1);
  for (auto _ : state) counter.CountRun(c.run, pool);
  state.SetItemsProcessed(state.iterations() * 3 * n);
}
BENCHMARK(BM_CountingPerRunValue)
    ->Args({7894, 5})
    ->Args({100000, 1})
    ->Args({499999, 10})
    ->Args({499999, 1})
    ->Unit(benchmark::kMicrosecond);

// The pair oracle: every observed value against every run value, three
// statistics. Quadratic: 10000 probes stand in for the 100000 of the
// one-big-class workload (multiply the time by 100).
void BM_CountingOracle(benchmark::State& state) {
  const auto n = static_cast<std::int32_t>(state.range(0));
  const OneClass c(n);
  std::vector<double> right(static_cast<std::size_t>(n)), left(static_cast<std::size_t>(n));
  const auto column = [](const RowArray<float>& a) {
    return std::vector<float>(a.span().begin(), a.span().end());
  };
  const std::vector<std::vector<float>> obs{column(c.observed.rmean), column(c.observed.rwmean),
                                            column(c.observed.q)};
  const std::vector<std::vector<float>> run{column(c.run.rmean), column(c.run.rwmean),
                                            column(c.run.q)};
  for (auto _ : state) {
    for (int s = 0; s < kStatistics; ++s) {
      oracle::CountPairs(obs[static_cast<std::size_t>(s)], run[static_cast<std::size_t>(s)], 1, n,
                         right, left);
    }
    benchmark::DoNotOptimize(right.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_CountingOracle)->Arg(10000)->Arg(20000)->Unit(benchmark::kMillisecond);

// The class sort's row order on all 500000 rows; argument: number of
// classes among P = 499999 probes.
void BM_ClassSortOrder(benchmark::State& state) {
  const std::int32_t p = 499999;
  std::mt19937 rng(5);
  RankMatrix x(p, 3);
  for (std::int32_t i = 1; i <= p; ++i) {
    x.Set(i, 2, static_cast<float>(1 + rng() % static_cast<std::uint32_t>(state.range(0))));
  }
  for (auto _ : state) benchmark::DoNotOptimize(ClassSortOrder(2, x));
}
BENCHMARK(BM_ClassSortOrder)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

// "data.txt" text of P records of S + 2 numbers as the data generator
// writes them: line number, ranks or -99, class.
std::string DataText(std::int32_t p, std::int32_t s) {
  std::mt19937 rng(6);
  std::string text;
  for (std::int32_t i = 1; i <= p; ++i) {
    text += std::to_string(i);
    for (std::int32_t j = 0; j < s; ++j) {
      text += ' ';
      text += rng() % 5 == 0 ? std::string("-99")
                             : std::to_string(1 + rng() % static_cast<std::uint32_t>(p));
    }
    text += ' ';
    text += std::to_string(1 + rng() % 10);
    text += '\n';
  }
  return text;
}

// Arguments: P, S, threads (0: the general reader alone).
void BM_Loading(benchmark::State& state) {
  const auto p = static_cast<std::int32_t>(state.range(0));
  const auto s = static_cast<std::int32_t>(state.range(1));
  const auto threads = static_cast<unsigned>(state.range(2));
  const std::string text = DataText(p, s);
  struct Cells : textio::ListReader::RealSink {
    Cells(std::int32_t rows, std::int32_t w) : m(rows, w), width(w) {}
    RankMatrix m;
    std::int32_t width;
    void Put(std::size_t index, float value) override {
      m.Set(static_cast<std::int32_t>(index) / width + 1,
            static_cast<std::int32_t>(index) % width + 1, value);
    }
  };
  for (auto _ : state) {
    textio::ListReader reader(textio::StringSource(text), 10, "data.txt");
    if (threads == 0) {
      Cells cells(p, s + 2);
      reader.ReadReals(static_cast<std::size_t>(p) * static_cast<std::size_t>(s + 2), cells);
      benchmark::DoNotOptimize(cells.m);
    } else {
      benchmark::DoNotOptimize(driver::ReadRankMatrix(reader, p, s, threads));
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Loading)
    ->Args({20000, 10, 0})
    ->Args({20000, 10, 1})
    ->Args({50000, 98, 0})
    ->Args({50000, 98, 1})
    ->Args({50000, 98, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace korvelan::engine

BENCHMARK_MAIN();
