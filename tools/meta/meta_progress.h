// The progress bar of korvelan-meta on a terminal: one line, rewritten in
// place at most ten times a second, with runs done, time elapsed and an
// estimate of the time remaining (elapsed x remaining runs / runs done).
#ifndef KORVELAN_TOOLS_META_META_PROGRESS_H_
#define KORVELAN_TOOLS_META_META_PROGRESS_H_

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace korvelan::tools {

// "1:05" (minutes:seconds) or "2:03:04" from whole seconds.
std::string ClockText(std::int64_t seconds);

// The line shown after `done` of `total` runs, `elapsed` into them.
std::string ProgressLine(std::int32_t done, std::int32_t total, std::chrono::milliseconds elapsed);

class ProgressBar {
 public:
  explicit ProgressBar(std::ostream& err) : err_(err), start_(Clock::now()) {}
  void Update(std::int32_t done, std::int32_t total);
  void Finish();  // ends the line, once something was shown

 private:
  using Clock = std::chrono::steady_clock;
  std::ostream& err_;
  Clock::time_point start_;
  Clock::time_point shown_{};
  bool any_ = false;
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_META_META_PROGRESS_H_
