// The signals of a program that must end cleanly when asked to: every
// catchable signal whose default action ends the process (SIGINT, SIGTERM,
// SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ, ...) is
// blocked before any other thread starts and taken by one waiting thread,
// which asks the work to stop; the program then unwinds, removes what it
// staged and exits with 128 + the signal. A signal that was ignored when
// the program started (nohup, a background job) stays ignored; the fault
// signals (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS) and
// those that do not end a process keep their default action.
//
// A thread blocked in open() or read() (a FIFO without a writer, a
// terminal) does not look at the stop token: after a stop the waiting
// thread knocks on the main thread with SIGURG every 50 ms. Its handler
// does nothing and is installed without SA_RESTART, so the blocked call
// fails with EINTR (ReadWholeFile reports that as an interrupted read).
// SIGURG is ignored by default, so the handler changes nothing else.
//
// SIGPIPE and SIGXFSZ raised by a failing write of this process go to the
// writing thread, where they stay blocked: the write fails with EPIPE or
// EFBIG and is reported as an error, as it should be.
#ifndef KORVELAN_TOOLS_CLI_SIGNAL_THREAD_H_
#define KORVELAN_TOOLS_CLI_SIGNAL_THREAD_H_

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <stop_token>
#include <thread>

namespace korvelan::tools {

class SignalThread {
 public:
  // Call from the main thread before any other thread exists.
  SignalThread();
  // Ends the waiting thread; a signal taken up to here stays in received().
  ~SignalThread();
  SignalThread(const SignalThread&) = delete;
  SignalThread& operator=(const SignalThread&) = delete;

  std::stop_token token() const { return stop_.get_token(); }
  // The first signal taken, or 0.
  int received() const { return received_.load(); }

 private:
  void Wait();

  sigset_t taken_;    // the signals that stop the work
  sigset_t handled_;  // those and the knock that ends waiting
  pthread_t main_;
  std::stop_source stop_;
  std::atomic<int> received_{0};
  std::atomic<bool> done_{false};
  std::thread waiter_;
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_CLI_SIGNAL_THREAD_H_
