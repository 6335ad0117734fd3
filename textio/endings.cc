// The ways a run ends: Exit after a condition, the normal end, and the
// console interrupt thread.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "textio/channels.h"
#include "textio/fd_io.h"
#include "textio/termination.h"

namespace korvelan::textio {
namespace {

// Taken, and never released, by whichever ending comes first; the others
// wait here until the process is gone. Never taken while waiting for the
// output lock, so a thread that holds the output lock can always end.
std::mutex& EndingMutex() {
  static std::mutex m;
  return m;
}

void WriteReport(const std::string& bytes) { (void)internal::WriteAll(STDERR_FILENO, bytes); }

[[noreturn]] void EndProcess(int status) {
  // No destructors and no atexit handlers: other threads may still be
  // using the data they would tear down. Only standard output's stdio
  // buffer is flushed (this program writes it with write(2), but a library
  // might not); fflush(nullptr) would lock every stream, standard input
  // included, which a reading thread may hold.
  std::fflush(stdout);
  ::_exit(status);
}

sigset_t InterruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGQUIT);
  sigaddset(&set, SIGHUP);
  return set;
}

const char* EventName(int sig) {
  switch (sig) {
    case SIGINT: return "control-C";
    case SIGQUIT: return "control-BREAK";
    default: return "window-CLOSE";
  }
}

// How long an interrupt waits for a console record to be written out. A
// console that takes no more output (a pipe nobody reads) must not hold the
// interrupt off for ever; a results file being written is always waited for.
constexpr std::chrono::milliseconds kConsoleGrace(1000);

void InterruptThread() {
  const sigset_t set = InterruptSignals();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  // Wait until no console record is half written and the results file, if
  // it is being written, is complete and closed.
  const auto deadline = std::chrono::steady_clock::now() + kConsoleGrace;
  bool locked = OutputLock().try_lock();
  while (!locked && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    locked = OutputLock().try_lock();
  }
  if (!locked && internal::StopResultsForInterrupt()) OutputLock().lock();
  EndingMutex().lock();
  std::string line = "forrtl: error (200): program aborting due to ";
  line += EventName(sig);
  line += " event\r\n";
  WriteReport(line);
  internal::CloseRegisteredFiles(false);
  EndProcess(128 + sig);
}

}  // namespace

void InstallInterruptHandling() {
  static std::once_flag once;
  std::call_once(once, [] {
    // A write to a closed pipe or beyond the file-size limit must come back
    // as an error, not end the process silently.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    const sigset_t set = InterruptSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
      std::thread(InterruptThread).detach();
    } catch (const std::system_error&) {
      // No thread to be had (a process limit). The run can still go on; an
      // interrupt then ends the process by the signal itself, without the
      // report, which is better than no run at all.
      pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
  });
}

void Exit(const Termination& t) {
  EndingMutex().lock();
  std::string report = t.ReportLine();
  if (!report.empty() || t.HasStackListing()) report += "\r\n";
  if (t.HasStackListing()) report += t.StackText();
  if (!report.empty()) WriteReport(report);
  internal::CloseRegisteredFiles(false);
  EndProcess(t.ExitStatus());
}

void NormalEnd() {
  EndingMutex().lock();
  std::string error = internal::CloseRegisteredFiles(true);
  if (error.empty() && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
    error = "KORVELAN: error writing standard output: " + std::string(std::strerror(errno));
  }
  // Closing standard output is where a delayed write error of a file or
  // pipe behind it would show.
  if (error.empty() && ::close(STDOUT_FILENO) != 0 && errno != EINTR && errno != EBADF) {
    error = "KORVELAN: error writing standard output: " + std::string(std::strerror(errno));
  }
  if (!error.empty()) {
    WriteReport(error + "\r\n");
    EndProcess(1);
  }
  EndProcess(0);
}

}  // namespace korvelan::textio
