// ORACLE: the whole main analysis in its straightforward form, from the
// class-sorted matrix: every run with the draws made through the
// process-wide stream one by one, STATS probe by probe, every pair of a
// class compared with double counters. Gives the bytes of "output.txt".
#ifndef KORVELAN_TESTS_ENGINE_PIPELINE_ORACLE_H_
#define KORVELAN_TESTS_ENGINE_PIPELINE_ORACLE_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/model.h"
#include "engine/class_sort.h"
#include "driver/results_file.h"
#include "tests/engine/oracles.h"
#include "textio/fixed_output.h"
#include "textio/list_output.h"

namespace korvelan::engine::oracle {

struct Loaded {
  AnalysisParameters params;
  RankMatrix ranks;
  StudyWeights weights;
};

// `d` must already be class-sorted; the stream must be at its start state.
inline std::string MainAnalysisResults(Loaded d, std::int32_t seed) {
  const AnalysisParameters& q = d.params;
  const ClassRanges ranges = ComputeClassRanges(q, d.ranks);
  const std::int32_t p = q.probes;
  const StatsRows obs = Stats(d.ranks, d.weights, p, q.studies);
  std::vector<std::vector<double>> right(6, std::vector<double>(static_cast<std::size_t>(p)));
  std::vector<std::vector<double>> left = right;
  std::vector<double> total(static_cast<std::size_t>(q.classes));
  std::int32_t saved = seed;
  for (std::int32_t n = 1; n <= q.runs; ++n) {
    for (std::int32_t j = 1; j <= q.studies; ++j) {
      std::vector<float> col(d.ranks.column(j), d.ranks.column(j) + p);
      Shuffle(col, p, saved);
      std::copy(col.begin(), col.end(), d.ranks.column(j));
    }
    const StatsRows run = Stats(d.ranks, d.weights, p, q.studies);
    for (std::int32_t k = 1; k <= q.classes; ++k) {
      const std::int32_t a = ranges.first.Get(k), b = ranges.last.Get(k);
      if (b < a) continue;
      CountPairs(obs.rmean, run.rmean, a, b, right[0], left[0]);
      CountPairs(obs.rwmean, run.rwmean, a, b, right[1], left[1]);
      CountPairs(obs.q, run.q, a, b, right[2], left[2]);
      total[static_cast<std::size_t>(k - 1)] += b - a + 1;
    }
  }
  std::vector<float> values;
  for (std::int32_t i = 1; i <= p; ++i) {
    const auto r = static_cast<std::size_t>(i - 1);
    const auto k = static_cast<std::int32_t>(d.ranks.Get(i, q.studies + 1));
    const double t = total[static_cast<std::size_t>(k - 1)];
    const auto pv = [&](const std::vector<double>& c) { return static_cast<float>(c[r] / t); };
    values.insert(values.end(),
                  {d.ranks.Get(i, q.studies + 2), obs.rmean[r], pv(right[0]), pv(left[0]),
                   pv(right[1]), pv(left[1]), obs.q[r], pv(right[2]), pv(left[2])});
  }
  std::string out = textio::LegendRecords();
  textio::AppendDataRecords(out, values);
  return out;
}

// The console of the runs: one "Run=" line per run, then the blank line.
inline std::string RunLines(std::int32_t runs) {
  std::string out;
  for (std::int32_t n = 1; n <= runs; ++n) out += textio::ListRecords("Run=", n)[0] + "\r\n";
  return out + textio::ListRecords(" ")[0] + "\r\n";
}

}  // namespace korvelan::engine::oracle

#endif  // KORVELAN_TESTS_ENGINE_PIPELINE_ORACLE_H_
