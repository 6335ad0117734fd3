#include "engine/counting.h"

#include <algorithm>
#include <cmath>

namespace korvelan::engine {

namespace {

const float* Values(const Statistics& s, int statistic) {
  switch (statistic) {
    case kRmean: return s.rmean.data();
    case kRwmean: return s.rwmean.data();
    default: return s.q.data();
  }
}

}  // namespace

ExceedanceCounter::ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges,
                                     std::int32_t classes, std::int32_t probes)
    : observed_(observed), probes_(probes > 0 ? probes : 0) {
  const auto rows = static_cast<std::size_t>(probes_);
  for (int s = 0; s < kStatistics; ++s) {
    order_[s] = ZeroedBuffer<std::int32_t>(rows);
    right_[s] = ZeroedBuffer<std::int64_t>(rows);
    left_[s] = ZeroedBuffer<std::int64_t>(rows);
  }
  totals_ = ZeroedBuffer<std::int64_t>(classes > 0 ? static_cast<std::size_t>(classes) : 0);
  std::int32_t largest = 0;
  for (std::int32_t k = 1; k <= classes; ++k) {
    const std::int32_t a = ranges.first.Get(k);
    const std::int32_t b = ranges.last.Get(k);
    if (b < a) continue;
    Segment seg{a - 1, b - a + 1, k, {}};
    largest = std::max(largest, seg.size);
    for (int s = 0; s < kStatistics; ++s) {
      const float* obs = Values(observed_, s);
      auto begin = order_[s].begin() + seg.first;
      auto end = begin + seg.size;
      for (std::int32_t i = 0; i < seg.size; ++i) begin[i] = seg.first + i;
      // NaN compares with nothing: those rows are set apart, then the rest is
      // ordered by value (equal values in any order; they count alike).
      auto nan_begin = std::stable_partition(
          begin, end, [obs](std::int32_t r) { return !std::isnan(obs[r]); });
      std::sort(begin, nan_begin,
                [obs](std::int32_t x, std::int32_t y) { return obs[x] < obs[y]; });
      seg.ordered[s] = static_cast<std::int32_t>(nan_begin - begin);
    }
    segments_.push_back(seg);
  }
  sorted_run_ = ZeroedBuffer<float>(static_cast<std::size_t>(largest));
}

void ExceedanceCounter::CountSegment(const Segment& seg, int statistic, const float* run) {
  // The class's run values without NaN, ascending; +0 and -0 are equivalent
  // under <, as they are equal under >= and <=.
  std::size_t m = 0;
  for (std::int32_t v = seg.first; v < seg.first + seg.size; ++v) {
    const float x = run[v];
    if (!std::isnan(x)) sorted_run_[m++] = x;
  }
  std::sort(sorted_run_.begin(), sorted_run_.begin() + static_cast<std::ptrdiff_t>(m));
  const float* obs = Values(observed_, statistic);
  const std::int32_t* rows = order_[statistic].data() + seg.first;
  std::int64_t* right = right_[statistic].data();
  std::int64_t* left = left_[statistic].data();
  // With the observed values ascending, the number of run values below an
  // observed value (`below`) and at most equal to it (`up_to`) only grow.
  std::size_t below = 0;
  std::size_t up_to = 0;
  for (std::int32_t n = 0; n < seg.ordered[statistic]; ++n) {
    const std::int32_t r = rows[n];
    const float x = obs[r];
    while (below < m && sorted_run_[below] < x) ++below;
    if (up_to < below) up_to = below;
    while (up_to < m && sorted_run_[up_to] <= x) ++up_to;
    right[r] += static_cast<std::int64_t>(m - below);
    left[r] += static_cast<std::int64_t>(up_to);
  }
}

void ExceedanceCounter::CountRun(const Statistics& run) {
  for (const Segment& seg : segments_) {
    for (int s = 0; s < kStatistics; ++s) CountSegment(seg, s, Values(run, s));
    totals_[static_cast<std::size_t>(seg.k - 1)] += seg.size;
  }
}

std::int64_t ExceedanceCounter::total(std::int32_t k) const {
  return totals_[static_cast<std::size_t>(k - 1)];
}

PValues ExceedanceCounter::Finish() const {
  PValues p;
  for (int s = 0; s < kStatistics; ++s) {
    p.right[s] = RowArray<double>(probes_);
    p.left[s] = RowArray<double>(probes_);
  }
  for (const Segment& seg : segments_) {
    // No guard against a total of 0 (no run): 0 / 0 is NaN, by intent.
    const auto total = static_cast<double>(totals_[static_cast<std::size_t>(seg.k - 1)]);
    for (std::int32_t r = seg.first; r < seg.first + seg.size; ++r) {
      const auto i = static_cast<std::size_t>(r);
      for (int s = 0; s < kStatistics; ++s) {
        p.right[s].span()[i] = static_cast<double>(right_[s][i]) / total;
        p.left[s].span()[i] = static_cast<double>(left_[s][i]) / total;
      }
    }
  }
  return p;
}

}  // namespace korvelan::engine
