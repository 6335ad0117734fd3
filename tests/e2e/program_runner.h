// Runs the built program the way a user or a pipeline would, with the
// standard streams, the working directory and the moment of an interrupt
// under the test's control. Used by the fault tests, whose cases do not fit
// the golden-file layout (closed streams, signals, other users, mounts).
#ifndef KORVELAN_TESTS_E2E_PROGRAM_RUNNER_H_
#define KORVELAN_TESTS_E2E_PROGRAM_RUNNER_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace korvelan::e2e {

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Writes `bytes` as the whole file, making its directory first if need be.
inline void WriteBytes(const fs::path& p, const std::string& bytes) {
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// Whether `word` names an executable on PATH (or is an executable path).
inline bool OnPath(const std::string& word) {
  if (word.find('/') != std::string::npos) return access(word.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / word;
    if (access(candidate.c_str(), X_OK) == 0 && !fs::is_directory(candidate)) return true;
  }
  return false;
}

// A fresh directory under the system's temporary directory, removed with
// everything in it (whatever its modes) when the object dies.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (fs::temp_directory_path() / "korvelan-fault-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = fs::canonical(pattern);
    // Other users (the unprivileged runs) must reach the working directory.
    chmod(path_.c_str(), 0755);
  }
  ~ScratchDir() {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(path_, ec)) {
      if (e.is_directory(ec)) chmod(e.path().c_str(), 0755);
    }
    fs::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

enum class Stream {
  kFile,         // standard output into a file (the default)
  kClosed,       // descriptor closed before the program starts
  kDevFull,      // /dev/full: every write fails with ENOSPC
  kBrokenPipe,   // a pipe whose reading end is already closed
  kStalledPipe,  // a pipe that is never read
};

struct RunSpec {
  std::vector<std::string> prefix;  // words before the program (wrappers)
  std::vector<std::string> args;
  std::string input;  // standard input bytes
  bool close_stdin = false;
  bool hold_stdin_open = false;  // a pipe that gives `input` and then waits
  Stream out = Stream::kFile;
  bool close_stderr = false;
  // When non-zero: sent to the program `signal_delay` after `signal_after`
  // appears on its standard output (after the start when that is empty).
  int signal = 0;
  std::string signal_after = "Run=";
  std::chrono::milliseconds signal_delay{0};
  std::chrono::seconds timeout{120};
};

struct RunResult {
  std::string out;
  std::string err;
  int exit_status = -1;  // when it exited
  int term_signal = 0;   // when a signal ended it
  bool timed_out = false;
  bool signal_sent = false;
};

inline std::string Describe(const RunResult& r) {
  std::ostringstream s;
  s << "exit " << r.exit_status << ", signal " << r.term_signal
    << (r.timed_out ? ", timed out" : "") << "\nstderr: " << r.err;
  return s.str();
}

// Runs the program (KORVELAN_BINARY) in `cwd`; standard output and error go
// to files in `scratch`. Everything the child needs is prepared before the
// fork, so that it only makes async-signal-safe calls.
inline RunResult RunProgram(const fs::path& cwd, const fs::path& scratch, const RunSpec& spec) {
  std::vector<std::string> words = spec.prefix;
  words.push_back(KORVELAN_BINARY);
  words.insert(words.end(), spec.args.begin(), spec.args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const bool search = !spec.prefix.empty();

  const std::string in_path = (scratch / "stdin").string();
  const std::string out_path = (scratch / "stdout").string();
  const std::string err_path = (scratch / "stderr").string();
  WriteBytes(in_path, spec.input);
  WriteBytes(out_path, "");
  WriteBytes(err_path, "");
  const std::string dir = cwd.string();

  int in_pipe[2] = {-1, -1};
  int out_pipe[2] = {-1, -1};
  if (spec.hold_stdin_open && pipe(in_pipe) != 0) std::abort();
  if ((spec.out == Stream::kBrokenPipe || spec.out == Stream::kStalledPipe) && pipe(out_pipe) != 0) {
    std::abort();
  }
  if (spec.out == Stream::kBrokenPipe) {
    close(out_pipe[0]);
    out_pipe[0] = -1;
  }

  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int err = open(err_path.c_str(), O_WRONLY);
    if (err < 0 || chdir(dir.c_str()) != 0) _exit(126);
    int in = -1;
    if (spec.hold_stdin_open) {
      in = in_pipe[0];
      close(in_pipe[1]);
    } else if (!spec.close_stdin) {
      in = open(in_path.c_str(), O_RDONLY);
    }
    int out = -1;
    switch (spec.out) {
      case Stream::kFile: out = open(out_path.c_str(), O_WRONLY); break;
      case Stream::kDevFull: out = open("/dev/full", O_WRONLY); break;
      case Stream::kBrokenPipe:
      case Stream::kStalledPipe: out = out_pipe[1]; break;
      case Stream::kClosed: break;
    }
    if (out_pipe[0] >= 0) close(out_pipe[0]);
    // Move everything out of the way of 0, 1 and 2 first.
    const int in_hi = in >= 0 ? fcntl(in, F_DUPFD, 10) : -1;
    const int out_hi = out >= 0 ? fcntl(out, F_DUPFD, 10) : -1;
    const int err_hi = fcntl(err, F_DUPFD, 10);
    close(0);
    close(1);
    close(2);
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    close(err);
    if (in_hi >= 0) dup2(in_hi, 0);
    if (out_hi >= 0) dup2(out_hi, 1);
    if (!spec.close_stderr) dup2(err_hi, 2);
    if (in_hi >= 0) close(in_hi);
    if (out_hi >= 0) close(out_hi);
    close(err_hi);
    if (search) execvp(argv[0], argv.data());
    else execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid > 0) setpgid(pid, pid);
  RunResult r;
  if (pid < 0) return r;
  if (spec.hold_stdin_open) {
    close(in_pipe[0]);
    if (!spec.input.empty() && write(in_pipe[1], spec.input.data(), spec.input.size()) < 0) {
      std::abort();
    }
  }
  if (out_pipe[1] >= 0) close(out_pipe[1]);

  int st = 0;
  const auto deadline = std::chrono::steady_clock::now() + spec.timeout;
  std::chrono::steady_clock::time_point signal_at{};
  bool seen = false;
  for (;;) {
    const pid_t w = waitpid(pid, &st, WNOHANG);
    if (w == pid) break;
    if (w < 0 && errno != EINTR) break;
    if (spec.signal != 0 && !seen) {
      seen = spec.signal_after.empty() ||
             (spec.out == Stream::kFile &&
              ReadBytes(out_path).find(spec.signal_after) != std::string::npos);
      if (seen) signal_at = std::chrono::steady_clock::now() + spec.signal_delay;
    }
    if (seen && !r.signal_sent && std::chrono::steady_clock::now() >= signal_at) {
      kill(pid, spec.signal);
      r.signal_sent = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      r.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (spec.hold_stdin_open) close(in_pipe[1]);
  if (out_pipe[0] >= 0) close(out_pipe[0]);
  if (WIFEXITED(st)) r.exit_status = WEXITSTATUS(st);
  if (WIFSIGNALED(st)) r.term_signal = WTERMSIG(st);
  r.out = ReadBytes(out_path);
  r.err = ReadBytes(err_path);
  return r;
}

}  // namespace korvelan::e2e

#endif  // KORVELAN_TESTS_E2E_PROGRAM_RUNNER_H_
