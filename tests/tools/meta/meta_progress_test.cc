// korvelan-meta's progress line.
#include "tools/meta/meta_progress.h"

#include <gtest/gtest.h>

#include <chrono>

namespace korvelan::tools {
namespace {

TEST(MetaProgress, ProgressLineAndClock) {
  EXPECT_EQ(ProgressLine(0, 10, std::chrono::milliseconds(0)),
            "[..............................] 0/10 runs, 0:00 elapsed");
  EXPECT_EQ(ProgressLine(5, 10, std::chrono::milliseconds(65500)),
            "[###############...............] 5/10 runs, 1:05 elapsed, 1:06 remaining");
  EXPECT_EQ(ClockText(3600 * 2 + 3 * 60 + 4), "2:03:04");
}

}  // namespace
}  // namespace korvelan::tools
