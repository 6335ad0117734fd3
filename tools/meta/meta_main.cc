// korvelan-meta's process: it owns its signals (tools/cli/signal_thread.h).
// The signal thread starts before any other, so every thread of the work
// inherits the blocked mask; a signal asks the analysis to stop, the work
// unwinds, the staged directory is removed, and the status is 128 + the
// signal.
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "tools/meta/meta_command.h"
#include "tools/cli/signal_thread.h"

int main(int argc, char** argv) {
  int status = 0;
  int received = 0;
  {
    korvelan::tools::SignalThread signals;
    std::vector<std::string> args(argv + 1, argv + argc);
    korvelan::tools::MetaTerminal terminal;
    terminal.stop = signals.token();
    terminal.progress_bar = isatty(STDERR_FILENO) == 1;
    status = korvelan::tools::MetaMain(args, std::cout, std::cerr, terminal);
    std::cout.flush();
    received = signals.received();
  }
  if (status == korvelan::tools::kInterrupted && received != 0) status = 128 + received;
  return status;
}
