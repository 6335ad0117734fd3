#include "textio/termination.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "textio/channels.h"

namespace korvelan::textio {
namespace {

using ::testing::ExitedWithCode;
using ::testing::StrEq;

struct ReportCase {
  const char* name;
  Termination t;
  std::string line;
  int status;
};

TEST(Termination, ReportLinesAndStatuses) {
  const std::string data = "/work/data.txt";
  const ReportCase cases[] = {
      {"permission", Termination::SevereIo(Severe::kPermission, 3, "/w/output.txt"),
       "forrtl: severe (9): permission to access file denied, unit 3, file /w/output.txt", 9},
      {"end_of_file", Termination::SevereIo(Severe::kEndOfFile, 10, data),
       "forrtl: severe (24): end-of-file during read, unit 10, file /work/data.txt", 24},
      {"end_of_console", Termination::SevereIo(Severe::kEndOfFile, -4, "CONIN$"),
       "forrtl: severe (24): end-of-file during read, unit -4, file CONIN$", 24},
      {"not_found", Termination::SevereIo(Severe::kFileNotFound, 18, "/w/x/weights.txt"),
       "forrtl: severe (29): file not found, unit 18, file /w/x/weights.txt", 29},
      {"open_failure", Termination::SevereIo(Severe::kOpenFailure, 3, "/w/output.txt"),
       "forrtl: severe (30): open failure, unit 3, file /w/output.txt", 30},
      {"no_memory", Termination::SevereCondition(Severe::kNoMemory),
       "forrtl: severe (41): insufficient virtual memory", 41},
      {"syntax", Termination::SevereIo(Severe::kSyntax, -4, "CONIN$"),
       "forrtl: severe (59): list-directed I/O syntax error, unit -4, file CONIN$", 59},
      {"conversion", Termination::SevereIo(Severe::kConversion, -4, "CONIN$"),
       "forrtl: severe (64): input conversion error, unit -4, file CONIN$", 64},
      {"already_allocated", Termination::SevereCondition(Severe::kAlreadyAllocated),
       "forrtl: severe (151): allocatable array is already allocated", 151},
      {"not_allocated", Termination::SevereCondition(Severe::kNotAllocated),
       "forrtl: severe (153): allocatable array or pointer is not allocated", 153},
      {"bounds", Termination::SevereCondition(Severe::kBounds),
       "forrtl: severe (161): Program Exception - array bounds exceeded", 161},
      {"stop", Termination::Stop(1), "", 1},
      {"message", Termination::Message("KORVELAN: record 3 of data.txt", 1),
       "KORVELAN: record 3 of data.txt", 1},
  };
  for (const ReportCase& c : cases) {
    EXPECT_EQ(c.t.ReportLine(), c.line) << c.name;
    EXPECT_EQ(c.t.ExitStatus(), c.status) << c.name;
    EXPECT_EQ(c.t.HasStackListing(), c.t.SevereNumber() != 0) << c.name;
  }
}

TEST(Termination, StackIsRecordedWhereTheConditionArises) {
  EXPECT_EQ(StackListing(), "Call stack (innermost first):\r\n  in KORVELAN\r\n");
  std::optional<Termination> caught;
  try {
    PhaseScope outer("LOAD");
    PhaseScope inner("SROWR");
    EXPECT_EQ(StackListing(),
              "Call stack (innermost first):\r\n  in SROWR\r\n  in LOAD\r\n  in KORVELAN\r\n");
    throw Termination::SevereCondition(Severe::kBounds);
  } catch (const Termination& t) {
    caught = t;
  }
  EXPECT_EQ(caught->StackText(),
            "Call stack (innermost first):\r\n  in SROWR\r\n  in LOAD\r\n  in KORVELAN\r\n");
  EXPECT_EQ(StackListing(), "Call stack (innermost first):\r\n  in KORVELAN\r\n");
  EXPECT_EQ(Termination::Stop(1).StackText(), "");
}

// Exit() writes the report and the listing, and nothing else.
TEST(ExitDeathTest, SevereReportListingAndStatus) {
  EXPECT_EXIT(
      {
        PhaseScope scope("CLASS SORT");
        Exit(Termination::SevereIo(Severe::kEndOfFile, 10, "/w/data.txt"));
      },
      ExitedWithCode(24),
      StrEq("forrtl: severe (24): end-of-file during read, unit 10, file /w/data.txt\r\n"
            "Call stack (innermost first):\r\n  in CLASS SORT\r\n  in KORVELAN\r\n"));
  EXPECT_EXIT(Exit(Termination::SevereCondition(Severe::kBounds)), ExitedWithCode(161),
              StrEq("forrtl: severe (161): Program Exception - array bounds exceeded\r\n"
                    "Call stack (innermost first):\r\n  in KORVELAN\r\n"));
  EXPECT_EXIT(Exit(Termination::SevereIo(Severe::kSyntax, -4, "CONIN$")), ExitedWithCode(59),
              ::testing::StartsWith("forrtl: severe (59): "));
}

TEST(ExitDeathTest, StopAndMessage) {
  EXPECT_EXIT(Exit(Termination::Stop(1)), ExitedWithCode(1), StrEq(""));
  EXPECT_EXIT(Exit(Termination::Message("KORVELAN: error writing standard output: x", 1)),
              ExitedWithCode(1), StrEq("KORVELAN: error writing standard output: x\r\n"));
}

TEST(ExitDeathTest, DoesNotDeadlockWhileHoldingTheOutputLock) {
  char dir[] = "/tmp/korvelan_exit_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/output.txt";
  EXPECT_EXIT(
      {
        ResultsFile f(path, kOutputUnit);
        f.BeginWriting();
        f.Write("partial\r\n");
        Exit(Termination::SevereCondition(Severe::kBounds));
      },
      ExitedWithCode(161), ::testing::HasSubstr("(161)"));
  // What was buffered was written out when the file was closed.
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "partial\r\n");
  std::remove(path.c_str());
  rmdir(dir);
}

TEST(NormalEndDeathTest, ExitsWithZero) { EXPECT_EXIT(NormalEnd(), ExitedWithCode(0), StrEq("")); }

struct InterruptCase {
  const char* name;
  int signal;
  const char* event;
};

TEST(InterruptDeathTest, ReportAndStatusPerSignal) {
  const InterruptCase cases[] = {
      {"control_c", SIGINT, "control-C"},
      {"control_break", SIGQUIT, "control-BREAK"},
      {"window_close", SIGHUP, "window-CLOSE"},
  };
  for (const InterruptCase& c : cases) {
    EXPECT_EXIT(
        {
          InstallInterruptHandling();
          // To the process, as the terminal sends it; the interrupt thread
          // takes it from there.
          kill(getpid(), c.signal);
          for (;;) pause();
        },
        ExitedWithCode(128 + c.signal),
        StrEq(std::string("forrtl: error (200): program aborting due to ") + c.event + " event\r\n"))
        << c.name;
  }
}

TEST(InterruptDeathTest, WaitsUntilTheResultsFileIsClosed) {
  char dir[] = "/tmp/korvelan_interrupt_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/output.txt";
  {
    std::ofstream old(path, std::ios::binary);
    old << "an older and longer results file\r\n";
  }
  EXPECT_EXIT(
      {
        InstallInterruptHandling();
        ResultsFile f(path, kOutputUnit);
        f.BeginWriting();
        f.Write("first\r\n");
        kill(getpid(), SIGINT);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        f.Write("second\r\n");
        f.EndAndClose();
        for (;;) pause();
      },
      ExitedWithCode(130),
      StrEq("forrtl: error (200): program aborting due to control-C event\r\n"));
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_EQ(ss.str(), "first\r\nsecond\r\n");
  std::remove(path.c_str());
  rmdir(dir);
}

// Standard output a pipe that nobody reads: the console write blocks for
// good while it holds the output lock, and the interrupt must still end the
// process (after its grace for the record in progress).
TEST(InterruptDeathTest, DoesNotWaitForAStalledConsoleForEver) {
  EXPECT_EXIT(
      {
        int fds[2];
        if (pipe(fds) != 0 || dup2(fds[1], STDOUT_FILENO) < 0) std::_Exit(99);
        InstallInterruptHandling();
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          kill(getpid(), SIGQUIT);
          // A regression must fail the test, not hang it.
          std::this_thread::sleep_for(std::chrono::seconds(20));
          std::_Exit(98);
        }).detach();
        const std::string record(1000, 'x');
        for (;;) ConsoleWrite(record);
      },
      ExitedWithCode(128 + SIGQUIT),
      StrEq("forrtl: error (200): program aborting due to control-BREAK event\r\n"));
}

TEST(InterruptDeathTest, PipeAndFileSizeSignalsAreIgnored) {
  EXPECT_EXIT(
      {
        InstallInterruptHandling();
        raise(SIGPIPE);
        raise(SIGXFSZ);
        std::_Exit(7);
      },
      ExitedWithCode(7), StrEq(""));
}

}  // namespace
}  // namespace korvelan::textio
