// The one exception type of the companion tools. Every reader, ranker and
// writer of this folder throws it with a complete one-line message (file,
// line, what is wrong and, where it helps, what to do); the command-line
// front ends print that line after the program name and map its kind to
// the exit status (see ExitStatus in tools/message_text.h).
#ifndef KORVELAN_TOOLS_TOOL_ERROR_H_
#define KORVELAN_TOOLS_TOOL_ERROR_H_

#include <stdexcept>
#include <string>

namespace korvelan::tools {

enum class ErrorKind {
  kData,         // the inputs or the file system: status 1
  kUsage,        // the command line (an argument, an output directory): status 2
  kStopped,      // a signal stopped a read or the work: 128 + the signal
};

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, ErrorKind kind = ErrorKind::kData)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_TOOL_ERROR_H_
