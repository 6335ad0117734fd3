// Faults from outside, end to end: closed or failing standard streams,
// files that may not be written (as an unprivileged user, on a read-only or
// full file system), a process that may not start threads, very long lines
// and console interrupts. Every case must end with its report and a
// non-zero exit status, or with a complete and correct result; none may end
// with status 0 and an incomplete "output.txt".
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/program_runner.h"

#ifndef KORVELAN_BINARY
#error "KORVELAN_BINARY must name the program under test"
#endif

namespace korvelan::e2e {
namespace {

constexpr const char* kOldResults = "results of an earlier run\r\nthat must survive\r\n";

// Answers of a main analysis.
std::string MainAnswers(int studies, int probes, int classes, long runs) {
  return "1\n" + std::to_string(studies) + "\n" + std::to_string(probes) + "\n" +
         std::to_string(classes) + "\n" + std::to_string(runs) + "\n";
}

// "data.txt" with one record per probe: label, S ranks (some missing), class.
std::string DataRecords(int probes, int studies, int classes, const char* separator = "\n") {
  std::string out;
  for (int i = 1; i <= probes; ++i) {
    out += std::to_string(i);
    for (int j = 1; j <= studies; ++j) {
      out += ' ';
      if ((i * 7 + j * 3) % 11 == 0) {
        out += "-99";
      } else {
        out += std::to_string((static_cast<std::int64_t>(i) * (2 * j + 1)) % probes + 1);
      }
    }
    out += ' ';
    out += std::to_string(i % classes + 1);
    out += separator;
  }
  return out;
}

std::string Weights(int studies) {
  std::string out;
  for (int j = 1; j <= studies; ++j) out += std::to_string(j) + " ";
  return out + "\n";
}

// Lines of a text, split at CR LF.
std::vector<std::string> Records(const std::string& text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      out.push_back(text.substr(at));
      break;
    }
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

// A complete results file of `probes` probes: the 12 legend records and one
// 199-character record per probe, each ended with CR LF.
void ExpectCompleteResults(const std::string& file, int probes) {
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
  const std::vector<std::string> records = Records(file);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(12 + probes));
  EXPECT_EQ(records[0], " Columns are appeared as follows:");
  for (std::size_t i = 12; i < records.size(); ++i) {
    ASSERT_EQ(records[i].size(), 199u) << "record " << i + 1;
  }
}

class FaultTest : public testing::Test {
 protected:
  fs::path cwd() const { return scratch_.path() / "cwd"; }
  void SetUp() override { fs::create_directory(cwd()); }
  void Put(const std::string& name, const std::string& bytes) { WriteBytes(cwd() / name, bytes); }
  std::string Get(const std::string& name) const { return ReadBytes(cwd() / name); }
  bool Exists(const std::string& name) const { return fs::exists(cwd() / name); }
  std::string Path(const std::string& name) const { return (cwd() / name).string(); }
  RunResult Run(const RunSpec& spec) { return RunProgram(cwd(), scratch_.path(), spec); }

  // A small main analysis that ends normally.
  void PutSmallMainInputs() {
    Put("data.txt", DataRecords(40, 3, 4));
    Put("weights.txt", Weights(3));
  }
  static std::string SmallMainAnswers() { return MainAnswers(3, 40, 4, 5); }

 private:
  ScratchDir scratch_;
};

// ---- Standard streams -----------------------------------------------

TEST_F(FaultTest, StandardStreamsThatFail) {
  const std::string stdout_error = "KORVELAN: error writing standard output: ";
  const struct {
    const char* name;
    bool close_stdin;
    Stream out;
    const char* arg;  // or null
    int status;
    std::string err;  // standard error (of a severe report: its first line)
  } cases[] = {
      {"stdin_closed", true, Stream::kFile, nullptr, 24,
       "forrtl: severe (24): end-of-file during read, unit -4, file CONIN$\r\n"},
      {"stdout_closed", false, Stream::kClosed, nullptr, 1,
       stdout_error + "Bad file descriptor\r\n"},
      {"stdout_closed_version", false, Stream::kClosed, "--version", 1,
       stdout_error + "Bad file descriptor\r\n"},
      {"stdout_closed_help", false, Stream::kClosed, "--help", 1,
       stdout_error + "Bad file descriptor\r\n"},
      {"stdout_full_device", false, Stream::kDevFull, nullptr, 1,
       stdout_error + "No space left on device\r\n"},
      {"stdout_pipe_without_reader", false, Stream::kBrokenPipe, nullptr, 1,
       stdout_error + "Broken pipe\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PutSmallMainInputs();
    RunSpec spec;
    spec.close_stdin = c.close_stdin;
    spec.out = c.out;
    if (c.arg != nullptr) spec.args = {c.arg};
    spec.input = SmallMainAnswers();
    const RunResult r = Run(spec);
    EXPECT_EQ(r.exit_status, c.status) << Describe(r);
    // Severe reports go on with the call-stack listing; its first line is
    // the report.
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);
    if (c.status != 24) {
      EXPECT_EQ(r.err, c.err);
    }
    EXPECT_FALSE(Exists("output.txt"));
    fs::remove(cwd() / "output.txt");
  }
}

TEST_F(FaultTest, ClosedStandardInputEndsAtTheFirstQuestion) {
  RunSpec spec;
  spec.close_stdin = true;
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 24) << Describe(r);
  const std::vector<std::string> lines = Records(r.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            " For Main analysis type \"1\" for Retricted Heterogeneity analysis type \"0\"");
}

// The reports cannot be written, but the status still tells.
TEST_F(FaultTest, ClosedStandardErrorKeepsTheExitStatus) {
  Put("weights.txt", Weights(3));
  RunSpec spec;
  spec.input = SmallMainAnswers();
  spec.close_stderr = true;
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 24) << Describe(r);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Get("data.txt"), "");  // created empty by its open
}

// ---- Files that may not be written ---------------------------------

// The command prefix that runs the program as an unprivileged user, for
// whom file modes bind; empty when the tests already run as one. Returns
// false, with the reason in `why`, when that is not possible here (no
// setpriv, no user nobody, or a build directory that user cannot reach).
bool UnprivilegedPrefix(std::vector<std::string>& prefix, std::string& why) {
  prefix.clear();
  if (geteuid() != 0) return true;
  if (!OnPath("setpriv")) {
    why = "setpriv is not installed";
    return false;
  }
  if (getpwnam("nobody") == nullptr || getgrnam("nogroup") == nullptr) {
    why = "no user nobody or group nogroup";
    return false;
  }
  prefix = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
  ScratchDir probe;
  RunSpec spec;
  spec.prefix = prefix;
  spec.args = {"--version"};
  if (RunProgram(probe.path(), probe.path(), spec).exit_status != 0) {
    why = "the program cannot be run as user nobody from where it was built";
    return false;
  }
  return true;
}

TEST_F(FaultTest, RefusedFilesWhenUnprivileged) {
  RunSpec spec;
  std::string why;
  if (!UnprivilegedPrefix(spec.prefix, why)) GTEST_SKIP() << why;
  spec.input = SmallMainAnswers();
  const struct {
    const char* name;
    void (*prepare)(const fs::path& dir);
    int status;
    const char* file;  // named in the report
    int unit;
  } cases[] = {
      {"results_file_read_only",
       [](const fs::path& dir) { chmod((dir / "output.txt").c_str(), 0444); }, 9, "output.txt", 3},
      {"working_directory_read_only",
       [](const fs::path& dir) {
         fs::remove(dir / "output.txt");
         chmod(dir.c_str(), 0555);
       },
       9, "output.txt", 3},
      {"data_unreadable", [](const fs::path& dir) { chmod((dir / "data.txt").c_str(), 0); }, 9,
       "data.txt", 10},
      {"data_missing_in_read_only_directory",
       [](const fs::path& dir) {
         fs::remove(dir / "data.txt");
         chmod(dir.c_str(), 0555);
       },
       9, "data.txt", 10},
      {"weights_unreadable", [](const fs::path& dir) { chmod((dir / "weights.txt").c_str(), 0); },
       9, "weights.txt", 18},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    chmod(cwd().c_str(), 0755);
    PutSmallMainInputs();
    Put("output.txt", kOldResults);
    chmod(cwd().c_str(), 0777);  // the unprivileged run may create files
    chmod(Path("data.txt").c_str(), 0644);
    chmod(Path("weights.txt").c_str(), 0644);
    chmod(Path("output.txt").c_str(), 0666);
    c.prepare(cwd());
    const RunResult r = Run(spec);
    EXPECT_EQ(r.exit_status, c.status) << Describe(r);
    EXPECT_EQ(r.err.substr(0, r.err.find("\r\n")),
              "forrtl: severe (9): permission to access file denied, unit " +
                  std::to_string(c.unit) + ", file " + Path(c.file));
    // Refused before any computation.
    EXPECT_EQ(r.out.find("Run="), std::string::npos);
    if (Exists("output.txt")) {
      EXPECT_EQ(Get("output.txt"), kOldResults);
    }
    chmod(cwd().c_str(), 0755);
  }
}

// Files the program may only read are read; "output.txt" is all it writes.
TEST_F(FaultTest, ReadOnlyInputsAreRead) {
  RunSpec spec;
  std::string why;
  if (!UnprivilegedPrefix(spec.prefix, why)) GTEST_SKIP() << why;
  PutSmallMainInputs();
  chmod(Path("data.txt").c_str(), 0444);
  chmod(Path("weights.txt").c_str(), 0444);
  chmod(cwd().c_str(), 0777);
  spec.input = SmallMainAnswers();
  spec.args = {"--seed", "11"};
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 0) << Describe(r);
  EXPECT_EQ(r.err, "");
  ExpectCompleteResults(Get("output.txt"), 40);
}

// Whether `script` can run in a private user and mount namespace here (it
// is given a scratch directory as $1): containers often forbid them.
bool CanMount(const std::string& script, std::string& why) {
  if (!OnPath("unshare")) {
    why = "unshare is not installed";
    return false;
  }
  ScratchDir probe;
  const std::string command =
      "unshare -rm sh -c '" + script + "' sh '" + probe.path().string() + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    why = "mounts in a user namespace are not allowed here";
    return false;
  }
  return true;
}

// The working directory made a read-only mount: the results file cannot be
// opened for writing (EROFS), the inputs are still read.
TEST_F(FaultTest, ResultsOnAReadOnlyFileSystem) {
  std::string why;
  if (!CanMount("mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\"", why)) {
    GTEST_SKIP() << why;
  }
  PutSmallMainInputs();
  Put("output.txt", kOldResults);
  RunSpec spec;
  spec.prefix = {"unshare",
                 "-rm",
                 "sh",
                 "-c",
                 "mount --bind . . && mount -o remount,bind,ro . && cd \"$PWD\" && exec \"$@\"",
                 "sh"};
  spec.input = SmallMainAnswers();
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 9) << Describe(r);
  EXPECT_EQ(r.err.substr(0, r.err.find("\r\n")),
            "forrtl: severe (9): permission to access file denied, unit 3, file " +
                Path("output.txt"));
  EXPECT_EQ(Get("output.txt"), kOldResults);
}

// A file system too small for the results: the failed write is reported
// and the run does not end as a success.
TEST_F(FaultTest, ResultsOnAFullFileSystem) {
  std::string why;
  if (!CanMount("mount -t tmpfs -o size=16k korvelan \"$1\"", why)) GTEST_SKIP() << why;
  const fs::path inputs = cwd().parent_path() / "inputs";
  fs::create_directory(inputs);
  WriteBytes(inputs / "data.txt", DataRecords(200, 3, 4));
  WriteBytes(inputs / "weights.txt", Weights(3));
  RunSpec spec;
  spec.prefix = {"unshare",
                 "-rm",
                 "sh",
                 "-c",
                 "mount -t tmpfs -o size=16k korvelan \"$PWD\" && cd \"$PWD\" && "
                 "cp ../inputs/data.txt ../inputs/weights.txt . && exec \"$@\"",
                 "sh"};
  spec.input = MainAnswers(3, 200, 4, 2);
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 1) << Describe(r);
  EXPECT_EQ(r.err, "KORVELAN: error writing unit 3, file " + Path("output.txt") +
                       ": No space left on device\r\n");
}

// The results file a symbolic link to a device that refuses every byte.
TEST_F(FaultTest, ResultsOnAFullDevice) {
  PutSmallMainInputs();
  fs::create_symlink("/dev/full", cwd() / "output.txt");
  RunSpec spec;
  spec.input = SmallMainAnswers();
  const RunResult r = Run(spec);
  EXPECT_EQ(r.exit_status, 1) << Describe(r);
  EXPECT_EQ(r.err, "KORVELAN: error writing unit 3, file " + Path("output.txt") +
                       ": No space left on device\r\n");
}

// ---- A process that may not start threads ----------------------------

// Without its interrupt thread the program still runs to a complete result.
TEST_F(FaultTest, NoThreadsToBeHad) {
  RunSpec spec;
  std::string why;
  // Root is not bound by the limit on processes: run as another user.
  if (!UnprivilegedPrefix(spec.prefix, why)) GTEST_SKIP() << why;
  if (!OnPath("prlimit")) GTEST_SKIP() << "prlimit is not installed";
  PutSmallMainInputs();
  chmod(cwd().c_str(), 0777);
  spec.prefix.insert(spec.prefix.end(), {"prlimit", "--nproc=1", "--"});
  spec.input = SmallMainAnswers();
  spec.args = {"--seed", "3"};
  const RunResult limited = Run(spec);
  EXPECT_EQ(limited.exit_status, 0) << Describe(limited);
  EXPECT_EQ(limited.err, "");
  const std::string results = Get("output.txt");
  ExpectCompleteResults(results, 40);

  fs::remove(cwd() / "output.txt");
  RunSpec unlimited;
  unlimited.args = {"--seed", "3"};
  unlimited.input = SmallMainAnswers();
  const RunResult free = Run(unlimited);
  EXPECT_EQ(free.exit_status, 0) << Describe(free);
  EXPECT_EQ(Get("output.txt"), results);
  EXPECT_EQ(free.out, limited.out);
}

// ---- Long lines -------------------------------------------------------

// The whole data file as one line of more than 1 MB reads like one record
// per line; a console answer of 1 MB is one answer.
TEST_F(FaultTest, OneMegabyteLines) {
  constexpr int kProbes = 30000;
  const std::string per_line = DataRecords(kProbes, 5, 50);
  const std::string one_line = DataRecords(kProbes, 5, 50, " ");
  ASSERT_GT(one_line.size(), 1u << 20);
  const std::string answers = MainAnswers(5, kProbes, 50, 2);
  Put("weights.txt", Weights(5));

  Put("data.txt", per_line);
  RunSpec spec;
  spec.args = {"--seed", "99"};
  spec.input = answers;
  const RunResult reference = Run(spec);
  ASSERT_EQ(reference.exit_status, 0) << Describe(reference);
  const std::string results = Get("output.txt");
  ExpectCompleteResults(results, kProbes);

  const struct {
    const char* name;
    std::string data;
    std::string answers;
  } cases[] = {
      {"data_on_one_line_without_line_end", one_line, answers},
      {"data_on_one_line_then_line_end", one_line + "\r\n", answers},
      // The rest of an answer's line is never looked at.
      {"answer_line_of_one_megabyte", per_line,
       "1" + std::string(1 << 19, ' ') + std::string(1 << 19, 'x') + answers.substr(1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(cwd() / "output.txt");
    Put("data.txt", c.data);
    spec.input = c.answers;
    const RunResult r = Run(spec);
    EXPECT_EQ(r.exit_status, 0) << Describe(r);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, reference.out);
    EXPECT_TRUE(Get("output.txt") == results) << "output.txt differs";
  }
}

TEST_F(FaultTest, OneMegabyteTokens) {
  const struct {
    const char* name;
    std::string token;
    int status;
  } cases[] = {
      {"digits_beyond_every_float", std::string(1 << 20, '9'), 64},
      {"zeros_then_a_digit", "0." + std::string(1 << 20, '0') + "1", 0},
      {"a_word", std::string(1 << 20, 'x'), 59},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(cwd() / "output.txt");
    // The token is the first study's rank of the second probe.
    Put("data.txt", "1 1 1\n2 " + c.token + " 1\n3 3 1\n");
    Put("weights.txt", "1\n");
    RunSpec spec;
    spec.args = {"--seed", "5"};
    spec.input = MainAnswers(1, 3, 1, 1);
    const RunResult r = Run(spec);
    EXPECT_EQ(r.exit_status, c.status) << Describe(r);
    if (c.status == 0) {
      ExpectCompleteResults(Get("output.txt"), 3);
    } else {
      EXPECT_EQ(r.err.find("forrtl: severe (" + std::to_string(c.status) + "): "), 0u) << r.err;
      EXPECT_NE(r.err.find("unit 10, file " + Path("data.txt")), std::string::npos) << r.err;
    }
  }
}

// ---- Console interrupts -----------------------------------------------

struct InterruptCase {
  const char* name;
  int signal;
  const char* event;
};

constexpr InterruptCase kInterrupts[] = {
    {"control_c", SIGINT, "control-C"},
    {"control_break", SIGQUIT, "control-BREAK"},
    {"window_close", SIGHUP, "window-CLOSE"},
};

std::string InterruptReport(const InterruptCase& c) {
  return std::string("forrtl: error (200): program aborting due to ") + c.event + " event\r\n";
}

// During the runs: the report, 128 + the signal, whole console records, the
// earlier "output.txt" and the inputs untouched.
TEST_F(FaultTest, InterruptsDuringTheRuns) {
  const std::string data = DataRecords(3000, 3, 1);
  for (const InterruptCase& c : kInterrupts) {
    SCOPED_TRACE(c.name);
    Put("data.txt", data);
    Put("weights.txt", Weights(3));
    Put("output.txt", kOldResults);
    RunSpec spec;
    spec.input = MainAnswers(3, 3000, 1, 2000000000);
    spec.signal = c.signal;
    const RunResult r = Run(spec);
    ASSERT_TRUE(r.signal_sent) << Describe(r);
    EXPECT_EQ(r.exit_status, 128 + c.signal) << Describe(r);
    EXPECT_EQ(r.err, InterruptReport(c));
    EXPECT_NE(r.out.find(" Run=           1\r\n"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "\r\n");
    EXPECT_EQ(Get("output.txt"), kOldResults);
    EXPECT_EQ(Get("data.txt"), data);
  }
}

// Waiting for an answer: nothing but the report; no results file is made.
TEST_F(FaultTest, InterruptsAtAQuestion) {
  for (const InterruptCase& c : kInterrupts) {
    SCOPED_TRACE(c.name);
    PutSmallMainInputs();
    RunSpec spec;
    spec.input = "1\n";
    spec.hold_stdin_open = true;
    spec.signal = c.signal;
    spec.signal_after = "Enter the number of studies";
    const RunResult r = Run(spec);
    ASSERT_TRUE(r.signal_sent) << Describe(r);
    EXPECT_EQ(r.exit_status, 128 + c.signal) << Describe(r);
    EXPECT_EQ(r.err, InterruptReport(c));
    EXPECT_FALSE(Exists("output.txt"));
  }
}

// An interrupt near the end of a main analysis, when the results file may
// be being written: the file is then finished first. Whenever the signal
// lands, "output.txt" holds either its old contents or the complete new
// results, never a part of them.
TEST_F(FaultTest, InterruptNearTheEndLeavesOldOrCompleteResults) {
  constexpr int kProbes = 60000;
  Put("data.txt", DataRecords(kProbes, 3, kProbes));
  Put("weights.txt", Weights(3));
  for (const InterruptCase& c : kInterrupts) {
    SCOPED_TRACE(c.name);
    Put("output.txt", kOldResults);
    RunSpec spec;
    spec.input = MainAnswers(3, kProbes, kProbes, 1);
    spec.signal = c.signal;
    spec.signal_after = " Run=           1\r\n";
    const RunResult r = Run(spec);
    const std::string file = Get("output.txt");
    if (r.exit_status == 0) {
      // The signal came after the normal end had begun.
      ExpectCompleteResults(file, kProbes);
      continue;
    }
    EXPECT_EQ(r.exit_status, 128 + c.signal) << Describe(r);
    EXPECT_EQ(r.err, InterruptReport(c));
    if (file != kOldResults) ExpectCompleteResults(file, kProbes);
  }
}

// Standard output a pipe that nobody reads: the program is stuck in a
// console write, and an interrupt must still end it.
TEST_F(FaultTest, InterruptWithStandardOutputStalled) {
  Put("data.txt", DataRecords(4, 1, 1));
  Put("weights.txt", Weights(1));
  Put("output.txt", kOldResults);
  RunSpec spec;
  spec.input = MainAnswers(1, 4, 1, 2000000000);
  spec.out = Stream::kStalledPipe;
  spec.signal = SIGINT;
  spec.signal_after = "";
  spec.signal_delay = std::chrono::milliseconds(500);
  spec.timeout = std::chrono::seconds(30);
  const RunResult r = Run(spec);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 130) << Describe(r);
  EXPECT_EQ(r.err, InterruptReport(kInterrupts[0]));
  EXPECT_EQ(Get("output.txt"), kOldResults);
}

}  // namespace
}  // namespace korvelan::e2e
