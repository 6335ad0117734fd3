// The console program's analysis: the engine's analysis with the console
// program's checks and reports, its "Run=" lines, and its results.
#ifndef KORVELAN_DRIVER_ANALYSIS_H_
#define KORVELAN_DRIVER_ANALYSIS_H_

#include <cstdint>

#include "engine/model.h"
#include "textio/channels.h"

namespace korvelan::driver {

struct AnalysisOptions {
  // The saved seed the runs start from: 0 takes the clock seed at the first
  // draw; 1 .. 2147483646 starts the stream from that state (--seed).
  std::int32_t initial_seed = 0;
  // Threads for the analysis, the calling one included (0 counts as 1);
  // the results do not depend on it.
  unsigned threads = 1;
};

// Runs, in order: the check of class values above M (before anything else),
// the class sort, the observed statistics, the class row ranges and counter
// reset, the N Monte Carlo runs with their "Run=" lines and per-run counting,
// the blank line after the runs, then the results of the chosen analysis:
// the main analysis writes, ends and closes `results` (its one results file,
// opened by the loading phase; null in the other analyses); the restricted
// analysis writes its two P-value lines on the console, or stops with
// "Problem with the "limit" value".
//
// `ranks` holds the loaded matrix (columns 1 .. S ranks, S + 1 class, S + 2
// line number); it is sorted and shuffled in place. Every ending other than
// the normal one is thrown as textio::Termination, with each phase on the
// call-stack listing.
void Analyse(const AnalysisParameters& params, RankMatrix& ranks, const StudyWeights& weights,
             textio::ResultsFile* results, const AnalysisOptions& options);

}  // namespace korvelan::driver

#endif  // KORVELAN_DRIVER_ANALYSIS_H_
