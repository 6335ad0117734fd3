// The one-line messages of the companion programs and the exit statuses
// they share:
//
//   0    done (also --help and --version)
//   1    the data or the file system: an input, a read, a write
//   2    the command line: an option, an argument, the output directory
//   128 + N  stopped by signal N (130: Ctrl-C), nothing written
//
// A message may quote bytes of an input file. Printed as it is, a control
// byte would reach the terminal (an escape sequence, a line end that makes
// one message look like two, a NUL); an unbalanced quote could make the
// quotation run to the end of the file. MessageLine makes any text one
// line of bounded length that is safe to show.
#ifndef KORVELAN_TOOLS_CLI_MESSAGE_TEXT_H_
#define KORVELAN_TOOLS_CLI_MESSAGE_TEXT_H_

#include <cstddef>
#include <exception>
#include <ostream>
#include <string>
#include <string_view>

#include "common/tool_error.h"

namespace korvelan::tools {

inline constexpr int kStatusData = 1;
inline constexpr int kStatusUsage = 2;
inline constexpr int kStatusCtrlC = 130;

// At most this many bytes of message text, not counting the program name.
inline constexpr std::size_t kMessageLimit = 480;

// `text` as one line: control bytes, DEL and bytes that are not UTF-8
// written as \t, \n, \r or \xHH (a backslash stays itself), cut after
// kMessageLimit bytes with " ..." and never inside an escape or a
// character. The library's own "korvelan: " prefix is dropped: the
// program's name goes in front instead.
std::string MessageLine(std::string_view text);

// The same escapes and cut for text shown on the screen (an id, a path),
// without touching a prefix.
std::string EscapedText(std::string_view text, std::size_t limit = kMessageLimit);

// The one place a companion program turns a failure into its last line
// and exit status: writes "<program>: <MessageLine(what)>", followed by
// " (see <program> --help)" for a usage error, and returns the status of
// the error's kind (a ToolError's; 1 for anything else: a file system
// refusal, memory).
int ReportError(std::ostream& err, std::string_view program, const std::exception& error);

int StatusOf(ErrorKind kind);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_CLI_MESSAGE_TEXT_H_
