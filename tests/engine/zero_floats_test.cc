#include "engine/zero_floats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <utility>

#include "engine/model.h"

namespace korvelan {
namespace {

bool AllZero(const ZeroFloats& z) {
  return std::all_of(z.data(), z.data() + z.size(), [](float v) { return v == 0.0f; });
}

// Sizes on both sides of the point where a block is mapped rather than
// taken from calloc (4 MiB, 1 << 20 floats).
constexpr std::size_t kSizes[] = {
    0, 1, 1000, (std::size_t{1} << 20) - 1, std::size_t{1} << 20, (std::size_t{3} << 20) + 7};

TEST(ZeroFloats, StartsZeroAndCopiesAndMovesWhole) {
  for (const std::size_t n : kSizes) {
    SCOPED_TRACE(n);
    ZeroFloats z(n);
    ASSERT_EQ(z.size(), n);
    EXPECT_TRUE(AllZero(z));
    for (std::size_t i = 0; i < n; i += 4099) z[i] = static_cast<float>(i + 1);
    if (n > 0) z[n - 1] = -1.5f;

    ZeroFloats copy(z);
    ASSERT_EQ(copy.size(), n);
    EXPECT_TRUE(std::equal(z.data(), z.data() + n, copy.data()));
    if (n > 0) {
      EXPECT_NE(copy.data(), z.data());
    }

    ZeroFloats assigned(7);
    assigned = copy;
    const ZeroFloats& same = assigned;
    assigned = same;  // to itself: unchanged
    EXPECT_TRUE(std::equal(z.data(), z.data() + n, assigned.data()));

    ZeroFloats moved(std::move(copy));
    EXPECT_EQ(copy.size(), 0u);
    EXPECT_EQ(copy.data(), nullptr);
    EXPECT_TRUE(std::equal(z.data(), z.data() + n, moved.data()));
    moved = ZeroFloats(3);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_TRUE(AllZero(moved));
  }
}

TEST(ZeroFloats, AnImpossibleSizeIsABadAlloc) {
  EXPECT_THROW(ZeroFloats(static_cast<std::size_t>(-1) / 2), std::bad_alloc);
}

TEST(ZeroFloats, ALargeRankMatrixReadsZeroOutsideWhatWasSet) {
  RankMatrix m(300000, 5);  // 6 MB: mapped
  m.Set(300000, 5, 2.5f);
  RankMatrix copy = m;
  EXPECT_EQ(copy.Get(300000, 5), 2.5f);
  EXPECT_EQ(copy.Get(1, 1), 0.0f);
  EXPECT_EQ(copy.Get(150000, 3), 0.0f);
  EXPECT_EQ(copy.Get(400000, 7), 0.0f);
}

}  // namespace
}  // namespace korvelan
