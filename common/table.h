// Delimited text tables with a header line: the per-study result tables
// (TSV or CSV as written by R, spreadsheets and most pipelines) and the
// tools' own genes.tsv.
//
// Quoting follows the usual CSV rules (a field may be enclosed in double
// quotes; a doubled quote inside stands for one; quoted fields may hold the
// delimiter and line ends). Blanks around unquoted fields are dropped, a
// UTF-8 byte-order mark before the header is ignored, blank lines are
// skipped, and LF, CR LF and lone CR all end a line. Text after a closing
// quote is kept (`"ab"c` is `ab"c`), and a quote left open runs to the end
// of the text: a table is read as far as it can be, never refused for its
// quoting.
//
// The header names the columns. A header one name shorter than the first
// data row is R's layout with row names: the unnamed first column is then
// called "row.names", as is an empty first name (R's write.csv). Every data
// row must have as many fields as the header.
//
// A table keeps its text: the rows' fields are views into it (or, for a
// field whose quotes had to be undone, into a copy of its own), so reading
// costs no string per field. The views stay valid as long as the table,
// moved or not; a table cannot be copied.
#ifndef KORVELAN_COMMON_TABLE_H_
#define KORVELAN_COMMON_TABLE_H_

#include <cstddef>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools {

struct Table {
  struct Row {
    std::size_t line = 0;                      // line of the file the row starts on
    std::span<const std::string_view> fields;  // into the table's storage
  };
  // What the fields view, on the heap so that moving the table moves no
  // byte the views point at.
  struct Storage {
    std::string text;                      // the table's text
    std::deque<std::string> own;           // fields that are no run of the text
    std::vector<std::string_view> fields;  // every row's fields, row after row
  };

  std::string source;  // file name used in messages
  char delimiter = '\t';
  std::vector<std::string> columns;  // header names, in file order
  std::vector<Row> rows;
  std::unique_ptr<Storage> storage = std::make_unique<Storage>();

  // The index of the column with exactly this name. Throws ToolError when
  // no column or more than one has it; the message lists the columns.
  std::size_t ColumnIndex(std::string_view name) const;
};

// The delimiter of a header line: whichever of tab, comma and semicolon
// occurs most often outside double quotes (tab, then comma, wins a tie);
// nullopt when none occurs.
std::optional<char> DetectDelimiter(std::string_view header_line);

// Parses `text`, which the table keeps. `delimiter`: tab, comma or
// semicolon; nullopt: detect it from the first non-blank line. Throws
// ToolError (naming `source` and the line) for an empty table, an
// undetectable delimiter, and rows whose field count differs from the
// header's; std::invalid_argument for another delimiter.
Table ParseTable(std::string text, std::string source, std::optional<char> delimiter = std::nullopt);

// A table of fields made in memory rather than read: `cells` row after
// row, as many per row as `columns`; row r (from 0) counts as line r + 2,
// as in a file with its header on line 1.
Table TableOfCells(std::string source, std::vector<std::string> columns,
                   std::vector<std::string> cells);

// The file's table; gzip data are unpacked first.
Table ReadTableFile(const std::filesystem::path& path, std::optional<char> delimiter = std::nullopt);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_TABLE_H_
