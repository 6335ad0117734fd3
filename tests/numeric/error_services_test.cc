#include "numeric/error_services.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/numeric/report_capture.h"

namespace korvelan::numeric {
namespace {

using testing::CapturedReports;
using testing::EndsWithStop;
using Lines = std::vector<std::string>;

TEST(UMACH, KeepsTheUnitTable) {
  CapturedReports reports;
  std::int32_t unit = 0;
  const std::int32_t start[] = {5, 6, 6};
  for (std::int32_t n = 1; n <= 3; ++n) {
    UMACH(n, unit);
    EXPECT_EQ(unit, start[n - 1]) << "N = " << n;
  }
  std::int32_t nine = 9;
  UMACH(-2, nine);
  UMACH(2, unit);
  EXPECT_EQ(unit, 9);
  UMACH(1, unit);
  EXPECT_EQ(unit, 5) << "setting entry 2 touched entry 1";
  EXPECT_TRUE(reports.lines().empty());
}

TEST(UMACH, RefusesOtherIndicesWithTheAbsoluteValue) {
  struct Case {
    std::int32_t n;
    const char* field;
  } cases[] = {{0, "     0"},      {4, "     4"},        {-4, "     4"},
               {999999, "999999"}, {-1000000, "******"}, {-2147483647 - 1, "******"}};
  for (const Case& c : cases) {
    CapturedReports reports;
    std::int32_t unit = 77;
    EXPECT_TRUE(EndsWithStop([&] { UMACH(c.n, unit); })) << "N = " << c.n;
    const Lines expected = {"", " *** TERMINAL ERROR 5 from UMACH.  The absolute",
                            " ***          value of the index variable must be",
                            std::string(" ***          1, 2, or 3.  IABS(N) = ") + c.field + ".",
                            ""};
    EXPECT_EQ(reports.lines(), expected) << "N = " << c.n;
    EXPECT_EQ(unit, 77) << "N = " << c.n;
  }
}

TEST(E1MES, DirectCallReportHasNoTracebackAndStopsAtPop) {
  CapturedReports reports;
  E1PSH("ABC");
  E1STI(1, -7);
  E1STL(1, "NR");
  E1MES(5, 3, "%(L1) = %(I1).");
  // Printed when composed, before the routine leaves.
  EXPECT_EQ(reports.lines(), (Lines{"", " *** TERMINAL ERROR 3 from ABC.  NR = -7."}));
  EXPECT_EQ(N1RCD(0), 3);
  EXPECT_TRUE(EndsWithStop([] { E1POP("ABC"); }));
  EXPECT_EQ(reports.lines().size(), 2u) << "nothing more may be printed at the stop";
  // The stop unwound the stack: the services work on from level 1.
  EXPECT_EQ(N1RCD(0), 0);
  E1PSH("DEF");
  E1POP("DEF");
}

// Without a test sink the report is formatted records on standard output.
TEST(E1MES, ReportsGoToStandardOutputEndedWithCrLf) {
  ResetErrorServicesForTesting();
  ::testing::internal::CaptureStdout();
  E1PSH("R");
  E1MES(5, 1, "x");
  const std::string out = ::testing::internal::GetCapturedStdout();
  ResetErrorServicesForTesting();
  EXPECT_EQ(out, "\r\n *** TERMINAL ERROR 1 from R.  x\r\n");
}

TEST(E1MES, InternalReportShowsEveryLevelFromTheTop) {
  CapturedReports reports;
  E1PSH("OUTER");
  E1PSH("MIDDLE");
  E1PSH("INNER");
  E1MES(5, 12, "Bad.");
  const Lines expected = {
      "",
      " *** TERMINAL ERROR 12 from INNER.  Bad.",
      "     Here is a traceback of subprogram calls in reverse order:",
      "     Routine name                    Error type  Error code",
      "     ------------                    ----------  ----------",
      "     INNER                                5          12    (Called internally)",
      "     MIDDLE                               0           0    (Called internally)",
      "     OUTER                                0           0",
      "     USER                                 0           0"};
  EXPECT_EQ(reports.lines(), expected);
  EXPECT_TRUE(EndsWithStop([] { E1POP("INNER"); }));
  EXPECT_EQ(reports.lines().size(), expected.size());
}

TEST(E1MES, SubstitutesInOnePass) {
  struct Case {
    const char* label;
    const char* tmpl;
    const char* expected;
  } cases[] = {
      {"every index", "%(I1)%(I2)%(I3)%(I4)%(I5)%(I6)%(I7)%(I8)%(I9)", ".  -1234567890"},
      {"strings", "%(L1)|%(L2)|%(L9)", ".  NR|%(I1)|"},
      {"repeated token", "%(L1) = %(I1).  %(L1) again", ".  NR = -1.  NR again"},
      {"values are not rescanned", "%(L2)", ".  %(I1)"},
      {"not tokens", "%(I0) %(X1) %(I1 %I1) 100%", ".  %(I0) %(X1) %(I1 %I1) 100%"},
  };
  const std::int32_t ints[] = {-1, 2, 3, 4, 5, 6, 7, 8, 90};
  for (const auto& c : cases) {
    CapturedReports reports;
    for (std::int32_t k = 1; k <= 9; ++k) E1STI(k, ints[k - 1]);
    E1STL(1, "NR");
    E1STL(2, "%(I1)");
    E1STI(10, 5);   // ignored
    E1STL(0, "x");  // ignored
    E1PSH("R");
    E1MES(5, 1, c.tmpl);
    ASSERT_EQ(reports.lines().size(), 2u) << c.label;
    EXPECT_EQ(reports.lines()[1], std::string(" *** TERMINAL ERROR 1 from R") + c.expected)
        << c.label;
  }
}

TEST(E1MES, PendingTextIsCutAt1024Characters) {
  CapturedReports reports;
  E1PSH("R");
  SetReportSwitches(5, true, false);
  E1MES(5, 1, std::string(2000, 'w'));
  std::size_t shown = 0;
  for (std::size_t k = 1; k < reports.lines().size(); ++k) {
    const std::string& line = reports.lines()[k];
    shown += line.size() - (k == 1 ? std::string(" *** TERMINAL ERROR 1 from R").size()
                                   : std::string(" ***          ").size());
  }
  // 1024 characters less the blank of the first cut.
  EXPECT_EQ(shown, 1023u);
}

// What each error type does under the start switches, reported from level 3.
TEST(E1POP, HandlesEachTypeByItsSwitches) {
  const char* const kPaddedWords[] = {"NOTE    ", "ALERT   ", "WARNING ", "FATAL   ",
                                      "TERMINAL", "WARNING ", "FATAL   "};
  struct Case {
    std::int32_t type;
    bool printed_at_once;
    bool printed_at_pop;
    bool stops;
    bool passed_up;
  } cases[] = {
      {1, false, false, false, false}, {2, false, false, false, true},
      {3, false, true, false, true},   {4, false, true, true, true},
      {5, true, false, true, true},    {6, true, false, false, true},
      {7, true, false, true, true},
  };
  for (const Case& c : cases) {
    CapturedReports reports;
    E1PSH("OUTER");
    E1PSH("INNER");
    E1MES(c.type, 40 + c.type, "Text.");
    EXPECT_EQ(!reports.lines().empty(), c.printed_at_once) << "type " << c.type;
    const std::size_t before = reports.lines().size();
    bool stopped = false;
    try {
      E1POP("INNER");
    } catch (const textio::Termination& t) {
      stopped = true;
      EXPECT_EQ(t.ExitStatus(), 1);
    }
    EXPECT_EQ(stopped, c.stops) << "type " << c.type;
    EXPECT_EQ(reports.lines().size() > before, c.printed_at_pop) << "type " << c.type;
    if (c.printed_at_once || c.printed_at_pop) {
      ASSERT_GE(reports.lines().size(), 2u);
      EXPECT_EQ(reports.lines()[1], std::string(" *** ") + kPaddedWords[c.type - 1] + " ERROR " +
                                        std::to_string(40 + c.type) + " from INNER.  Text.")
          << "type " << c.type;
    }
    if (!stopped) {
      EXPECT_EQ(N1RCD(0), c.passed_up ? 40 + c.type : 0) << "type " << c.type;
      E1POP("OUTER");
    }
  }
}

TEST(E1POP, SwitchesCanSilenceAndKeepRunning) {
  CapturedReports reports;
  SetReportSwitches(5, false, false);
  SetReportSwitches(0, true, true);  // ignored
  E1PSH("R");
  E1MES(5, 2, "Quiet.");
  E1POP("R");
  EXPECT_TRUE(reports.lines().empty());
  EXPECT_EQ(N1RCD(0), 2) << "the code still reaches the caller";
}

TEST(N1RCD, ReadsTheCurrentOrALowerLevel) {
  CapturedReports reports;
  SetReportSwitches(3, false, false);
  E1PSH("A");
  E1MES(3, 7, "x");
  E1PSH("B");
  E1MES(3, 8, "y");
  EXPECT_EQ(N1RCD(0), 8);
  EXPECT_EQ(N1RCD(1), 7);
  EXPECT_EQ(N1RCD(2), 0);
  EXPECT_EQ(N1RCD(3), 0) << "below level 1";
  EXPECT_EQ(N1RCD(-1), 0);
  E1POP("B");
  E1POP("A");
}

TEST(E1PSH, FiftyLevelsFitAndTheFiftyFirstStops) {
  CapturedReports reports;
  for (int level = 2; level <= 50; ++level) E1PSH(std::string("L").append(std::to_string(level)));
  EXPECT_TRUE(reports.lines().empty());
  EXPECT_TRUE(EndsWithStop([] { E1PSH("L51"); }));
  const Lines& lines = reports.lines();
  ASSERT_EQ(lines.size(), 1u + 2u + 3u + 50u);
  EXPECT_EQ(lines[1],
            " *** TERMINAL ERROR 1 from L50.  Error condition in E1PSH.  Push would cause");
  EXPECT_EQ(lines[2], " ***          stack level to exceed 50.");
  EXPECT_EQ(lines[6],
            "     L50                                  5           1    (Called internally)");
  EXPECT_EQ(lines.back(), "     USER                                 0           0");
}

TEST(E1POP, RefusesAnEmptyStackAndAForeignName) {
  {
    CapturedReports reports;
    EXPECT_TRUE(EndsWithStop([] { E1POP("X"); }));
    EXPECT_EQ(
        reports.lines(),
        (Lines{"", " *** TERMINAL ERROR 1 from USER.  Error condition in E1POP.  Cannot pop from",
               " ***          X because stack is empty."}));
  }
  {
    CapturedReports reports;
    E1PSH("A");
    EXPECT_TRUE(EndsWithStop([] { E1POP("B"); }));
    EXPECT_EQ(
        reports.lines(),
        (Lines{"", " *** TERMINAL ERROR 2 from A.  Error condition in E1POP.  B does not match",
               " ***          the name A in the stack."}));
  }
}

TEST(E1PSH, NamesAreKeptToThirtyTwoCharacters) {
  CapturedReports reports;
  const std::string longer = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  E1PSH(longer);
  E1POP(longer.substr(0, 32) + "   ");  // the same name as stored
  E1PSH("SAME  ");
  E1POP("SAME");
  EXPECT_TRUE(reports.lines().empty());
}

}  // namespace
}  // namespace korvelan::numeric
