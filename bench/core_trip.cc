// korvelan-core-trip [CPU_A CPU_B [TRIPS]]: the time for one cache line to
// go from one CPU to another and back (two threads, each pinned to its CPU,
// taking turns to write one counter), median of 7 passes of TRIPS round
// trips (default 1000000). The runs' two-thread speed-up depends on it:
// every run, the columns one thread shuffled are read by the other's STATS
// and then taken back. On a virtual machine it says where the host put the
// two virtual CPUs (sharing a last-level cache, or not), which can change
// from one day to the next.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

bool Pin(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

// Nanoseconds per round trip of `trips`.
double Pass(int a, int b, long trips) {
  alignas(64) std::atomic<long> turn{0};
  std::thread other([&] {
    Pin(b);
    for (long i = 0; i < trips; ++i) {
      while (turn.load(std::memory_order_acquire) != 2 * i + 1) {
      }
      turn.store(2 * i + 2, std::memory_order_release);
    }
  });
  Pin(a);
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < trips; ++i) {
    turn.store(2 * i + 1, std::memory_order_release);
    while (turn.load(std::memory_order_acquire) != 2 * i + 2) {
    }
  }
  const auto end = std::chrono::steady_clock::now();
  other.join();
  return std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(trips);
}

}  // namespace

int main(int argc, char** argv) {
  const int a = argc > 2 ? std::atoi(argv[1]) : 0;
  const int b = argc > 2 ? std::atoi(argv[2]) : 1;
  const long trips = argc > 3 ? std::atol(argv[3]) : 1000000;
  if (trips < 1 || a == b || !Pin(a) || !Pin(b)) {
    std::fprintf(
        stderr, "usage: korvelan-core-trip [CPU_A CPU_B [TRIPS]]: two CPUs this process may use\n");
    return 2;
  }
  std::vector<double> passes;
  for (int k = 0; k < 7; ++k) passes.push_back(Pass(a, b, trips));
  std::sort(passes.begin(), passes.end());
  std::printf("CPU %d to CPU %d and back: %.0f ns (median of 7 passes of %ld; %.0f to %.0f)\n", a,
              b, passes[3], trips, passes.front(), passes.back());
  return 0;
}
