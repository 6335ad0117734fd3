// korvelan-phases: the main analysis of a workload directory (data.txt,
// weights.txt, answers.txt as korvelan-gendata writes them) with a clock on
// each phase, for the benchmark figures:
//
//   korvelan-phases DIR [THREADS [SEED]]
//
// It runs the same steps as the program (loading, class sort, observed
// statistics, the runs' shuffles, STATS and counting, the results file),
// on one pool of THREADS threads (default 1), without the console dialogue
// and the "Run=" lines, and prints one "name seconds" line per phase plus
// the derived rates. The results file it writes is the program's. Then,
// side by side, the program's whole main analysis (the runs overlapped as
// in the program) and the bare exchange-step loop of the same steps on one
// thread, with their ratio; and the program's run loop alone (the runs'
// shuffles, STATS and counting as the program overlaps them).
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "driver/analysis.h"
#include "driver/loading.h"
#include "engine/analysis.h"
#include "engine/class_sort.h"
#include "engine/counting.h"
#include "driver/results_file.h"
#include "engine/runs.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"
#include "textio/termination.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

korvelan::AnalysisParameters ReadAnswers(const std::string& path) {
  std::ifstream in(path);
  korvelan::AnalysisParameters p;
  if (!(in >> p.analysis_type >> p.studies >> p.probes >> p.classes >> p.runs) ||
      p.analysis_type != 1) {
    throw std::runtime_error("answers.txt is not that of a main analysis");
  }
  p.class_column = p.studies + 1;
  return p;
}

int Run(const std::string& dir, unsigned threads, std::int32_t seed) {
  namespace engine = korvelan::engine;
  if (::chdir(dir.c_str()) != 0) throw std::runtime_error("cannot enter " + dir);
  const korvelan::AnalysisParameters params = ReadAnswers("answers.txt");
  const std::int32_t p = params.probes;
  const std::int32_t s = params.studies;
  const double bytes = static_cast<double>(std::filesystem::file_size("data.txt"));

  auto t = Clock::now();
  korvelan::driver::LoadedInputs in = korvelan::driver::LoadInputs(params, threads);
  const double loading = Since(t);

  engine::WorkerPool pool(threads);
  t = Clock::now();
  engine::CheckClassesWithinLimit(params, in.ranks);
  engine::ClassSort(params.class_column, in.ranks, engine::SortChecks::kReported, &pool);
  const double class_sort = Since(t);

  t = Clock::now();
  engine::Statistics observed(p);
  engine::STATS(in.ranks, in.weights, observed, p, s, pool);
  const engine::ClassRanges ranges = engine::ComputeClassRanges(params, in.ranks);
  engine::ExceedanceCounter counter(observed, ranges, params.classes, p, &pool);
  const double setup = Since(t);

  // The run loop of the program, with a clock on each of its steps.
  engine::Statistics run(p);
  engine::DrawStream draws(seed);
  std::vector<engine::ColumnShuffler> shufflers(pool.size());
  const auto per_study = 2 * static_cast<std::uint64_t>(p - 1);
  double shuffle = 0, stats = 0, counting = 0;
  for (std::int32_t n = 1; n <= params.runs; ++n) {
    t = Clock::now();
    draws.Establish();
    const engine::DrawStream start = draws;
    pool.ForEach(static_cast<std::size_t>(s), [&](std::size_t study, unsigned worker) {
      engine::DrawStream own = start;
      own.Skip(per_study * study);
      shufflers[worker].Shuffle(in.ranks.column(static_cast<std::int32_t>(study) + 1), p, own);
    });
    draws.Skip(per_study * static_cast<std::uint64_t>(s));
    shuffle += Since(t);
    t = Clock::now();
    engine::STATS(in.ranks, in.weights, run, p, s, pool);
    stats += Since(t);
    t = Clock::now();
    counter.CountRun(run, pool);
    counting += Since(t);
  }

  t = Clock::now();
  counter.Settle();
  counting += Since(t);
  t = Clock::now();
  korvelan::driver::WriteResultsFile(*in.results, in.ranks, s + 2, observed, counter, p,
                                     pool.size());
  const double results = Since(t);

  const double steps = static_cast<double>(params.runs) * s * (p - 1);
  std::printf("threads %u  P %d  S %d  M %d  N %d\n", pool.size(), p, s, params.classes,
              params.runs);
  std::printf("loading        %8.3f s  %7.1f MB/s\n", loading, bytes / loading / 1e6);
  std::printf("class sort     %8.3f s\n", class_sort);
  std::printf("observed+setup %8.3f s\n", setup);
  std::printf("shuffle        %8.3f s  %7.1f M exchange steps/s\n", shuffle, steps / shuffle / 1e6);
  std::printf("STATS (runs)   %8.3f s  %7.1f M cells/s\n", stats,
              static_cast<double>(params.runs) * p * s / stats / 1e6);
  std::printf("counting       %8.3f s  %7.3f ms per run\n", counting, counting * 1e3 / params.runs);
  std::printf("results file   %8.3f s\n", results);

  // Side by side: the program's whole main analysis (loading to results
  // file, the runs' work overlapped as in the program, "Run=" lines sent
  // to /dev/null), then the bare exchange-step loop of the same steps (every
  // study of every run shuffled in turn from one stream, one thread).
  std::fflush(stdout);
  const int saved_stdout = ::dup(1);
  const int null_fd = ::open("/dev/null", O_WRONLY);
  ::dup2(null_fd, 1);
  t = Clock::now();
  {
    korvelan::driver::LoadedInputs whole = korvelan::driver::LoadInputs(params, threads);
    korvelan::driver::AnalysisOptions options;
    options.initial_seed = seed;
    options.threads = threads;
    korvelan::driver::Analyse(params, whole.ranks, whole.weights, whole.results.get(), options);
  }
  const double analysis = Since(t);
  ::dup2(saved_stdout, 1);
  ::close(null_fd);
  ::close(saved_stdout);
  // The program's run loop alone (shuffles, STATS and counting overlapped
  // as in the program, on THREADS threads), from a freshly sorted matrix.
  double runs_loop = 0;
  {
    korvelan::driver::LoadedInputs loop_in = korvelan::driver::LoadInputs(params, threads);
    engine::WorkerPool loop_pool(threads);
    engine::ClassSort(params.class_column, loop_in.ranks, engine::SortChecks::kReported, &loop_pool);
    engine::Statistics loop_observed(p);
    engine::STATS(loop_in.ranks, loop_in.weights, loop_observed, p, s, loop_pool);
    engine::ExceedanceCounter loop_counter(loop_observed,
                                           engine::ComputeClassRanges(params, loop_in.ranks),
                                           params.classes, p, &loop_pool);
    engine::Statistics loop_run(p);
    engine::DrawStream loop_draws = engine::DrawStream::Seeded(seed);
    t = Clock::now();
    engine::PermutationRuns(params, loop_in.ranks, loop_in.weights, loop_draws, loop_run, {},
                            loop_pool, &loop_counter);
    runs_loop = Since(t);
  }
  korvelan::driver::LoadedInputs bare = korvelan::driver::LoadInputs(params, 1);
  engine::DrawStream bare_draws(seed);
  engine::ColumnShuffler shuffler;
  t = Clock::now();
  for (std::int32_t n = 1; n <= params.runs; ++n) {
    for (std::int32_t j = 1; j <= s; ++j) shuffler.Shuffle(bare.ranks.column(j), p, bare_draws);
  }
  const double bare_loop = Since(t);
  std::printf("whole analysis %8.3f s  (%u threads, loading to results file)\n", analysis,
              pool.size());
  std::printf("runs loop      %8.3f s  (%u threads, the program's runs alone)\n", runs_loop,
              pool.size());
  std::printf("bare shuffles  %8.3f s  (the same %.1f M exchange steps alone, 1 thread)\n",
              bare_loop, steps / 1e6);
  std::printf("ratio          %8.2f\n", analysis / bare_loop);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: korvelan-phases DIR [THREADS [SEED]]\n");
    return 2;
  }
  const unsigned threads = argc >= 3 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  const std::int32_t seed = argc >= 4 ? std::atoi(argv[3]) : 12345;
  try {
    return Run(argv[1], threads, seed);
  } catch (const korvelan::textio::Termination& t) {
    std::fprintf(stderr, "korvelan-phases: %s\n", t.ReportLine().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvelan-phases: %s\n", e.what());
  }
  return 1;
}
