#include "numeric/report_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvelan::numeric {
namespace {

const std::string kCont = " ***          ";

struct CutCase {
  const char* label;
  std::string word;
  std::int32_t code;
  std::string name;
  std::string text;
  std::vector<std::string> expected;
};

std::string Rep(char c, std::size_t n) { return std::string(n, c); }

std::vector<CutCase> CutCases() {
  return {
      {"sort key report: second line ends on its cut blank",
       "TERMINAL",
       9,
       "S2OWR",
       ".  INDKEY(1) = 0 and NCOL = 100.  Column numbers of X which are to be used in "
       "the sort, INDKEY(I), must be greater than 0 and less than or equal to NCOL.",
       {" *** TERMINAL ERROR 9 from S2OWR.  INDKEY(1) = 0 and NCOL = 100.  Column",
        " ***          numbers of X which are to be used in the sort, INDKEY(I), must ",
        " ***          be greater than 0 and less than or equal to NCOL."}},
      {"count report: first line budget 47",
       "TERMINAL",
       1,
       "RNUN",
       ".  NR = 0.  NR must be greater than or equal to 1.",
       {" *** TERMINAL ERROR 1 from RNUN.  NR = 0.  NR must be greater than or equal",
        " ***          to 1."}},
      {"short text stays on the first line",
       "TERMINAL",
       2,
       "SROWR",
       ".  NCOL = 0.",
       {" *** TERMINAL ERROR 2 from SROWR.  NCOL = 0."}},
      {"text of exactly the budget stays on one line",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('a', 47),
       {" *** TERMINAL ERROR 1 from R.  " + Rep('a', 47)}},
      {"one past the budget cuts at the last blank",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('a', 48),
       {" *** TERMINAL ERROR 1 from R. ", kCont + Rep('a', 48)}},
      {"no blank in a continuation: hard cut at 64, then the rest",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('x', 120),
       {" *** TERMINAL ERROR 1 from R. ", kCont + Rep('x', 64), kCont + Rep('x', 56)}},
      {"continuation of exactly 64 characters is the last",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('y', 64),
       {" *** TERMINAL ERROR 1 from R. ", kCont + Rep('y', 64)}},
      {"continuation of 65 characters spills one",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('y', 65),
       {" *** TERMINAL ERROR 1 from R. ", kCont + Rep('y', 64), kCont + "y"}},
      {"a blank right after a continuation cut is skipped",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('a', 63) + "  " + Rep('b', 10),
       {" *** TERMINAL ERROR 1 from R. ", kCont + Rep('a', 63) + " ", kCont + Rep('b', 10)}},
      {"first cut on the middle of three blanks",
       "TERMINAL",
       1,
       "R",
       ".  " + Rep('a', 45) + "   " + Rep('b', 49),
       {" *** TERMINAL ERROR 1 from R.  " + Rep('a', 45) + " ", kCont + Rep('b', 49)}},
      {"text without any blank is cut hard on the first line",
       "TERMINAL",
       1,
       "R",
       Rep('z', 60),
       {" *** TERMINAL ERROR 1 from R" + Rep('z', 50), kCont + Rep('z', 10)}},
      {"longest name and code leave a budget of 9",
       "FATAL",
       -2147483647 - 1,
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345",
       ".  NR = 0.  x",
       {" *** FATAL    ERROR -2147483648 from ABCDEFGHIJKLMNOPQRSTUVWXYZ012345.  NR =",
        kCont + "0.  x"}},
      {"short type words are padded to 8",
       "NOTE",
       12,
       "E1POP",
       ".  ok",
       {" *** NOTE     ERROR 12 from E1POP.  ok"}},
  };
}

TEST(MessageLines, CutsAtBlanksUnderTheColumnRules) {
  for (const CutCase& c : CutCases()) {
    EXPECT_EQ(MessageLines(c.word, c.code, c.name, c.text), c.expected) << c.label;
  }
}

// Whatever the text, the pieces put back together (with the dropped first
// cut blank and the skipped leading blanks) give the text again, and no
// line is longer than its rule allows.
TEST(MessageLines, LosesOnlyCutBlanksAndRespectsWidths) {
  std::string text = ".  ";
  unsigned seed = 7;
  for (int i = 0; i < 600; ++i) {
    seed = seed * 1103515245u + 12345u;
    text += (seed >> 16) % 5 == 0 ? ' ' : static_cast<char>('a' + (seed >> 20) % 26);
  }
  for (std::size_t len = 3; len <= text.size(); len += 7) {
    const std::string t = text.substr(0, len);
    const std::vector<std::string> lines = MessageLines("TERMINAL", 3, "S2OWR", t);
    const std::string head = " *** TERMINAL ERROR 3 from S2OWR";
    ASSERT_EQ(lines[0].rfind(head, 0), 0u);
    std::string joined = lines[0].substr(head.size());
    EXPECT_LE(joined.size(), 46u) << len;
    for (std::size_t k = 1; k < lines.size(); ++k) {
      ASSERT_EQ(lines[k].rfind(kCont, 0), 0u);
      const std::string piece = lines[k].substr(kCont.size());
      EXPECT_LE(piece.size(), 64u) << len;
      // Only blanks may vanish between pieces.
      const std::size_t at = t.find(piece, joined.size());
      ASSERT_NE(at, std::string::npos) << len;
      for (std::size_t g = joined.size(); g < at; ++g) EXPECT_EQ(t[g], ' ') << len;
      EXPECT_LE(at - joined.size(), 2u) << len;
      joined = t.substr(0, at) + piece;
    }
    // A skipped blank at the very end leaves nothing to print.
    while (joined.size() < t.size() && t[joined.size()] == ' ') joined += ' ';
    EXPECT_EQ(joined, t) << len;
  }
}

}  // namespace
}  // namespace korvelan::numeric
