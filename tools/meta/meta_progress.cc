#include "tools/meta/meta_progress.h"

#include <cstdio>

namespace korvelan::tools {

std::string ClockText(std::int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string ProgressLine(std::int32_t done, std::int32_t total, std::chrono::milliseconds elapsed) {
  constexpr int kWidth = 30;
  const int filled =
      total > 0 ? static_cast<int>(static_cast<std::int64_t>(done) * kWidth / total) : 0;
  std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kWidth - filled), '.') + "] " +
                     std::to_string(done) + "/" + std::to_string(total) + " runs, " +
                     ClockText(elapsed.count() / 1000) + " elapsed";
  if (done > 0) {
    // Remaining time in integer milliseconds: elapsed x runs left / runs done.
    const std::int64_t left = elapsed.count() * (total - done) / done;
    line += ", " + ClockText((left + 999) / 1000) + " remaining";
  }
  return line;
}

void ProgressBar::Update(std::int32_t done, std::int32_t total) {
  const Clock::time_point now = Clock::now();
  if (done < total && any_ && now - shown_ < std::chrono::milliseconds(100)) return;
  shown_ = now;
  any_ = true;
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - start_);
  // \r and erase-to-end-of-line: the shorter line leaves no tail behind.
  err_ << '\r' << ProgressLine(done, total, elapsed) << "\x1b[K" << std::flush;
}

void ProgressBar::Finish() {
  if (any_) err_ << '\n' << std::flush;
  any_ = false;
}

}  // namespace korvelan::tools
