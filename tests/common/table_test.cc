#include "common/table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(DetectDelimiter, PicksTheMostFrequentSeparatorOutsideQuotes) {
  struct Case {
    const char* header;
    std::optional<char> expected;
  };
  const Case cases[] = {
      {"Symbol\tLog2FC\tpvalue", '\t'},
      {"Symbol,Log2FC,pvalue", ','},
      {"Symbol;Log2FC;pvalue", ';'},
      {"\"gene, symbol\";\"p\";\"q\"", ';'},
      {"\"a\tb\",p", ','},
      {"gene\tp,value", '\t'},
      {"Symbol", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header);
    EXPECT_EQ(DetectDelimiter(c.header), c.expected);
  }
}

TEST(ParseTable, ReadsHeadersInTheLayoutsToolsWrite) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> columns;
    std::vector<std::string> first_row;
  };
  const Case cases[] = {
      {"tsv", "Symbol\tpvalue\nA1BG\t0.01\n", {"Symbol", "pvalue"}, {"A1BG", "0.01"}},
      {"csv quoted, as R writes it",
       "\"Symbol\",\"pvalue\"\n\"A1BG\",0.01\n",
       {"Symbol", "pvalue"},
       {"A1BG", "0.01"}},
      {"byte-order mark and CR LF",
       "\xEF\xBB\xBFSymbol,pvalue\r\nA1BG,0.01\r\n",
       {"Symbol", "pvalue"},
       {"A1BG", "0.01"}},
      {"R row names: header one short",
       "\"Symbol\"\t\"pvalue\"\n\"1\"\t\"A1BG\"\t0.01\n",
       {"row.names", "Symbol", "pvalue"},
       {"1", "A1BG", "0.01"}},
      {"empty tab fields kept", "a\tb\tc\nx\t\tz\n", {"a", "b", "c"}, {"x", "", "z"}},
      {"blanks around csv fields", "a , b\n x ,  y \n", {"a", "b"}, {"x", "y"}},
      {"leading blank lines", "\n\n  \na;b\n1;2\n", {"a", "b"}, {"1", "2"}},
      {"semicolon with decimal commas quoted", "g;p\nA;\"0,5\"\n", {"g", "p"}, {"A", "0,5"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Table table = ParseTable(c.text, "t");
    EXPECT_EQ(table.columns, c.columns);
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0].fields, c.first_row);
  }
}

TEST(ParseTable, RowsKnowTheirLineForEveryLineEnding) {
  for (const char* text : {"g,p\n\nA,1\nB,2\n", "g,p\r\n\r\nA,1\r\nB,2", "g,p\r\rA,1\rB,2\r"}) {
    Table table = ParseTable(text, "t");
    ASSERT_EQ(table.rows.size(), 2u);
    EXPECT_EQ(table.rows[0].line, 3u);
    EXPECT_EQ(table.rows[1].line, 4u);
  }
  // A quoted field over two lines: the next row still has its own line.
  Table table = ParseTable("g,note\nA,\"two\nlines\"\nB,x\n", "t");
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0].fields[1], "two\nlines");
  EXPECT_EQ(table.rows[1].line, 4u);
}

TEST(ParseTable, ExplicitDelimiterOverridesDetection) {
  Table table = ParseTable("a,b\tc\n1,2\t3\n", "t", ',');
  EXPECT_THAT(table.columns, ElementsAre("a", "b\tc"));
}

TEST(ParseTable, RefusesTablesItCannotReadWithTheFileAndLine) {
  struct Case {
    const char* name;
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"empty", "", "t: the file is empty"},
      {"blank", "\n \n", "t: the file is empty"},
      {"no delimiter", "Symbol\nA1BG\n", "cannot tell the delimiter"},
      {"short row", "g\tp\tq\nA\t1\t2\nB\t1\n",
       "t line 3: 2 tab-separated fields, but the header has 3"},
      {"long row", "g,p\nA,1\nB,1,2\n", "t line 3: 3 comma-separated fields"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      ParseTable(c.text, "t");
      ADD_FAILURE() << "no error";
    } catch (const ToolError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.message));
    }
  }
}

TEST(TableColumnIndex, NamesTheColumnsWhenOneIsMissingOrRepeated) {
  Table table = ParseTable("Symbol\tpvalue\tpvalue\n", "GSE1.tsv");
  EXPECT_EQ(table.ColumnIndex("Symbol"), 0u);
  try {
    table.ColumnIndex("P.Value");
    ADD_FAILURE();
  } catch (const ToolError& error) {
    EXPECT_STREQ(error.what(),
                 "GSE1.tsv: no column \"P.Value\" in the header (tab-separated columns: Symbol, "
                 "pvalue, pvalue)");
  }
  EXPECT_THROW(table.ColumnIndex("pvalue"), ToolError);
  EXPECT_THROW(table.ColumnIndex("symbol"), ToolError);
}

}  // namespace
}  // namespace korvelan::tools
