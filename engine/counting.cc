#include "engine/counting.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>
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

// Buckets per distinct observed value. With the groups spread evenly, a
// bucket holds a Poisson number of groups of mean 1/2: more than three
// (the slow path; five or more in the starts layout) in about 0.2 % of
// the buckets. Where the values crowd
// (the middle of a bell), a bucket holds more, and the next doubling of
// the table measured slower: it no longer stays in the caches beside the
// run's other data.
constexpr std::int32_t kBucketsPerGroup = 2;

// Classes with more distinct values than this keep the compact layout of
// their bucket table (4 bytes per bucket, 12 per distinct value with the
// values, against 32): read from the shared cache, the smaller table is
// as fast, and the largest workload's tables would otherwise add 36 MB.
constexpr std::int32_t kCompactGroups = 32768;

// Work per task of a run: rows per task (small classes are gathered up to
// it); a class of at least 2 kPartRows values is counted in parts of at
// least that size, at most kMaxParts and one per thread (each part has a
// histogram of its own, 8 bytes per distinct observed value).
constexpr std::int32_t kTaskGrain = 4096;
constexpr std::int32_t kPartRows = 32768;
constexpr std::int32_t kMaxParts = 4;

// A group whose observed value at least this fraction (1 / kFrequentShare)
// of a class's rows share is counted apart from the bucket table: the run
// values then mostly equal it too (top-k lists over a universe, where some
// nine in ten genes sit at "below" in every study). Below that share the
// set-aside step costs more than the lookups it saves.
constexpr std::size_t kFrequentShare = 4;

// The float whose order key is k (for the key of the zeros, +0).
float KeyValue(std::uint32_t k) {
  const std::uint32_t b = (k & 0x80000000u) != 0 ? k ^ 0x80000000u : ~k;
  return std::bit_cast<float>(b);
}

// Sorts v[0 .. n) by the 32 bits of each entry from bit `low` on (least
// significant digit first: three stable passes of 11, 11 and 10 bits, a
// pass skipped when all entries share its digit; short arrays by a
// comparison sort of the whole entries), using room[0 .. n); returns
// whichever of the two holds the result.
template <typename T>
const T* RadixSort(T* v, T* room, std::size_t n, int low) {
  if (n < kRadixThreshold) {
    std::sort(v, v + n);
    return v;
  }
  static constexpr int kPasses = 3;
  static constexpr int kShift[kPasses] = {0, 11, 22};
  static constexpr std::uint32_t kMask[kPasses] = {0x7FF, 0x7FF, 0x3FF};
  std::vector<std::uint32_t> count = ZeroedBuffer<std::uint32_t>(kPasses * 2048);
  const auto digit = [low](T k, int pass) {
    return static_cast<std::uint32_t>(k >> (low + kShift[pass])) & kMask[pass];
  };
  for (std::size_t i = 0; i < n; ++i) {
    for (int pass = 0; pass < kPasses; ++pass) ++count[2048 * pass + digit(v[i], pass)];
  }
  T* src = v;
  T* dst = room;
  for (int pass = 0; pass < kPasses; ++pass) {
    std::uint32_t* c = count.data() + 2048 * pass;
    if (c[digit(src[0], pass)] == n) continue;  // one digit for all
    std::uint32_t offset = 0;
    for (std::uint32_t d = 0; d <= kMask[pass]; ++d) {
      const std::uint32_t here = c[d];
      c[d] = offset;
      offset += here;
    }
    // Stable scatter: equal digits keep the order of the previous pass.
    for (std::size_t i = 0; i < n; ++i) {
      const T k = src[i];
      dst[c[digit(k, pass)]++] = k;
    }
    std::swap(src, dst);
  }
  return src;
}

}  // namespace

// The passes are stable and the rows come in ascending, so rows stay
// ascending among equal keys, as a full sort would leave them.
const std::uint64_t* SortKeyedRows(std::uint64_t* v, std::uint64_t* room, std::size_t n) {
  return RadixSort(v, room, n, 32);
}

ExceedanceCounter::ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges,
                                     std::int32_t classes, std::int32_t probes, WorkerPool* pool,
                                     bool runs_follow)
    : probes_(probes > 0 ? probes : 0) {
  totals_ = ZeroedBuffer<std::int64_t>(classes > 0 ? static_cast<std::size_t>(classes) : 0);
  const auto threads = static_cast<std::int32_t>(
      std::min<unsigned>(pool != nullptr ? pool->size() : 1u, static_cast<unsigned>(kMaxParts)));
  // Classes come from M down to 1, which is ascending rows.
  for (std::int32_t k = classes; k >= 1; --k) {
    const std::int32_t a = ranges.first.Get(k);
    const std::int32_t b = ranges.last.Get(k);
    if (b < a) continue;
    const std::int32_t size = b - a + 1;
    // More parts than threads would only spread a run's values over more
    // histograms (and the caches).
    const std::int32_t parts = std::clamp(std::min(size / kPartRows, threads), 1, kMaxParts);
    segments_.push_back(Segment{a - 1, size, k, parts, 0, {}, {}, {}, {}, {}});
  }
  if (!runs_follow) return;
  // The statistics touch disjoint members (a segment's per-statistic
  // entries are distinct objects).
  if (pool != nullptr) {
    pool->ForEach(kStatistics, [&](std::size_t s, unsigned) {
      BuildStatistic(static_cast<int>(s), Values(observed, static_cast<int>(s)));
    });
  } else {
    for (int s = 0; s < kStatistics; ++s) BuildStatistic(s, Values(observed, s));
  }
  BuildItems();
  prepared_ = true;
}

void ExceedanceCounter::BuildStatistic(int s, const float* obs) {
  const auto rows = static_cast<std::size_t>(probes_);
  std::int32_t largest = 0;
  for (const Segment& seg : segments_) largest = std::max(largest, seg.size);
  // (key, row) pairs as key * 2^32 + row: sorted, they are in the order of
  // the keys, and of the rows among equal keys.
  const auto most = static_cast<std::size_t>(largest);
  std::vector<std::uint64_t> sorted = ZeroedBuffer<std::uint64_t>(most);
  std::vector<std::uint64_t> room = ZeroedBuffer<std::uint64_t>(most);
  group_of_row_[s] = ZeroedBuffer<std::int32_t>(rows);
  std::fill(group_of_row_[s].begin(), group_of_row_[s].end(), -1);
  std::vector<std::uint32_t> keys = ZeroedBuffer<std::uint32_t>(rows + kPadding * segments_.size());
  std::size_t nkeys = 0;
  std::int64_t extra = 0;
  for (Segment& seg : segments_) {
    // NaN compares with nothing: those rows get no group (count 0).
    std::size_t n = 0;
    for (std::int32_t r = seg.first; r < seg.first + seg.size; ++r) {
      if (!std::isnan(obs[r])) {
        sorted[n++] = std::uint64_t{OrderKey(obs[r])} << 32 | static_cast<std::uint32_t>(r);
      }
    }
    const std::uint64_t* in_order = SortKeyedRows(sorted.data(), room.data(), n);
    seg.group_first[s] = static_cast<std::int32_t>(nkeys);
    std::size_t run_start = 0;  // the current group's first entry
    std::size_t largest_run = 0;
    std::int32_t largest_group = -1;
    for (std::size_t i = 0; i < n; ++i) {
      const auto key = static_cast<std::uint32_t>(in_order[i] >> 32);
      if (i == 0 || key != keys[nkeys - 1]) {
        keys[nkeys++] = key;
        run_start = i;
      }
      const auto row = static_cast<std::uint32_t>(in_order[i]);
      group_of_row_[s][row] = static_cast<std::int32_t>(nkeys - 1);
      if (i + 1 - run_start > largest_run) {
        largest_run = i + 1 - run_start;
        largest_group = static_cast<std::int32_t>(nkeys - 1) - seg.group_first[s];
      }
    }
    seg.groups[s] = static_cast<std::int32_t>(nkeys) - seg.group_first[s];
    seg.frequent[s] = largest_run * kFrequentShare >= n ? largest_group : -1;
    for (std::int32_t j = 0; j < kPadding; ++j) keys[nkeys++] = kEndMarker;
    seg.extra_first[s] = extra;
    extra += static_cast<std::int64_t>(seg.parts - 1) * (2 * seg.groups[s] + 2);
  }
  // Only as much as the distinct values need.
  keys_[s] = ZeroedBuffer<std::uint32_t>(nkeys);
  std::copy_n(keys.begin(), nkeys, keys_[s].begin());
  right_[s] = ZeroedBuffer<std::int64_t>(nkeys);
  left_[s] = ZeroedBuffer<std::int64_t>(nkeys);
  hist_[s] = ZeroedBuffer<std::uint32_t>(2 * nkeys);
  extra_hist_[s] = ZeroedBuffer<std::uint32_t>(static_cast<std::size_t>(extra));
  // The tables' room at once: grown class by class, the entries would be
  // copied and, for a moment, held twice.
  std::size_t entries = 0;
  std::size_t starts = 0;
  for (const Segment& seg : segments_) {
    const auto buckets = static_cast<std::size_t>(seg.groups[s]) * kBucketsPerGroup + 1;
    if (seg.groups[s] > kCompactGroups) {
      starts += buckets;
    } else if (seg.groups[s] > kDirectGroups) {
      entries += buckets;
    }
  }
  entries_[s].reserve(entries);
  starts_[s].reserve(starts);
  // The values as floats for the compact tables' lanes (the end markers'
  // are NaN); none when every class keeps the dense layout.
  if (starts > 0) {
    values_[s] = ZeroedBuffer<float>(nkeys);
    for (std::size_t i = 0; i < nkeys; ++i) values_[s][i] = KeyValue(keys[i]);
  }
  for (Segment& seg : segments_) BuildTable(seg, s);
}

void ExceedanceCounter::BuildTable(Segment& seg, int s) {
  seg.table[s] = -1;
  const std::int32_t groups = seg.groups[s];
  if (groups <= kDirectGroups) return;
  const std::uint32_t* keys = keys_[s].data() + seg.group_first[s];
  // The buckets span the values without the outermost few (an infinity or
  // a lone far value would otherwise squeeze all the others into one
  // bucket) and without the infinities; values beyond go to the first or
  // the last bucket, which then hold those few groups. With more than 8
  // distinct values at least 6 finite ones remain, so low < high.
  std::int32_t lo = groups / 512;
  std::int32_t hi = groups - 1 - lo;
  if (std::isinf(KeyValue(keys[lo]))) ++lo;
  if (std::isinf(KeyValue(keys[hi]))) --hi;
  const float low = KeyValue(keys[lo]);
  const float high = KeyValue(keys[hi]);
  const auto buckets = static_cast<std::uint32_t>(groups) * kBucketsPerGroup;
  // The scale in double, then held within the floats (finite, positive: a
  // far too fine scale only sends more values to the last bucket).
  const double scale =
      static_cast<double>(buckets) / (static_cast<double>(high) - static_cast<double>(low));
  const bool compact = groups > kCompactGroups;
  const BucketTable t{
      low, static_cast<float>(std::min(scale, double{std::numeric_limits<float>::max()})),
      static_cast<float>(buckets - 1),
      static_cast<std::int64_t>(compact ? starts_[s].size() : entries_[s].size()), compact};
  // first[b] = the first group whose bucket is at least b.
  std::vector<std::int32_t> first(buckets + 1, groups);
  std::uint32_t next = 0;
  for (std::int32_t g = 0; g < groups; ++g) {
    const std::uint32_t b = BucketOf(KeyValue(keys[g]), t);
    while (next <= b) first[next++] = g;
  }
  seg.table[s] = static_cast<std::int32_t>(tables_[s].size());
  tables_[s].push_back(t);
  // Either layout has one entry more, which closes the last bucket.
  if (compact) {
    starts_[s].insert(starts_[s].end(), first.begin(), first.end());
    return;
  }
  entries_[s].resize(entries_[s].size() + buckets + 1);
  BucketEntry* table = entries_[s].data() + t.entries_first;
  for (std::uint32_t b = 0; b <= buckets; ++b) {
    const std::int32_t a = first[b];
    const std::int32_t n = b < buckets ? first[b + 1] - a : 0;
    BucketEntry& e = table[b];
    e.base = 2 * static_cast<std::uint32_t>(a) + (n > kEntryKeys ? kCrowded : 0u);
    for (std::int32_t j = 0; j < kEntryKeys; ++j) {
      e.x[j] = j < n ? KeyValue(keys[a + j]) : std::numeric_limits<float>::quiet_NaN();
    }
  }
}

void ExceedanceCounter::BuildItems() {
  const auto nseg = static_cast<std::int32_t>(segments_.size());
  for (int s = 0; s < kStatistics; ++s) {
    for (std::int32_t a = 0; a < nseg;) {
      const Segment& seg = segments_[static_cast<std::size_t>(a)];
      if (seg.groups[s] == 0) {  // nothing to count
        ++a;
        continue;
      }
      if (seg.parts > 1) {
        for (std::int32_t part = 0; part < seg.parts; ++part) {
          items_.push_back(Item{s, a, a + 1, part});
        }
        ++a;
        continue;
      }
      // Whole segments, small ones gathered up to the grain.
      std::int32_t b = a;
      std::int32_t rows = 0;
      while (b < nseg && (b == a || rows < kTaskGrain)) {
        const Segment& next = segments_[static_cast<std::size_t>(b)];
        if (b > a && next.parts > 1) break;
        rows += next.size;
        ++b;
      }
      items_.push_back(Item{s, a, b, -1});
      a = b;
    }
  }
}

void ExceedanceCounter::Histogram(const Segment& seg, int s, const float* run, std::int32_t r0,
                                  std::int32_t r1, std::uint32_t* hist) const {
  const std::uint32_t* keys = keys_[s].data() + seg.group_first[s];
  const auto groups = static_cast<std::uint32_t>(seg.groups[s]);
  if (seg.table[s] < 0) {
    AddDirect(run + r0, r1 - r0, keys, groups, hist);
    return;
  }
  const BucketTable& t = tables_[s][static_cast<std::size_t>(seg.table[s])];
  const float* x = run + r0;
  const std::int32_t g = seg.frequent[s];
  FrequentValue frequent{};
  if (g >= 0) frequent = {KeyValue(keys[g]), 2 * static_cast<std::uint32_t>(g) + 1};
  const FrequentValue* f = g >= 0 ? &frequent : nullptr;
  if (t.compact) {
    AddThroughStarts(form_, x, r1 - r0, groups, t, starts_[s].data() + t.entries_first,
                     values_[s].data() + seg.group_first[s], keys, hist, f);
  } else {
    AddThroughEntries(form_, x, r1 - r0, groups, t, entries_[s].data() + t.entries_first, keys,
                      hist, f);
  }
}

void ExceedanceCounter::Accumulate(const Segment& seg, int s) {
  const auto gf = static_cast<std::size_t>(seg.group_first[s]);
  const std::int32_t groups = seg.groups[s];
  const std::size_t slots = 2 * static_cast<std::size_t>(groups) + 2;
  const std::int32_t nparts = seg.parts;
  std::uint32_t* parts[kMaxParts];
  parts[0] = hist_[s].data() + 2 * gf;
  for (std::int32_t p = 1; p < nparts; ++p) {
    parts[p] = extra_hist_[s].data() + seg.extra_first[s] +
               static_cast<std::ptrdiff_t>(p - 1) * static_cast<std::ptrdiff_t>(slots);
  }
  // The parts first fold into the first (together they hold at most the
  // values since the last settling, fewer than 2^32).
  std::uint32_t* h = parts[0];
  for (std::int32_t p = 1; p < nparts; ++p) {
    std::uint32_t* q = parts[p];
    for (std::size_t i = 0; i < slots; ++i) h[i] += q[i];
    std::fill(q, q + slots, 0u);
  }
  // Values above every group are only part of `present`.
  const std::int64_t present =
      static_cast<std::int64_t>(seg.unsettled) - std::int64_t{h[slots - 1]};  // the NaN slot
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

void ExceedanceCounter::CountTask(std::size_t task, const Statistics& run) {
  const Item& item = items_[task];
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
    Histogram(seg, s, values, seg.first, seg.first + seg.size,
              hist_[s].data() + 2 * static_cast<std::size_t>(seg.group_first[s]));
  }
}

void ExceedanceCounter::EndRun() {
  RequirePrepared();
  for (Segment& seg : segments_) {
    totals_[static_cast<std::size_t>(seg.k - 1)] += seg.size;
    seg.unsettled += static_cast<std::uint64_t>(seg.size);
    // A histogram slot holds at most the values added since the last
    // settling: settle before the next run could carry one past 32 bits.
    if (seg.unsettled + static_cast<std::uint64_t>(seg.size) > settle_limit_) Settle(seg);
  }
  settled_ = std::all_of(segments_.begin(), segments_.end(),
                         [](const Segment& seg) { return seg.unsettled == 0; });
}

void ExceedanceCounter::Settle(Segment& seg) {
  for (int s = 0; s < kStatistics; ++s) {
    if (seg.groups[s] > 0) Accumulate(seg, s);
  }
  seg.unsettled = 0;
}

void ExceedanceCounter::Settle() {
  for (Segment& seg : segments_) Settle(seg);
  settled_ = true;
}

void ExceedanceCounter::RequireSettled() const {
  if (!settled_) throw std::logic_error("exceedance counts read before Settle()");
}

void ExceedanceCounter::RequirePrepared() const {
  if (!prepared_) throw std::logic_error("a run counted by a counter made for no runs");
}

void ExceedanceCounter::CountRun(const Statistics& run, WorkerPool& pool) {
  pool.ForEach(Tasks(), [&](std::size_t i, unsigned) { CountTask(i, run); });
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
  RequireSettled();
  if (!prepared_) return 0;
  const std::int32_t g = group_of_row_[statistic][static_cast<std::size_t>(row - 1)];
  return g < 0 ? 0 : right_[statistic][static_cast<std::size_t>(g)];
}

std::int64_t ExceedanceCounter::left(int statistic, std::int32_t row) const {
  RequireSettled();
  if (!prepared_) return 0;
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

SidedPValues ExceedanceCounter::Finish() const {
  SidedPValues p;
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
