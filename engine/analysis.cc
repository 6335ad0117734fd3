#include "engine/analysis.h"

#include <stdexcept>

#include "engine/worker_pool.h"

namespace korvelan::engine {

namespace {

// The sort has accepted the class column, so S lies in 0 .. 99; the loaded
// matrix must then hold the P rows and S + 2 columns the parameters announce.
void CheckLoadedShape(const AnalysisParameters& params, const RankMatrix& ranks) {
  if (params.probes > 0 && (ranks.rows() < params.probes || ranks.cols() < params.studies + 2)) {
    throw std::logic_error("rank matrix smaller than the analysis's counts");
  }
}

class Phase {
 public:
  Phase(const AnalysisHooks& hooks, const char* name) : hooks_(hooks) {
    if (hooks_.enter) hooks_.enter(name);
  }
  ~Phase() {
    if (hooks_.leave) hooks_.leave();
  }
  Phase(const Phase&) = delete;
  Phase& operator=(const Phase&) = delete;

 private:
  const AnalysisHooks& hooks_;
};

}  // namespace

AnalysisOutcome RunAnalysis(const AnalysisParameters& params, RankMatrix& ranks,
                            const StudyWeights& weights, const AnalysisSetup& setup,
                            const AnalysisHooks& hooks) {
  const bool main_analysis = params.analysis_type == kMainAnalysis;
  const bool restricted = params.analysis_type == kRestrictedAnalysis;
  // One pool of threads for the whole analysis.
  WorkerPool pool(setup.threads);
  {
    Phase phase(hooks, "ClassSort");
    if (setup.checks == SortChecks::kReported) CheckClassesWithinLimit(params, ranks);
    ClassSort(params.class_column, ranks, setup.checks, &pool);
  }
  CheckLoadedShape(params, ranks);
  AnalysisOutcome out;
  out.observed = Statistics(params.probes);
  {
    Phase phase(hooks, "STATS");
    STATS(ranks, weights, out.observed, params.probes, params.studies, pool);
  }
  {
    Phase phase(hooks, "ClassRanges");
    out.ranges = ComputeClassRanges(params, ranks);
  }
  // The counters start at zero here, before run 1.
  std::optional<RestrictedAnalysis> gene;
  if (main_analysis) {
    out.counter.emplace(out.observed, out.ranges, params.classes, params.probes, &pool,
                        params.runs > 0);
  }
  if (restricted) {
    gene.emplace(params.gene_id, params.gene_class, params.limit, out.observed, out.ranges);
  }

  Statistics run(params.probes);
  DrawStream draws = setup.draws;
  {
    Phase phase(hooks, "PermutationRuns");
    // The main analysis's counting runs inside the loop, beside the next
    // run's work; the restricted step runs at the end of each run, where it
    // may end the analysis.
    RunHooks loop = hooks.runs;
    loop.after_run = [&](std::int32_t n) {
      if (gene) {
        Phase count(hooks, "RestrictedCounting");
        gene->CountRun(run);
      }
      if (hooks.runs.after_run) hooks.runs.after_run(n);
    };
    PermutationRuns(params, ranks, weights, draws, run, loop, pool,
                    out.counter ? &*out.counter : nullptr);
  }
  if (gene) {
    Phase phase(hooks, "RestrictedAnalysis");
    out.restricted = RestrictedCounts{gene->band_count(), gene->right_count(), gene->left_count(),
                                      gene->Finish()};
  }
  return out;
}

}  // namespace korvelan::engine
