// Which way each gene moved: the signs of the studies' effects, the tail
// of its R-mean, and its fold changes.
#include <cmath>
#include <limits>
#include <string_view>

#include "library/meta_internal.h"

namespace korvelan {
namespace meta {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool Better(double a, double b, Order order) {
  return order == Order::kSmallestFirst ? a < b : a > b;
}

}  // namespace

std::unordered_map<std::string, double> MergePerId(const Study& study,
                                                   const std::vector<double>& per_id,
                                                   Duplicates duplicates, const std::string& what) {
  std::unordered_map<std::string, double> merged;
  if (per_id.empty()) return merged;
  if (per_id.size() != study.ids.size()) {
    Invalid("study \"" + study.name + "\" has " + std::to_string(study.ids.size()) + " ids but " +
            std::to_string(per_id.size()) + " " + what);
  }
  struct Rows {
    std::size_t first = 0, best = 0;  // kFirst's row, kBest's row (its key won)
    double sum = 0, count = 0;        // kMean: over the rows with a value
  };
  std::unordered_map<std::string, Rows> rows;
  const bool by_value = !study.values.empty();
  for (std::size_t i = 0; i < study.ids.size(); ++i) {
    const auto [it, added] = rows.try_emplace(study.ids[i], Rows{i, i, 0, 0});
    Rows& r = it->second;
    if (!std::isnan(per_id[i])) {
      r.sum += per_id[i];
      r.count += 1.0;
    }
    // A plain list's key is its position: the first row is the best.
    if (added || !by_value) continue;
    const double key = study.values[i];
    const double held = study.values[r.best];
    if (!std::isnan(key) && (std::isnan(held) || Better(key, held, study.order))) r.best = i;
  }
  for (const auto& [id, r] : rows) {
    merged[id] = duplicates == Duplicates::kMean   ? (r.count > 0 ? r.sum / r.count : kNaN)
                 : duplicates == Duplicates::kBest ? per_id[r.best]
                                                   : per_id[r.first];
  }
  return merged;
}

namespace {

// Which tail is up: left (small R-mean, near rank 1) when every signed study
// gives rank 1 to its most up gene, right when every one gives it to its
// most down gene; studies that disagree leave no tail meaning either.
std::int8_t LeftTail(const std::vector<StudyEffects>& studies) {
  bool up_first = false, down_first = false;
  for (const StudyEffects& s : studies) {
    if (s.effects.empty()) continue;
    (s.first_is_up ? up_first : down_first) = true;
  }
  return up_first == down_first ? kNoDirection : (up_first ? kUp : kDown);
}

void FillSigns(const std::vector<Study>& studies, const std::vector<StudyEffects>& effects,
               Duplicates duplicates, MetaResults& r) {
  const std::size_t genes = r.genes.size();
  r.n_up.assign(genes, 0);
  r.n_down.assign(genes, 0);
  for (std::size_t j = 0; j < studies.size(); ++j) {
    const auto effect = MergePerId(studies[j], effects[j].effects, duplicates, "effects");
    for (std::size_t i = 0; i < genes && !effect.empty(); ++i) {
      const auto it = effect.find(r.genes[i]);
      if (it == effect.end()) continue;
      r.n_up[i] += it->second > 0;
      r.n_down[i] += it->second < 0;
    }
  }
  const std::int8_t left = LeftTail(effects);
  const std::vector<double>& p_left = r.p[kRmeanLeft];
  const std::vector<double>& p_right = r.p[kRmeanRight];
  r.direction.assign(genes, kNoDirection);
  for (std::size_t i = 0; i < genes; ++i) {
    // NaN compares false both ways: no direction, as for equal P-values.
    if (p_left[i] < p_right[i]) r.direction[i] = left;
    if (p_right[i] < p_left[i]) r.direction[i] = static_cast<std::int8_t>(-left);
  }
}

void FillFoldChanges(const std::vector<Study>& studies, const std::vector<StudyEffects>& effects,
                     Duplicates duplicates, MetaResults& r) {
  const std::size_t genes = r.genes.size();
  r.fold_changes.assign(genes * studies.size(), kNaN);
  std::vector<double> sum(genes, 0.0), count(genes, 0.0);
  for (std::size_t j = 0; j < studies.size(); ++j) {
    const auto fold = MergePerId(studies[j], effects[j].fold_changes, duplicates, "fold changes");
    for (std::size_t i = 0; i < genes && !fold.empty(); ++i) {
      const auto it = fold.find(r.genes[i]);
      if (it == fold.end() || std::isnan(it->second)) continue;
      r.fold_changes[j * genes + i] = it->second;
      sum[i] += it->second;
      count[i] += 1.0;
    }
  }
  r.fold_change_mean.assign(genes, kNaN);
  for (std::size_t i = 0; i < genes; ++i) {
    if (count[i] > 0) r.fold_change_mean[i] = sum[i] / count[i];
  }
}

}  // namespace

void FillDirections(const std::vector<Study>& studies, const MetaOptions& options, MetaResults& r) {
  if (options.effects.empty()) return;
  for (const StudyEffects& s : options.effects) {
    r.directional = r.directional || !s.effects.empty();
    r.has_fold_changes = r.has_fold_changes || !s.fold_changes.empty();
  }
  if (r.directional) FillSigns(studies, options.effects, options.duplicates, r);
  if (r.has_fold_changes) FillFoldChanges(studies, options.effects, options.duplicates, r);
}

void CheckEffects(const std::vector<Study>& studies, const MetaOptions& options) {
  if (options.effects.empty()) return;
  if (options.effects.size() != studies.size()) {
    Invalid("there are effects for " + std::to_string(options.effects.size()) + " studies, not " +
            std::to_string(studies.size()));
  }
  for (std::size_t j = 0; j < studies.size(); ++j) {
    for (const auto* per_id : {&options.effects[j].effects, &options.effects[j].fold_changes}) {
      if (!per_id->empty() && per_id->size() != studies[j].ids.size()) {
        Invalid("study \"" + studies[j].name + "\" has " + std::to_string(studies[j].ids.size()) +
                " ids but " + std::to_string(per_id->size()) +
                (per_id == &options.effects[j].effects ? " effects" : " fold changes"));
      }
    }
  }
}

}  // namespace meta

std::string_view DirectionName(std::int8_t direction) {
  return direction == kUp ? "up" : direction == kDown ? "down" : "NA";
}

}  // namespace korvelan
