#include "numeric/row_sort_workspace.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace korvelan::numeric::detail {
namespace {

std::size_t g_limit_bytes = 0;

// The single-precision constants 2.8854 and 1.4427 (about 2 / ln 2 and
// 1 / ln 2), widened exactly; the logarithm and the sum are in double.
std::size_t TruncatedLogTerm(float factor, double offset, std::size_t d) {
  const double value = static_cast<double>(factor) * std::log(static_cast<double>(d)) + offset;
  return static_cast<std::size_t>(value);
}

}  // namespace

std::size_t RowSortWorkspace::StackCapacity(std::size_t d) {
  return TruncatedLogTerm(1.4427f, 1.0, d);
}

std::size_t RowSortWorkspace::IntegerCount(std::size_t d) {
  return d + TruncatedLogTerm(2.8854f, 2.0, d);
}

bool RowSortWorkspace::Obtain(std::int32_t nrow, std::int32_t ncol) {
  const std::size_t d = static_cast<std::size_t>(std::max({nrow, ncol, 1}));
  const std::size_t reals = RealCount(d);
  const std::size_t ints = IntegerCount(d);
  if (g_limit_bytes != 0 && reals * sizeof(float) + ints * sizeof(std::int32_t) > g_limit_bytes) {
    return false;
  }
  try {
    // Left uninitialised: every element is written before it is read, and
    // untouched pages of a large request cost nothing.
    std::unique_ptr<float[]> r(new float[reals]);
    std::unique_ptr<std::int32_t[]> i(new std::int32_t[ints]);
    reals_ = std::move(r);
    ints_ = std::move(i);
  } catch (const std::bad_alloc&) {
    return false;
  }
  d_ = d;
  stack_capacity_ = StackCapacity(d);
  return true;
}

void SetWorkspaceLimitForTesting(std::size_t bytes) { g_limit_bytes = bytes; }

}  // namespace korvelan::numeric::detail
