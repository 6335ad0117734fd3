// The analysis after loading, one code path for the console program and the
// library: the class sort, the observed statistics, the class row ranges,
// the Monte Carlo runs with the per-run counting of the chosen analysis.
// What is done with the counts (the results file and the console lines, or
// the library's per-gene results) is the caller's.
#ifndef KORVELAN_ENGINE_ANALYSIS_H_
#define KORVELAN_ENGINE_ANALYSIS_H_

#include <cstdint>
#include <functional>
#include <optional>

#include "engine/class_sort.h"
#include "engine/counting.h"
#include "engine/model.h"
#include "engine/restricted.h"
#include "engine/runs.h"
#include "engine/stats.h"

namespace korvelan::engine {

inline constexpr std::int32_t kMainAnalysis = 1;
inline constexpr std::int32_t kRestrictedAnalysis = 0;

struct AnalysisSetup {
  // The stream the runs draw from: DrawStream(saved seed) for the console
  // program (0 takes the clock seed at the first draw), DrawStream::Seeded
  // for the library.
  DrawStream draws{0};
  // Threads for the analysis, the calling one included (0 counts as 1);
  // the results do not depend on it.
  unsigned threads = 1;
  // kReported: the console program's checks, with their reports (classes
  // above M refused before the sort, a bad class column reported by the row
  // sort). kNone: the caller has validated the data and the analysis must
  // touch no process-wide state.
  SortChecks checks = SortChecks::kReported;
};

struct AnalysisHooks {
  // The run loop's hooks (progress, the console's "Run=" lines, stopping).
  // after_run is called after the restricted analysis has counted the run.
  RunHooks runs;
  // Called on entering and leaving each phase ("ClassSort", "STATS",
  // "ClassRanges", "PermutationRuns", "RestrictedCounting" within a run,
  // "RestrictedAnalysis"), for the console program's call-stack listing.
  // A phase left by an exception is left all the same.
  std::function<void(const char* phase)> enter;
  std::function<void()> leave;
};

// The restricted analysis's counters and P-values.
struct RestrictedCounts {
  std::int64_t band = 0;
  std::int64_t right = 0;
  std::int64_t left = 0;
  RestrictedPValues p{};
};

struct AnalysisOutcome {
  Statistics observed;  // rows in class-sorted order
  ClassRanges ranges;
  std::optional<ExceedanceCounter> counter;    // main analysis (type 1)
  std::optional<RestrictedCounts> restricted;  // restricted analysis (type 0)
};

// Runs the analysis of `params.analysis_type` (1 main, 0 restricted, any
// other: the runs and nothing else) on `ranks`, the loaded and scaled matrix
// (columns 1 .. S ranks, S + 1 class, S + 2 line number), which is sorted
// and shuffled in place. The restricted analysis throws LimitProblem in run
// 1 when its limit is too large; a stop requested through hooks.runs.stop
// throws Cancelled; every other early end is a textio::Termination (161,
// 41, and with kReported the console program's checks).
AnalysisOutcome RunAnalysis(const AnalysisParameters& params, RankMatrix& ranks,
                            const StudyWeights& weights, const AnalysisSetup& setup,
                            const AnalysisHooks& hooks = {});

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_ANALYSIS_H_
