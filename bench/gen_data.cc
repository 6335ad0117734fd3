// korvelan-gendata: writes a synthetic workload (data.txt, weights.txt,
// answers.txt) into a directory, for benchmarks and manual runs.
//
//   korvelan-gendata DIR [P S M MISSING RUNS [SEED]]
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "bench/workload.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 7 && argc != 8) {
    std::fprintf(stderr, "usage: korvelan-gendata DIR [P S M MISSING RUNS [SEED]]\n");
    return 2;
  }
  korvelan::bench::Workload w;
  if (argc >= 7) {
    w.probes = std::atoi(argv[2]);
    w.studies = std::atoi(argv[3]);
    w.classes = std::atoi(argv[4]);
    w.missing = std::atof(argv[5]);
    w.runs = std::atoi(argv[6]);
  }
  if (argc == 8) w.seed = std::strtoull(argv[7], nullptr, 10);
  if (w.probes < 1 || w.studies < 1 || w.classes < 1 || w.missing < 0 || w.missing >= 1) {
    std::fprintf(stderr, "korvelan-gendata: sizes must be positive, MISSING in [0, 1)\n");
    return 2;
  }
  try {
    const auto bytes = korvelan::bench::WriteWorkload(w, argv[1]);
    std::printf("wrote %s/data.txt (%llu bytes)\n", argv[1], static_cast<unsigned long long>(bytes));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvelan-gendata: %s\n", e.what());
    return 1;
  }
  return 0;
}
