#include "common/table.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <utility>

#include "common/tool_error.h"
#include "tests/common/table_oracle.h"

namespace korvelan::tools {
namespace {

using oracle::Outcome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> Strings(std::span<const std::string_view> fields) {
  return {fields.begin(), fields.end()};
}

std::string NewReading(const std::string& text, std::optional<char> delimiter) {
  try {
    return Outcome(ParseTable(text, "t", delimiter));
  } catch (const ToolError& e) {
    return std::string("error: ") + e.what();
  }
}

std::string OracleReading(const std::string& text, std::optional<char> delimiter) {
  try {
    return Outcome(oracle::ParseTableByCsvLibrary(text, "t", delimiter));
  } catch (const ToolError& e) {
    return std::string("error: ") + e.what();
  }
}

// The text with its control bytes visible, to name a failing case.
std::string Visible(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (c == '\t') out += "\\t";
    else out += c;
  }
  return out;
}

void ExpectSameAsOracle(const std::string& text) {
  for (std::optional<char> d : {std::optional<char>(), std::optional<char>('\t'),
                                std::optional<char>(','), std::optional<char>(';')}) {
    EXPECT_EQ(NewReading(text, d), OracleReading(text, d))
        << "text \"" << Visible(text) << "\", delimiter " << (d ? Visible({&*d, 1}) : "detected");
  }
}

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
    EXPECT_EQ(Strings(table.rows[0].fields), c.first_row);
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

TEST(ParseTable, ReadsQuotesBlanksAndLineEndsAsTheCsvLibraryDid) {
  const char* cases[] = {
      // Quoting: doubled quotes, delimiters and line ends inside, text after
      // a closing quote, blanks after it, a quote left open.
      "g,p\n\"a\"\"b\",1\n",
      "g,p\n\"a,b\",\"x\ny\"\n",
      "g,p\n\"ab\"c,1\n",
      "g,p\n\"ab\"  ,1\n",
      "g,p\n\"ab\" \" x\",1\n",
      "g,p\n\"ab\" c,d\",1\n",
      "g,p\n\"\",\"\"\"\"\n",
      "g,p\n\"open,1\nB,2\n",
      "g,p\nA,\"x\"",
      "g,p\nA,\"x\" ",
      "g,p\nA,\"x\"\"",
      "g,p\nA,b\"c\"d\n",
      // Blanks: around plain fields, tabs as blanks or as the delimiter.
      "g\tp\n  a \t b  \n",
      "g,p\n\ta\t, b \n",
      "g\tp\n\t\nA\t1\n",
      "g\tp\n \t \nA\t1\n",
      "g,p\n \t \nA,1\n",
      // Line ends: CR, CR LF and LF, inside quotes too; no end at the end.
      "g,p\rA,1\rB,\"x\ry\"\r",
      "g,p\r\nA,\"x\r\ny\"\r\nB,2",
      "g,p\n\r\n\rA,1\n\n",
      "g,p\nA,",
      "g,p\nA,1,",
      // Header: R's row names, an empty first name, trailing blanks and CR.
      "\"g\",\"p\"\n\"1\",\"A\",0.5\n",
      ",g,p\n1,A,0.5\n",
      "\"g \",\"p\r\"\nA,1\n",
      "\xEF\xBB\xBF\n\ng;p\nA;1\n",
  };
  for (const char* text : cases) ExpectSameAsOracle(text);
}

TEST(ParseTable, AgreesWithTheCsvLibraryOnRandomTexts) {
  // Short texts of the bytes the rules turn on: every state of the
  // quoting meets every byte somewhere among them.
  constexpr std::string_view kBytes = "ab \t,;\"\r\n";
  std::mt19937 random(20240611);
  std::uniform_int_distribution<std::size_t> length(0, 24);
  std::uniform_int_distribution<std::size_t> byte(0, kBytes.size() - 1);
  for (int i = 0; i < 4000; ++i) {
    std::string text;
    for (std::size_t n = length(random); n > 0; --n) text += kBytes[byte(random)];
    ExpectSameAsOracle(text);
    if (::testing::Test::HasFailure()) break;
  }
}

TEST(ParseTable, RowStartingOnALineOfTabsHasThatLine) {
  Table table = ParseTable("g\tp\n\t\nA\t1\n", "t");
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0].line, 2u);
  EXPECT_EQ(Strings(table.rows[0].fields), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(table.rows[1].line, 3u);
}

TEST(ParseTable, FieldsStayValidWhenTheTableMoves) {
  // Short texts sit inside a std::string's own bytes; the table's storage
  // must keep them where the views point whatever happens to the table.
  std::vector<Table> tables;
  for (int i = 0; i < 40; ++i) {
    tables.push_back(ParseTable(i % 2 == 0 ? "g,p\nA,1\n" : "g,p\n\"A\"\"\",1\n", "t"));
  }
  Table moved = std::move(tables[7]);
  EXPECT_EQ(Strings(moved.rows[0].fields), (std::vector<std::string>{"A\"", "1"}));
  EXPECT_EQ(Strings(tables[38].rows[0].fields), (std::vector<std::string>{"A", "1"}));
}

TEST(ParseTable, RefusesADelimiterItDoesNotKnow) {
  EXPECT_THROW(ParseTable("a b\n1 2\n", "t", ' '), std::invalid_argument);
  EXPECT_THROW(ParseTable("a\"b\n1\"2\n", "t", '"'), std::invalid_argument);
}

TEST(TableOfCells, HoldsTheCellsRowByRowWithTheLinesOfAFile) {
  Table table = TableOfCells("m", {"g", "p"}, {"A", "0.5", "B", "NA"});
  EXPECT_EQ(table.columns, (std::vector<std::string>{"g", "p"}));
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0].line, 2u);
  EXPECT_EQ(table.rows[1].line, 3u);
  EXPECT_EQ(Strings(table.rows[1].fields), (std::vector<std::string>{"B", "NA"}));
  EXPECT_THROW(TableOfCells("m", {"g", "p"}, {"A"}), std::invalid_argument);
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
