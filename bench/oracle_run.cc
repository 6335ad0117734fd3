// korvelan-oracle: the main analysis of a workload directory in its
// straightforward form (the test oracles: a draw through the process-wide
// stream for every number, STATS probe by probe, every pair of a class
// compared in every run), timed, for the benchmark figures:
//
//   korvelan-oracle DIR [RUNS [SEED]]
//
// RUNS (default: the answer in answers.txt) lets a slow workload be timed
// on fewer runs; the time per run is printed for extrapolating. The result
// goes to DIR/output.oracle.txt; with the program's own N and seed it is
// byte for byte the program's output.txt.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "driver/loading.h"
#include "engine/class_sort.h"
#include "tests/engine/pipeline_oracle.h"
#include "textio/termination.h"

namespace {

int Run(const std::string& dir, std::int32_t runs, std::int32_t seed) {
  if (::chdir(dir.c_str()) != 0) throw std::runtime_error("cannot enter " + dir);
  std::ifstream answers("answers.txt");
  korvelan::engine::oracle::Loaded d;
  korvelan::AnalysisParameters& p = d.params;
  if (!(answers >> p.analysis_type >> p.studies >> p.probes >> p.classes >> p.runs) ||
      p.analysis_type != 1) {
    throw std::runtime_error("answers.txt is not that of a main analysis");
  }
  p.class_column = p.studies + 1;
  if (runs >= 0) p.runs = runs;
  // The loading of the program; its results file is left alone.
  korvelan::driver::LoadedInputs in = korvelan::driver::LoadInputs(p);
  d.ranks = std::move(in.ranks);
  d.weights = in.weights;
  korvelan::engine::CheckClassesWithinLimit(p, d.ranks);
  korvelan::engine::ClassSort(p, d.ranks);
  const auto t = std::chrono::steady_clock::now();
  const std::string out = korvelan::engine::oracle::MainAnalysisResults(d, seed);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
  std::ofstream("output.oracle.txt", std::ios::binary) << out;
  std::printf("oracle  P %d  S %d  M %d  N %d  %.3f s  %.4f s per run\n", p.probes, p.studies,
              p.classes, p.runs, seconds, p.runs > 0 ? seconds / p.runs : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 4) {
    std::fprintf(stderr, "usage: korvelan-oracle DIR [RUNS [SEED]]\n");
    return 2;
  }
  const std::int32_t runs = argc >= 3 ? std::atoi(argv[2]) : -1;
  const std::int32_t seed = argc >= 4 ? std::atoi(argv[3]) : 12345;
  try {
    return Run(argv[1], runs, seed);
  } catch (const korvelan::textio::Termination& t) {
    std::fprintf(stderr, "korvelan-oracle: %s\n", t.ReportLine().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvelan-oracle: %s\n", e.what());
  }
  return 1;
}
