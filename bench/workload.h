// Deterministic synthetic workloads for the benchmarks: a "data.txt",
// "weights.txt" and the dialogue answers of a main analysis, from a few
// sizes and a seed. The same parameters give the same bytes on every
// machine (only the raw 64-bit engine output is used, never the standard
// library's distributions, whose algorithms differ between libraries).
#ifndef KORVELAN_BENCH_WORKLOAD_H_
#define KORVELAN_BENCH_WORKLOAD_H_

#include <cstdint>
#include <string>

namespace korvelan::bench {

struct Workload {
  std::int32_t probes = 20000;    // P
  std::int32_t studies = 10;      // S
  std::int32_t classes = 3;       // M; each probe's class is uniform in 1 .. M
  double missing = 0.2;           // fraction of cells given as -99
  double signal_fraction = 0.05;  // probes whose ranks lean to the top
  double signal_strength = 2.0;   // shift of their scores, in noise units
  std::int32_t runs = 1000;       // N, for the answers
  std::uint64_t seed = 20261208;
};

// Writes data.txt, weights.txt (all 1.0) and answers.txt into `directory`.
// Ranks of each study run 1 .. n over its present probes, ordered by score.
// Returns the size of data.txt in bytes.
std::uint64_t WriteWorkload(const Workload& w, const std::string& directory);

}  // namespace korvelan::bench

#endif  // KORVELAN_BENCH_WORKLOAD_H_
