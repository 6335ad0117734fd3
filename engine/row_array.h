// Per-row and per-class arrays of the engine.
//
// The program's arrays are declared with fixed bounds (500000 rows, 500000
// classes) but only their first entries are ever written. A RowArray stores
// just those entries: an index inside the declared bounds and beyond the
// stored part reads zero, and an index outside the declared bounds is the
// array-bounds condition (161), exactly as the fixed array would behave.
#ifndef KORVELAN_ENGINE_ROW_ARRAY_H_
#define KORVELAN_ENGINE_ROW_ARRAY_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "engine/model.h"
#include "textio/termination.h"

namespace korvelan::engine {

// Throws condition 41 for a failed allocation of `count` zeroed values.
template <typename T>
std::vector<T> ZeroedBuffer(std::size_t count) {
  try {
    return std::vector<T>(count, T{});
  } catch (const std::bad_alloc&) {
    throw textio::Termination::SevereCondition(textio::Severe::kNoMemory);
  }
}

template <typename T>
class RowArray {
 public:
  RowArray() = default;
  // `stored` zero entries (none when not positive) of an array declared
  // 1 .. `bound`.
  explicit RowArray(std::int64_t stored, std::int32_t bound = kMaxRows)
      : bound_(bound),
        values_(ZeroedBuffer<T>(stored > 0 ? static_cast<std::size_t>(stored) : 0)) {}

  std::int32_t stored() const { return static_cast<std::int32_t>(values_.size()); }
  std::int32_t bound() const { return bound_; }

  // Checked read, 1-based: 161 outside 1 .. bound, zero beyond the stored part.
  T Get(std::int64_t i) const {
    CheckBounds(i, bound_);
    return i <= static_cast<std::int64_t>(values_.size()) ? values_[static_cast<std::size_t>(i - 1)]
                                                          : T{};
  }
  // Checked write; nothing in the program writes beyond the stored part, so
  // that is 161 as well.
  void Set(std::int64_t i, T v) {
    CheckBounds(i, bound_);
    if (i > static_cast<std::int64_t>(values_.size())) BoundsExceeded();
    values_[static_cast<std::size_t>(i - 1)] = v;
  }

  // Unchecked views of the stored part; element 0 is entry 1.
  std::span<T> span() { return values_; }
  std::span<const T> span() const { return values_; }
  T* data() { return values_.data(); }
  const T* data() const { return values_.data(); }

 private:
  std::int32_t bound_ = kMaxRows;
  std::vector<T> values_;
};

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_ROW_ARRAY_H_
