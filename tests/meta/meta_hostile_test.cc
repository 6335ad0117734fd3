// The companion programs against hostile input and faults, through the
// built binaries: --force never removes a file it did not write, every
// refusal comes before the analysis with one safe line and the status of
// its kind, and every terminating signal leaves no partial directory.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/e2e/program_runner.h"

namespace korvelan {
namespace {

namespace fs = std::filesystem;
using e2e::ReadBytes;
using e2e::RunResult;
using e2e::RunSpec;
using e2e::ScratchDir;
using e2e::WriteBytes;

const fs::path kBreast = fs::path(KORVELAN_META_TEST_DATA) / "topklists-breast3" / "breast.tsv";

class Hostile : public ::testing::Test {
 protected:
  RunResult Run(std::vector<std::string> args, std::vector<std::string> prefix = {}, int signal = 0,
                std::string signal_after = "running") {
    RunSpec spec;
    spec.prefix = std::move(prefix);
    spec.args = std::move(args);
    spec.signal = signal;
    spec.signal_after = std::move(signal_after);
    spec.signal_delay = std::chrono::milliseconds(300);
    spec.timeout = std::chrono::seconds(60);
    const fs::path io = scratch_.path() / ("io" + std::to_string(++runs_));
    fs::create_directories(io);
    return e2e::RunProgram(scratch_.path(), io, spec);
  }
  fs::path Path(const std::string& name) const { return scratch_.path() / name; }
  // Temporary siblings a run leaves beside its -o directory.
  std::vector<std::string> Partials() const {
    std::vector<std::string> found;
    for (const auto& e : fs::recursive_directory_iterator(scratch_.path())) {
      const std::string name = e.path().filename().string();
      if (name.find(".partial-") != std::string::npos || name.find(".old-") != std::string::npos) {
        found.push_back(name);
      }
    }
    return found;
  }
  void Lists() {
    WriteBytes(Path("a.txt"), "x\ny\nz\n");
    WriteBytes(Path("b.txt"), "z\nx\ny\n");
  }

  ScratchDir scratch_;
  int runs_ = 0;
};

// One line on the error stream, with no control byte.
void ExpectOneSafeLine(const std::string& err, const std::string& name) {
  ASSERT_FALSE(err.empty()) << name;
  EXPECT_EQ(err.find('\n'), err.size() - 1) << name << ": " << err;
  EXPECT_TRUE(std::none_of(err.begin(), err.end() - 1,
                           [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
      << name << ": " << err;
  EXPECT_LT(err.size(), 700u) << name;
}

TEST_F(Hostile, ForceReplacesOnlyAResultsDirectory) {
  Lists();
  const std::vector<std::string> run = {"--runs", "5", "--seed", "2", "-q", "--force"};
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> fill;  // the -o directory, made before
    std::vector<std::string> inputs;            // relative to the scratch directory
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"earlier results",
       [](const fs::path& d) {
         WriteBytes(d / "results.tsv", "old\n");
         WriteBytes(d / "run.json", "{}");
       },
       {"a.txt", "b.txt"},
       0,
       ""},
      {"a user file",
       [](const fs::path& d) { WriteBytes(d / "notes.txt", "mine\n"); },
       {"a.txt", "b.txt"},
       2,
       "holds notes.txt; choose another -o directory"},
      {"a subdirectory",
       [](const fs::path& d) { fs::create_directories(d / "raw"); },
       {"a.txt", "b.txt"},
       2,
       "holds raw"},
      {"the inputs inside",
       [](const fs::path& d) {
         WriteBytes(d / "a.txt", "x\ny\nz\n");
         WriteBytes(d / "b.txt", "z\nx\ny\n");
       },
       {"out/a.txt", "out/b.txt"},
       2,
       "holds the input out/a.txt"},
      {"an input named like a result",
       [](const fs::path& d) { WriteBytes(d / "results.tsv", "x\ny\nz\n"); },
       {"out/results.tsv", "b.txt"},
       2,
       "holds the input out/results.tsv"},
      {"a symlink named like a result",
       [](const fs::path& d) { fs::create_symlink("../a.txt", d / "run.json"); },
       {"a.txt", "b.txt"},
       2,
       "holds run.json"},
  };
  for (const Case& c : cases) {
    fs::remove_all(Path("out"));
    fs::create_directories(Path("out"));
    c.fill(Path("out"));
    std::map<std::string, std::string> before;
    for (const auto& e : fs::directory_iterator(Path("out"))) {
      if (e.is_regular_file()) before[e.path().filename().string()] = ReadBytes(e.path());
    }
    std::vector<std::string> args = c.inputs;
    args.insert(args.end(), {"-o", "out"});
    args.insert(args.end(), run.begin(), run.end());
    const RunResult r = Run(args);
    EXPECT_EQ(r.exit_status, c.status) << c.name << ": " << e2e::Describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    if (c.status != 0) {
      // Refused before the analysis, and everything as it was.
      EXPECT_EQ(r.out.find("running"), std::string::npos) << c.name;
      for (const auto& [name, bytes] : before)
        EXPECT_EQ(ReadBytes(Path("out") / name), bytes) << c.name << ": " << name;
    } else {
      EXPECT_NE(ReadBytes(Path("out") / "results.tsv"), "old\n") << c.name;
    }
    EXPECT_TRUE(fs::exists(Path("a.txt"))) << c.name;
    EXPECT_EQ(Partials(), std::vector<std::string>{}) << c.name;
  }
}

TEST_F(Hostile, RefusalsComeFirstWithTheStatusOfTheirKind) {
  Lists();
  WriteBytes(Path("one.txt"), "x\n");
  WriteBytes(Path("latin1.txt"), "x\ny\ncaf\xe9\n");
  WriteBytes(Path("escape.txt"), "x\ny\x1b[2J\x1b]0;owned\x07\nz\ny\x1b[2J\x1b]0;owned\x07\n");
  std::string quote = "A,B\nx,\"y\n";
  for (int k = 0; k < 50; ++k) quote += "row" + std::to_string(k) + ",z\n";
  WriteBytes(Path("quote.csv"), quote);
  WriteBytes(Path("longnames.tsv"),
             "study\tgene\trank\nA\tx\t1\nA\ty\t2\nB\xff\tx\t1\nB\xff\ty\t2\n");
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"empty -o", {"a.txt", "b.txt", "-o", ""}, 2, "-o needs a directory name"},
      {"-o . with --force",
       {"a.txt", "b.txt", "-o", ".", "--force"},
       2,
       "is the working directory or holds it"},
      {"-o .. with --force",
       {"a.txt", "b.txt", "-o", "..", "--force"},
       2,
       "is the working directory or holds it"},
      {"hex seed",
       {"a.txt", "b.txt", "--seed", "0x10"},
       2,
       "--seed must be a whole number in decimal digits, not \"0x10\""},
      {"hex runs", {"a.txt", "b.txt", "--runs", "0x10"}, 2, "decimal digits"},
      {"empty universe", {"a.txt", "b.txt", "--universe", ""}, 2, "--universe needs a number"},
      {"negative universe",
       {"a.txt", "b.txt", "--universe", "-5"},
       2,
       "--universe N must be a whole number from 1 to 8388608, or the name of a file of ids, not \"-5\""},
      {"NaN weight",
       {"a.txt", "b.txt", "--weights", "1,nan"},
       2,
       "weight \"nan\" in --weights is not a number"},
      {"weights overflow as floats",
       {"a.txt", "b.txt", "a.txt", "--weights", "3e38,3e38,3e38"},
       2,
       "add up to more than single precision holds"},
      {"weights count",
       {"a.txt", "b.txt", "--weights", "1,2,3"},
       2,
       "--weights lists 3 weights for 2 studies"},
      {"argument not UTF-8",
       {"a.txt", "b.txt", "--gene", "G\xe9ne"},
       2,
       "argument 4 (\"G\\xe9ne\") is not UTF-8 text (byte 2)"},
      {"file name not UTF-8", {"a.txt", "b\xff.txt"}, 2, "argument 2 (\"b\\xff.txt\") is not UTF-8"},
      {"id not UTF-8",
       {"a.txt", "latin1.txt"},
       1,
       "latin1.txt line 3: the id \"caf\\xe9\" is not UTF-8 text (byte 4); save the file as UTF-8"},
      {"study name not UTF-8",
       {"longnames.tsv"},
       1,
       "longnames.tsv line 4: the study name \"B\\xff\""},
      {"control bytes escaped",
       {"a.txt", "escape.txt"},
       1,
       "study \"escape\" lists \"y\\x1b[2J\\x1b]0;owned\\x07\" twice, on lines 2 and 4"},
      {"unbalanced quote cut", {"quote.csv"}, 1, " ..."},
      {"one prefix", {"a.txt", "a.txt"}, 1, "korvelan-meta: two studies are named \"a\""},
      {"a study's error names its file",
       {"a.txt", "one.txt"},
       1,
       "korvelan-meta: one.txt: study \"one\" ranks 1 id"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (std::find(args.begin(), args.end(), "-o") == args.end())
      args.insert(args.end(), {"-o", "out"});
    if (std::find(args.begin(), args.end(), "--runs") == args.end())
      args.insert(args.end(), {"--runs", "5"});
    const RunResult r = Run(args);
    EXPECT_EQ(r.exit_status, c.status) << c.name << ": " << e2e::Describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_EQ(r.err.find("korvelan: "), std::string::npos) << c.name << ": " << r.err;
    ExpectOneSafeLine(r.err, c.name);
    // Arguments are judged before any input is read; the studies' faults
    // (the library's checks) come before the runs.
    if (c.status == 2) {
      EXPECT_EQ(r.out.find("running"), std::string::npos) << c.name << ": not refused first";
    }
    EXPECT_EQ(r.out.find("genes,"), std::string::npos) << c.name;
    EXPECT_FALSE(fs::exists(Path("out"))) << c.name;
    fs::remove_all(Path("out"));
  }
  EXPECT_EQ(Partials(), std::vector<std::string>{});
}

TEST_F(Hostile, CompanionsShareTheExitStatuses) {
  WriteBytes(Path("t1.tsv"), "Symbol\tpvalue\nx\t0.1\ny\t0.2\n");
  WriteBytes(Path("t2.tsv"), "Symbol\tpvalue\nx\t0.3\ny\t0.2\n");
  const std::vector<std::string> prepare = {"/bin/sh", "-c", "exec '" KORVELAN_PREPARE "' \"$@\""};
  const std::vector<std::string> report = {"/bin/sh", "-c", "exec '" KORVELAN_REPORT "' \"$@\""};
  struct Case {
    const char* name;
    std::vector<std::string> prefix;
    std::vector<std::string> args;
    int status;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"prepare --runs 0",
       prepare,
       {"t1.tsv", "t2.tsv", "-o", "p", "--gene", "Symbol", "--pvalue", "pvalue", "--runs", "0"},
       2,
       "--runs"},
      {"prepare hex runs",
       prepare,
       {"t1.tsv", "t2.tsv", "-o", "p", "--gene", "Symbol", "--pvalue", "pvalue", "--runs", "0x10"},
       2,
       "decimal digits"},
      {"prepare NaN weight",
       prepare,
       {"t1.tsv", "t2.tsv", "-o", "p", "--gene", "Symbol", "--pvalue", "pvalue", "--weights",
        "1,nan"},
       2,
       "korvelan-prepare: weight \"nan\" in --weights is not a number"},
      {"meta --runs 0", {}, {"t1.tsv", "t2.tsv", "-o", "p", "--runs", "0"}, 2, "--runs"},
      {"report hex seed", report, {".", "--seed", "0x10"}, 2, "decimal digits"},
      {"report a missing directory",
       report,
       {"nowhere"},
       1,
       "korvelan-report: cannot open nowhere/output.txt"},
  };
  for (const Case& c : cases) {
    const RunResult r = Run(c.args, c.prefix);
    EXPECT_EQ(r.exit_status, c.status) << c.name << ": " << e2e::Describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << ": " << r.err;
    EXPECT_FALSE(fs::exists(Path("p"))) << c.name;
  }
}

TEST_F(Hostile, EveryTerminatingSignalLeavesNoPartialDirectory) {
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGXFSZ,
                     SIGXCPU, SIGVTALRM, SIGPROF}) {
    const std::string name = strsignal(signal);
    const RunResult r =
        Run({kBreast.string(), "-o", "big", "--runs", "2000000", "--seed", "9", "--threads", "1"},
            {}, signal);
    ASSERT_TRUE(r.signal_sent) << name;
    EXPECT_EQ(r.exit_status, 128 + signal) << name << ": " << e2e::Describe(r);
    EXPECT_NE(r.err.find("interrupted; nothing was written"), std::string::npos)
        << name << ": " << r.err;
    EXPECT_FALSE(fs::exists(Path("big"))) << name;
    EXPECT_EQ(Partials(), std::vector<std::string>{}) << name;
  }
}

// Runs enough to be under way for well over the signal's 300 ms delay:
// some 2.5 s in an optimised build, and under AddressSanitizer, where the
// program is ten times slower, a seventh of them still takes 4 s.
#if defined(__SANITIZE_ADDRESS__)
constexpr const char* kLongRuns = "20000";
#else
constexpr const char* kLongRuns = "150000";
#endif

TEST_F(Hostile, AnIgnoredSignalStaysIgnored) {
  // nohup's way: SIGHUP ignored before the program starts. The run goes on
  // to its end.
  const RunResult r = Run(
      {kBreast.string(), "-o", "kept", "--runs", kLongRuns, "--seed", "9", "--threads", "1", "-q"},
      {"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$@\""}, SIGHUP);
  ASSERT_TRUE(r.signal_sent);
  EXPECT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_TRUE(fs::exists(Path("kept") / "results.tsv"));
}

TEST_F(Hostile, AFifoWithoutAWriterCanBeInterrupted) {
  Lists();
  ASSERT_EQ(mkfifo(Path("pipe.txt").c_str(), 0600), 0);
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = Run({"a.txt", "pipe.txt", "-o", "out"}, {}, SIGINT, "");
  ASSERT_TRUE(r.signal_sent);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 130) << e2e::Describe(r);
  EXPECT_NE(r.err.find("interrupted; nothing was written"), std::string::npos) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(Partials(), std::vector<std::string>{});
}

TEST_F(Hostile, LeftoversOfKilledRunsAreNamedAndKept) {
  Lists();
  fs::create_directories(Path(".out.partial-Ab12Cd") / "x");
  fs::create_directories(Path(".out.old-Zz99Yy"));
  fs::create_directories(Path(".out.partial-notours"));
  const RunResult r = Run({"a.txt", "b.txt", "-o", "out", "--runs", "5", "--seed", "1", "-q"});
  EXPECT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_NE(r.err.find("warning: ./.out.old-Zz99Yy is left from a run that did not finish"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find(".out.partial-Ab12Cd is left"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("notours"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(Path(".out.partial-Ab12Cd") / "x"));
  EXPECT_TRUE(fs::exists(Path(".out.old-Zz99Yy")));
}

TEST_F(Hostile, TheScreenShowsIdsEscaped) {
  WriteBytes(Path("a.txt"), "x\x1b[2J\ny\nz\n");
  WriteBytes(Path("b.txt"), "z\nx\x1b[2J\ny\n");
  const RunResult r = Run({"a.txt", "b.txt", "-o", "out", "--runs", "5", "--seed", "1"});
  EXPECT_EQ(r.exit_status, 0) << e2e::Describe(r);
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("x\\x1b[2J"), std::string::npos) << r.out;
  // The results keep the id as it is.
  EXPECT_NE(ReadBytes(Path("out") / "results.tsv").find("x\x1b[2J\t"), std::string::npos);
}

}  // namespace
}  // namespace korvelan
