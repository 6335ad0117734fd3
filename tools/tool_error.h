// The one exception type of the companion tools. Every reader, ranker and
// writer of this folder throws it with a complete one-line message (file,
// line, what is wrong and, where it helps, what to do); the command-line
// front ends print that line after the program name and exit with status 1.
#ifndef KORVELAN_TOOLS_TOOL_ERROR_H_
#define KORVELAN_TOOLS_TOOL_ERROR_H_

#include <stdexcept>
#include <string>

namespace korvelan::tools {

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_TOOL_ERROR_H_
