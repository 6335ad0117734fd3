// Top-k lists over a universe through RunMeta: wall time and peak memory
// of one analysis, one case per process (peak memory is per process).
//
//   korvelan-universe-bench N LISTS K RUNS [THREADS [SEED]]
//
// LISTS top-K lists drawn at random from a universe of N genes (gene ids
// g0 .. g<N-1>, 0 < K <= N), absent genes below, the universe given as the
// size N (N = 0: no universe, the union of the lists stands for it).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "korvelan/meta.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: korvelan-universe-bench N LISTS K RUNS [THREADS [SEED]]\n");
    return 2;
  }
  const long n = std::atol(argv[1]);
  const int lists = std::atoi(argv[2]);
  const long k = std::atol(argv[3]);
  const int runs = std::atoi(argv[4]);
  const unsigned threads = argc > 5 ? static_cast<unsigned>(std::atoi(argv[5])) : 1u;
  const int seed = argc > 6 ? std::atoi(argv[6]) : 12345;
  const long pool = n > 0 ? n : 20000;
  std::mt19937 rng(static_cast<unsigned>(seed));
  std::vector<long> order(static_cast<std::size_t>(pool));
  std::iota(order.begin(), order.end(), 0L);
  std::vector<korvelan::Study> studies;
  for (int j = 0; j < lists; ++j) {
    std::shuffle(order.begin(), order.end(), rng);
    korvelan::Study s;
    s.name = "list" + std::to_string(j + 1);
    for (long i = 0; i < k; ++i)
      s.ids.push_back("g" + std::to_string(order[static_cast<std::size_t>(i)]));
    studies.push_back(std::move(s));
  }
  korvelan::MetaOptions o;
  o.absent = korvelan::Absent::kBelow;
  o.universe_size = n;
  o.runs = runs;
  o.seed = seed;
  o.threads = threads;
  const auto start = std::chrono::steady_clock::now();
  const korvelan::MetaResults r = korvelan::RunMeta(studies, o);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "universe %ld, %d lists of %ld, %d runs, %u threads: %zu named + %lld without ids; "
      "%.3f s, peak %.1f MB\n",
      n, lists, k, runs, threads, r.genes.size(), static_cast<long long>(r.unnamed), seconds,
      static_cast<double>(usage.ru_maxrss) / 1024.0);
  return 0;
}
