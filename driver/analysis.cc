#include "driver/analysis.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "engine/analysis.h"
#include "driver/results_file.h"
#include "textio/termination.h"

namespace korvelan::driver {

void Analyse(const AnalysisParameters& params, RankMatrix& ranks, const StudyWeights& weights,
             textio::ResultsFile* results, const AnalysisOptions& options) {
  if (params.analysis_type == engine::kMainAnalysis && results == nullptr) {
    throw std::logic_error("main analysis without its results file");
  }
  engine::AnalysisSetup setup;
  setup.draws = engine::DrawStream(options.initial_seed);
  setup.threads = options.threads;
  setup.checks = engine::SortChecks::kReported;

  // The engine's phases are the routines of the call-stack listing.
  std::vector<std::unique_ptr<textio::PhaseScope>> scopes;
  engine::AnalysisHooks hooks;
  hooks.enter = [&](const char* phase) {
    scopes.push_back(std::make_unique<textio::PhaseScope>(phase));
  };
  hooks.leave = [&] { scopes.pop_back(); };
  hooks.runs.before_run = [](std::int32_t n) { textio::ConsoleWrite("Run=", n); };
  hooks.runs.after_runs = [] { textio::ConsoleWrite(" "); };

  std::optional<engine::AnalysisOutcome> outcome;
  try {
    outcome.emplace(engine::RunAnalysis(params, ranks, weights, setup, hooks));
  } catch (const engine::LimitProblem&) {
    textio::ConsoleWrite("Problem with the \"limit\" value");
    throw textio::Termination::Stop(1);
  }
  if (outcome->counter) {
    textio::PhaseScope scope("WriteResultsFile");
    driver::WriteResultsFile(*results, ranks, params.studies + 2, outcome->observed,
                             *outcome->counter, params.probes, options.threads);
  }
  if (outcome->restricted) {
    textio::ConsoleWrite("right-sided P-value for Q=", outcome->restricted->p.right);
    textio::ConsoleWrite("left-sided P-value for Q=", outcome->restricted->p.left);
  }
}

}  // namespace korvelan::driver
