// The one way the companion programs read their command lines with CLI11:
// --help and --version print and end with 0; a command line that cannot
// be used is one line on the error stream and status 2.
#ifndef KORVELAN_TOOLS_CLI_CLI_PARSE_H_
#define KORVELAN_TOOLS_CLI_CLI_PARSE_H_

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "korvelan/version.h"
#include "tools/cli/message_text.h"

namespace korvelan::tools {

// "<program> (KORVELAN) <version>": the line of every companion's --version.
inline std::string ToolVersionLine(const std::string& program) {
  return program + " (KORVELAN) " + kVersion;
}

// Whole numbers on the command line are written in decimal: CLI11 would
// also read 0x10, 0o20 and 0b10000 as 16, which a typo can produce unseen.
inline const CLI::Validator kDecimalOnly(
    [](const std::string& text) -> std::string {
      std::string_view digits = text;
      if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
        digits.remove_prefix(1);
      if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos)
        return {};
      return "\"" + text + "\" is not a whole number in decimal digits";
    },
    "", "DECIMAL");

// Parses `args` (without the program name) into `app`, which gets a
// --version flag here. Returns the exit status when the program is done
// (help or version shown: 0; a usage error: 2), nothing when it should go on.
inline std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program,
                                           std::span<const std::string> args, std::ostream& out,
                                           std::ostream& err) {
  app.set_version_flag("--version", ToolVersionLine(program));
  for (CLI::Option* option : app.get_options()) {
    // The type name may go on with the checks' descriptions ("INT:INT in [1 - 5]").
    const std::string type = option->get_type_name();
    if (type == "INT" || type == "UINT" || type.starts_with("INT:") || type.starts_with("UINT:")) {
      option->check(kDecimalOnly);
    }
  }
  // CLI11 parses argv-style arrays; the strings stay alive in `args`.
  std::vector<const char*> argv{program.c_str()};
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    out << app.help();
    return 0;
  } catch (const CLI::CallForVersion&) {
    out << ToolVersionLine(program) << "\n";
    return 0;
  } catch (const CLI::ParseError& error) {
    return ReportError(err, program, ToolError(error.what(), ErrorKind::kUsage));
  }
  return std::nullopt;
}

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_CLI_CLI_PARSE_H_
