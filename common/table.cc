#include "common/table.h"

#include <csv.h>

#include <memory>

#include "common/file_io.h"
#include "common/input_text.h"
#include "common/tool_error.h"

namespace korvelan::tools {
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
  std::vector<Table::Row> rows;
  std::vector<std::string> fields;
  std::size_t row_line = 0;  // first line of the row being read, 0: none

  static void OnField(void* data, std::size_t size, void* self) {
    auto* me = static_cast<Collector*>(self);
    me->fields.emplace_back(static_cast<const char*>(data), size);
  }
  static void OnRowEnd(int, void* self) {
    auto* me = static_cast<Collector*>(self);
    me->rows.push_back({me->row_line, std::move(me->fields)});
    me->fields.clear();
    // The next row most likely has as many fields: room for them at once,
    // not a reallocation at each doubling.
    me->fields.reserve(me->rows.back().fields.size());
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

}  // namespace

std::size_t Table::ColumnIndex(std::string_view name) const {
  std::optional<std::size_t> found;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] != name) continue;
    if (found) {
      throw ToolError(source + ": the header names column \"" + std::string(name) +
                      "\" twice (columns " + std::to_string(*found + 1) + " and " +
                      std::to_string(i + 1) + ")");
    }
    found = i;
  }
  if (found) return *found;
  std::string list;
  for (const std::string& column : columns) {
    list += list.empty() ? "" : ", ";
    list += column;
  }
  throw ToolError(source + ": no column \"" + std::string(name) + "\" in the header (" +
                  Describe(delimiter) + "-separated columns: " + list + ")");
}

std::optional<char> DetectDelimiter(std::string_view header_line) {
  std::size_t tabs = 0;
  std::size_t commas = 0;
  std::size_t semicolons = 0;
  bool quoted = false;
  for (char c : header_line) {
    if (c == '"') quoted = !quoted;
    if (quoted) continue;
    tabs += c == '\t';
    commas += c == ',';
    semicolons += c == ';';
  }
  if (tabs == 0 && commas == 0 && semicolons == 0) return std::nullopt;
  if (tabs >= commas && tabs >= semicolons) return '\t';
  if (commas >= semicolons) return ',';
  return ';';
}

namespace {

// Every row of the lines from `first` on, each knowing the line it starts
// on: libcsv is fed one physical line at a time because it counts none.
std::vector<Table::Row> ParseRows(const std::vector<std::string_view>& lines, std::size_t first,
                                  const Table& table) {
  std::unique_ptr<csv_parser, ParserDeleter> parser(new csv_parser);
  if (csv_init(parser.get(), CSV_APPEND_NULL) != 0) throw ToolError("out of memory");
  csv_set_delim(parser.get(), static_cast<unsigned char>(table.delimiter));
  csv_set_space_func(parser.get(), table.delimiter == '\t' ? IsSpace : IsSpaceOrTab);
  Collector collector;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (collector.row_line == 0 && !IsBlankLine(lines[i])) collector.row_line = i + 1;
    std::size_t done = csv_parse(parser.get(), lines[i].data(), lines[i].size(), Collector::OnField,
                                 Collector::OnRowEnd, &collector);
    if (done != lines[i].size()) {
      throw ToolError(table.source + " line " + std::to_string(i + 1) + ": " +
                      csv_strerror(csv_error(parser.get())));
    }
  }
  csv_fini(parser.get(), Collector::OnField, Collector::OnRowEnd, &collector);
  return std::move(collector.rows);
}

// The header row's names, trimmed, as the table's columns; a nameless
// first column (or a data row one field wider than the header) is R's
// row names. Returns the number of fields a data row must have.
std::size_t TakeHeader(Table& table, std::vector<Table::Row>& rows) {
  table.columns = std::move(rows.front().fields);
  for (std::string& name : table.columns) {
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
  }
  std::size_t width = table.columns.size();
  // R's write.csv names the row-name column "" rather than leaving it out.
  if (width > 1 && table.columns.front().empty()) table.columns.front() = "row.names";
  if (rows.size() > 1 && rows[1].fields.size() == width + 1) {
    table.columns.insert(table.columns.begin(), "row.names");
    ++width;
  }
  return width;
}

}  // namespace

Table ParseTable(std::string_view text, std::string source, std::optional<char> delimiter) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  std::vector<std::string_view> lines = SplitLines(text);
  std::size_t first = 0;
  while (first < lines.size() && IsBlankLine(lines[first])) ++first;
  if (first == lines.size()) {
    throw ToolError(source + ": the file is empty; a header line naming the columns is expected");
  }
  Table table;
  table.source = std::move(source);
  if (!delimiter) delimiter = DetectDelimiter(lines[first]);
  if (!delimiter) {
    throw ToolError(table.source + ": cannot tell the delimiter from the header line " +
                    "(no tab, comma or semicolon in it); name it with --delimiter");
  }
  table.delimiter = *delimiter;

  std::vector<Table::Row> rows = ParseRows(lines, first, table);
  if (rows.empty()) {
    throw ToolError(table.source +
                    ": the file is empty; a header line naming the columns is expected");
  }
  const std::size_t width = TakeHeader(table, rows);
  table.rows.reserve(rows.size() - 1);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].fields.size() != width) {
      throw ToolError(table.source + " line " + std::to_string(rows[i].line) + ": " +
                      std::to_string(rows[i].fields.size()) + " " + Describe(table.delimiter) +
                      "-separated fields, but the header has " + std::to_string(width) + " columns");
    }
    table.rows.push_back(std::move(rows[i]));
  }
  return table;
}

Table ReadTableFile(const std::filesystem::path& path, std::optional<char> delimiter) {
  return ParseTable(Unpacked(ReadWholeFile(path), path.string()), path.string(), delimiter);
}

}  // namespace korvelan::tools
