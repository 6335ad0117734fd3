// korvelan-meta's command line, callable in-process: from input files to a
// results directory (results.tsv, report.html, run.json) in one call.
//
// Exit statuses: 0 done (and --help, --version); 1 a data error (one line
// "korvelan-meta: <message>" naming the file and line where one is at
// fault); 2 a command line that cannot be used (also an existing -o
// directory without --force); kInterrupted when `stop` was requested
// during the work (nothing written, the -o directory as it was).
#ifndef KORVELAN_TOOLS_META_META_COMMAND_H_
#define KORVELAN_TOOLS_META_META_COMMAND_H_

#include <ostream>
#include <span>
#include <stop_token>
#include <string>

namespace korvelan::tools {

inline constexpr int kInterrupted = 130;

struct MetaTerminal {
  std::stop_token stop;       // requested by the program's signal thread
  bool progress_bar = false;  // the error stream is a terminal
};

// `args` excludes the program name.
int MetaMain(std::span<const std::string> args, std::ostream& out, std::ostream& err,
             const MetaTerminal& terminal);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_META_META_COMMAND_H_
