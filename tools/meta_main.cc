// korvelan-meta's process: it owns its signals. SIGINT and SIGTERM are
// blocked before any thread starts (so every thread inherits the mask) and
// taken by one thread with sigwait, which asks the analysis to stop; the
// work then unwinds, the staged directory is removed, and the status is
// 128 + the signal.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <iostream>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "tools/meta_command.h"

int main(int argc, char** argv) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  // SIGUSR1 only wakes the waiting thread when the work is done.
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::stop_source stop;
  std::atomic<int> received{0};
  std::thread waiter([&] {
    int signal = 0;
    while (sigwait(&set, &signal) == 0) {
      if (signal == SIGUSR1) return;
      received.store(signal);
      stop.request_stop();
    }
  });

  std::vector<std::string> args(argv + 1, argv + argc);
  korvelan::tools::MetaTerminal terminal;
  terminal.stop = stop.get_token();
  terminal.progress_bar = isatty(STDERR_FILENO) == 1;
  int status = korvelan::tools::MetaMain(args, std::cout, std::cerr, terminal);
  std::cout.flush();
  pthread_kill(waiter.native_handle(), SIGUSR1);
  waiter.join();
  if (status == korvelan::tools::kInterrupted && received.load() != 0) status = 128 + received.load();
  return status;
}
