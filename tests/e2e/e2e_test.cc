// End-to-end cases: the built program run in a fresh working directory
// with piped answers; standard output, standard error, the exit status and
// the files left behind are compared byte for byte with the case's golden
// files. One directory per case under the cases directory:
//
//   args             optional: arguments, one per line
//   stdin            optional: the bytes piped to standard input (else empty)
//   wrapper          optional: a command prefix, one word per line; the case
//                    is skipped when its first word is not an executable
//   big              optional: marks a slow case, run by the big binary only
//   files/           optional: copied into the working directory first
//   expected/stdout, expected/stderr (@CWD@ = the working directory),
//   expected/status  ("<decimal>\n"),
//   expected/files/NAME        the file's final content,
//   expected/files/NAME.absent the file must not exist afterwards
//
// KORVELAN_REGENERATE=1 rewrites expected/ from the actual results (only the
// files already named under expected/files/). KORVELAN_E2E_KEEP=1 keeps the
// temporary directories. Each case has 60 s (KORVELAN_E2E_TIMEOUT).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/program_runner.h"

#ifndef KORVELAN_BINARY
#error "KORVELAN_BINARY must name the program under test"
#endif
#ifndef KORVELAN_E2E_CASES
#error "KORVELAN_E2E_CASES must name the cases directory"
#endif
#ifndef KORVELAN_E2E_BIG
#define KORVELAN_E2E_BIG 0
#endif

namespace {

namespace fs = std::filesystem;
using korvelan::e2e::OnPath;
using korvelan::e2e::ReadBytes;
using korvelan::e2e::WriteBytes;

// A hang fails its case instead of blocking the run; KORVELAN_E2E_TIMEOUT
// (seconds) overrides the default for slow builds.
std::chrono::seconds Timeout() {
  const char* v = std::getenv("KORVELAN_E2E_TIMEOUT");
  const long s = v ? std::strtol(v, nullptr, 10) : 0;
  return std::chrono::seconds(s > 0 ? s : 60);
}
constexpr std::string_view kCwdMarker = "@CWD@";

struct Case {
  std::string name;
  fs::path dir;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::vector<Case> DiscoverCases() {
  std::vector<Case> cases;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(KORVELAN_E2E_CASES, ec)) {
    if (!entry.is_directory()) continue;
    const bool big = fs::exists(entry.path() / "big");
    if (big == (KORVELAN_E2E_BIG != 0))
      cases.push_back({entry.path().filename().string(), entry.path()});
  }
  std::sort(cases.begin(), cases.end(),
            [](const Case& a, const Case& b) { return a.name < b.name; });
  return cases;
}

std::string TestName(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return out;
}

bool Flag(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr && std::string_view(v) == "1";
}

std::vector<std::string> ReadLines(const fs::path& p) {
  std::vector<std::string> lines;
  if (!fs::exists(p)) return lines;
  std::istringstream in(ReadBytes(p));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string ReplaceAll(std::string s, std::string_view from, std::string_view to) {
  if (from.empty()) return s;
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

// Bytes made readable for a failure message: CR, LF and control bytes
// spelled out.
std::string Visible(std::string_view s) {
  std::string out;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (u < 0x20 || u == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02X", u);
      out += buf;
    } else out += c;
  }
  return out;
}

// Equal bytes, or a failure that shows the first line that differs.
void ExpectSameBytes(const std::string& what, const std::string& expected,
                     const std::string& actual) {
  if (expected == actual) return;
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const std::size_t line_start = expected.rfind('\n', at == 0 ? 0 : at - 1);
  const std::size_t from = (line_start == std::string::npos || at == 0) ? 0 : line_start + 1;
  const auto line_of = [from](const std::string& s) {
    if (from >= s.size()) return std::string("<end>");
    const std::size_t end = s.find('\n', from);
    return Visible(s.substr(from, end == std::string::npos ? std::string::npos : end - from + 1));
  };
  const auto line_number =
      std::count(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(from), '\n') + 1;
  ADD_FAILURE() << what << " differs at byte " << at << " (line " << line_number << ", "
                << expected.size() << " bytes expected, " << actual.size() << " actual)\n"
                << "  expected: " << line_of(expected) << "\n"
                << "  actual:   " << line_of(actual);
}

struct Outcome {
  std::string out;
  std::string err;
  std::string status;
  bool timed_out = false;
};

// Runs the program in `cwd` with everything prepared before the fork, so
// that the child only makes async-signal-safe calls.
Outcome RunProgram(const fs::path& cwd, const fs::path& scratch, const Case& c,
                   const std::vector<std::string>& wrapper) {
  std::vector<std::string> words = wrapper;
  words.push_back(KORVELAN_BINARY);
  for (auto& a : ReadLines(c.dir / "args")) words.push_back(a);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  const fs::path stdin_file = c.dir / "stdin";
  const std::string in_path = fs::exists(stdin_file) ? stdin_file.string() : "/dev/null";
  const std::string out_path = (scratch / "stdout").string();
  const std::string err_path = (scratch / "stderr").string();
  const std::string dir = cwd.string();
  const bool search = !wrapper.empty();
  // A wrapper that preloads a library of its own (faketime) would otherwise
  // stop a sanitizer build at start-up: its runtime insists on coming first.
  std::vector<std::string> env_strings;
  for (char** e = environ; *e != nullptr; ++e) {
    if (!search || std::string_view(*e).rfind("ASAN_OPTIONS=", 0) != 0) env_strings.push_back(*e);
  }
  if (search) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    env_strings.push_back(std::string("ASAN_OPTIONS=") +
                          (asan && *asan ? std::string(asan) + ":" : "") +
                          "verify_asan_link_order=0");
  }
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int in = open(in_path.c_str(), O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    close(in);
    close(out);
    close(err);
    if (search) execvpe(argv[0], argv.data(), envp.data());
    else execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  // Also here, so that a timeout's kill reaches the group whichever of the
  // two calls comes first.
  if (pid > 0) setpgid(pid, pid);
  Outcome o;
  if (pid < 0) {
    o.status = std::string("fork failed: ") + std::strerror(errno) + "\n";
    return o;
  }
  int st = 0;
  const auto deadline = std::chrono::steady_clock::now() + Timeout();
  for (;;) {
    const pid_t r = waitpid(pid, &st, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      waitpid(pid, &st, 0);
      o.timed_out = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(st)) o.status = std::to_string(WEXITSTATUS(st)) + "\n";
  else if (WIFSIGNALED(st)) o.status = "signal " + std::to_string(WTERMSIG(st)) + "\n";
  o.out = ReadBytes(out_path);
  o.err = ReadBytes(err_path);
  return o;
}

class E2e : public testing::TestWithParam<Case> {};

TEST_P(E2e, MatchesGolden) {
  const Case& c = GetParam();
  const std::vector<std::string> wrapper = ReadLines(c.dir / "wrapper");
  if (!wrapper.empty() && !OnPath(wrapper.front())) {
    GTEST_SKIP() << wrapper.front() << " is not installed";
  }

  std::string pattern = (fs::temp_directory_path() / "korvelan-e2e-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
  const fs::path scratch = fs::canonical(pattern);
  const fs::path cwd = scratch / "cwd";
  fs::create_directory(cwd);
  if (fs::exists(c.dir / "files")) {
    fs::copy(c.dir / "files", cwd, fs::copy_options::recursive);
  }

  const Outcome o = RunProgram(cwd, scratch, c, wrapper);
  EXPECT_FALSE(o.timed_out) << "no end within " << Timeout().count() << " s";

  const fs::path expected = c.dir / "expected";
  const std::string cwd_text = cwd.string();
  const fs::path files = expected / "files";
  std::vector<fs::path> named;
  if (fs::exists(files)) {
    for (const auto& e : fs::directory_iterator(files)) named.push_back(e.path());
  }
  std::sort(named.begin(), named.end());

  if (Flag("KORVELAN_REGENERATE")) {
    WriteBytes(expected / "stdout", o.out);
    WriteBytes(expected / "stderr", ReplaceAll(o.err, cwd_text, kCwdMarker));
    WriteBytes(expected / "status", o.status);
    for (const auto& p : named) {
      if (p.extension() == ".absent") continue;
      const fs::path actual = cwd / p.filename();
      if (fs::exists(actual)) WriteBytes(p, ReadBytes(actual));
      else ADD_FAILURE() << p.filename() << " was not left behind; golden kept";
    }
  } else {
    ExpectSameBytes("standard output", ReadBytes(expected / "stdout"), o.out);
    ExpectSameBytes("standard error",
                    ReplaceAll(ReadBytes(expected / "stderr"), kCwdMarker, cwd_text), o.err);
    ExpectSameBytes("exit status", ReadBytes(expected / "status"), o.status);
    for (const auto& p : named) {
      if (p.extension() == ".absent") {
        EXPECT_FALSE(fs::exists(cwd / p.stem())) << p.stem() << " must not exist";
        continue;
      }
      const fs::path actual = cwd / p.filename();
      if (!fs::is_regular_file(actual)) {
        ADD_FAILURE() << p.filename() << " was not left behind";
        continue;
      }
      ExpectSameBytes(p.filename().string(), ReadBytes(p), ReadBytes(actual));
    }
  }

  if (Flag("KORVELAN_E2E_KEEP")) {
    std::cout << "kept " << scratch << "\n";
  } else {
    std::error_code ec;
    fs::remove_all(scratch, ec);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, E2e, testing::ValuesIn(DiscoverCases()),
                         [](const testing::TestParamInfo<Case>& param_info) {
                           return TestName(param_info.param.name);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(E2e);

}  // namespace
