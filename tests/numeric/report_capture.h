// Test helpers for the numeric library: a scope that starts the error
// services and the random stream afresh and captures every report line, and
// a check that a call ends with the library's terminal stop.
#ifndef KORVELAN_TESTS_NUMERIC_REPORT_CAPTURE_H_
#define KORVELAN_TESTS_NUMERIC_REPORT_CAPTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "numeric/error_services.h"
#include "numeric/random.h"
#include "textio/termination.h"

namespace korvelan::numeric::testing {

class CapturedReports {
 public:
  CapturedReports() {
    ResetErrorServicesForTesting();
    ResetRandomStreamForTesting();
    SetReportSinkForTesting([this](std::string_view line) { lines_.emplace_back(line); });
  }
  ~CapturedReports() {
    ResetErrorServicesForTesting();
    ResetRandomStreamForTesting();
  }
  CapturedReports(const CapturedReports&) = delete;
  CapturedReports& operator=(const CapturedReports&) = delete;

  const std::vector<std::string>& lines() const { return lines_; }
  void clear() { lines_.clear(); }

 private:
  std::vector<std::string> lines_;
};

// Runs `call` and checks that it ends with the terminal stop: exit status 1
// and no report line of its own (the library printed its report already).
template <class Call>
::testing::AssertionResult EndsWithStop(Call call) {
  try {
    call();
  } catch (const textio::Termination& t) {
    if (t.ExitStatus() != 1) {
      return ::testing::AssertionFailure() << "stop with status " << t.ExitStatus();
    }
    if (!t.ReportLine().empty()) {
      return ::testing::AssertionFailure() << "stop with report " << t.ReportLine();
    }
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "the call returned";
}

}  // namespace korvelan::numeric::testing

#endif  // KORVELAN_TESTS_NUMERIC_REPORT_CAPTURE_H_
