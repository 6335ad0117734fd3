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

// After a class's distinct observed keys: above every key, so that every
// search along them stops there.
constexpr std::uint32_t kEndMarker = 0xFFFFFFFFu;

// Below this many keys a comparison sort beats clearing the histograms.
constexpr std::size_t kRadixThreshold = 384;

// Classes with at most this many distinct observed values compare each run
// value with all of them instead of using a bucket table.
constexpr std::int32_t kDirectGroups = 8;

// The bucket table: the key range of a class is cut into cells of equal
// key width (about kGroupsPerCell groups each on average), and each cell
// into a power of two of buckets, at least as many as the groups it holds,
// so that a bucket rarely holds more than two groups however unevenly the
// values spread over the key range.
constexpr std::int32_t kGroupsPerCell = 4;
constexpr std::int32_t kMaxCells = 4096;

// Classes with more distinct observed values than this sort their run
// values instead: their tables would be visited at random beyond the
// caches, which costs more than a radix sort that streams.
constexpr std::int32_t kSortingGroups = 32768;

// Work per task of a run: rows per first-stage task (small classes are
// gathered up to it); a class with more than kPartRows values is counted
// in parts of about that size, at most kMaxParts (each part has a
// histogram of its own, 8 bytes per distinct observed value).
constexpr std::int32_t kSortGrain = 4096;
constexpr std::int32_t kPartRows = 32768;
constexpr std::int32_t kMaxParts = 4;

// The bucket of a key: d = key - low key, kept within 0 .. span; cell d >>
// cell_shift; within the cell, the cell's first bucket + (the bits of d
// below the cell) >> the cell's own shift. cells[] holds (first bucket,
// shift) pairs. It never decreases as the key grows, which is all the table
// needs: the groups in buckets before a key's bucket are below it, those
// in buckets after it above.
struct Buckets {
  std::uint32_t low_key;
  std::uint32_t span;
  int cell_shift;
  std::uint32_t within_mask;  // the bits of d below the cell
  const std::uint32_t* cells;
  std::uint32_t operator()(std::uint32_t k) const {
    std::uint32_t d = (k - low_key) & (0u - static_cast<std::uint32_t>(k >= low_key));
    d = std::min(d, span);
    const std::uint32_t* c = cells + 2 * (d >> cell_shift);
    return c[0] + ((d & within_mask) >> c[1]);
  }
};

// Adds values x[0 .. n) to hist (2 G + 2 slots), each compared with every
// distinct observed key. A NaN is looked up as 0 and then sent to its own
// slot, so the loop has no branch on it.
void AddDirect(const float* x, std::int32_t n, const std::uint32_t* keys, std::uint32_t groups,
               std::uint32_t* hist) {
  const std::uint32_t nan_slot = 2 * groups + 1;
  for (std::int32_t i = 0; i < n; ++i) {
    float v = x[i];
    const bool nan = std::isnan(v);
    v = nan ? 0.0f : v;
    const std::uint32_t k = OrderKey(v);
    std::uint32_t g = 0;
    for (std::uint32_t j = 0; j < groups; ++j) g += keys[j] < k ? 1u : 0u;
    const std::uint32_t slot = 2 * g + (keys[g] == k ? 1u : 0u);
    ++hist[nan ? nan_slot : slot];
  }
}

// The group of a non-NaN key through the bucket table (bucket b may hold
// groups table[b] .. table[b + 1]), and whether the key equals the
// group's key, as a histogram slot.
inline std::uint32_t SlotOf(std::uint32_t k, const std::uint32_t* keys, std::uint32_t groups,
                            const Buckets& buckets, const std::int32_t* table) {
  auto g = static_cast<std::uint32_t>(table[buckets(k)]);
  // The group starting the next bucket is at least k (the end marker
  // closes the last), so the answer is at most that group. The next three
  // keys are loaded at once (the keys array has room for two beyond the
  // last end marker; what lies after a marker never counts, as the marker
  // is at least k).
  const std::uint32_t a = keys[g], b = keys[g + 1], c = keys[g + 2];
  const bool past_a = a < k;
  const bool past_b = past_a && b < k;
  std::uint32_t at = past_b ? c : past_a ? b : a;
  g += (past_a ? 1u : 0u) + (past_b ? 1u : 0u);
  if (at < k) [[unlikely]] {
    g = static_cast<std::uint32_t>(std::lower_bound(keys + g, keys + groups, k) - keys);
    at = keys[g];
  }
  return 2 * g + (at == k ? 1u : 0u);
}

// Adds values x[0 .. n) to hist through the bucket table. Without NaN
// among the values the loop needs no care for them (a test over the values
// first is far cheaper than the care).
template <bool kMayHoldNaN>
void AddByTable(const float* x, std::int32_t n, const std::uint32_t* keys, std::uint32_t groups,
                const Buckets& buckets, const std::int32_t* table, std::uint32_t* hist) {
  const std::uint32_t nan_slot = 2 * groups + 1;
  for (std::int32_t i = 0; i < n; ++i) {
    float v = x[i];
    bool nan = false;
    if constexpr (kMayHoldNaN) {
      nan = std::isnan(v);
      v = nan ? 0.0f : v;
    }
    const std::uint32_t slot = SlotOf(OrderKey(v), keys, groups, buckets, table);
    if constexpr (kMayHoldNaN) {
      ++hist[nan ? nan_slot : slot];
    } else {
      ++hist[slot];
    }
  }
}

// For a class whose table, keys and histogram would be too large for the
// caches when visited at random: the run keys without NaN, sorted (radix
// sort, in `scratch`, 2 n + 2 entries), with the end marker after them.
// Every access is sequential.
const std::uint32_t* SortedRunKeys(const float* x, std::int32_t n, std::uint32_t* scratch,
                                   std::size_t& m) {
  std::uint32_t* in = scratch;
  std::uint32_t* room = scratch + n + 1;
  m = 0;
  for (std::int32_t i = 0; i < n; ++i) {
    const float v = x[i];
    in[m] = OrderKey(v);
    m += std::isnan(v) ? 0 : 1;
  }
  std::uint32_t* run = SortKeys(in, room, m) == in ? in : room;
  run[m] = kEndMarker;  // no run key is the marker: it stops every walk
  return run;
}

bool AnyNaN(const float* x, std::int32_t n) {
  // Counted rather than searched, so that the loop has no exit to take.
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < n; ++i) count += std::isnan(x[i]) ? 1 : 0;
  return count != 0;
}

std::uint32_t CeilPow2(std::uint32_t n) { return n <= 1 ? 1 : std::bit_ceil(n); }

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
    const std::int32_t size = b - a + 1;
    const std::int32_t parts = std::clamp(size / kPartRows, 1, kMaxParts);
    segments_.push_back(Segment{a - 1, size, k, parts, {}, {}, {}, {}});
  }
  std::int32_t largest = 0;
  for (const Segment& seg : segments_) largest = std::max(largest, seg.size);
  std::vector<std::pair<std::uint32_t, std::int32_t>> sorted =
      ZeroedBuffer<std::pair<std::uint32_t, std::int32_t>>(static_cast<std::size_t>(largest));
  for (int s = 0; s < kStatistics; ++s) {
    const float* obs = Values(observed, s);
    group_of_row_[s] = ZeroedBuffer<std::int32_t>(rows);
    std::fill(group_of_row_[s].begin(), group_of_row_[s].end(), -1);
    std::vector<std::uint32_t> keys = ZeroedBuffer<std::uint32_t>(rows + segments_.size());
    std::size_t nkeys = 0;
    std::int64_t extra = 0;
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
      keys[nkeys++] = kEndMarker;
      seg.extra_first[s] = extra;
      extra += static_cast<std::int64_t>(PartsOf(seg, s) - 1) * (2 * seg.groups[s] + 2);
    }
    // Only as much as the distinct values need.
    keys_[s] = ZeroedBuffer<std::uint32_t>(nkeys + 2);
    std::copy_n(keys.begin(), nkeys, keys_[s].begin());
    right_[s] = ZeroedBuffer<std::int64_t>(nkeys);
    left_[s] = ZeroedBuffer<std::int64_t>(nkeys);
    hist_[s] = ZeroedBuffer<std::uint32_t>(2 * nkeys);
    extra_hist_[s] = ZeroedBuffer<std::uint32_t>(static_cast<std::size_t>(extra));
    for (Segment& seg : segments_) BuildLayout(seg, s);
  }
  BuildItems();
}

void ExceedanceCounter::BuildLayout(Segment& seg, int s) {
  seg.layout[s] = -1;
  const std::int32_t groups = seg.groups[s];
  if (groups <= kDirectGroups || groups > kSortingGroups) return;
  const std::uint32_t* keys = keys_[s].data() + seg.group_first[s];
  // The cells span the keys without the outermost few (an infinity or a
  // lone far value would otherwise squeeze all the others into one cell);
  // keys beyond go to the first or the last cell, whose end buckets then
  // hold those few groups.
  const std::int32_t trim = groups / 512;
  Layout l{};
  l.low_key = keys[trim];
  l.span = keys[groups - 1 - trim] - l.low_key;
  const auto cells = static_cast<std::uint32_t>(std::clamp(groups / kGroupsPerCell, 2, kMaxCells));
  // At least 2 cells: the shift stays below 32.
  while ((l.span >> l.cell_shift) >= cells) ++l.cell_shift;
  const std::uint32_t ncells = (l.span >> l.cell_shift) + 1;
  l.within_mask = l.cell_shift == 0 ? 0 : (std::uint32_t{1} << (l.cell_shift - 1) << 1) - 1;
  // Groups per cell, then each cell's buckets: a power of two of at least
  // its groups, but no finer than one key per bucket.
  std::vector<std::uint32_t> per_cell(ncells, 0);
  const auto cell_of = [&l](std::uint32_t k) {
    std::uint32_t d = k >= l.low_key ? k - l.low_key : 0;
    return (d < l.span ? d : l.span) >> l.cell_shift;
  };
  for (std::int32_t g = 0; g < groups; ++g) ++per_cell[cell_of(keys[g])];
  std::vector<std::uint32_t>& cell_table = cells_[s];
  l.cells_first = static_cast<std::int64_t>(cell_table.size());
  std::uint32_t buckets = 0;
  for (std::uint32_t c = 0; c < ncells; ++c) {
    const std::uint32_t want = CeilPow2(per_cell[c]);
    // The cell is 2^cell_shift keys wide: a shift of cell_shift - log2(want)
    // gives `want` buckets.
    const int fine = std::bit_width(want) - 1;
    const int shift = fine >= l.cell_shift ? 0 : l.cell_shift - fine;
    cell_table.push_back(buckets);
    cell_table.push_back(static_cast<std::uint32_t>(shift));
    buckets += std::uint32_t{1} << (l.cell_shift - shift);
  }
  l.buckets = buckets;
  // table[b] = the first group whose bucket is at least b (b >= 1),
  // table[0] = 0 (keys below the cells land in bucket 0), table[buckets] =
  // groups.
  std::vector<std::int32_t>& tables = tables_[s];
  l.table_first = static_cast<std::int64_t>(tables.size());
  tables.resize(tables.size() + buckets + 1);
  std::int32_t* table = tables.data() + l.table_first;
  const Buckets f{l.low_key, l.span, l.cell_shift, l.within_mask,
                  cell_table.data() + l.cells_first};
  table[0] = 0;
  std::uint32_t next = 1;
  for (std::int32_t g = 0; g < groups; ++g) {
    const std::uint32_t b = f(keys[g]);
    while (next <= b) table[next++] = g;
  }
  while (next <= buckets) table[next++] = groups;
  seg.layout[s] = static_cast<std::int32_t>(layouts_[s].size());
  layouts_[s].push_back(l);
}

void ExceedanceCounter::BuildItems() {
  const auto nseg = static_cast<std::int32_t>(segments_.size());
  for (int s = 0; s < kStatistics; ++s) {
    std::int64_t scratch = 0;
    const auto own = [&](std::int32_t a, std::int32_t part, std::int32_t rows) {
      const bool sorted = Sorted(segments_[static_cast<std::size_t>(a)], s);
      sort_items_.push_back(Item{s, a, a + 1, part, sorted ? scratch : -1});
      if (sorted) scratch += 2 * static_cast<std::int64_t>(rows) + 2;
    };
    for (std::int32_t a = 0; a < nseg;) {
      const Segment& seg = segments_[static_cast<std::size_t>(a)];
      if (seg.groups[s] == 0) {  // nothing to count
        ++a;
        continue;
      }
      if (PartsOf(seg, s) > 1) {
        for (std::int32_t part = 0; part < seg.parts; ++part) {
          own(a, part, seg.size / seg.parts + 1);
        }
        merge_items_.push_back(Item{s, a, a + 1, -1, -1});
        ++a;
        continue;
      }
      if (Sorted(seg, s)) {
        own(a, -1, seg.size);
        ++a;
        continue;
      }
      // Whole segments, small ones gathered up to the grain.
      std::int32_t b = a;
      std::int32_t rows = 0;
      while (b < nseg && (b == a || rows < kSortGrain)) {
        const Segment& next = segments_[static_cast<std::size_t>(b)];
        if (b > a && (PartsOf(next, s) > 1 || Sorted(next, s))) break;
        rows += next.size;
        ++b;
      }
      sort_items_.push_back(Item{s, a, b, -1, -1});
      a = b;
    }
    scratch_[s] = ZeroedBuffer<std::uint32_t>(static_cast<std::size_t>(scratch));
  }
}

bool ExceedanceCounter::Sorted(const Segment& seg, int s) const {
  return seg.groups[s] > kSortingGroups;
}

std::int32_t ExceedanceCounter::PartsOf(const Segment& seg, int s) const {
  // Each part of a sorted class would merge with all its groups.
  return Sorted(seg, s) ? 1 : seg.parts;
}

void ExceedanceCounter::Histogram(const Segment& seg, int s, const float* run, std::int32_t r0,
                                  std::int32_t r1, std::uint32_t* hist) const {
  const std::uint32_t* keys = keys_[s].data() + seg.group_first[s];
  const auto groups = static_cast<std::uint32_t>(seg.groups[s]);
  if (seg.layout[s] < 0) {
    AddDirect(run + r0, r1 - r0, keys, groups, hist);
    return;
  }
  const Layout& l = layouts_[s][static_cast<std::size_t>(seg.layout[s])];
  const Buckets buckets{l.low_key, l.span, l.cell_shift, l.within_mask,
                        cells_[s].data() + l.cells_first};
  const std::int32_t* table = tables_[s].data() + l.table_first;
  if (AnyNaN(run + r0, r1 - r0)) {
    AddByTable<true>(run + r0, r1 - r0, keys, groups, buckets, table, hist);
  } else {
    AddByTable<false>(run + r0, r1 - r0, keys, groups, buckets, table, hist);
  }
}

void ExceedanceCounter::Accumulate(const Segment& seg, int s) {
  const auto gf = static_cast<std::size_t>(seg.group_first[s]);
  const std::int32_t groups = seg.groups[s];
  const std::size_t slots = 2 * static_cast<std::size_t>(groups) + 2;
  std::uint32_t* parts[kMaxParts];
  parts[0] = hist_[s].data() + 2 * gf;
  const std::int32_t nparts = PartsOf(seg, s);
  for (std::int32_t p = 1; p < nparts; ++p) {
    parts[p] = extra_hist_[s].data() + seg.extra_first[s] +
               static_cast<std::ptrdiff_t>(p - 1) * static_cast<std::ptrdiff_t>(slots);
  }
  // The parts first fold into the first (a part holds at most a class's
  // values, so no sum overflows 32 bits).
  std::uint32_t* h = parts[0];
  for (std::int32_t p = 1; p < nparts; ++p) {
    std::uint32_t* q = parts[p];
    for (std::size_t i = 0; i < slots; ++i) h[i] += q[i];
    std::fill(q, q + slots, 0u);
  }
  // Values above every group are only part of `present`.
  const std::int64_t present = seg.size - std::int64_t{h[slots - 1]};  // the NaN slot
  h[slots - 2] = 0;
  h[slots - 1] = 0;
  std::int64_t* right = right_[s].data() + gf;
  std::int64_t* left = left_[s].data() + gf;
  std::int64_t below = 0;  // run values below the current group's key
  for (std::int32_t g = 0; g < groups; ++g) {
    below += h[2 * g];
    const std::int64_t equal = h[2 * g + 1];
    h[2 * g] = 0;
    h[2 * g + 1] = 0;
    right[g] += present - below;
    left[g] += below + equal;
    below += equal;
  }
}

void ExceedanceCounter::SortAndCount(const Segment& seg, int s, const float* run,
                                     std::uint32_t* scratch) {
  std::size_t m = 0;
  const std::uint32_t* sorted = SortedRunKeys(run + seg.first, seg.size, scratch, m);
  const auto gf = static_cast<std::size_t>(seg.group_first[s]);
  const std::uint32_t* keys = keys_[s].data() + gf;
  std::int64_t* right = right_[s].data() + gf;
  std::int64_t* left = left_[s].data() + gf;
  // With the observed keys ascending and distinct, the run keys at most
  // one observed key are all below the next, so each search starts where
  // the last one ended.
  std::size_t below = 0;
  for (std::int32_t g = 0; g < seg.groups[s]; ++g) {
    const std::uint32_t x = keys[g];
    while (sorted[below] < x) ++below;
    std::size_t up_to = below;
    while (sorted[up_to] == x) ++up_to;
    right[g] += static_cast<std::int64_t>(m - below);
    left[g] += static_cast<std::int64_t>(up_to);
    below = up_to;
  }
}

void ExceedanceCounter::MergeItem(const Item& item) {
  Accumulate(segments_[static_cast<std::size_t>(item.seg_begin)], item.statistic);
}

std::uint32_t* ExceedanceCounter::Scratch(const Item& item) {
  return item.scratch_first < 0 ? nullptr : scratch_[item.statistic].data() + item.scratch_first;
}

void ExceedanceCounter::FirstStage(std::size_t task, const Statistics& run) {
  const Item& item = sort_items_[task];
  const int s = item.statistic;
  const float* values = Values(run, s);
  if (item.part >= 0) {
    const Segment& seg = segments_[static_cast<std::size_t>(item.seg_begin)];
    const std::int64_t size = seg.size;
    const auto r0 = seg.first + static_cast<std::int32_t>(size * item.part / seg.parts);
    const auto r1 = seg.first + static_cast<std::int32_t>(size * (item.part + 1) / seg.parts);
    const std::size_t slots = 2 * static_cast<std::size_t>(seg.groups[s]) + 2;
    std::uint32_t* hist =
        item.part == 0
            ? hist_[s].data() + 2 * static_cast<std::size_t>(seg.group_first[s])
            : extra_hist_[s].data() + seg.extra_first[s] +
                  static_cast<std::ptrdiff_t>(item.part - 1) * static_cast<std::ptrdiff_t>(slots);
    Histogram(seg, s, values, r0, r1, hist);
    return;
  }
  for (std::int32_t i = item.seg_begin; i < item.seg_end; ++i) {
    const Segment& seg = segments_[static_cast<std::size_t>(i)];
    if (seg.groups[s] == 0) continue;
    if (Sorted(seg, s)) {
      SortAndCount(seg, s, values, Scratch(item));
      continue;
    }
    Histogram(seg, s, values, seg.first, seg.first + seg.size,
              hist_[s].data() + 2 * static_cast<std::size_t>(seg.group_first[s]));
    Accumulate(seg, s);
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
