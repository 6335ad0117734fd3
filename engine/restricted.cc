#include "engine/restricted.h"

#include "engine/model.h"
#include "textio/termination.h"

namespace korvelan::engine {

namespace {

struct Band {
  float lower;
  float upper;
};

Band BandOf(float rmean, std::int32_t limit) {
  const double m = rmean;
  const double l = limit;
  return {static_cast<float>(m - l), static_cast<float>(l + m)};
}

}  // namespace

bool RestrictedAnalysis::LimitTooLarge() const {
  const std::int32_t first = ranges_.first.Get(class_);
  const std::int32_t last = ranges_.last.Get(class_);
  if (last < first) return false;
  return BandOf(observed_.rmean.Get(gene_), limit_).lower <= 0.0f;
}

void RestrictedAnalysis::CountRun(const Statistics& run) {
  const std::int32_t first = ranges_.first.Get(class_);
  const std::int32_t last = ranges_.last.Get(class_);
  if (last < first) return;
  // The band depends on nothing that changes between rows or runs; computing
  // it once per run gives the same tests in the same order as doing so for
  // every row.
  const Band band = BandOf(observed_.rmean.Get(gene_), limit_);
  if (band.lower <= 0.0f) throw LimitProblem();
  const float q = observed_.q.Get(gene_);
  // Checked reads: row 0 (a class above M) is the bounds condition here.
  for (std::int32_t v = first; v <= last; ++v) {
    const float r = run.rmean.Get(v);
    if (!(band.lower <= r && r <= band.upper)) continue;
    const float run_q = run.q.Get(v);
    if (q >= run_q) ++left_;
    if (q <= run_q) ++right_;
    ++band_;
  }
}

RestrictedPValues RestrictedAnalysis::Finish() const {
  CheckBounds(gene_, kMaxRows);
  const auto band = static_cast<double>(band_);
  return {static_cast<double>(right_) / band, static_cast<double>(left_) / band};
}

}  // namespace korvelan::engine
