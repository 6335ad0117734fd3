#include "tests/common/table_oracle.h"

#include <csv.h>

#include <memory>

#include "common/table.h"
#include "common/tool_error.h"

namespace korvelan::tools::oracle {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Only the space is trimmed: with the tab as delimiter, libcsv's default
// (space and tab) would swallow empty tab-separated fields.
int IsSpace(unsigned char c) { return c == ' ' ? 1 : 0; }
int IsSpaceOrTab(unsigned char c) { return c == ' ' || c == '\t' ? 1 : 0; }

// The physical lines of the text, each with its line end, split at LF and
// at a CR that no LF follows, so line numbers are right for every ending.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    bool end = text[i] == '\n' || (text[i] == '\r' && (i + 1 == text.size() || text[i + 1] != '\n'));
    if (end) {
      lines.push_back(text.substr(start, i + 1 - start));
      start = i + 1;
    }
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool IsBlankLine(std::string_view line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Collects libcsv's field and row events into rows with their first line.
struct Collector {
  std::vector<OracleTable::Row> rows;
  std::vector<std::string> fields;
  std::size_t row_line = 0;  // first line of the row being read, 0: none
  std::size_t feeding = 0;   // the line being fed

  static void OnField(void* data, std::size_t size, void* self) {
    auto* me = static_cast<Collector*>(self);
    if (me->row_line == 0) me->row_line = me->feeding;
    me->fields.emplace_back(static_cast<const char*>(data), size);
  }
  static void OnRowEnd(int, void* self) {
    auto* me = static_cast<Collector*>(self);
    if (me->row_line == 0) me->row_line = me->feeding;
    me->rows.push_back({me->row_line, std::move(me->fields)});
    me->fields.clear();
    me->row_line = 0;
  }
};

struct ParserDeleter {
  void operator()(csv_parser* parser) const {
    csv_free(parser);
    delete parser;
  }
};

std::string Describe(char delimiter) {
  switch (delimiter) {
    case '\t': return "tab";
    case ',': return "comma";
    case ';': return "semicolon";
    default: return std::string("'") + delimiter + "'";
  }
}

std::vector<OracleTable::Row> ParseRows(const std::vector<std::string_view>& lines,
                                        std::size_t first, char delimiter,
                                        const std::string& source) {
  std::unique_ptr<csv_parser, ParserDeleter> parser(new csv_parser);
  if (csv_init(parser.get(), CSV_APPEND_NULL) != 0) throw ToolError("out of memory");
  csv_set_delim(parser.get(), static_cast<unsigned char>(delimiter));
  csv_set_space_func(parser.get(), delimiter == '\t' ? IsSpace : IsSpaceOrTab);
  Collector collector;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (collector.row_line == 0 && !IsBlankLine(lines[i])) collector.row_line = i + 1;
    collector.feeding = i + 1;
    std::size_t done = csv_parse(parser.get(), lines[i].data(), lines[i].size(), Collector::OnField,
                                 Collector::OnRowEnd, &collector);
    if (done != lines[i].size()) {
      throw ToolError(source + " line " + std::to_string(i + 1) + ": " +
                      csv_strerror(csv_error(parser.get())));
    }
  }
  csv_fini(parser.get(), Collector::OnField, Collector::OnRowEnd, &collector);
  return std::move(collector.rows);
}

std::size_t TakeHeader(OracleTable& table, std::vector<OracleTable::Row>& rows) {
  table.columns = std::move(rows.front().fields);
  for (std::string& name : table.columns) {
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
  }
  std::size_t width = table.columns.size();
  if (width > 1 && table.columns.front().empty()) table.columns.front() = "row.names";
  if (rows.size() > 1 && rows[1].fields.size() == width + 1) {
    table.columns.insert(table.columns.begin(), "row.names");
    ++width;
  }
  return width;
}

}  // namespace

OracleTable ParseTableByCsvLibrary(std::string_view text, const std::string& source,
                                   std::optional<char> delimiter) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<std::string_view> lines = SplitLines(text);
  std::size_t first = 0;
  while (first < lines.size() && IsBlankLine(lines[first])) ++first;
  if (first == lines.size()) {
    throw ToolError(source + ": the file is empty; a header line naming the columns is expected");
  }
  OracleTable table;
  if (!delimiter) delimiter = DetectDelimiter(lines[first]);
  if (!delimiter) {
    throw ToolError(source + ": cannot tell the delimiter from the header line " +
                    "(no tab, comma or semicolon in it); name it with --delimiter");
  }
  table.delimiter = *delimiter;
  std::vector<OracleTable::Row> rows = ParseRows(lines, first, table.delimiter, source);
  if (rows.empty()) {
    throw ToolError(source + ": the file is empty; a header line naming the columns is expected");
  }
  const std::size_t width = TakeHeader(table, rows);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].fields.size() != width) {
      throw ToolError(source + " line " + std::to_string(rows[i].line) + ": " +
                      std::to_string(rows[i].fields.size()) + " " + Describe(table.delimiter) +
                      "-separated fields, but the header has " + std::to_string(width) + " columns");
    }
    table.rows.push_back(std::move(rows[i]));
  }
  return table;
}

}  // namespace korvelan::tools::oracle
