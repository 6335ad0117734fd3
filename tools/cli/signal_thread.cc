#include "tools/cli/signal_thread.h"

#include <time.h>
#include <unistd.h>

#include <vector>

namespace korvelan::tools {
namespace {

// The signals that end a process by default and can be caught, less the
// ones a fault raises in the faulting thread (those must stay deadly).
std::vector<int> TerminatingSignals() {
  std::vector<int> signals = {SIGHUP,    SIGINT,  SIGQUIT, SIGTERM, SIGUSR1,
                              SIGUSR2,   SIGALRM, SIGPIPE, SIGXFSZ, SIGXCPU,
                              SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSTKFLT};
  for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) signals.push_back(s);
  return signals;
}

bool IgnoredAtStart(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void Knocked(int) {}

// From pthread_kill of this process's own waiting thread (see ~SignalThread).
// Some kernels (seen under a paravirtual guest) report a tgkill as SI_USER
// rather than SI_TKILL: any code of a signal sent by a process (<= 0) with
// our own pid is the knock. Missing it cost every run 50 ms: the knock was
// taken as a stop, and the thread then waited out a timed knock cycle.
bool FromThisProcess(const siginfo_t& info) { return info.si_code <= 0 && info.si_pid == getpid(); }

}  // namespace

SignalThread::SignalThread() : main_(pthread_self()) {
  sigemptyset(&taken_);
  for (int s : TerminatingSignals()) {
    if (!IgnoredAtStart(s)) sigaddset(&taken_, s);
  }
  handled_ = taken_;
  // The knock that ends waiting once the work is over (blocked even when
  // SIGUSR1 itself is ignored, so that the knock is never lost).
  sigaddset(&handled_, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &handled_, nullptr);
  struct sigaction knock {};
  knock.sa_handler = Knocked;
  sigemptyset(&knock.sa_mask);
  knock.sa_flags = 0;  // no SA_RESTART: a blocked open() or read() returns EINTR
  sigaction(SIGURG, &knock, nullptr);
  waiter_ = std::thread([this] { Wait(); });
}

void SignalThread::Wait() {
  for (;;) {
    siginfo_t info{};
    int signal = 0;
    if (stop_.stop_requested()) {
      const timespec pause{0, 50'000'000};
      signal = sigtimedwait(&handled_, &info, &pause);
      if (signal < 0) {
        if (done_.load()) return;
        pthread_kill(main_, SIGURG);
        continue;
      }
    } else {
      signal = sigwaitinfo(&handled_, &info);
      if (signal < 0) continue;  // EINTR
    }
    if (signal == SIGUSR1 && FromThisProcess(info) && done_.load()) return;
    if (sigismember(&taken_, signal) != 1) continue;
    int none = 0;
    received_.compare_exchange_strong(none, signal);
    stop_.request_stop();
  }
}

SignalThread::~SignalThread() {
  done_.store(true);
  pthread_kill(waiter_.native_handle(), SIGUSR1);
  waiter_.join();
}

}  // namespace korvelan::tools
