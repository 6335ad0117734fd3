// The table reader as it was before fields became views: libcsv fed one
// physical line at a time, a string per field. Kept as the oracle the
// reader in common/table.cc must agree with, field for field, line for
// line and message for message (table_test.cc, the table fuzzer).
//
// One change from the reader it was: a row that starts on a line the
// line count took for blank (a tab-only line of a tab-separated table)
// has that line, not 0.
#ifndef KORVELAN_TESTS_COMMON_TABLE_ORACLE_H_
#define KORVELAN_TESTS_COMMON_TABLE_ORACLE_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools::oracle {

struct OracleTable {
  char delimiter = '\t';
  std::vector<std::string> columns;
  struct Row {
    std::size_t line = 0;
    std::vector<std::string> fields;
  };
  std::vector<Row> rows;
};

// ParseTable's rules, by libcsv; throws ToolError with ParseTable's
// messages.
OracleTable ParseTableByCsvLibrary(std::string_view text, const std::string& source,
                                   std::optional<char> delimiter = std::nullopt);

// A reading's outcome as one text, the same for either reader's table: the
// delimiter, the columns and each row's line and fields.
template <typename Parsed>
std::string Outcome(const Parsed& table) {
  std::string text = std::string("delimiter ") + table.delimiter + "\ncolumns";
  for (const std::string& c : table.columns) text += " [" + c + "]";
  for (const auto& row : table.rows) {
    text += "\nline " + std::to_string(row.line) + ":";
    for (std::string_view f : row.fields) text += " [" + std::string(f) + "]";
  }
  return text;
}

}  // namespace korvelan::tools::oracle

#endif  // KORVELAN_TESTS_COMMON_TABLE_ORACLE_H_
