#include "driver/analysis.h"
#include "engine/analysis.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/class_sort.h"
#include "driver/results_file.h"
#include "numeric/error_services.h"
#include "numeric/random.h"
#include "tests/engine/oracles.h"
#include "tests/engine/pipeline_oracle.h"
#include "tests/engine/test_data.h"
#include "textio/fixed_output.h"
#include "textio/list_output.h"
#include "textio/termination.h"

namespace korvelan::engine {

using driver::Analyse;
using driver::AnalysisOptions;
namespace {

namespace fs = std::filesystem;

class AnalysisTest : public ::testing::Test {
 protected:
  void SetUp() override {
    numeric::ResetRandomStreamForTesting();
    numeric::ResetErrorServicesForTesting();
    dir_ = fs::temp_directory_path() /
           ("korvelan_analysis_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "output.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string ReadResults() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::string path_;
};

// Random loaded data: ranks with gaps, classes 1 .. m.
using oracle::Loaded;

Loaded RandomLoaded(std::mt19937& rng, std::int32_t type) {
  Loaded d;
  d.params.analysis_type = type;
  d.params.studies = 1 + static_cast<std::int32_t>(rng() % 5);
  d.params.probes = 1 + static_cast<std::int32_t>(rng() % 40);
  d.params.classes = 1 + static_cast<std::int32_t>(rng() % 4);
  d.params.runs = static_cast<std::int32_t>(rng() % 5);
  d.params.class_column = d.params.studies + 1;
  d.ranks = testing::RandomRanks(rng, d.params.probes, d.params.studies, 0.25);
  for (std::int32_t i = 1; i <= d.params.probes; ++i) {
    d.ranks.Set(i, d.params.studies + 1,
                static_cast<float>(1 + rng() % static_cast<unsigned>(d.params.classes)));
  }
  for (std::int32_t j = 1; j <= d.params.studies; ++j) {
    d.weights.Set(j, type == 1 ? static_cast<float>(1 + rng() % 4) : 0.0f);
  }
  return d;
}

// ORACLE pipeline of the main analysis (pipeline_oracle.h).
std::string ExpectedResults(Loaded d, std::int32_t seed) {
  return oracle::MainAnalysisResults(std::move(d), seed);
}

TEST_F(AnalysisTest, MainAnalysisMatchesTheStraightforwardPipeline) {
  std::mt19937 rng(31);
  for (int trial = 0; trial < 6; ++trial) {
    numeric::ResetRandomStreamForTesting();
    Loaded d = RandomLoaded(rng, 1);
    const std::int32_t seed = 1 + static_cast<std::int32_t>(rng() % 1000000);
    Loaded sorted = d;
    ClassSort(sorted.params, sorted.ranks);
    const std::string expect = ExpectedResults(sorted, seed);
    numeric::ResetRandomStreamForTesting();
    textio::ResultsFile file(path_, textio::kOutputUnit);
    AnalysisOptions options;
    options.initial_seed = seed;
    options.threads = trial % 2 == 0 ? 1 : 2;
    ::testing::internal::CaptureStdout();
    Analyse(d.params, d.ranks, d.weights, &file, options);
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(ReadResults(), expect) << "trial " << trial;
    std::string runs;
    for (std::int32_t n = 1; n <= d.params.runs; ++n)
      runs += textio::ListRecords("Run=", n)[0] + "\r\n";
    EXPECT_EQ(console, runs + "  \r\n") << "trial " << trial;
  }
}

// ORACLE of the restricted analysis's two P-values, from the class-sorted
// matrix.
std::string ExpectedRestrictedLines(Loaded d, std::int32_t seed) {
  const AnalysisParameters& q = d.params;
  const ClassRanges ranges = ComputeClassRanges(q, d.ranks);
  const std::int32_t p = q.probes;
  const oracle::StatsRows obs = oracle::Stats(d.ranks, d.weights, p, q.studies);
  const float g_rmean = obs.rmean[static_cast<std::size_t>(q.gene_id - 1)];
  const float g_q = obs.q[static_cast<std::size_t>(q.gene_id - 1)];
  const auto lower = static_cast<float>(static_cast<double>(g_rmean) - q.limit);
  const auto upper = static_cast<float>(q.limit + static_cast<double>(g_rmean));
  double band = 0, right = 0, left = 0;
  std::int32_t saved = seed;
  for (std::int32_t n = 1; n <= q.runs; ++n) {
    for (std::int32_t j = 1; j <= q.studies; ++j) {
      std::vector<float> col(d.ranks.column(j), d.ranks.column(j) + p);
      oracle::Shuffle(col, p, saved);
      std::copy(col.begin(), col.end(), d.ranks.column(j));
    }
    const oracle::StatsRows run = oracle::Stats(d.ranks, d.weights, p, q.studies);
    for (std::int32_t v = ranges.first.Get(q.gene_class); v <= ranges.last.Get(q.gene_class); ++v) {
      const float r = run.rmean[static_cast<std::size_t>(v - 1)];
      const float rq = run.q[static_cast<std::size_t>(v - 1)];
      const bool in = lower <= r && r <= upper;
      if (g_q >= rq && in) left += 1;
      if (g_q <= rq && in) right += 1;
      if (in) band += 1;
    }
  }
  return textio::ListRecords("right-sided P-value for Q=", right / band)[0] + "\r\n" +
         textio::ListRecords("left-sided P-value for Q=", left / band)[0] + "\r\n";
}

TEST_F(AnalysisTest, RestrictedAnalysisMatchesTheStraightforwardPipeline) {
  std::mt19937 rng(37);
  int compared = 0;
  for (int trial = 0; trial < 20 && compared < 6; ++trial) {
    Loaded d = RandomLoaded(rng, 0);
    d.params.runs = 1 + static_cast<std::int32_t>(rng() % 4);
    d.params.gene_id = 1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(d.params.probes));
    d.params.gene_class =
        1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(d.params.classes));
    // A limit below the gene's R-mean (known after the sort), so no stop.
    Loaded sorted = d;
    ClassSort(sorted.params, sorted.ranks);
    const oracle::StatsRows obs =
        oracle::Stats(sorted.ranks, sorted.weights, d.params.probes, d.params.studies);
    const float g = obs.rmean[static_cast<std::size_t>(d.params.gene_id - 1)];
    if (!(g > 1.0f)) continue;
    d.params.limit = static_cast<std::int32_t>(rng() % static_cast<unsigned>(g));
    if (static_cast<double>(d.params.limit) >= g) continue;
    sorted.params.limit = d.params.limit;
    const std::int32_t seed = 1 + static_cast<std::int32_t>(rng() % 1000000);
    numeric::ResetRandomStreamForTesting();
    const std::string expect = ExpectedRestrictedLines(sorted, seed);
    numeric::ResetRandomStreamForTesting();
    AnalysisOptions options;
    options.initial_seed = seed;
    ::testing::internal::CaptureStdout();
    Analyse(d.params, d.ranks, d.weights, nullptr, options);
    const std::string console = ::testing::internal::GetCapturedStdout();
    const std::string tail = console.substr(console.find("  \r\n") + 4);
    EXPECT_EQ(tail, expect) << "trial " << trial;
    ++compared;
  }
  EXPECT_EQ(compared, 6);
}

TEST_F(AnalysisTest, RefusedClassesStopBeforeTheSortAndTheRuns) {
  Loaded d;
  d.params.analysis_type = 1;
  d.params.studies = 1;
  d.params.probes = 2;
  d.params.classes = 1;
  d.params.runs = 3;
  d.params.class_column = 2;
  d.ranks = testing::LoadedMatrix(1, {{1, 1}, {2, 2}});
  textio::ResultsFile file(path_, textio::kOutputUnit);
  ::testing::internal::CaptureStdout();
  try {
    Analyse(d.params, d.ranks, d.weights, &file, AnalysisOptions{});
    ADD_FAILURE() << "class 2 of 1 was accepted";
  } catch (const textio::Termination& t) {
    EXPECT_EQ(t.ReportLine(),
              "KORVELAN: record 2 of data.txt has information class 2, above the number of "
              "information classes 1");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(d.ranks.Get(1, 3), 1.0f) << "rows were sorted";
}

}  // namespace
}  // namespace korvelan::engine
