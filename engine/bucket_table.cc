#include "engine/bucket_table.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

namespace korvelan::engine {

namespace {

// Four single-precision lanes, and the masks their comparisons give.
using Lanes = float __attribute__((vector_size(16)));
using Signed = std::int32_t __attribute__((vector_size(16)));

// The slot of key k among keys [first, end), the groups that may hold it:
// 2 g plus 1 when k equals x(g), g the first of them not below k. keys[end]
// is the next group's key or an end marker: above k either way.
// The search halves the range by a select, not a branch: which half holds
// k is as unforeseeable as the run values, and with clustered observed
// values (a band of close ranks) most lookups come here.
inline std::uint32_t SearchedSlot(std::uint32_t k, std::uint32_t first, std::uint32_t end,
                                  const std::uint32_t* keys) {
  std::uint32_t g = first;
  if (end > first) {
    const std::uint32_t* base = keys + first;
    for (std::uint32_t n = end - first; n > 1;) {
      const std::uint32_t half = n / 2;
      base += base[half] < k ? half : 0u;
      n -= half;
    }
    g = static_cast<std::uint32_t>(base - keys) + (*base < k ? 1u : 0u);
  }
  return 2 * g + (keys[g] == k ? 1u : 0u);
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
    return SearchedSlot(OrderKey(v), (e.base - kCrowded) / 2,
                        (table[b + 1].base & (kCrowded - 1)) / 2, keys);
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
  if (x[3] < v) [[unlikely]]
    return SearchedSlot(OrderKey(v), g0 + 4, start[b + 1], keys);
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

// Run values per stretch, and how many values ahead of its use a bucket's
// entry or start (half as far ahead, a start's values), then a histogram
// slot, is fetched: about the latency of a read from the shared cache over
// the time of a lookup; both measured best at 100000 distinct values, and
// no slower at 7894.
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

// The values of y[0 .. m) other than `frequent` into kept[0 ..), in order;
// returns how many. Stored whether kept or not, the index moving on only
// for a kept one: no branch on values that come in no order.
inline std::int32_t KeepOthers(const float* y, std::int32_t m, float frequent, float* kept) {
  std::int32_t j = 0;
  for (std::int32_t i = 0; i < m; ++i) {
    const float v = y[i];
    kept[j] = v;
    j += v == frequent ? 0 : 1;
  }
  return j;
}

// Adds values x[0 .. n) to hist through the bucket table, a stretch at a
// time: first the buckets (a loop the compiler turns into vector code),
// then the slots four (eight) values at a time, then the additions. Without
// NaN among the values the last loop needs no care for them (a test over
// the values first is far cheaper than the care). With a frequent value,
// each stretch first sets its copies aside (counted at the end) and looks
// up only the others.
template <bool kMayHoldNaN, bool kAvx2, bool kFrequent, class Lookup>
[[gnu::always_inline]] inline void AddByTableBody(const float* x, std::int32_t n,
                                                  std::uint32_t groups, const BucketTable& t,
                                                  const Lookup& lookup, std::uint32_t* hist,
                                                  const FrequentValue* frequent) {
  const std::uint32_t nan_slot = 2 * groups + 1;
  alignas(32) float value[kStretch];  // NaN looked up as 0
  alignas(32) std::int32_t bucket[kStretch];
  alignas(32) std::uint32_t slot[kStretch];
  alignas(32) float kept[kFrequent ? kStretch : 1];
  std::int64_t equal = 0;  // values equal to the frequent one
  constexpr std::int32_t kStep = kAvx2 ? 8 : 4;
  for (std::int32_t i0 = 0; i0 < n; i0 += kStretch) {
    std::int32_t m = std::min(kStretch, n - i0);
    const float* y = x + i0;
    if constexpr (kFrequent) {
      const std::int32_t others = KeepOthers(y, m, frequent->value, kept);
      equal += m - others;
      m = others;
      y = kept;
    }
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
  // At most the n values of this call: within the slot's 32 bits, as the
  // counter settles before any slot could pass them.
  if constexpr (kFrequent) hist[frequent->slot] += static_cast<std::uint32_t>(equal);
}

template <bool kMayHoldNaN, bool kFrequent, class Lookup>
void AddByTable(const float* x, std::int32_t n, std::uint32_t groups, const BucketTable& t,
                const Lookup& lookup, std::uint32_t* hist, const FrequentValue* frequent) {
  AddByTableBody<kMayHoldNaN, false, kFrequent>(x, n, groups, t, lookup, hist, frequent);
}

#if KORVELAN_AVX2_FORMS
template <bool kMayHoldNaN, bool kFrequent, class Lookup>
[[gnu::target("avx2")]] void AddByTableAvx2(const float* x, std::int32_t n, std::uint32_t groups,
                                            const BucketTable& t, const Lookup& lookup,
                                            std::uint32_t* hist, const FrequentValue* frequent) {
  AddByTableBody<kMayHoldNaN, true, kFrequent>(x, n, groups, t, lookup, hist, frequent);
}
#endif

// AddIn's choice of form, for a fixed care for NaN.
template <bool kMayHoldNaN, bool kFrequent, class Lookup>
void AddInForm(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
               const BucketTable& t, const Lookup& lookup, std::uint32_t* hist,
               const FrequentValue* frequent) {
#if KORVELAN_AVX2_FORMS
  if (UseAvx2(form)) {
    AddByTableAvx2<kMayHoldNaN, kFrequent>(x, n, groups, t, lookup, hist, frequent);
    return;
  }
#else
  (void)form;
#endif
  AddByTable<kMayHoldNaN, kFrequent>(x, n, groups, t, lookup, hist, frequent);
}

// Adds values x[0 .. n) to hist in the processor's vector form, with or
// without the care for NaN and the frequent value.
template <class Lookup>
void AddIn(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
           const BucketTable& t, const Lookup& lookup, std::uint32_t* hist,
           const FrequentValue* frequent) {
  const bool nan = AnyNaN(x, n);
  if (frequent != nullptr) {
    if (nan) {
      AddInForm<true, true>(form, x, n, groups, t, lookup, hist, frequent);
    } else {
      AddInForm<false, true>(form, x, n, groups, t, lookup, hist, frequent);
    }
  } else if (nan) {
    AddInForm<true, false>(form, x, n, groups, t, lookup, hist, frequent);
  } else {
    AddInForm<false, false>(form, x, n, groups, t, lookup, hist, frequent);
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

void AddThroughEntries(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
                       const BucketTable& t, const BucketEntry* table, const std::uint32_t* keys,
                       std::uint32_t* hist, const FrequentValue* frequent) {
  AddIn(form, x, n, groups, t, DenseLookup{table, keys}, hist, frequent);
}

void AddThroughStarts(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
                      const BucketTable& t, const std::uint32_t* start, const float* values,
                      const std::uint32_t* keys, std::uint32_t* hist,
                      const FrequentValue* frequent) {
  AddIn(form, x, n, groups, t, CompactLookup{start, values, keys}, hist, frequent);
}

}  // namespace korvelan::engine
