// How long the library takes to stop once asked: an analysis of random
// ranks (P genes x S studies, 20 % missing beyond the first study) is started on its own thread,
// the stop is requested a moment after run 1 (or run R) has finished, and
// the time until Analyze() gives up with Cancelled is printed.
//
//   korvelan-cancel-latency P S [THREADS [AFTER_RUN [DELAY_MS]]]
#include <korvelan/korvelan.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <stop_token>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: korvelan-cancel-latency P S [THREADS [AFTER_RUN [DELAY_MS]]]\n");
    return 2;
  }
  const auto genes = static_cast<std::int32_t>(std::atol(argv[1]));
  const auto studies = static_cast<std::int32_t>(std::atol(argv[2]));
  const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atol(argv[3])) : 2;
  const std::int32_t after = argc > 4 ? static_cast<std::int32_t>(std::atol(argv[4])) : 1;
  const int delay_ms = argc > 5 ? std::atoi(argv[5]) : 20;
  std::mt19937 rng(1);
  std::vector<double> ranks(static_cast<std::size_t>(genes) * static_cast<std::size_t>(studies));
  for (std::size_t j = 0; j < static_cast<std::size_t>(studies); ++j) {
    std::int32_t next = 0;
    for (std::size_t i = 0; i < static_cast<std::size_t>(genes); ++i) {
      double& r = ranks[j * static_cast<std::size_t>(genes) + i];
      r = (rng() % 5 == 0 && j > 0) ? korvelan::kMissingRank : ++next;
    }
  }
  korvelan::Input input;
  input.genes = genes;
  input.studies = studies;
  input.ranks = ranks;
  std::stop_source stop;
  std::atomic<std::int32_t> done{0};
  korvelan::RunOptions options;
  options.runs = 1000000;
  options.seed = 12345;
  options.threads = threads;
  options.stop = stop.get_token();
  options.progress = [&](std::int32_t n, std::int32_t) { done = n; };
  using Clock = std::chrono::steady_clock;
  Clock::time_point requested;
  Clock::time_point ended;
  const Clock::time_point start = Clock::now();
  std::thread worker([&] {
    try {
      (void)korvelan::Analyze(input, options);
    } catch (const korvelan::Cancelled&) {
    }
    ended = Clock::now();
  });
  while (done < after) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  requested = Clock::now();
  stop.request_stop();
  worker.join();
  const auto ms = [](Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
  };
  std::printf(
      "P %d, S %d, %u threads: stop requested %.1f ms after run %d (%.0f ms from the "
      "start); Analyze ended %.1f ms later\n",
      genes, studies, threads, static_cast<double>(delay_ms), after, ms(requested - start),
      ms(ended - requested));
  return 0;
}
