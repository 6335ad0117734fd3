// Bucket tables: how the exceedance counter finds, for a run value, its
// slot in a class's histogram over the class's distinct observed values
// x(0) < ... < x(G-1) (their order keys, ascending, in `keys`, followed by
// kPadding end markers 0xFFFFFFFF). The histogram has 2 G + 2 slots: 2g
// "between x(g-1) and x(g)", 2g + 1 "equal to x(g)", 2G "above x(G-1)",
// 2G + 1 "NaN". Comparisons are exact float comparisons: -0 equals +0,
// infinities are ordinary values, a NaN run value goes to its own slot.
//
// A table of about two buckets per distinct value, of equal width in value,
// sends each run value to a bucket (BucketOf) whose few values it is then
// compared with as vector lanes, several run values at a time (four, or
// eight in the AVX2 form), without a branch; a bucket of many values (a
// cluster) is searched by key. The buckets of a stretch of run values are
// known before they are looked up, so what the lookups read is fetched
// ahead of use. Two layouts:
//   - entries (BucketEntry, 16 bytes per bucket): the values of the
//     bucket's first three groups, NaN where there are fewer, and its slot
//     "below", plus kCrowded when the bucket holds more groups;
//   - starts (4 bytes per bucket): only the index of the bucket's first
//     group; the four group values from there on are read from `values`
//     (the keys as floats, the end markers NaN). Groups of later buckets lie
//     above the run value, so no bucket needs a count of its own. Smaller,
//     for classes of many distinct values.
// Every form and layout gives the same slots; the counter's tests hold them
// against the pair-counting oracle.
#ifndef KORVELAN_ENGINE_BUCKET_TABLE_H_
#define KORVELAN_ENGINE_BUCKET_TABLE_H_

#include <algorithm>
#include <cstdint>

#include "engine/vector_form.h"

namespace korvelan::engine {

// The order-preserving key of a non-NaN float: a < b exactly when
// OrderKey(a) < OrderKey(b), and equal values (both zeros too) share a key.
// No key is 0xFFFFFFFF (the largest, that of +infinity, is 0xFF800000).
std::uint32_t OrderKey(float x);

// The bucket table of one class and statistic (the counter's own layout):
// value v goes to bucket floor((v - low) * scale) in single precision, held
// within 0 .. last, whose entry is entries_first + bucket; one more entry
// closes the last bucket. A dense entry holds the values of the bucket's
// first three groups (NaN where there are fewer) and the histogram slot
// "below" its first group, plus 2^31 when the bucket holds more groups; a
// compact table (`compact`, classes of many distinct values) holds only
// the index of each bucket's first group.
struct BucketTable {
  float low;
  float scale;
  float last;
  std::int64_t entries_first;
  bool compact;
};
struct alignas(16) BucketEntry {
  float x[3];
  std::uint32_t base;
};

// The values a bucket's entry holds; a bucket of more groups has kCrowded
// added to its base (a base is at most 2 x 500000, so the mark stands out).
inline constexpr std::int32_t kEntryKeys = 3;
inline constexpr std::uint32_t kCrowded = 0x80000000u;

// End markers after each class's keys (and NaN after its values): the
// starts layout reads four values from any bucket's first group.
inline constexpr std::int32_t kPadding = 4;

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

// Adds run values x[0 .. n) to hist, each compared with every one of the
// `groups` keys (for classes of a few distinct values, no table).
void AddDirect(const float* x, std::int32_t n, const std::uint32_t* keys, std::uint32_t groups,
               std::uint32_t* hist);

// An observed value that most of a class's rows share (top-k lists over a
// universe: the genes no list names, tied at every study's "below" rank)
// and its slot "equal to" it. Most run values then equal it too, and they
// are counted, not looked up: such a value sits at the edge of the value
// range, in a bucket of many groups searched by key, and its additions to
// one slot would form one long chain through memory. Float equality is the
// slot's own test: -0 equals +0, a NaN equals nothing.
struct FrequentValue {
  float value;
  std::uint32_t slot;
};

// Adds run values x[0 .. n) to hist through table `t` in the entries
// layout (`table`: its entries_first-th entry on) or the starts layout
// (`start`, with the class's `values`), in vector form `form`. `keys` and
// `values` start at the class's first group. With `frequent`, the values
// equal to it are counted first and the others looked up (the same slots).
void AddThroughEntries(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
                       const BucketTable& t, const BucketEntry* table, const std::uint32_t* keys,
                       std::uint32_t* hist, const FrequentValue* frequent = nullptr);
void AddThroughStarts(VectorForm form, const float* x, std::int32_t n, std::uint32_t groups,
                      const BucketTable& t, const std::uint32_t* start, const float* values,
                      const std::uint32_t* keys, std::uint32_t* hist,
                      const FrequentValue* frequent = nullptr);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_BUCKET_TABLE_H_
