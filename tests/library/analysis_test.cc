// The library's analysis against the console program: the same data and
// seed must give output.txt byte for byte (rebuilt here from the library's
// per-gene results in the program's row order), and the same restricted
// P-value lines; plus threads, cancellation and every refused argument.
#include "korvelan/korvelan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "driver/results_file.h"
#include "tests/e2e/program_runner.h"
#include "textio/fixed_output.h"
#include "textio/list_output.h"

namespace korvelan {
namespace {

namespace fs = std::filesystem;
using e2e::ReadBytes;
using e2e::RunProgram;
using e2e::RunSpec;
using e2e::ScratchDir;
using e2e::WriteBytes;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// ThreadSanitizer runs these tests for their threads, not for more random
// shapes: there a third of the trials (each starts the console program,
// which is slow under it) keeps CI within its time.
#if defined(__SANITIZE_THREAD__)
constexpr int kRandomTrials = 8;
#else
constexpr int kRandomTrials = 24;
#endif

// Random data in the shapes the program meets: ranks with ties and halves,
// missing ranks written either way, classes given or derived.
struct Data {
  std::int32_t genes = 0;
  std::int32_t studies = 0;
  std::vector<double> ranks;  // column-major
  std::vector<double> weights;
  std::vector<std::int32_t> classes;  // empty: derived
  std::int32_t largest_class = 0;

  Input AsInput() const { return Input{genes, studies, ranks, weights, classes}; }
};

Data RandomData(std::mt19937& rng, bool given_classes) {
  Data d;
  d.genes = 1 + static_cast<std::int32_t>(rng() % 160);
  d.studies = 1 + static_cast<std::int32_t>(rng() % 6);
  const auto g = static_cast<std::size_t>(d.genes);
  d.ranks.resize(g * static_cast<std::size_t>(d.studies));
  const double missing_share = static_cast<double>(rng() % 4) * 0.15;
  for (double& r : d.ranks) {
    if (std::uniform_real_distribution<double>(0, 1)(rng) < missing_share) {
      r = rng() % 2 ? kNaN : kMissingRank;
    } else {
      // Few distinct values, so that ties are common; halves as averaged
      // ranks give them.
      r = 1 + static_cast<double>(rng() % static_cast<unsigned>(d.genes)) / 2.0;
    }
  }
  std::vector<std::int32_t> ranked(g, 0);
  for (std::size_t j = 0; j < static_cast<std::size_t>(d.studies); ++j) {
    for (std::size_t i = 0; i < g; ++i)
      ranked[i] += !std::isnan(d.ranks[j * g + i]) && d.ranks[j * g + i] != kMissingRank;
  }
  if (given_classes) {
    const std::int32_t k = 1 + static_cast<std::int32_t>(rng() % std::min(4, d.genes));
    for (std::size_t i = 0; i < g; ++i)
      d.classes.push_back(1 + static_cast<std::int32_t>(rng() % static_cast<unsigned>(k)));
  } else {
    // Every gene needs a rank somewhere.
    for (std::size_t i = 0; i < g; ++i) {
      if (ranked[i] == 0) {
        d.ranks[i] = 1;
        ranked[i] = 1;
      }
    }
  }
  for (std::size_t i = 0; i < g; ++i) {
    d.largest_class = std::max(d.largest_class, given_classes ? d.classes[i] : ranked[i]);
  }
  if (rng() % 2) {
    for (std::int32_t j = 0; j < d.studies; ++j)
      d.weights.push_back(static_cast<double>(1 + rng() % 20) / 4.0);
  }
  return d;
}

std::string Number(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// data.txt and weights.txt as a user would write them for this data.
void WriteInputs(const Data& d, const fs::path& dir) {
  const auto g = static_cast<std::size_t>(d.genes);
  std::string data;
  for (std::size_t i = 0; i < g; ++i) {
    data += std::to_string(i + 1);
    std::int32_t ranked = 0;
    for (std::size_t j = 0; j < static_cast<std::size_t>(d.studies); ++j) {
      const double r = d.ranks[j * g + i];
      const bool missing = std::isnan(r) || r == kMissingRank;
      ranked += missing ? 0 : 1;
      data += " " + (missing ? std::string("-99") : Number(r));
    }
    data += " " + std::to_string(d.classes.empty() ? ranked : d.classes[i]) + "\n";
  }
  WriteBytes(dir / "data.txt", data);
  std::string weights;
  for (std::int32_t j = 0; j < d.studies; ++j) {
    weights +=
        (d.weights.empty() ? std::string("1") : Number(d.weights[static_cast<std::size_t>(j)])) +
        "\n";
  }
  WriteBytes(dir / "weights.txt", weights);
}

// output.txt as the program writes it, from the library's results.
std::string ResultsFileOf(const Results& r) {
  std::vector<const GeneResult*> by_row(r.genes.size());
  std::vector<std::size_t> line_of_row(r.genes.size());
  for (std::size_t i = 0; i < r.genes.size(); ++i) {
    const auto row = static_cast<std::size_t>(r.genes[i].row - 1);
    by_row.at(row) = &r.genes[i];
    line_of_row[row] = i + 1;
  }
  std::vector<float> values;
  for (std::size_t row = 0; row < by_row.size(); ++row) {
    const GeneResult& g = *by_row[row];
    values.push_back(static_cast<float>(line_of_row[row]));
    values.push_back(g.r_mean);
    values.insert(values.end(), g.p.begin(), g.p.begin() + 4);
    values.push_back(g.q);
    values.insert(values.end(), g.p.begin() + 4, g.p.end());
  }
  std::string out = textio::LegendRecords();
  textio::AppendDataRecords(out, values);
  return out;
}

e2e::RunResult RunConsole(const fs::path& dir, const std::string& answers, std::int32_t seed) {
  ScratchDir scratch;
  RunSpec spec;
  spec.args = {"--seed", std::to_string(seed), "--threads", "2"};
  spec.input = answers;
  return RunProgram(dir, scratch.path(), spec);
}

TEST(LibraryAnalysis, GivesTheConsoleProgramsResultsOnRandomData) {
  std::mt19937 rng(2026);
  for (int trial = 0; trial < kRandomTrials; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const Data d = RandomData(rng, trial % 2 == 0);
    const std::int32_t seed = 1 + static_cast<std::int32_t>(rng() % kMaxSeed);
    const std::int32_t runs = 1 + static_cast<std::int32_t>(rng() % 40);
    ScratchDir dir;
    WriteInputs(d, dir.path());
    // A larger M than the data needs only adds empty classes.
    const std::int32_t m = d.largest_class + static_cast<std::int32_t>(trial % 3);
    const auto console =
        RunConsole(dir.path(),
                   "1\n" + std::to_string(d.studies) + "\n" + std::to_string(d.genes) + "\n" +
                       std::to_string(m) + "\n" + std::to_string(runs) + "\n",
                   seed);
    ASSERT_EQ(console.exit_status, 0) << e2e::Describe(console);
    const std::string expected = ReadBytes(dir.path() / "output.txt");
    for (unsigned threads : {1u, 2u, 3u}) {
      RunOptions options;
      options.runs = runs;
      options.seed = seed;
      options.threads = threads;
      const Results r = Analyze(d.AsInput(), options);
      EXPECT_EQ(ResultsFileOf(r), expected) << "threads " << threads;
      EXPECT_EQ(r.classes, d.largest_class);
      for (const GeneResult& g : r.genes) {
        for (int t = 0; t < kPValues; ++t) {
          const auto i = static_cast<std::size_t>(t);
          ASSERT_EQ(g.p[i], static_cast<float>(static_cast<double>(g.count[i]) /
                                               static_cast<double>(g.total)));
          ASSERT_LE(g.count[i], g.total);
        }
      }
    }
  }
}

TEST(LibraryAnalysis, RestrictedAnalysisGivesTheConsoleProgramsLines) {
  std::mt19937 rng(77);
  int compared = 0;
  for (int trial = 0; trial < 40 && compared < 8; ++trial) {
    const Data d = RandomData(rng, true);
    RunOptions options;
    options.runs = 1 + static_cast<std::int32_t>(rng() % 20);
    options.seed = 1 + static_cast<std::int32_t>(rng() % kMaxSeed);
    RestrictedQuery query;
    query.gene = static_cast<std::int32_t>(rng() % static_cast<unsigned>(d.genes));
    query.reference_class =
        static_cast<std::int32_t>(rng() % (static_cast<unsigned>(d.largest_class) + 1));
    query.limit = static_cast<std::int32_t>(rng() % 30);
    RestrictedResult r;
    std::int32_t row = 0;
    try {
      r = AnalyzeRestricted(d.AsInput(), query, options);
      RunOptions one = options;
      one.runs = 1;
      row = Analyze(d.AsInput(), one).genes[static_cast<std::size_t>(query.gene)].row;
    } catch (const std::invalid_argument&) {
      continue;  // a limit at or above the gene's R-mean: the console stops
    }
    SCOPED_TRACE("trial " + std::to_string(trial));
    ++compared;
    ScratchDir dir;
    WriteInputs(d, dir.path());
    const std::int32_t info_class = query.reference_class == 0
                                        ? d.classes[static_cast<std::size_t>(query.gene)]
                                        : query.reference_class;
    const auto console =
        RunConsole(dir.path(),
                   "0\n" + std::to_string(d.studies) + "\n" + std::to_string(d.genes) + "\n" +
                       std::to_string(d.largest_class) + "\n" + std::to_string(row) + "\n" +
                       std::to_string(info_class) + "\n" + std::to_string(query.limit) + "\n" +
                       std::to_string(options.runs) + "\n",
                   options.seed);
    ASSERT_EQ(console.exit_status, 0) << e2e::Describe(console);
    std::string lines;
    for (const auto& rec : textio::ListRecords("right-sided P-value for Q=", r.p_right))
      lines += rec + "\r\n";
    for (const auto& rec : textio::ListRecords("left-sided P-value for Q=", r.p_left))
      lines += rec + "\r\n";
    ASSERT_GE(console.out.size(), lines.size());
    EXPECT_EQ(console.out.substr(console.out.size() - lines.size()), lines);
  }
  EXPECT_GE(compared, 4);
}

TEST(LibraryAnalysis, TwoAnalysesAtOnceGiveWhatEachGivesAlone) {
  std::mt19937 rng(5);
  const Data a = RandomData(rng, false);
  const Data b = RandomData(rng, true);
  RunOptions options;
  options.runs = 200;
  options.seed = 99;
  options.threads = 2;
  const Results alone_a = Analyze(a.AsInput(), options);
  const Results alone_b = Analyze(b.AsInput(), options);
  Results together_a, together_b;
  std::thread other([&] { together_b = Analyze(b.AsInput(), options); });
  together_a = Analyze(a.AsInput(), options);
  other.join();
  EXPECT_EQ(ResultsFileOf(together_a), ResultsFileOf(alone_a));
  EXPECT_EQ(ResultsFileOf(together_b), ResultsFileOf(alone_b));
}

TEST(LibraryAnalysis, ProgressAndCancellation) {
  // Large enough that the runs take far longer than the stop.
  Data d;
  d.genes = 60000;
  d.studies = 8;
  std::mt19937 rng(3);
  for (std::int32_t j = 0; j < d.studies; ++j) {
    for (std::int32_t i = 0; i < d.genes; ++i)
      d.ranks.push_back(static_cast<double>(1 + rng() % 60000));
  }
  std::stop_source stop;
  std::atomic<std::int32_t> last{0};
  RunOptions options;
  options.runs = 100000;
  options.seed = 1;
  options.threads = 2;
  options.stop = stop.get_token();
  options.progress = [&](std::int32_t done, std::int32_t total) {
    EXPECT_EQ(total, 100000);
    EXPECT_EQ(done, last + 1);
    last = done;
    if (done == 3) stop.request_stop();
  };
  EXPECT_THROW(Analyze(d.AsInput(), options), Cancelled);
  EXPECT_EQ(last, 3) << "the stop must take effect within the next run";

  // A stop from another thread while the runs are under way.
  std::stop_source later;
  options.stop = later.get_token();
  last = 0;
  options.progress = [&](std::int32_t done, std::int32_t) { last = done; };
  std::thread stopper([&] {
    while (last == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    later.request_stop();
  });
  try {
    (void)Analyze(d.AsInput(), options);
    ADD_FAILURE() << "no Cancelled";
  } catch (const Cancelled& e) {
    EXPECT_STREQ(e.what(), "the analysis was cancelled");
  }
  stopper.join();
  EXPECT_LT(last, 100000);
}

struct BadCase {
  const char* name;
  void (*change)(Data&, RunOptions&);
  const char* message;  // a part of what()
};

TEST(LibraryAnalysis, RefusesBadArgumentsWithAClearMessage) {
  const BadCase cases[] = {
      {"NoGenes",
       [](Data& d, RunOptions&) {
         d.genes = 0;
         d.ranks.clear();
       },
       "the number of genes must be from 1 to 499999, not 0"},
      {"TooManyGenes", [](Data& d, RunOptions&) { d.genes = 500000; },
       "the number of genes must be from 1 to 499999, not 500000"},
      {"TooManyStudies", [](Data& d, RunOptions&) { d.studies = 99; },
       "the number of studies must be from 1 to 98, not 99"},
      {"RanksOfTheWrongSize", [](Data& d, RunOptions&) { d.ranks.pop_back(); },
       "ranks holds 5 values; 3 genes x 2 studies need 6"},
      {"WeightsOfTheWrongSize",
       [](Data& d, RunOptions&) {
         d.weights = {1, 2, 3};
       },
       "weights holds 3 values for 2 studies"},
      {"ClassesOfTheWrongSize", [](Data& d, RunOptions&) { d.classes = {1}; },
       "classes holds 1 values for 3 genes"},
      {"ZeroRank", [](Data& d, RunOptions&) { d.ranks[4] = 0; },
       "the rank of gene 2 in study 2 must be a finite positive number, or NaN or -99 for none"},
      {"NegativeRank", [](Data& d, RunOptions&) { d.ranks[0] = -3; },
       "the rank of gene 1 in study 1"},
      {"InfiniteRank", [](Data& d, RunOptions&) { d.ranks[1] = INFINITY; },
       "the rank of gene 2 in study 1"},
      {"RankBeyondFloat", [](Data& d, RunOptions&) { d.ranks[2] = 1e300; },
       "the rank of gene 3 in study 1"},
      {"NaNWeight",
       [](Data& d, RunOptions&) {
         d.weights = {1, kNaN};
       },
       "the weight of study 2 must be a finite single-precision number"},
      {"ClassZero",
       [](Data& d, RunOptions&) {
         d.classes = {1, 0, 1};
       },
       "the class of gene 2 must be from 1 to 3, not 0"},
      {"ClassAboveGenes",
       [](Data& d, RunOptions&) {
         d.classes = {1, 1, 4};
       },
       "the class of gene 3 must be from 1 to 3, not 4"},
      {"GeneRankedNowhere",
       [](Data& d, RunOptions&) {
         d.ranks[2] = kNaN;
         d.ranks[5] = -99;
       },
       "gene 3 is ranked by no study"},
      {"NoRuns", [](Data&, RunOptions& o) { o.runs = 0; }, "runs must be at least 1, not 0"},
      {"SeedZero", [](Data&, RunOptions& o) { o.seed = 0; },
       "seed must be a whole number from 1 to 2147483646, not 0"},
      {"SeedTooLarge", [](Data&, RunOptions& o) { o.seed = 2147483647; }, "not 2147483647"},
  };
  for (const BadCase& c : cases) {
    Data d;
    d.genes = 3;
    d.studies = 2;
    d.ranks = {1, 2, 3, 3, 2, 1};
    RunOptions options;
    options.runs = 5;
    options.seed = 7;
    c.change(d, options);
    try {
      (void)Analyze(d.AsInput(), options);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

TEST(LibraryAnalysis, RestrictedRefusesGenesClassesAndLimits) {
  Data d;
  d.genes = 4;
  d.studies = 2;
  d.ranks = {1, 2, 3, 4, 4, 3, 2, 1};
  RunOptions options;
  options.runs = 3;
  options.seed = 11;
  const struct {
    const char* name;
    RestrictedQuery query;
    const char* message;
  } cases[] = {
      {"GeneBelowZero", {-1, 0, 0}, "gene -1 is not a 0-based index of the 4 genes"},
      {"GenePastTheEnd", {4, 0, 0}, "gene 4 is not a 0-based index"},
      {"ClassAboveTheLargest", {0, 3, 0}, "the reference class must be from 1 to 2"},
      {"LimitAtTheRmean",
       {0, 0, 100},
       "the restriction limit 100 is at or above the R-mean of gene 0"},
  };
  for (const auto& c : cases) {
    try {
      (void)AnalyzeRestricted(d.AsInput(), c.query, options);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  const RestrictedResult ok = AnalyzeRestricted(d.AsInput(), {0, 0, 1}, options);
  EXPECT_EQ(ok.r_mean, 2.5f);
  EXPECT_EQ(ok.q, 4.5f);
}

TEST(LibraryAnalysis, VersionIsTheProjects) {
  EXPECT_STREQ(kVersion, KORVELAN_VERSION_STRING);
  EXPECT_EQ(std::string(kVersion).find('.'), 1u);
}

}  // namespace
}  // namespace korvelan
