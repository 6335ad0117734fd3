#include "engine/analysis.h"

#include <optional>
#include <stdexcept>

#include "engine/class_sort.h"
#include "engine/counting.h"
#include "engine/restricted.h"
#include "engine/results.h"
#include "engine/runs.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"
#include "textio/termination.h"

namespace korvelan::engine {

namespace {

constexpr std::int32_t kMainAnalysis = 1;
constexpr std::int32_t kRestrictedAnalysis = 0;

// The sort has accepted the class column, so S lies in 0 .. 99; the loaded
// matrix must then hold the P rows and S + 2 columns the dialogue announced.
void CheckLoadedShape(const DialogueParameters& params, const RankMatrix& ranks) {
  if (params.probes > 0 &&
      (ranks.rows() < params.probes || ranks.cols() < params.studies + 2)) {
    throw std::logic_error("rank matrix smaller than the dialogue's counts");
  }
}

}  // namespace

void Analyse(const DialogueParameters& params, RankMatrix& ranks,
             const StudyWeights& weights, textio::ResultsFile* results,
             const AnalysisOptions& options) {
  const bool main_analysis = params.analysis_type == kMainAnalysis;
  const bool restricted = params.analysis_type == kRestrictedAnalysis;
  if (main_analysis && results == nullptr) {
    throw std::logic_error("main analysis without its results file");
  }
  {
    textio::PhaseScope scope("ClassSort");
    CheckClassesWithinLimit(params, ranks);
    ClassSort(params, ranks);
  }
  CheckLoadedShape(params, ranks);
  // One pool of threads for the whole analysis.
  WorkerPool pool(options.threads);
  Statistics observed(params.probes);
  {
    textio::PhaseScope scope("STATS");
    STATS(ranks, weights, observed, params.probes, params.studies, pool);
  }
  const ClassRanges ranges = [&] {
    textio::PhaseScope scope("ClassRanges");
    return ComputeClassRanges(params, ranks);
  }();
  // The counters start at zero here, before run 1.
  std::optional<ExceedanceCounter> counter;
  std::optional<RestrictedAnalysis> gene;
  if (main_analysis) counter.emplace(observed, ranges, params.classes, params.probes);
  if (restricted) {
    gene.emplace(params.gene_id, params.gene_class, params.limit, observed, ranges);
  }

  Statistics run(params.probes);
  DrawStream draws(options.initial_seed);
  {
    textio::PhaseScope scope("PermutationRuns");
    // The main analysis's counting runs inside the loop, beside the next
    // run's work; the restricted step runs at the end of each run, where it
    // may stop the program.
    PermutationRuns(params, ranks, weights, draws, run, [&](std::int32_t) {
      if (gene) {
        textio::PhaseScope count("RestrictedCounting");
        gene->CountRun(run);
      }
    }, pool, counter ? &*counter : nullptr);
  }

  if (counter) {
    textio::PhaseScope scope("WriteResultsFile");
    WriteResultsFile(*results, ranks, params.studies + 2, observed, *counter, params.probes);
  }
  if (gene) {
    textio::PhaseScope scope("RestrictedAnalysis");
    gene->Finish();
  }
}

}  // namespace korvelan::engine
