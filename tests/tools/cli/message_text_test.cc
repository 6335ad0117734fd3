// Messages made safe to show: one line, bounded, no control byte reaches
// the terminal, and text that is already fine passes unchanged.
#include "tools/cli/message_text.h"

#include <gtest/gtest.h>

#include "textio/utf8.h"

#include <stdexcept>
#include <sstream>
#include <string>

namespace korvelan::tools {
namespace {

TEST(MessageLine, EscapesWhatATerminalWouldActOn) {
  struct Case {
    const char* name;
    std::string text;
    std::string line;
  };
  const std::vector<Case> cases = {
      {"plain", "a.txt line 3: the id \"x\" is empty", "a.txt line 3: the id \"x\" is empty"},
      {"library prefix dropped once", "korvelan: korvelan: x", "korvelan: x"},
      {"tab, line ends", "p\tq\r\nr", "p\\tq\\r\\nr"},
      {"ESC sequence", "x\x1b[2J\x1b]0;title\x07", "x\\x1b[2J\\x1b]0;title\\x07"},
      {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
      {"C1 control as UTF-8",
       "a\xc2\x9b"
       "31m",
       "a\\xc2\\x9b31m"},
      {"not UTF-8", "caf\xe9 \xff", "caf\\xe9 \\xff"},
      {"truncated sequence", "x\xe2\x82", "x\\xe2\\x82"},
      {"UTF-8 kept", "G\xc3\xa9ne \xe2\x80\x94 \xf0\x9f\xa7\xac",
       "G\xc3\xa9ne \xe2\x80\x94 \xf0\x9f\xa7\xac"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageLine(c.text), c.line) << c.name;
}

TEST(MessageLine, CutsAnOverlongQuoteAtABoundary) {
  // An unbalanced quote that swallowed the rest of a file: many lines, some
  // escapes and multi-byte characters near the cut.
  std::string quoted = "f.csv line 2: the id \"";
  for (int k = 0; k < 200; ++k) quoted += "row\t\xc3\xa9\n";
  const std::string line = MessageLine(quoted);
  EXPECT_LE(line.size(), kMessageLimit + 4);
  EXPECT_TRUE(line.ends_with(" ...")) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  // No escape or character cut in two: what precedes " ..." is whole.
  const std::string body = line.substr(0, line.size() - 4);
  EXPECT_EQ(textio::FirstInvalidUtf8(body), std::string::npos);
  EXPECT_FALSE(body.ends_with("\\")) << body.substr(body.size() - 8);
  EXPECT_EQ(MessageLine(std::string(kMessageLimit, 'a')), std::string(kMessageLimit, 'a'));
}

TEST(ReportError, OneLineAndTheStatusOfTheKind) {
  struct Case {
    const char* name;
    std::exception_ptr error;
    int status;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"data", std::make_exception_ptr(ToolError("bad\nfile")), 1, "korvelan-x: bad\\nfile\n"},
      {"usage", std::make_exception_ptr(ToolError("bad option", ErrorKind::kUsage)), 2,
       "korvelan-x: bad option (see korvelan-x --help)\n"},
      {"interrupted", std::make_exception_ptr(ToolError("read broken off", ErrorKind::kStopped)),
       130, "korvelan-x: read broken off\n"},
      {"library", std::make_exception_ptr(std::invalid_argument("korvelan: bad study")), 1,
       "korvelan-x: bad study\n"},
      {"file system", std::make_exception_ptr(std::runtime_error("disk full")), 1,
       "korvelan-x: disk full\n"},
  };
  for (const Case& c : cases) {
    std::ostringstream err;
    try {
      std::rethrow_exception(c.error);
    } catch (const std::exception& e) {
      EXPECT_EQ(ReportError(err, "korvelan-x", e), c.status) << c.name;
    }
    EXPECT_EQ(err.str(), c.line) << c.name;
    EXPECT_EQ(err.str().find("korvelan: "), std::string::npos) << c.name;
    EXPECT_EQ(err.str().find('\n'), err.str().size() - 1) << c.name;
  }
}

}  // namespace
}  // namespace korvelan::tools
