// The analysis on several threads: the pool itself, and the fast parallel
// forms of STATS, the counting and the whole main analysis against the
// straightforward oracles, byte for byte, for 1, 2, 3 and 7 threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <limits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "driver/analysis.h"
#include "engine/analysis.h"
#include "engine/class_sort.h"
#include "engine/counting.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"
#include "numeric/error_services.h"
#include "numeric/random.h"
#include "tests/engine/oracles.h"
#include "tests/engine/pipeline_oracle.h"
#include "textio/channels.h"

namespace korvelan::engine {

using driver::Analyse;
using driver::AnalysisOptions;
namespace {

namespace fs = std::filesystem;

constexpr unsigned kThreadCounts[] = {1, 2, 3, 7};

TEST(WorkerPool, RunsEveryIndexOnceOnOneOfItsThreads) {
  for (unsigned threads : {0u, 1u, 2u, 3u, 7u}) {
    WorkerPool pool(threads);
    EXPECT_EQ(pool.size(), std::max(threads, 1u)) << threads << " threads";
    for (std::size_t count : {0u, 1u, 2u, 5u, 100u, 1000u}) {
      std::vector<std::atomic<int>> hits(count);
      std::atomic<bool> bad_worker{false};
      pool.ForEach(count, [&](std::size_t i, unsigned worker) {
        hits[i].fetch_add(1);
        if (worker >= pool.size()) bad_worker = true;
      });
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(hits[i].load(), 1) << threads << " threads, " << count << " tasks, index " << i;
      }
      EXPECT_FALSE(bad_worker.load()) << threads << " threads, " << count << " tasks";
    }
  }
}

// Idle threads first watch for the next batch, then sleep: batches posted
// at once, after a pause longer than the watch (the workers asleep), and
// with tasks that outlast it (the caller asleep) must all run every index
// once, with every task's writes seen by the caller.
TEST(WorkerPool, EveryIndexRunsWhetherTheThreadsWatchOrSleep) {
  const struct {
    const char* name;
    std::chrono::microseconds pause_before;  // between batches
    std::chrono::microseconds task_time;     // of task 1
  } cases[] = {
      {"back to back", std::chrono::microseconds(0), std::chrono::microseconds(0)},
      {"workers asleep", 4 * WorkerPool::kSpinTime, std::chrono::microseconds(0)},
      {"caller asleep", std::chrono::microseconds(0), 4 * WorkerPool::kSpinTime},
  };
  for (unsigned threads : {2u, 3u, 7u}) {
    WorkerPool pool(threads);
    for (const auto& c : cases) {
      for (int batch = 0; batch < 3; ++batch) {
        std::this_thread::sleep_for(c.pause_before);
        std::vector<int> written(40, 0);  // plain ints: the pool orders them
        pool.ForEach(written.size(), [&](std::size_t i, unsigned) {
          if (i == 1) std::this_thread::sleep_for(c.task_time);
          written[i] = static_cast<int>(i) + batch;
        });
        for (std::size_t i = 0; i < written.size(); ++i) {
          ASSERT_EQ(written[i], static_cast<int>(i) + batch)
              << c.name << ", " << threads << " threads, batch " << batch << ", index " << i;
        }
      }
    }
  }
}

TEST(WorkerPool, PerThreadScratchIsNeverShared) {
  // Each task writes the scratch slot of the thread that runs it and checks
  // that nobody else wrote it meanwhile.
  WorkerPool pool(4);
  std::vector<std::atomic<int>> owner(pool.size());
  std::atomic<int> clashes{0};
  for (int batch = 0; batch < 50; ++batch) {
    pool.ForEach(64, [&](std::size_t i, unsigned worker) {
      const int me = static_cast<int>(i) + 1;
      owner[worker].store(me);
      for (int spin = 0; spin < 200; ++spin) {
        if (owner[worker].load() != me) ++clashes;
      }
    });
  }
  EXPECT_EQ(clashes.load(), 0);
}

TEST(WorkerPool, ATaskThatThrowsIsReportedAfterTheWholeBatch) {
  for (unsigned threads : kThreadCounts) {
    WorkerPool pool(threads);
    std::vector<std::atomic<int>> hits(40);
    try {
      pool.ForEach(hits.size(), [&](std::size_t i, unsigned) {
        hits[i].fetch_add(1);
        if (i == 3 || i == 17) throw std::runtime_error("task failed");
      });
      ADD_FAILURE() << threads << " threads: no exception";
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "task failed");
    }
    for (std::size_t i = 0; i < hits.size(); ++i) {
      EXPECT_EQ(hits[i].load(), 1) << threads << " threads, index " << i;
    }
    // The pool goes on working.
    std::atomic<int> sum{0};
    pool.ForEach(10, [&](std::size_t i, unsigned) { sum += static_cast<int>(i); });
    EXPECT_EQ(sum.load(), 45) << threads << " threads";
  }
}

// Bit patterns, so that NaN rows compare too.
std::vector<std::uint32_t> Bits(const RowArray<float>& a) {
  std::vector<std::uint32_t> out;
  for (float v : a.span()) out.push_back(std::bit_cast<std::uint32_t>(v));
  return out;
}
std::vector<std::uint32_t> Bits(const std::vector<float>& a) {
  std::vector<std::uint32_t> out;
  for (float v : a) out.push_back(std::bit_cast<std::uint32_t>(v));
  return out;
}

TEST(ParallelStats, MatchesTheProbeByProbeOracleOnEveryThreadCount) {
  std::mt19937 rng(77);
  for (std::int32_t p : {1, 511, 513, 5000, 40000}) {
    const std::int32_t s = 1 + static_cast<std::int32_t>(rng() % 9);
    RankMatrix x(p, s + 2);
    std::uniform_real_distribution<float> rank(-5.0f, 1000.0f);
    for (std::int32_t j = 1; j <= s; ++j) {
      for (std::int32_t i = 1; i <= p; ++i) x.Set(i, j, rng() % 4 == 0 ? -99.0f : rank(rng));
    }
    StudyWeights w;
    const float pool_of_weights[] = {1.0f, 0.5f, 2.0f, 0.0f, -1.0f};
    for (std::int32_t j = 1; j <= s; ++j) w.Set(j, pool_of_weights[rng() % 5]);
    const oracle::StatsRows expect = oracle::Stats(x, w, p, s);
    for (unsigned threads : kThreadCounts) {
      WorkerPool pool(threads);
      Statistics out(p);
      STATS(x, w, out, p, s, pool);
      EXPECT_EQ(Bits(out.rmean), Bits(expect.rmean)) << "P " << p << ", " << threads << " threads";
      EXPECT_EQ(Bits(out.rwmean), Bits(expect.rwmean)) << "P " << p << ", " << threads << " threads";
      EXPECT_EQ(Bits(out.q), Bits(expect.q)) << "P " << p << ", " << threads << " threads";
    }
  }
}

// Class shapes that take each way of counting: few distinct values
// (compared directly), a bucket table (values spread evenly, over many
// powers of two, clustered with far outliers and infinities, split into
// parts when the class is large), sorting (very many distinct values), and
// a value most rows share beside a table of either layout.
// The classes lie next to each other, so a lookup that strayed past a
// class's last observed value into the next class's would show.
TEST(ParallelCounting, EveryWayOfCountingMatchesTheSearchOracleOnEveryThreadCount) {
  struct Shape {
    const char* name;
    std::int32_t size;
    float (*value)(std::mt19937&);
  };
  const auto special = [](std::mt19937& r, float otherwise) {
    switch (r() % 64) {
      case 0: return std::numeric_limits<float>::quiet_NaN();
      case 1: return -std::numeric_limits<float>::quiet_NaN();
      case 2: return 0.0f;
      case 3: return -0.0f;
      case 4: return std::numeric_limits<float>::infinity();
      case 5: return -std::numeric_limits<float>::infinity();
      default: return otherwise;
    }
  };
  static const std::vector<Shape> shapes = {
      {"few values", 3000, [](std::mt19937& r) { return static_cast<float>(r() % 4) - 2.0f; }},
      {"even spread", 2500,
       [](std::mt19937& r) { return static_cast<float>(1 + r() % 2500) / 2.5f; }},
      {"many powers of two", 4000,
       [](std::mt19937& r) {
         return std::ldexp(1.0f + static_cast<float>(r() % 1000) / 1000.0f,
                           static_cast<int>(r() % 60) - 30);
       }},
      {"cluster and outliers", 3000,
       [](std::mt19937& r) {
         const auto u = r() % 100;
         if (u == 0) return 1e30f;
         if (u == 1) return -1e30f;
         return 5.0f + static_cast<float>(r() % 3000) * 1e-6f;
       }},
      {"subnormals only", 2000,
       [](std::mt19937& r) {
         return static_cast<float>(1 + r() % 3000) * std::numeric_limits<float>::denorm_min();
       }},
      {"whole float range", 2000,
       [](std::mt19937& r) {
         const float v = std::bit_cast<float>(static_cast<std::uint32_t>(r()));
         return std::isfinite(v) ? v : 1.0f;
       }},
      {"only below zero", 1500,
       [](std::mt19937& r) { return -static_cast<float>(1 + r() % 100000) / 8.0f; }},
      {"large class in parts", 70000,
       [](std::mt19937& r) { return static_cast<float>(r() % 5000) / 4.0f; }},
      {"very many values", 40000,
       [](std::mt19937& r) {
         return static_cast<float>(static_cast<std::int32_t>(r() % 4000000) - 2000000) / 64.0f;
       }},
      // Most rows share one value far above the others (genes no top-k
      // list names, below in every study), counted apart from the table.
      {"one value for most rows, above the rest", 6000,
       [](std::mt19937& r) {
         return r() % 10 < 8 ? 10100.5f : 9000.0f + static_cast<float>(r() % 2000) / 10.0f;
       }},
      // The same below the rest, the two zeros mixed: -0 must count as +0.
      {"zero for most rows, either sign", 5000,
       [](std::mt19937& r) {
         if (r() % 10 < 7) return r() % 2 == 0 ? 0.0f : -0.0f;
         return 8.8e7f + static_cast<float>(r() % 4000) * 1000.0f;
       }},
      // A third, in a class of many distinct values (the compact
      // table) counted in parts.
      {"a third on one value among very many", 70000,
       [](std::mt19937& r) {
         if (r() % 3 == 0) return 3.5f;
         return static_cast<float>(static_cast<std::int32_t>(r() % 4000000) - 2000000) / 64.0f;
       }},
  };
  std::mt19937 rng(91);
  const auto m = static_cast<std::int32_t>(shapes.size());
  std::int32_t p = 0;
  for (const Shape& sh : shapes) p += sh.size;
  ClassRanges ranges{RowArray<std::int32_t>(m, kMaxClasses), RowArray<std::int32_t>(m, kMaxClasses)};
  std::int32_t row = 0;
  for (std::int32_t k = m; k >= 1; --k) {  // shape 0 is class M, the first rows
    const std::int32_t n = shapes[static_cast<std::size_t>(m - k)].size;
    ranges.first.Set(k, row + 1);
    ranges.last.Set(k, row + n);
    row += n;
  }
  const auto fill = [&](Statistics& st) {
    for (RowArray<float>* a : {&st.rmean, &st.rwmean, &st.q}) {
      std::int32_t r = 0;
      for (const Shape& sh : shapes) {
        for (std::int32_t i = 0; i < sh.size; ++i, ++r) {
          a->span()[static_cast<std::size_t>(r)] = special(rng, sh.value(rng));
        }
      }
    }
  };
  Statistics observed(p);
  fill(observed);
  std::vector<Statistics> runs(3, Statistics(p));
  for (Statistics& run : runs) fill(run);
  // The last run puts values beyond every observed value of each class.
  for (RowArray<float>* a : {&runs[2].rmean, &runs[2].rwmean, &runs[2].q}) {
    for (std::size_t i = 0; i < a->span().size(); i += 3) a->span()[i] = 3e38f;
  }
  std::vector<const char*> shape_of_row;
  for (const Shape& sh : shapes)
    shape_of_row.insert(shape_of_row.end(), static_cast<std::size_t>(sh.size), sh.name);
  const auto column = [](const RowArray<float>& a) {
    return std::vector<float>(a.span().begin(), a.span().end());
  };
  std::vector<std::vector<double>> right(3, std::vector<double>(static_cast<std::size_t>(p)));
  std::vector<std::vector<double>> left = right;
  for (const Statistics& run : runs) {
    for (std::int32_t k = 1; k <= m; ++k) {
      const std::int32_t a = ranges.first.Get(k), b = ranges.last.Get(k);
      oracle::CountBySearch(column(observed.rmean), column(run.rmean), a, b, right[0], left[0]);
      oracle::CountBySearch(column(observed.rwmean), column(run.rwmean), a, b, right[1], left[1]);
      oracle::CountBySearch(column(observed.q), column(run.q), a, b, right[2], left[2]);
    }
  }
  // The histograms gather runs until they are settled; a low limit settles
  // the large classes after every run and the small ones only at the end.
  // Both vector forms of the lookups give the same counts.
  for (const std::uint64_t limit : {ExceedanceCounter::kHistogramLimit, std::uint64_t{100000}}) {
    for (unsigned threads : kThreadCounts) {
      for (const VectorForm form : {VectorForm::kWidest, VectorForm::kBaseline}) {
        WorkerPool pool(threads);
        ExceedanceCounter counter(observed, ranges, m, p, &pool);
        counter.set_settle_limit(limit);
        counter.set_vector_form(form);
        for (const Statistics& run : runs) counter.CountRun(run, pool);
        EXPECT_THROW(counter.right(0, 1), std::logic_error) << "counts read before settling";
        counter.Settle();
        const std::string where = std::to_string(threads) + " threads, limit " +
                                  std::to_string(limit) +
                                  (form == VectorForm::kBaseline ? ", baseline form" : "");
        for (int s = 0; s < kStatistics; ++s) {
          for (std::int32_t i = 1; i <= p; ++i) {
            const auto r = static_cast<std::size_t>(i - 1);
            ASSERT_EQ(static_cast<double>(counter.right(s, i)), right[static_cast<std::size_t>(s)][r])
                << where << ", statistic " << s << ", row " << i << " (" << shape_of_row[r] << ")";
            ASSERT_EQ(static_cast<double>(counter.left(s, i)), left[static_cast<std::size_t>(s)][r])
                << where << ", statistic " << s << ", row " << i << " (" << shape_of_row[r] << ")";
          }
        }
      }
    }
  }
}

// A class of 9000 mostly distinct values (several stretches of lookups,
// with a short last one) beside small and empty ones.
TEST(ParallelCounting, LargeClassesMatchThePairOracleOnEveryThreadCount) {
  std::mt19937 rng(78);
  // Classes 1 .. 4 from the top: sizes of classes 4, 3, 2, 1.
  const std::vector<std::int32_t> sizes{9000, 0, 1, 700};
  std::int32_t p = 0;
  for (std::int32_t n : sizes) p += n;
  ClassRanges ranges{RowArray<std::int32_t>(4, kMaxClasses), RowArray<std::int32_t>(4, kMaxClasses)};
  std::int32_t row = 0;
  for (std::int32_t k = 4; k >= 1; --k) {
    const std::int32_t n = sizes[static_cast<std::size_t>(4 - k)];
    ranges.first.Set(k, row + 1);
    ranges.last.Set(k, row + n);
    row += n;
  }
  // Mostly distinct values, some ties, NaN, both zeros and infinities.
  const auto value = [&rng]() -> float {
    switch (rng() % 40) {
      case 0: return std::numeric_limits<float>::quiet_NaN();
      case 1: return 0.0f;
      case 2: return -0.0f;
      case 3: return std::numeric_limits<float>::infinity();
      case 4: return -std::numeric_limits<float>::infinity();
      case 5: return 42.0f;
      default:
        return static_cast<float>(static_cast<std::int32_t>(rng() % 2000000) - 1000000) / 64.0f;
    }
  };
  Statistics observed(p);
  for (RowArray<float>* a : {&observed.rmean, &observed.rwmean, &observed.q}) {
    for (float& v : a->span()) v = value();
  }
  std::vector<Statistics> runs;
  for (int n = 0; n < 2; ++n) {
    runs.emplace_back(p);
    for (RowArray<float>* a : {&runs.back().rmean, &runs.back().rwmean, &runs.back().q}) {
      for (float& v : a->span()) v = value();
    }
  }
  const auto column = [](const RowArray<float>& a) {
    return std::vector<float>(a.span().begin(), a.span().end());
  };
  std::vector<std::vector<double>> right(3, std::vector<double>(static_cast<std::size_t>(p)));
  std::vector<std::vector<double>> left = right;
  for (const Statistics& run : runs) {
    for (std::int32_t k = 1; k <= 4; ++k) {
      const std::int32_t a = ranges.first.Get(k), b = ranges.last.Get(k);
      oracle::CountPairs(column(observed.rmean), column(run.rmean), a, b, right[0], left[0]);
      oracle::CountPairs(column(observed.rwmean), column(run.rwmean), a, b, right[1], left[1]);
      oracle::CountPairs(column(observed.q), column(run.q), a, b, right[2], left[2]);
    }
  }
  for (unsigned threads : kThreadCounts) {
    WorkerPool pool(threads);
    ExceedanceCounter counter(observed, ranges, 4, p);
    for (const Statistics& run : runs) counter.CountRun(run, pool);
    counter.Settle();
    for (int s = 0; s < kStatistics; ++s) {
      for (std::int32_t i = 1; i <= p; ++i) {
        const auto r = static_cast<std::size_t>(i - 1);
        ASSERT_EQ(static_cast<double>(counter.right(s, i)), right[static_cast<std::size_t>(s)][r])
            << threads << " threads, statistic " << s << ", row " << i;
        ASSERT_EQ(static_cast<double>(counter.left(s, i)), left[static_cast<std::size_t>(s)][r])
            << threads << " threads, statistic " << s << ", row " << i;
      }
    }
    EXPECT_EQ(counter.total(4), 2 * 9000);
    EXPECT_EQ(counter.total(3), 0);
  }
}

class ParallelAnalysis : public ::testing::Test {
 protected:
  void SetUp() override {
    numeric::ResetRandomStreamForTesting();
    numeric::ResetErrorServicesForTesting();
    dir_ = fs::temp_directory_path() /
           ("korvelan_parallel_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "output.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The results file and the console of Analyse on `threads` threads.
  std::pair<std::string, std::string> Run(oracle::Loaded d, std::int32_t seed, unsigned threads) {
    numeric::ResetRandomStreamForTesting();
    textio::ResultsFile file(path_, textio::kOutputUnit);
    AnalysisOptions options;
    options.initial_seed = seed;
    options.threads = threads;
    ::testing::internal::CaptureStdout();
    Analyse(d.params, d.ranks, d.weights, &file, options);
    const std::string console = ::testing::internal::GetCapturedStdout();
    std::ifstream in(path_, std::ios::binary);
    return {std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            console};
  }

  // Compares every thread count with the oracle on loaded (unsorted) data.
  void ExpectOracleBytes(const oracle::Loaded& d, std::int32_t seed, const std::string& what) {
    oracle::Loaded sorted = d;
    ClassSort(sorted.params, sorted.ranks);
    numeric::ResetRandomStreamForTesting();
    const std::string expect = oracle::MainAnalysisResults(sorted, seed);
    const std::string console = oracle::RunLines(d.params.runs);
    for (unsigned threads : kThreadCounts) {
      const auto [results, screen] = Run(d, seed, threads);
      EXPECT_TRUE(results == expect) << what << ", " << threads << " threads: output.txt differs";
      EXPECT_EQ(screen, console) << what << ", " << threads << " threads";
    }
  }

  fs::path dir_;
  std::string path_;
};

// Loaded data with what makes the counting hard: ties (ranks from a small
// pool), missing ranks, probes with no rank (NaN R-mean), weights that add
// up to zero (NaN or infinite R-weighted means), empty classes, one-probe
// classes, a class value with a fraction.
oracle::Loaded HardData(std::mt19937& rng) {
  oracle::Loaded d;
  d.params.analysis_type = 1;
  d.params.studies = 1 + static_cast<std::int32_t>(rng() % 6);
  d.params.classes = 1 + static_cast<std::int32_t>(rng() % 8);
  d.params.runs = static_cast<std::int32_t>(rng() % 5);
  d.params.class_column = d.params.studies + 1;
  std::vector<float> classes;
  for (std::int32_t k = 1; k <= d.params.classes; ++k) {
    const std::uint32_t kind = rng() % 4;
    const std::int32_t n = kind == 0 ? 0 : kind == 1 ? 1 : static_cast<std::int32_t>(rng() % 120);
    for (std::int32_t i = 0; i < n; ++i) {
      classes.push_back(static_cast<float>(k) + (rng() % 10 == 0 ? 0.5f : 0.0f));
    }
  }
  std::shuffle(classes.begin(), classes.end(), rng);
  const auto p = static_cast<std::int32_t>(classes.size());
  d.params.probes = p;
  d.ranks = RankMatrix(p, d.params.studies + 2);
  const float ranks[] = {1.0f, 2.0f, 2.0f, 3.5f, 7.0f, 0.0f, -3.0f, 100.25f};
  for (std::int32_t i = 1; i <= p; ++i) {
    const bool unranked = rng() % 15 == 0;
    for (std::int32_t j = 1; j <= d.params.studies; ++j) {
      float r = rng() % 3 == 0 ? ranks[rng() % 8] : static_cast<float>(1 + rng() % 500) * 0.75f;
      if (unranked || rng() % 4 == 0) r = -99.0f;
      d.ranks.Set(i, j, r);
    }
    d.ranks.Set(i, d.params.studies + 1, classes[static_cast<std::size_t>(i - 1)]);
    d.ranks.Set(i, d.params.studies + 2, static_cast<float>(i));
  }
  const float weights[] = {1.0f, 2.0f, 0.5f, 0.0f, -1.0f};
  for (std::int32_t j = 1; j <= d.params.studies; ++j) d.weights.Set(j, weights[rng() % 5]);
  return d;
}

// ThreadSanitizer runs this for its threads, not for more random shapes:
// there a third of the trials keeps CI within its time.
#if defined(__SANITIZE_THREAD__)
constexpr int kTrialShare = 3;
#else
constexpr int kTrialShare = 1;
#endif

TEST_F(ParallelAnalysis, HardRandomDataGiveTheOracleBytesOnEveryThreadCount) {
  std::mt19937 rng(2026);
  for (int trial = 0; trial < 25 / kTrialShare; ++trial) {
    const oracle::Loaded d = HardData(rng);
    const std::int32_t seed = 1 + static_cast<std::int32_t>(rng() % 2147483646u);
    ExpectOracleBytes(d, seed, "trial " + std::to_string(trial));
  }
}

// Large enough that every piece works in several parts: shuffles over more
// than one chunk of draws, STATS over many blocks, a class counted in
// several stretches.
TEST_F(ParallelAnalysis, LargeClassGivesTheOracleBytesOnEveryThreadCount) {
  std::mt19937 rng(2027);
  oracle::Loaded d;
  d.params.analysis_type = 1;
  d.params.studies = 3;
  d.params.classes = 2;
  d.params.runs = 2;
  d.params.class_column = 4;
  const std::int32_t p = 9500;
  d.params.probes = p;
  d.ranks = RankMatrix(p, 5);
  for (std::int32_t j = 1; j <= 3; ++j) {
    std::vector<float> col(static_cast<std::size_t>(p));
    for (std::int32_t i = 0; i < p; ++i)
      col[static_cast<std::size_t>(i)] = static_cast<float>(i + 1) * 1.0123f;
    std::shuffle(col.begin(), col.end(), rng);
    for (std::int32_t i = 1; i <= p; ++i) {
      d.ranks.Set(i, j, rng() % 10 == 0 ? -99.0f : col[static_cast<std::size_t>(i - 1)]);
    }
  }
  for (std::int32_t i = 1; i <= p; ++i) {
    d.ranks.Set(i, 4, i % 50 == 0 ? 2.0f : 1.0f);
    d.ranks.Set(i, 5, static_cast<float>(i));
  }
  d.weights.Set(1, 1.0f);
  d.weights.Set(2, 3.0f);
  d.weights.Set(3, 0.25f);
  ExpectOracleBytes(d, 987654321, "large class");
}

// The restricted analysis on every thread count: the same console bytes
// and the same ending, whether it runs to its P-values or stops in run 1
// with the limit message (its one-thread results are checked against the
// oracle elsewhere).
TEST_F(ParallelAnalysis, RestrictedAnalysisIsTheSameOnEveryThreadCount) {
  std::mt19937 rng(2028);
  int stopped = 0, finished = 0;
  for (int trial = 0; trial < 30; ++trial) {
    oracle::Loaded d = HardData(rng);
    d.params.analysis_type = 0;
    d.params.runs = 1 + static_cast<std::int32_t>(rng() % 4);
    for (std::int32_t j = 1; j <= d.params.studies; ++j) d.weights.Set(j, 0.0f);
    if (d.params.probes == 0) continue;
    d.params.gene_id =
        1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(d.params.probes));
    d.params.gene_class =
        1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(d.params.classes));
    d.params.limit = static_cast<std::int32_t>(rng() % 300);
    std::string first_console, first_ending;
    for (unsigned threads : kThreadCounts) {
      oracle::Loaded copy = d;
      numeric::ResetRandomStreamForTesting();
      AnalysisOptions options;
      options.initial_seed = 1 + trial;
      options.threads = threads;
      std::string ending = "normal";
      ::testing::internal::CaptureStdout();
      try {
        Analyse(copy.params, copy.ranks, copy.weights, nullptr, options);
      } catch (const textio::Termination& t) {
        ending = t.ReportLine() + " status " + std::to_string(t.ExitStatus());
      }
      const std::string console = ::testing::internal::GetCapturedStdout();
      if (threads == 1) {
        first_console = console;
        first_ending = ending;
        (ending == "normal" ? finished : stopped) += 1;
        continue;
      }
      EXPECT_EQ(console, first_console) << "trial " << trial << ", " << threads << " threads";
      EXPECT_EQ(ending, first_ending) << "trial " << trial << ", " << threads << " threads";
    }
  }
  EXPECT_GT(stopped, 0) << "no trial stopped on the limit";
  EXPECT_GT(finished, 0) << "no trial reached its P-values";
}

}  // namespace
}  // namespace korvelan::engine
