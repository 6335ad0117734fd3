#include "engine/counting.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
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
// (the slow path) in about 0.2 % of the buckets. Where the values crowd
// (the middle of a bell), a bucket holds more, and the next doubling of
// the table measured slower: it no longer stays in the caches beside the
// run's other data.
constexpr std::int32_t kBucketsPerGroup = 2;

// The values a bucket's entry holds; a bucket of more groups has kCrowded
// added to its base (a base is at most 2 x 500000).
constexpr std::int32_t kEntryKeys = 3;
constexpr std::uint32_t kCrowded = 0x80000000u;

// Classes with more distinct values than this keep the compact layout of
// their bucket table (4 bytes per bucket, 12 per distinct value with the
// values, against 32): read from the shared cache, the smaller table is
// as fast, and the largest workload's tables would otherwise add 36 MB.
constexpr std::int32_t kCompactGroups = 32768;

// The compact lookups read four group values from a bucket's first group
// on: each class's values are followed by this many end markers (NaN as
// floats), which compare with nothing.
constexpr std::int32_t kPadding = 4;

// Work per task of a run: rows per task (small classes are gathered up to
// it); a class of at least 2 kPartRows values is counted in parts of at
// least that size, at most kMaxParts and one per thread (each part has a
// histogram of its own, 8 bytes per distinct observed value).
constexpr std::int32_t kTaskGrain = 4096;
constexpr std::int32_t kPartRows = 32768;
constexpr std::int32_t kMaxParts = 4;

// The float whose order key is k (for the key of the zeros, +0).
float KeyValue(std::uint32_t k) {
  const std::uint32_t b = (k & 0x80000000u) != 0 ? k ^ 0x80000000u : ~k;
  return std::bit_cast<float>(b);
}

// The bucket of a non-NaN value: floor((v - low) * scale) in single
// precision, held within 0 .. last. Every step (the subtraction, the
// product, the limits, the truncation) is monotone, and the table is built
// with this very function, so a larger value never gets an earlier bucket;
// that is all the table needs: the groups in buckets before a value's
// bucket lie below it, those in buckets after it above. low is finite and
// scale finite and positive, so no step makes a NaN: -infinity lands in
// bucket 0, +infinity and anything far above in the last. -0 and +0 share
// their bucket.
inline std::uint32_t BucketOf(float v, const BucketTable& t) {
  float x = (v - t.low) * t.scale;
  x = std::max(x, 0.0f);
  x = std::min(x, t.last);
  // last < 2^31: through a signed conversion, which has a vector form.
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(x));
}

// Four single-precision lanes, and the masks their comparisons give.
using Lanes = float __attribute__((vector_size(16)));
using Signed = std::int32_t __attribute__((vector_size(16)));

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

// The histogram slot of a non-NaN value v. A bucket's entry holds the
// values of its (at most three) groups, NaN for a missing one; counting
// the comparisons "at least" and "above" with each gives the slot within
// the bucket: below the first group, equal to it, between the first two,
// ..., above all of them (the slot "below" of the group after them). A
// NaN compares false both ways and adds nothing; -0 and +0 compare equal,
// as their shared group wants. A bucket of more groups has its base marked
// and is searched by key.
inline std::uint32_t SlotIn(float v, std::uint32_t b, const BucketEntry* table,
                            const std::uint32_t* keys) {
  const BucketEntry& e = table[b];
  if (e.base >= kCrowded) [[unlikely]] {
    const std::uint32_t k = OrderKey(v);
    const std::uint32_t first = (e.base - kCrowded) / 2;
    const std::uint32_t end = (table[b + 1].base & (kCrowded - 1)) / 2;
    const auto g = static_cast<std::uint32_t>(std::lower_bound(keys + first, keys + end, k) - keys);
    // keys[g] is the next group's key or the end marker when g is past the
    // bucket: above k either way.
    return 2 * g + (keys[g] == k ? 1u : 0u);
  }
  // The comparisons as vector masks (-1 where true), so that none becomes
  // a branch, which the random run values would mispredict (the fourth
  // lane, the base, is left out).
  Lanes x;
  std::memcpy(&x, &e, sizeof x);
  const Lanes vv = {v, v, v, v};
  const Signed d = (x <= vv) + (x < vv);
  return e.base - static_cast<std::uint32_t>(d[0] + d[1] + d[2]);
}

using Unsigned = std::uint32_t __attribute__((vector_size(16)));

// The transpose of four four-value rows (16-byte reads at `row[c]`) into
// four columns, so that lane c of column j holds value j of row c.
inline void Transpose4(const void* const* row, Lanes* x) {
  Lanes e0, e1, e2, e3;
  std::memcpy(&e0, row[0], sizeof e0);
  std::memcpy(&e1, row[1], sizeof e1);
  std::memcpy(&e2, row[2], sizeof e2);
  std::memcpy(&e3, row[3], sizeof e3);
  const Lanes a01 = __builtin_shufflevector(e0, e1, 0, 4, 1, 5);
  const Lanes a23 = __builtin_shufflevector(e2, e3, 0, 4, 1, 5);
  const Lanes c01 = __builtin_shufflevector(e0, e1, 2, 6, 3, 7);
  const Lanes c23 = __builtin_shufflevector(e2, e3, 2, 6, 3, 7);
  x[0] = __builtin_shufflevector(a01, a23, 0, 1, 4, 5);
  x[1] = __builtin_shufflevector(a01, a23, 2, 3, 6, 7);
  x[2] = __builtin_shufflevector(c01, c23, 0, 1, 4, 5);
  x[3] = __builtin_shufflevector(c01, c23, 2, 3, 6, 7);
}

// Per lane, minus the number of the first `columns` columns at most v plus
// the number below v (each true comparison is -1).
inline Signed Below4(const Lanes* x, int columns, Lanes v) {
  Signed d = {};
  for (int j = 0; j < columns; ++j) d += (x[j] <= v) + (x[j] < v);
  return d;
}

// The slots of values v[0 .. 4) in buckets b[0 .. 4), as SlotIn gives
// them, four at once: the four entries are transposed so that each lane
// holds one value's entry, and the six comparisons are made lane by lane.
// A value in a crowded bucket gets its marked base plus up to 6 instead, at
// least kCrowded (no true slot comes near it).
inline void FourSlots(const float* v, const std::int32_t* b, const BucketEntry* table,
                      std::uint32_t* slot) {
  const void* const row[4] = {table + b[0], table + b[1], table + b[2], table + b[3]};
  Lanes x[4], vv;
  Transpose4(row, x);
  std::memcpy(&vv, v, sizeof vv);
  const Unsigned r = std::bit_cast<Unsigned>(x[3]) + std::bit_cast<Unsigned>(-Below4(x, 3, vv));
  std::memcpy(slot, &r, sizeof r);
}

// The compact layout, for classes of many distinct values: a bucket holds
// only the index of its first group, and the group values are read from the
// class's sorted values (followed by kPadding NaN). SlotIn's answer for it:
// the four group values from the bucket's first group g0 on are compared
// with v, and the number at most v plus the number below v, added to 2 g0,
// is the slot. Groups of later buckets lie above v and NaN compares false
// both ways, so a bucket needs no count of its own; only when the fourth
// value is still below v (a bucket of five or more groups) can the slot lie
// further on, and the bucket's remaining groups are searched by key.
inline std::uint32_t CompactSlotIn(float v, std::uint32_t b, const std::uint32_t* start,
                                   const float* values, const std::uint32_t* keys) {
  const std::uint32_t g0 = start[b];
  Lanes x;
  std::memcpy(&x, values + g0, sizeof x);
  if (x[3] < v) [[unlikely]] {
    const std::uint32_t k = OrderKey(v);
    const auto g = static_cast<std::uint32_t>(
        std::lower_bound(keys + g0 + 4, keys + start[b + 1], k) - keys);
    return 2 * g + (keys[g] == k ? 1u : 0u);
  }
  const Lanes vv = {v, v, v, v};
  const Signed d = (x <= vv) + (x < vv);
  return 2 * g0 - static_cast<std::uint32_t>(d[0] + d[1] + d[2] + d[3]);
}

// CompactSlotIn for four values at once, transposed as in FourSlots; a
// value whose slot needs the search gets kCrowded added.
inline void CompactFourSlots(const float* v, const std::int32_t* b, const std::uint32_t* start,
                             const float* values, std::uint32_t* slot) {
  const Unsigned g = {start[b[0]], start[b[1]], start[b[2]], start[b[3]]};
  const void* const row[4] = {values + g[0], values + g[1], values + g[2], values + g[3]};
  Lanes x[4], vv;
  Transpose4(row, x);
  std::memcpy(&vv, v, sizeof vv);
  const Unsigned crowded = std::bit_cast<Unsigned>(x[3] < vv) & kCrowded;
  const Unsigned r = ((g + g) + std::bit_cast<Unsigned>(-Below4(x, 4, vv))) | crowded;
  std::memcpy(slot, &r, sizeof r);
}

// Run values per stretch, and how many values ahead of its use an entry
// or a histogram slot is fetched (about the latency of a read from the
// shared cache over the time of a lookup; both measured best at 100000
// distinct values, and no slower at 7894).
constexpr std::int32_t kStretch = 2048;
constexpr std::int32_t kAhead = 128;

#if KORVELAN_AVX2_FORMS
using Lanes8 = float __attribute__((vector_size(32)));
using Signed8 = std::int32_t __attribute__((vector_size(32)));
using Unsigned8 = std::uint32_t __attribute__((vector_size(32)));

// The transpose of eight four-value rows (16-byte reads at `row[c]`) into
// four eight-lane columns: rows c and c + 4 share a vector, one per 128-bit
// half, and each half is transposed as Transpose4 transposes its four.
[[gnu::target("avx2")]] inline void Transpose8(const void* const* row, Lanes8* x) {
  Lanes e[8];
  for (int c = 0; c < 8; ++c) std::memcpy(&e[c], row[c], sizeof e[c]);
  const Lanes8 p0 = __builtin_shufflevector(e[0], e[4], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes8 p1 = __builtin_shufflevector(e[1], e[5], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes8 p2 = __builtin_shufflevector(e[2], e[6], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes8 p3 = __builtin_shufflevector(e[3], e[7], 0, 1, 2, 3, 4, 5, 6, 7);
  const Lanes8 a01 = __builtin_shufflevector(p0, p1, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes8 a23 = __builtin_shufflevector(p2, p3, 0, 8, 1, 9, 4, 12, 5, 13);
  const Lanes8 c01 = __builtin_shufflevector(p0, p1, 2, 10, 3, 11, 6, 14, 7, 15);
  const Lanes8 c23 = __builtin_shufflevector(p2, p3, 2, 10, 3, 11, 6, 14, 7, 15);
  x[0] = __builtin_shufflevector(a01, a23, 0, 1, 8, 9, 4, 5, 12, 13);
  x[1] = __builtin_shufflevector(a01, a23, 2, 3, 10, 11, 6, 7, 14, 15);
  x[2] = __builtin_shufflevector(c01, c23, 0, 1, 8, 9, 4, 5, 12, 13);
  x[3] = __builtin_shufflevector(c01, c23, 2, 3, 10, 11, 6, 7, 14, 15);
}

// Per lane, minus the number of the first `columns` columns at most v plus
// the number below v (each true comparison is -1).
[[gnu::target("avx2")]] inline Signed8 Below8(const Lanes8* x, int columns, Lanes8 v) {
  Signed8 d = {};
  for (int j = 0; j < columns; ++j) d += (x[j] <= v) + (x[j] < v);
  return d;
}

// FourSlots for eight values in the eight lanes of AVX2. (Masks and counts
// are reinterpreted by vector casts, as bit_cast would; bit_cast itself is
// not compiled for AVX2.)
[[gnu::target("avx2")]] inline void EightSlots(const float* v, const std::int32_t* b,
                                               const BucketEntry* table, std::uint32_t* slot) {
  const void* row[8];
  for (int c = 0; c < 8; ++c) row[c] = table + b[c];
  Lanes8 x[4], vv;
  Transpose8(row, x);
  std::memcpy(&vv, v, sizeof vv);
  const Unsigned8 r = (Unsigned8)x[3] + (Unsigned8)(-Below8(x, 3, vv));
  std::memcpy(slot, &r, sizeof r);
}

// CompactFourSlots for eight values in the eight lanes of AVX2.
[[gnu::target("avx2")]] inline void CompactEightSlots(const float* v, const std::int32_t* b,
                                                      const std::uint32_t* start,
                                                      const float* values, std::uint32_t* slot) {
  Unsigned8 g;
  const void* row[8];
  for (int c = 0; c < 8; ++c) {
    g[c] = start[b[c]];
    row[c] = values + g[c];
  }
  Lanes8 x[4], vv;
  Transpose8(row, x);
  std::memcpy(&vv, v, sizeof vv);
  const Unsigned8 crowded = (Unsigned8)(x[3] < vv) & kCrowded;
  const Unsigned8 r = ((g + g) + (Unsigned8)(-Below8(x, 4, vv))) | crowded;
  std::memcpy(slot, &r, sizeof r);
}
#endif

bool AnyNaN(const float* x, std::int32_t n) {
  // Counted rather than searched, so that the loop has no exit to take.
  std::int32_t count = 0;
  for (std::int32_t i = 0; i < n; ++i) count += std::isnan(x[i]) ? 1 : 0;
  return count != 0;
}

// The two layouts of a bucket table, as the lookups below use them: the
// slot of one value, of four (and eight) at once, and what to fetch ahead
// for a bucket (`ahead`) and, half as far ahead, for `nearer`.
struct DenseLookup {
  const BucketEntry* table;
  const std::uint32_t* keys;
  std::uint32_t Slot(float v, std::uint32_t b) const { return SlotIn(v, b, table, keys); }
  void Four(const float* v, const std::int32_t* b, std::uint32_t* slot) const {
    FourSlots(v, b, table, slot);
  }
#if KORVELAN_AVX2_FORMS
  [[gnu::target("avx2")]] void Eight(const float* v, const std::int32_t* b,
                                     std::uint32_t* slot) const {
    EightSlots(v, b, table, slot);
  }
#endif
  void Fetch(std::int32_t ahead, std::int32_t) const { __builtin_prefetch(table + ahead); }
};

struct CompactLookup {
  const std::uint32_t* start;
  const float* values;
  const std::uint32_t* keys;
  std::uint32_t Slot(float v, std::uint32_t b) const {
    return CompactSlotIn(v, b, start, values, keys);
  }
  void Four(const float* v, const std::int32_t* b, std::uint32_t* slot) const {
    CompactFourSlots(v, b, start, values, slot);
  }
#if KORVELAN_AVX2_FORMS
  [[gnu::target("avx2")]] void Eight(const float* v, const std::int32_t* b,
                                     std::uint32_t* slot) const {
    CompactEightSlots(v, b, start, values, slot);
  }
#endif
  void Fetch(std::int32_t ahead, std::int32_t nearer) const {
    __builtin_prefetch(start + ahead);
    __builtin_prefetch(values + start[nearer]);
  }
};

// Adds values x[0 .. n) to hist through the bucket table, a stretch at a
// time: first the buckets (a loop the compiler turns into vector code),
// then the slots four (eight) values at a time, then the additions. Without
// NaN among the values the last loop needs no care for them (a test over
// the values first is far cheaper than the care).
template <bool kMayHoldNaN, bool kAvx2, class Lookup>
[[gnu::always_inline]] inline void AddByTableBody(const float* x, std::int32_t n,
                                                  std::uint32_t groups, const BucketTable& t,
                                                  const Lookup& lookup, std::uint32_t* hist) {
  const std::uint32_t nan_slot = 2 * groups + 1;
  alignas(32) float value[kStretch];  // NaN looked up as 0
  alignas(32) std::int32_t bucket[kStretch];
  alignas(32) std::uint32_t slot[kStretch];
  constexpr std::int32_t kStep = kAvx2 ? 8 : 4;
  for (std::int32_t i0 = 0; i0 < n; i0 += kStretch) {
    const std::int32_t m = std::min(kStretch, n - i0);
    const float* y = x + i0;
    for (std::int32_t i = 0; i < m; ++i) {
      float v = y[i];
      if constexpr (kMayHoldNaN) v = std::isnan(v) ? 0.0f : v;
      value[i] = v;
      bucket[i] = static_cast<std::int32_t>(BucketOf(v, t));
    }
    std::int32_t i = 0;
    for (; i + kStep <= m; i += kStep) {
      if (i + kAhead + kStep <= m) {
        for (std::int32_t c = 0; c < kStep; ++c) {
          lookup.Fetch(bucket[i + kAhead + c], bucket[i + kAhead / 2 + c]);
        }
      }
#if KORVELAN_AVX2_FORMS
      if constexpr (kAvx2) {
        lookup.Eight(value + i, bucket + i, slot + i);
        continue;
      }
#endif
      lookup.Four(value + i, bucket + i, slot + i);
    }
    for (; i < m; ++i) slot[i] = lookup.Slot(value[i], static_cast<std::uint32_t>(bucket[i]));
    for (i = 0; i < m; ++i) {
      // A marked slot still points into the histogram once the mark is
      // taken off: a harmless address to fetch.
      if (i + kAhead < m) __builtin_prefetch(hist + (slot[i + kAhead] & (kCrowded - 1)), 1);
      std::uint32_t k = slot[i];
      if (k >= kCrowded) [[unlikely]] {
        k = lookup.Slot(value[i], static_cast<std::uint32_t>(bucket[i]));
      }
      if constexpr (kMayHoldNaN) {
        ++hist[std::isnan(y[i]) ? nan_slot : k];
      } else {
        ++hist[k];
      }
    }
  }
}

template <bool kMayHoldNaN, class Lookup>
void AddByTable(const float* x, std::int32_t n, std::uint32_t groups, const BucketTable& t,
                const Lookup& lookup, std::uint32_t* hist) {
  AddByTableBody<kMayHoldNaN, false>(x, n, groups, t, lookup, hist);
}

#if KORVELAN_AVX2_FORMS
template <bool kMayHoldNaN, class Lookup>
[[gnu::target("avx2")]] void AddByTableAvx2(const float* x, std::int32_t n, std::uint32_t groups,
                                            const BucketTable& t, const Lookup& lookup,
                                            std::uint32_t* hist) {
  AddByTableBody<kMayHoldNaN, true>(x, n, groups, t, lookup, hist);
}
#endif

// Adds values x[0 .. n) to hist in the processor's vector form, with or
// without the care for NaN.
template <class Lookup>
void AddByTableIn(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
                  const BucketTable& t, const Lookup& lookup, std::uint32_t* hist) {
  const bool nan = AnyNaN(x, n);
#if KORVELAN_AVX2_FORMS
  if (UseAvx2(form)) {
    if (nan) {
      AddByTableAvx2<true>(x, n, groups, t, lookup, hist);
    } else {
      AddByTableAvx2<false>(x, n, groups, t, lookup, hist);
    }
    return;
  }
#else
  (void)form;
#endif
  if (nan) {
    AddByTable<true>(x, n, groups, t, lookup, hist);
  } else {
    AddByTable<false>(x, n, groups, t, lookup, hist);
  }
}

}  // namespace

std::uint32_t OrderKey(float x) {
  // Adding +0 turns -0 into +0 and leaves every other value alone.
  const auto b = std::bit_cast<std::uint32_t>(x + 0.0f);
  // Negative values: all bits flipped (larger magnitude, smaller key);
  // positive ones: the sign bit set, above every negative.
  const auto negative = static_cast<std::uint32_t>(static_cast<std::int32_t>(b) >> 31);
  return b ^ (negative | 0x80000000u);
}

namespace {

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
                                     std::int32_t classes, std::int32_t probes, WorkerPool* pool)
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
    segments_.push_back(Segment{a - 1, size, k, parts, 0, {}, {}, {}, {}});
  }
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
  std::vector<std::uint32_t> keys =
      ZeroedBuffer<std::uint32_t>(rows + kPadding * segments_.size());
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
    for (std::size_t i = 0; i < n; ++i) {
      const auto key = static_cast<std::uint32_t>(in_order[i] >> 32);
      if (i == 0 || key != keys[nkeys - 1]) keys[nkeys++] = key;
      const auto row = static_cast<std::uint32_t>(in_order[i]);
      group_of_row_[s][row] = static_cast<std::int32_t>(nkeys - 1);
    }
    seg.groups[s] = static_cast<std::int32_t>(nkeys) - seg.group_first[s];
    for (std::int32_t j = 0; j < kPadding; ++j) keys[nkeys++] = kEndMarker;
    seg.extra_first[s] = extra;
    extra += static_cast<std::int64_t>(seg.parts - 1) * (2 * seg.groups[s] + 2);
  }
  // Only as much as the distinct values need.
  keys_[s] = ZeroedBuffer<std::uint32_t>(nkeys);
  std::copy_n(keys.begin(), nkeys, keys_[s].begin());
  // The values of compact classes as floats, for the lookups' lanes (the
  // end markers' are NaN); none when every class keeps the dense layout.
  bool compact = false;
  for (const Segment& seg : segments_) compact = compact || seg.groups[s] > kCompactGroups;
  if (compact) {
    values_[s] = ZeroedBuffer<float>(nkeys);
    for (std::size_t i = 0; i < nkeys; ++i) values_[s][i] = KeyValue(keys[i]);
  }
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
  const double scale = static_cast<double>(buckets) /
                       (static_cast<double>(high) - static_cast<double>(low));
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
  if (compact) {
    // One entry more closes the last bucket.
    starts_[s].insert(starts_[s].end(), first.begin(), first.end());
    return;
  }
  // One entry more closes the last bucket.
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
  if (t.compact) {
    const CompactLookup lookup{starts_[s].data() + t.entries_first,
                               values_[s].data() + seg.group_first[s], keys};
    AddByTableIn(form_, x, r1 - r0, groups, t, lookup, hist);
  } else {
    const DenseLookup lookup{entries_[s].data() + t.entries_first, keys};
    AddByTableIn(form_, x, r1 - r0, groups, t, lookup, hist);
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
  const std::int32_t g = group_of_row_[statistic][static_cast<std::size_t>(row - 1)];
  return g < 0 ? 0 : right_[statistic][static_cast<std::size_t>(g)];
}

std::int64_t ExceedanceCounter::left(int statistic, std::int32_t row) const {
  RequireSettled();
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
