#include "engine/counting.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace korvelan::engine {

namespace {

const float* Values(const Statistics& s, int statistic) {
  switch (statistic) {
    case kRmean: return s.rmean.data();
    case kRwmean: return s.rwmean.data();
    default: return s.q.data();
  }
}

// Marks the end of a segment's sorted run keys: above every key.
constexpr std::uint32_t kEndMarker = 0xFFFFFFFFu;

// Below this many keys a comparison sort beats clearing the histograms.
constexpr std::size_t kRadixThreshold = 384;

// Work per task of a run: rows per first-stage task (small classes are
// gathered up to it), distinct observed values per merge piece (a class
// with more is merged in pieces of this size in the second stage).
constexpr std::int32_t kSortGrain = 4096;
constexpr std::int32_t kMergeGrain = 8192;

}  // namespace

std::uint32_t OrderKey(float x) {
  // Adding +0 turns -0 into +0 and leaves every other value alone.
  const auto b = std::bit_cast<std::uint32_t>(x + 0.0f);
  // Negative values: all bits flipped (larger magnitude, smaller key);
  // positive ones: the sign bit set, above every negative.
  const auto negative = static_cast<std::uint32_t>(static_cast<std::int32_t>(b) >> 31);
  return b ^ (negative | 0x80000000u);
}

const std::uint32_t* SortKeys(std::uint32_t* keys, std::uint32_t* scratch, std::size_t n) {
  if (n < kRadixThreshold) {
    std::sort(keys, keys + n);
    return keys;
  }
  constexpr int kPasses = 3;
  constexpr int kShift[kPasses] = {0, 11, 22};
  constexpr std::uint32_t kMask[kPasses] = {0x7FF, 0x7FF, 0x3FF};
  std::uint32_t count[kPasses][2048] = {};
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t k = keys[i];
    ++count[0][k & 0x7FF];
    ++count[1][(k >> 11) & 0x7FF];
    ++count[2][k >> 22];
  }
  std::uint32_t* src = keys;
  std::uint32_t* dst = scratch;
  for (int pass = 0; pass < kPasses; ++pass) {
    std::uint32_t* c = count[pass];
    const int shift = kShift[pass];
    const std::uint32_t mask = kMask[pass];
    if (c[(src[0] >> shift) & mask] == n) continue;  // one digit for all
    std::uint32_t offset = 0;
    for (std::uint32_t d = 0; d <= mask; ++d) {
      const std::uint32_t here = c[d];
      c[d] = offset;
      offset += here;
    }
    // Stable scatter: equal digits keep the order of the previous pass.
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t k = src[i];
      dst[c[(k >> shift) & mask]++] = k;
    }
    std::swap(src, dst);
  }
  return src;
}

ExceedanceCounter::ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges,
                                     std::int32_t classes, std::int32_t probes)
    : probes_(probes > 0 ? probes : 0) {
  const auto rows = static_cast<std::size_t>(probes_);
  totals_ = ZeroedBuffer<std::int64_t>(classes > 0 ? static_cast<std::size_t>(classes) : 0);
  // Classes come from M down to 1, which is ascending rows.
  for (std::int32_t k = classes; k >= 1; --k) {
    const std::int32_t a = ranges.first.Get(k);
    const std::int32_t b = ranges.last.Get(k);
    if (b < a) continue;
    segments_.push_back(Segment{a - 1, b - a + 1, k, {}, {}});
  }
  std::int32_t largest = 0;
  for (const Segment& seg : segments_) largest = std::max(largest, seg.size);
  std::vector<std::pair<std::uint32_t, std::int32_t>> sorted =
      ZeroedBuffer<std::pair<std::uint32_t, std::int32_t>>(static_cast<std::size_t>(largest));
  const std::size_t run_room = rows + segments_.size();
  for (int s = 0; s < kStatistics; ++s) {
    const float* obs = Values(observed, s);
    group_of_row_[s] = ZeroedBuffer<std::int32_t>(rows);
    std::fill(group_of_row_[s].begin(), group_of_row_[s].end(), -1);
    std::vector<std::uint32_t> keys = ZeroedBuffer<std::uint32_t>(rows);
    std::size_t nkeys = 0;
    for (Segment& seg : segments_) {
      // NaN compares with nothing: those rows get no group (count 0).
      std::size_t n = 0;
      for (std::int32_t r = seg.first; r < seg.first + seg.size; ++r) {
        if (!std::isnan(obs[r])) sorted[n++] = {OrderKey(obs[r]), r};
      }
      std::sort(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n));
      seg.group_first[s] = static_cast<std::int32_t>(nkeys);
      for (std::size_t i = 0; i < n; ++i) {
        if (i == 0 || sorted[i].first != sorted[i - 1].first) keys[nkeys++] = sorted[i].first;
        group_of_row_[s][static_cast<std::size_t>(sorted[i].second)] =
            static_cast<std::int32_t>(nkeys - 1);
      }
      seg.groups[s] = static_cast<std::int32_t>(nkeys) - seg.group_first[s];
    }
    // Only as much as the distinct values need.
    keys_[s] = ZeroedBuffer<std::uint32_t>(nkeys);
    std::copy_n(keys.begin(), nkeys, keys_[s].begin());
    right_[s] = ZeroedBuffer<std::int64_t>(nkeys);
    left_[s] = ZeroedBuffer<std::int64_t>(nkeys);
    run_keys_[s] = ZeroedBuffer<std::uint32_t>(run_room);
    scratch_[s] = ZeroedBuffer<std::uint32_t>(run_room);
    sorted_in_second_[s] = ZeroedBuffer<std::uint8_t>(segments_.size());
    run_count_[s] = ZeroedBuffer<std::int32_t>(segments_.size());
  }
  BuildItems();
}

void ExceedanceCounter::BuildItems() {
  const auto nseg = static_cast<std::int32_t>(segments_.size());
  for (int s = 0; s < kStatistics; ++s) {
    // Sorts: whole segments, small ones gathered up to the grain.
    for (std::int32_t a = 0; a < nseg;) {
      std::int32_t b = a;
      std::int32_t rows = 0;
      while (b < nseg && (b == a || rows < kSortGrain)) rows += segments_[static_cast<std::size_t>(b++)].size;
      sort_items_.push_back(Item{s, a, b, 0, 0});
      a = b;
    }
    // Merges of their own: the chunks of a large segment's groups.
    for (std::int32_t a = 0; a < nseg; ++a) {
      const Segment& seg = segments_[static_cast<std::size_t>(a)];
      if (seg.groups[s] <= kMergeGrain) continue;
      const std::int32_t end = seg.group_first[s] + seg.groups[s];
      for (std::int32_t g = seg.group_first[s]; g < end; g += kMergeGrain) {
        merge_items_.push_back(Item{s, a, a + 1, g, std::min(end, g + kMergeGrain)});
      }
    }
  }
}

void ExceedanceCounter::SortSegment(std::size_t index, int statistic, const float* run) {
  const Segment& seg = segments_[index];
  const std::size_t base = static_cast<std::size_t>(seg.first) + index;
  std::uint32_t* keys = run_keys_[statistic].data() + base;
  std::uint32_t* scratch = scratch_[statistic].data() + base;
  // The class's run values without NaN, as keys.
  std::size_t m = 0;
  for (std::int32_t v = seg.first; v < seg.first + seg.size; ++v) {
    const float x = run[v];
    keys[m] = OrderKey(x);
    m += std::isnan(x) ? 0 : 1;
  }
  const std::uint32_t* sorted = SortKeys(keys, scratch, m);
  const bool second = sorted == scratch;
  (second ? scratch : keys)[m] = kEndMarker;
  sorted_in_second_[statistic][index] = second ? 1 : 0;
  run_count_[statistic][index] = static_cast<std::int32_t>(m);
}

void ExceedanceCounter::MergeItem(const Item& item) {
  const int s = item.statistic;
  const std::uint32_t* keys = keys_[s].data();
  std::int64_t* right = right_[s].data();
  std::int64_t* left = left_[s].data();
  for (std::int32_t i = item.seg_begin; i < item.seg_end; ++i) {
    const auto index = static_cast<std::size_t>(i);
    const Segment& seg = segments_[index];
    const std::int32_t g0 = std::max(item.group_begin, seg.group_first[s]);
    const std::int32_t g1 = std::min(item.group_end, seg.group_first[s] + seg.groups[s]);
    if (g1 <= g0) continue;
    const std::size_t base = static_cast<std::size_t>(seg.first) + index;
    const std::uint32_t* run =
        (sorted_in_second_[s][index] ? scratch_[s].data() : run_keys_[s].data()) + base;
    const auto m = static_cast<std::size_t>(run_count_[s][index]);
    // Run keys below the first observed key of this piece.
    std::size_t below = g0 == seg.group_first[s]
                            ? 0
                            : static_cast<std::size_t>(
                                  std::lower_bound(run, run + m, keys[g0]) - run);
    // With the observed keys ascending and distinct, the run keys at most
    // one observed key are all below the next, so each search starts where
    // the last one ended.
    for (std::int32_t g = g0; g < g1; ++g) {
      const std::uint32_t x = keys[g];
      while (run[below] < x) ++below;  // the end marker stops it
      std::size_t up_to = below;
      while (run[up_to] == x) ++up_to;
      right[g] += static_cast<std::int64_t>(m - below);
      left[g] += static_cast<std::int64_t>(up_to);
      below = up_to;
    }
  }
}

void ExceedanceCounter::FirstStage(std::size_t task, const Statistics& run) {
  const Item& item = sort_items_[task];
  const int s = item.statistic;
  const float* values = Values(run, s);
  for (std::int32_t i = item.seg_begin; i < item.seg_end; ++i) {
    const Segment& seg = segments_[static_cast<std::size_t>(i)];
    SortSegment(static_cast<std::size_t>(i), s, values);
    if (seg.groups[s] <= kMergeGrain) {
      MergeItem(Item{s, i, i + 1, seg.group_first[s], seg.group_first[s] + seg.groups[s]});
    }
  }
}

void ExceedanceCounter::EndRun() {
  for (const Segment& seg : segments_) totals_[static_cast<std::size_t>(seg.k - 1)] += seg.size;
}

void ExceedanceCounter::CountRun(const Statistics& run, WorkerPool& pool) {
  pool.ForEach(FirstStageTasks(), [&](std::size_t i, unsigned) { FirstStage(i, run); });
  pool.ForEach(SecondStageTasks(), [&](std::size_t i, unsigned) { SecondStage(i); });
  EndRun();
}

void ExceedanceCounter::CountRun(const Statistics& run) {
  WorkerPool one(1);
  CountRun(run, one);
}

std::int32_t ExceedanceCounter::SegmentOf(std::int32_t r) const {
  auto it = std::upper_bound(segments_.begin(), segments_.end(), r,
                             [](std::int32_t row, const Segment& seg) { return row < seg.first; });
  if (it == segments_.begin()) return -1;
  --it;
  return r < it->first + it->size ? static_cast<std::int32_t>(it - segments_.begin()) : -1;
}

std::int64_t ExceedanceCounter::right(int statistic, std::int32_t row) const {
  const std::int32_t g = group_of_row_[statistic][static_cast<std::size_t>(row - 1)];
  return g < 0 ? 0 : right_[statistic][static_cast<std::size_t>(g)];
}

std::int64_t ExceedanceCounter::left(int statistic, std::int32_t row) const {
  const std::int32_t g = group_of_row_[statistic][static_cast<std::size_t>(row - 1)];
  return g < 0 ? 0 : left_[statistic][static_cast<std::size_t>(g)];
}

std::int64_t ExceedanceCounter::total(std::int32_t k) const {
  return totals_[static_cast<std::size_t>(k - 1)];
}

double ExceedanceCounter::PValue(int statistic, bool right_side, std::int32_t row) const {
  const std::int32_t seg = SegmentOf(row - 1);
  if (seg < 0) return 0.0;
  const std::int32_t k = segments_[static_cast<std::size_t>(seg)].k;
  // No guard against a total of 0 (no run): 0 / 0 is NaN, by intent.
  const auto total = static_cast<double>(totals_[static_cast<std::size_t>(k - 1)]);
  const std::int64_t count = right_side ? right(statistic, row) : left(statistic, row);
  return static_cast<double>(count) / total;
}

PValues ExceedanceCounter::Finish() const {
  PValues p;
  for (int s = 0; s < kStatistics; ++s) {
    p.right[s] = RowArray<double>(probes_);
    p.left[s] = RowArray<double>(probes_);
    for (std::int32_t row = 1; row <= probes_; ++row) {
      p.right[s].span()[static_cast<std::size_t>(row - 1)] = PValue(s, true, row);
      p.left[s].span()[static_cast<std::size_t>(row - 1)] = PValue(s, false, row);
    }
  }
  return p;
}

}  // namespace korvelan::engine
