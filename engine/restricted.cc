#include "engine/restricted.h"

#include "driver/model.h"
#include "textio/channels.h"
#include "textio/termination.h"

namespace korvelan::engine {

void RestrictedAnalysis::CountRun(const Statistics& run) {
  const std::int32_t first = ranges_.first.Get(class_);
  const std::int32_t last = ranges_.last.Get(class_);
  if (last < first) return;
  // The band depends on nothing that changes between rows or runs; computing
  // it once per run gives the same tests in the same order as doing so for
  // every row.
  const double rmean = observed_.rmean.Get(gene_);
  const double limit = limit_;
  const auto lower = static_cast<float>(rmean - limit);
  const auto upper = static_cast<float>(limit + rmean);
  if (lower <= 0.0f) {
    textio::ConsoleWrite("Problem with the \"limit\" value");
    throw textio::Termination::Stop(1);
  }
  const float q = observed_.q.Get(gene_);
  // Checked reads: row 0 (a class above M) is the bounds condition here.
  for (std::int32_t v = first; v <= last; ++v) {
    const float r = run.rmean.Get(v);
    if (!(lower <= r && r <= upper)) continue;
    const float run_q = run.q.Get(v);
    if (q >= run_q) ++left_;
    if (q <= run_q) ++right_;
    ++band_;
  }
}

void RestrictedAnalysis::Finish() const {
  // The counters live in arrays indexed by the gene id: the division is an
  // access to entry G.
  CheckBounds(gene_, kMaxRows);
  const auto band = static_cast<double>(band_);
  textio::ConsoleWrite("right-sided P-value for Q=", static_cast<double>(right_) / band);
  textio::ConsoleWrite("left-sided P-value for Q=", static_cast<double>(left_) / band);
}

}  // namespace korvelan::engine
