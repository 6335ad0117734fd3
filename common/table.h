// Delimited text tables with a header line: the per-study result tables
// (TSV or CSV as written by R, spreadsheets and most pipelines) and the
// tools' own genes.tsv.
//
// Quoting follows the usual CSV rules (a field may be enclosed in double
// quotes; a doubled quote inside stands for one; quoted fields may hold the
// delimiter and line ends). Blanks around unquoted fields are dropped, a
// UTF-8 byte-order mark before the header is ignored, blank lines are
// skipped, and LF, CR LF and lone CR all end a line.
//
// The header names the columns. A header one name shorter than the first
// data row is R's layout with row names: the unnamed first column is then
// called "row.names", as is an empty first name (R's write.csv). Every data
// row must have as many fields as the header.
#ifndef KORVELAN_COMMON_TABLE_H_
#define KORVELAN_COMMON_TABLE_H_

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools {

struct Table {
  std::string source;  // file name used in messages
  char delimiter = '\t';
  std::vector<std::string> columns;  // header names, in file order
  struct Row {
    std::size_t line = 0;  // line of the file the row starts on
    std::vector<std::string> fields;
  };
  std::vector<Row> rows;

  // The index of the column with exactly this name. Throws ToolError when
  // no column or more than one has it; the message lists the columns.
  std::size_t ColumnIndex(std::string_view name) const;
};

// The delimiter of a header line: whichever of tab, comma and semicolon
// occurs most often outside double quotes (tab, then comma, wins a tie);
// nullopt when none occurs.
std::optional<char> DetectDelimiter(std::string_view header_line);

// Parses `text`. `delimiter` nullopt: detect it from the first non-blank
// line. Throws ToolError (naming `source` and the line) for an empty table,
// an undetectable delimiter, and rows whose field count differs from the
// header's.
Table ParseTable(std::string_view text, std::string source,
                 std::optional<char> delimiter = std::nullopt);

// The file's table; gzip data are unpacked first.
Table ReadTableFile(const std::filesystem::path& path, std::optional<char> delimiter = std::nullopt);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_TABLE_H_
