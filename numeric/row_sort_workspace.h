// The row sort's working storage, obtained for one call and released when
// the call ends on any path. Internal to the numeric library.
//
// Sizes are the routine's documented workspace, with D = max(NROW, NCOL):
//   2D floats: the first-key cache of the sort [0, D) and the scratch
//              column used to move the rows of X once at the end [D, 2D);
//   D + trunc(2.8854 ln D + 2) integers: the working row order [0, D) and
//              the two segment stacks of trunc(1.4427 ln D + 1) entries each.
// Keeping these sizes means the storage report (code 4) comes for exactly
// the calls it always came for. (1.4427 ln D + 1 >= log2 D + 1, more than
// the floor(log2 n) segments the sort can leave pending.)
#ifndef KORVELAN_NUMERIC_ROW_SORT_WORKSPACE_H_
#define KORVELAN_NUMERIC_ROW_SORT_WORKSPACE_H_

#include <cstddef>
#include <cstdint>
#include <memory>

namespace korvelan::numeric::detail {

class RowSortWorkspace {
 public:
  // False when the storage cannot be had (nothing is kept then).
  bool Obtain(std::int32_t nrow, std::int32_t ncol);

  float* key_cache() { return reals_.get(); }
  float* scratch_column() { return reals_.get() + d_; }
  std::int32_t* rows() { return ints_.get(); }
  std::int32_t* lower_stack() { return ints_.get() + d_; }
  std::int32_t* upper_stack() { return ints_.get() + d_ + stack_capacity_; }
  std::size_t stack_capacity() const { return stack_capacity_; }

  // The element counts for a given D (exposed for the tests).
  static std::size_t RealCount(std::size_t d) { return 2 * d; }
  static std::size_t IntegerCount(std::size_t d);
  static std::size_t StackCapacity(std::size_t d);

 private:
  std::size_t d_ = 0;
  std::size_t stack_capacity_ = 0;
  std::unique_ptr<float[]> reals_;
  std::unique_ptr<std::int32_t[]> ints_;
};

// Makes every request above `bytes` fail as if memory were exhausted; 0
// lifts the limit. For tests of the storage report only.
void SetWorkspaceLimitForTesting(std::size_t bytes);

}  // namespace korvelan::numeric::detail

#endif  // KORVELAN_NUMERIC_ROW_SORT_WORKSPACE_H_
