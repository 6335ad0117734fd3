#include "textio/channels.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "textio/list_input.h"
#include "textio/termination.h"

namespace korvelan::textio {
namespace {

using ::testing::ExitedWithCode;
using ::testing::StrEq;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

// A fresh directory that the test works in; the working directory is put
// back and the directory removed afterwards.
class ChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/korvelan_channels_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    chmod(dir_.c_str(), 0755);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    CloseAllFiles();
    ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
    const std::string rm = "chmod -R u+rwx '" + dir_ + "' && rm -rf '" + dir_ + "'";
    ASSERT_EQ(std::system(rm.c_str()), 0);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  std::string old_cwd_;
};

// The condition number an open raises, 0 when it succeeds.
int OpenCondition(const std::function<void()>& open) {
  try {
    open();
  } catch (const Termination& t) {
    return t.SevereNumber();
  }
  return 0;
}

TEST_F(ChannelsTest, FullPathIsWorkingDirectoryPlusName) {
  EXPECT_EQ(FullPath("data.txt"), dir_ + "/data.txt");
}

TEST_F(ChannelsTest, ResultsFileCutsALongerOldFile) {
  WriteFile("output.txt", std::string(1000, 'o'));
  ResultsFile f("output.txt", kOutputUnit);
  EXPECT_EQ(f.path(), Path("output.txt"));
  f.BeginWriting();
  f.Write("new\r\n");
  f.EndAndClose();
  EXPECT_EQ(ReadFile("output.txt"), "new\r\n");
}

TEST_F(ChannelsTest, ResultsFileNeverWrittenKeepsTheOldContents) {
  WriteFile("output.txt", "old results\r\n");
  { ResultsFile f("output.txt", kOutputUnit); }
  EXPECT_EQ(ReadFile("output.txt"), "old results\r\n");
  ResultsFile g("output.txt", kOutputUnit);
  CloseAllFiles();  // an ending: closed, not cut
  EXPECT_EQ(ReadFile("output.txt"), "old results\r\n");
}

TEST_F(ChannelsTest, ResultsFileCreatedAndWrittenInLargePieces) {
  std::string expected;
  ResultsFile f("output.txt", kOutputUnit);
  for (int i = 0; i < 20000; ++i) {
    const std::string record = std::to_string(i) + std::string(190, '.') + "\r\n";
    f.Write(record);
    expected += record;
  }
  f.Write(std::string(3 << 20, 'x'));  // more than the buffer at once
  expected += std::string(3 << 20, 'x');
  f.EndAndClose();
  EXPECT_EQ(ReadFile("output.txt"), expected);
}

TEST_F(ChannelsTest, ResultsFileThatIsAPipeIsNotCut) {
  ASSERT_EQ(mkfifo("output.txt", 0644), 0);
  ResultsFile f("output.txt", kOutputUnit);  // read-write: opens at once
  const int reader = open("output.txt", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  f.Write("through a pipe\r\n");
  f.EndAndClose();
  char buf[64] = {};
  EXPECT_EQ(read(reader, buf, sizeof buf), 16);
  EXPECT_STREQ(buf, "through a pipe\r\n");
  close(reader);
}

TEST_F(ChannelsTest, ConsoleWritesWholeRecordsWithCrLf) {
  const int saved = dup(STDOUT_FILENO);
  const int fd = open("console.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  fflush(stdout);
  dup2(fd, STDOUT_FILENO);
  close(fd);
  ConsoleWrite("The number of studies is", 10);
  ConsoleWrite(" ");
  ConsoleWrite("right-sided P-value for Q=", 0.05);
  ConsoleFormatted("*** TERMINAL ERROR 2 from SROWR.");
  ConsoleFormatted("");
  dup2(saved, STDOUT_FILENO);
  close(saved);
  EXPECT_EQ(ReadFile("console.txt"),
            " The number of studies is          10\r\n"
            "  \r\n"
            " right-sided P-value for Q=  5.000000000000000E-002\r\n"
            "*** TERMINAL ERROR 2 from SROWR.\r\n"
            "\r\n");
}

struct ConsoleFailureCase {
  const char* name;
  std::function<int()> make_stdout;  // returns the descriptor to put on 1, or -1 to close it
  std::string line;
};

TEST_F(ChannelsTest, FailedConsoleWriteIsReported) {
  signal(SIGPIPE, SIG_IGN);
  const ConsoleFailureCase cases[] = {
      {"closed", [] { return -1; }, "KORVELAN: error writing standard output: Bad file descriptor"},
      {"broken_pipe",
       [] {
         int p[2];
         if (pipe(p) != 0) return -1;
         close(p[0]);
         return p[1];
       },
       "KORVELAN: error writing standard output: Broken pipe"},
      {"full_device", [] { return open("/dev/full", O_WRONLY); },
       "KORVELAN: error writing standard output: No space left on device"},
  };
  for (const ConsoleFailureCase& c : cases) {
    const int saved = dup(STDOUT_FILENO);
    fflush(stdout);
    const int fd = c.make_stdout();
    if (fd >= 0) {
      dup2(fd, STDOUT_FILENO);
      close(fd);
    } else {
      close(STDOUT_FILENO);
    }
    std::string line;
    int status = 0;
    try {
      ConsoleWrite("Run=", 1);
    } catch (const Termination& t) {
      line = t.ReportLine();
      status = t.ExitStatus();
    }
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_EQ(line, c.line) << c.name;
    EXPECT_EQ(status, 1) << c.name;
  }
}

TEST_F(ChannelsTest, ResultsWriteFailureIsReported) {
  // /dev/full takes the open and refuses every byte.
  ASSERT_EQ(chdir("/dev"), 0);
  std::string line;
  int status = 0;
  try {
    ResultsFile f("full", kOutputUnit);
    f.Write("x\r\n");
    f.EndAndClose();
  } catch (const Termination& t) {
    line = t.ReportLine();
    status = t.ExitStatus();
  }
  EXPECT_EQ(line, "KORVELAN: error writing unit 3, file /dev/full: No space left on device");
  EXPECT_EQ(status, 1);
}

TEST_F(ChannelsTest, FileSizeLimitEndsTheRunWithStatusOne) {
  const std::string path = Path("output.txt");
  EXPECT_EXIT(
      {
        InstallInterruptHandling();
        rlimit limit;
        limit.rlim_cur = limit.rlim_max = 1000;
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
          ResultsFile f("output.txt", kOutputUnit);
          f.Write(std::string(5000, 'x'));
          f.EndAndClose();
        } catch (const Termination& t) {
          Exit(t);
        }
        std::_Exit(0);
      },
      ExitedWithCode(1),
      StrEq("KORVELAN: error writing unit 3, file " + path + ": File too large\r\n"));
}

TEST_F(ChannelsTest, NormalEndReportsAFailedFlush) {
  EXPECT_EXIT(
      {
        chdir("/dev");
        ResultsFile f("full", kOutputUnit);
        f.Write("buffered\r\n");
        NormalEnd();
      },
      ExitedWithCode(1),
      StrEq("KORVELAN: error writing unit 3, file /dev/full: No space left on device\r\n"));
}

TEST_F(ChannelsTest, InputFileMissingIsCreatedEmpty) {
  const int fd = OpenInputFile("data.txt", kDataUnit);
  struct stat st {};
  ASSERT_EQ(stat("data.txt", &st), 0);
  EXPECT_EQ(st.st_size, 0);
  ListReader reader(FileDescriptorSource(fd), kDataUnit, FullPath("data.txt"));
  float v[1];
  try {
    reader.ReadReals(v);
    ADD_FAILURE() << "no condition";
  } catch (const Termination& t) {
    EXPECT_EQ(t.ReportLine(),
              "forrtl: severe (24): end-of-file during read, unit 10, file " + Path("data.txt"));
  }
}

TEST_F(ChannelsTest, InputFileIsReadFromItsStart) {
  WriteFile("weights.txt", "0.5 2\r\n");
  const int fd = OpenInputFile("weights.txt", kWeightsUnit);
  ListReader reader(FileDescriptorSource(fd), kWeightsUnit, FullPath("weights.txt"));
  float v[2];
  reader.ReadReals(v);
  EXPECT_EQ(v[0], 0.5f);
  EXPECT_EQ(v[1], 2.0f);
  EXPECT_EQ(ReadFile("weights.txt"), "0.5 2\r\n");  // opened unchanged
}

TEST_F(ChannelsTest, OpenFailures) {
  mkdir("output.txt", 0755);
  mkdir("data.txt", 0755);
  WriteFile("plain", "");
  struct Case {
    const char* name;
    std::function<void()> open;
    int condition;
  } cases[] = {
      {"results_directory", [] { ResultsFile f("output.txt", kOutputUnit); }, 9},
      {"results_missing_directory", [] { ResultsFile f("nodir/output.txt", kOutputUnit); }, 29},
      {"results_under_a_file", [] { ResultsFile f("plain/output.txt", kOutputUnit); }, 29},
      {"results_name_too_long", [] { ResultsFile f(std::string(5000, 'n'), kOutputUnit); }, 30},
      {"input_directory", [] { OpenInputFile("data.txt", kDataUnit); }, 9},
      {"input_missing_directory", [] { OpenInputFile("nodir/data.txt", kDataUnit); }, 29},
      {"input_under_a_file", [] { OpenInputFile("plain/data.txt", kDataUnit); }, 29},
      {"input_name_too_long", [] { OpenInputFile(std::string(5000, 'n'), kDataUnit); }, 30},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OpenCondition(c.open), c.condition) << c.name;
  }
  try {
    ResultsFile f("output.txt", kOutputUnit);
  } catch (const Termination& t) {
    EXPECT_EQ(t.ReportLine(), "forrtl: severe (9): permission to access file denied, unit 3, file " +
                                  Path("output.txt"));
  }
}

// Permission bits bind only an unprivileged process: the child gives up
// root first when it has it.
void BecomeUnprivileged() {
  if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::_Exit(99);
}

TEST_F(ChannelsTest, RefusedOpensWhenUnprivileged) {
  WriteFile("readonly.txt", "3\n");
  chmod("readonly.txt", 0444);
  WriteFile("secret.txt", "3\n");
  chmod("secret.txt", 0);
  mkdir("locked", 0555);
  WriteFile("locked/output.txt", "");
  chmod("locked/output.txt", 0444);
  // A read-only file is retried for reading and read.
  EXPECT_EXIT(
      {
        BecomeUnprivileged();
        const int fd = OpenInputFile("readonly.txt", kDataUnit);
        ListReader reader(FileDescriptorSource(fd), kDataUnit, "r");
        std::int32_t v = 0;
        reader.ReadInteger(v);
        std::_Exit(v);
      },
      ExitedWithCode(3), StrEq(""));
  const struct {
    const char* name;
    std::function<void()> open;
    int condition;
  } cases[] = {
      {"input_unreadable", [] { OpenInputFile("secret.txt", kDataUnit); }, 9},
      {"input_cannot_be_created", [] { OpenInputFile("locked/data.txt", kDataUnit); }, 9},
      {"results_read_only", [] { ResultsFile f("locked/output.txt", kOutputUnit); }, 9},
      {"results_cannot_be_created", [] { ResultsFile f("locked/new.txt", kOutputUnit); }, 9},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          BecomeUnprivileged();
          std::_Exit(OpenCondition(c.open));
        },
        ExitedWithCode(c.condition), StrEq(""))
        << c.name;
  }
}

TEST_F(ChannelsTest, EndingsCloseRegisteredFiles) {
  const int fd = OpenInputFile("data.txt", kDataUnit);
  EXPECT_NE(fcntl(fd, F_GETFD), -1);
  CloseAllFiles();
  EXPECT_EQ(fcntl(fd, F_GETFD), -1);
  CloseAllFiles();  // again: nothing left, nothing happens
}

TEST_F(ChannelsTest, FilesNeverTakeTheStandardStreamNumbers) {
  EXPECT_EXIT(
      {
        close(STDOUT_FILENO);
        const int in = OpenInputFile("data.txt", kDataUnit);
        ResultsFile out("output.txt", kOutputUnit);
        std::_Exit(in > 2 && fcntl(STDOUT_FILENO, F_GETFD) == -1 ? 0 : 1);
      },
      ExitedWithCode(0), StrEq(""));
}

}  // namespace
}  // namespace korvelan::textio
