// korvelan-report's command line, callable in-process: the main only hands
// over its arguments and streams.
//
// Exit statuses: 0 done (and for --help), 1 a failure while working (one
// line "korvelan-report: <message>" on the error stream), 2 a command line
// that cannot be used (one line, then a pointer to --help).
#ifndef KORVELAN_TOOLS_REPORT_REPORT_COMMAND_H_
#define KORVELAN_TOOLS_REPORT_REPORT_COMMAND_H_

#include <ostream>
#include <span>
#include <string>

namespace korvelan::tools {

// `args` excludes the program name.
int ReportMain(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_REPORT_REPORT_COMMAND_H_
