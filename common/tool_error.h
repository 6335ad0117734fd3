// The one exception type of the readers and writers, public as
// korvelan::InputError (korvelan/input_error.h): every reader, ranker and writer
// here throws it with a complete one-line message (file, line, what is
// wrong and, where it helps, what to do); the command-line front ends print
// that line after the program name and map its kind to the exit status
// (see ExitStatus in tools/cli/message_text.h).
#ifndef KORVELAN_COMMON_TOOL_ERROR_H_
#define KORVELAN_COMMON_TOOL_ERROR_H_

#include "korvelan/input_error.h"

namespace korvelan::tools {

using ErrorKind = InputErrorKind;
using ToolError = InputError;

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_TOOL_ERROR_H_
