#include "common/table.h"

#include <array>
#include <stdexcept>

#include "common/file_io.h"
#include "common/input_text.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlankLine(std::string_view line) {
  for (char c : line) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// The end of the physical line that starts at `start`, past its line end:
// LF, CR LF, or a CR that no LF follows.
std::size_t LineEnd(std::string_view text, std::size_t start) {
  for (std::size_t i = start; i < text.size(); ++i) {
    if (text[i] == '\n') return i + 1;
    if (text[i] == '\r') return i + 1 < text.size() && text[i + 1] == '\n' ? i + 2 : i + 1;
  }
  return text.size();
}

std::string Describe(char delimiter) {
  switch (delimiter) {
    case '\t': return "tab";
    case ',': return "comma";
    case ';': return "semicolon";
    default: return std::string("'") + delimiter + "'";
  }
}

// One row as read: its line and where its fields are in Storage::fields.
struct RowMark {
  std::size_t line = 0;
  std::size_t first = 0;
  std::size_t count = 0;
};

// Splits the text into rows of fields, by the rules in table.h. Blanks are
// spaces, and tabs too unless the tab is the delimiter (else empty
// tab-separated fields would be swallowed). A field is a view into the
// text while its bytes are a run of it; only a doubled quote inside quotes
// (which drops a byte) makes it a string of its own.
class Splitter {
 public:
  Splitter(std::string_view text, char delimiter, Table::Storage& storage)
      : text_(text), delimiter_(delimiter), storage_(storage) {
    for (const char c : {'\r', '\n', delimiter}) ends_field_[static_cast<unsigned char>(c)] = true;
  }

  // Every row from `pos` on, `line` being the line `pos` is on.
  std::vector<RowMark> Rows(std::size_t pos, std::size_t line) {
    pos_ = pos;
    line_ = line;
    std::vector<RowMark> rows;
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (IsBlank(c)) {
        ++pos_;
      } else if (c == '\r' || c == '\n') {
        Step();
      } else {
        rows.push_back({line_, storage_.fields.size(), 0});
        ReadRow();
        rows.back().count = storage_.fields.size() - rows.back().first;
      }
    }
    return rows;
  }

 private:
  bool IsBlank(char c) const { return c == ' ' || (c == '\t' && delimiter_ != '\t'); }
  bool IsLineEnd(char c) const { return c == '\r' || c == '\n'; }

  // Moves past one byte, counting the line it ends.
  void Step() {
    const char c = text_[pos_++];
    if (c == '\n' || (c == '\r' && (pos_ == text_.size() || text_[pos_] != '\n'))) ++line_;
  }

  // Fields up to the end of the row: past a line end outside quotes, or
  // the end of the text.
  void ReadRow() {
    for (;;) {
      while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
      if (pos_ == text_.size()) {
        Keep(pos_, 0);
        return;
      }
      const char c = text_[pos_];
      bool row_ends = false;
      if (c == delimiter_) {
        Keep(pos_, 0);
      } else if (IsLineEnd(c)) {
        Keep(pos_, 0);
        row_ends = true;
      } else {
        row_ends = c == '"' ? QuotedField() : PlainField();
      }
      if (pos_ == text_.size()) return;
      Step();  // the delimiter or the line end
      if (row_ends) return;
    }
  }

  // An unquoted field: to the delimiter or line end, trailing blanks
  // dropped (quotes in it are ordinary bytes). Whether the row ends here.
  bool PlainField() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !ends_field_[static_cast<unsigned char>(text_[pos_])]) ++pos_;
    std::size_t end = pos_;
    while (end > start && IsBlank(text_[end - 1])) --end;
    Keep(start, end - start);
    return pos_ < text_.size() && IsLineEnd(text_[pos_]);
  }

  // A quoted field from its opening quote. After a quote that may close
  // the field, blanks are held: a delimiter or line end then drops them
  // with the quote; a quote after them is a byte of the field and the
  // field goes on; a quote right after it is a doubled quote, one quote of
  // the field; any other byte is kept with the quote and the field goes
  // on. The end of the text ends the field as a delimiter would. Whether
  // the row ends here.
  bool QuotedField() {
    begin_ = ++pos_;
    length_ = 0;
    owned_ = false;
    for (;;) {
      // Inside the quotes: every byte up to the next quote is the field's.
      const std::size_t quote = text_.find('"', pos_);
      const std::size_t run_end = quote == std::string_view::npos ? text_.size() : quote + 1;
      while (pos_ < run_end) {
        Take(pos_);
        Step();
      }
      if (quote == std::string_view::npos) {
        Keep(length_);
        return false;
      }
      std::size_t blanks = 0;
      for (;;) {
        if (pos_ == text_.size() || text_[pos_] == delimiter_ || IsLineEnd(text_[pos_])) {
          Keep(length_ - blanks - 1);
          return pos_ < text_.size() && IsLineEnd(text_[pos_]);
        }
        const char c = text_[pos_];
        if (IsBlank(c)) {
          Take(pos_++);
          ++blanks;
        } else if (c == '"' && blanks > 0) {
          Take(pos_++);
          blanks = 0;
        } else {
          if (c != '"') Take(pos_);
          ++pos_;
          break;
        }
      }
    }
  }

  // The byte at `at` appended to the quoted field being read.
  void Take(std::size_t at) {
    if (!owned_ && at == begin_ + length_) {
      ++length_;
      return;
    }
    if (!owned_) {
      scratch_.assign(text_.substr(begin_, length_));
      owned_ = true;
    }
    scratch_ += text_[at];
    ++length_;
  }

  // The quoted field being read, its first `length` bytes.
  void Keep(std::size_t length) {
    if (!owned_) {
      Keep(begin_, length);
      return;
    }
    storage_.own.push_back(scratch_.substr(0, length));
    storage_.fields.push_back(storage_.own.back());
  }

  void Keep(std::size_t start, std::size_t length) {
    storage_.fields.push_back(text_.substr(start, length));
  }

  std::string_view text_;
  char delimiter_;
  Table::Storage& storage_;
  std::array<bool, 256> ends_field_{};
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  // The quoted field being read: a run of the text from begin_, or, once
  // owned_, scratch_.
  std::size_t begin_ = 0;
  std::size_t length_ = 0;
  bool owned_ = false;
  std::string scratch_;
};

// The header row's names, trimmed, as the table's columns; a nameless
// first column (or a data row one field wider than the header) is R's
// row names. Returns the number of fields a data row must have.
std::size_t TakeHeader(Table& table, const std::vector<RowMark>& rows) {
  const RowMark& header = rows.front();
  for (std::size_t f = 0; f < header.count; ++f) {
    std::string_view name = table.storage->fields[header.first + f];
    while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.remove_suffix(1);
    table.columns.emplace_back(name);
  }
  std::size_t width = table.columns.size();
  // R's write.csv names the row-name column "" rather than leaving it out.
  if (width > 1 && table.columns.front().empty()) table.columns.front() = "row.names";
  if (rows.size() > 1 && rows[1].count == width + 1) {
    table.columns.insert(table.columns.begin(), "row.names");
    ++width;
  }
  return width;
}

// The data rows as the table's rows, each as wide as the header.
void TakeRows(Table& table, const std::vector<RowMark>& rows, std::size_t width) {
  table.rows.reserve(rows.size() - 1);
  const std::span<const std::string_view> fields(table.storage->fields);
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (rows[i].count != width) {
      throw ToolError(table.source + " line " + std::to_string(rows[i].line) + ": " +
                      std::to_string(rows[i].count) + " " + Describe(table.delimiter) +
                      "-separated fields, but the header has " + std::to_string(width) + " columns");
    }
    table.rows.push_back({rows[i].line, fields.subspan(rows[i].first, rows[i].count)});
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

Table ParseTable(std::string text, std::string source, std::optional<char> delimiter) {
  if (delimiter && *delimiter != '\t' && *delimiter != ',' && *delimiter != ';') {
    throw std::invalid_argument("a table's delimiter is a tab, a comma or a semicolon");
  }
  Table table;
  table.source = std::move(source);
  table.storage->text = std::move(text);
  std::string_view all = table.storage->text;
  if (all.starts_with(kByteOrderMark)) all.remove_prefix(kByteOrderMark.size());
  // Blank lines before the header are skipped before the delimiter is
  // known: a line of tabs is a row of empty fields once it is.
  std::size_t start = 0;
  std::size_t line = 1;
  while (start < all.size() && IsBlankLine(all.substr(start, LineEnd(all, start) - start))) {
    start = LineEnd(all, start);
    ++line;
  }
  if (start == all.size()) {
    throw ToolError(table.source +
                    ": the file is empty; a header line naming the columns is expected");
  }
  if (!delimiter) delimiter = DetectDelimiter(all.substr(start, LineEnd(all, start) - start));
  if (!delimiter) {
    throw ToolError(table.source + ": cannot tell the delimiter from the header line " +
                    "(no tab, comma or semicolon in it); name it with --delimiter");
  }
  table.delimiter = *delimiter;
  // About one field per 8 bytes in the tables of the common tools: room at
  // once rather than a copy at each doubling.
  table.storage->fields.reserve(all.size() / 8 + 16);
  const std::vector<RowMark> rows = Splitter(all, *delimiter, *table.storage).Rows(start, line);
  if (rows.empty()) {
    throw ToolError(table.source +
                    ": the file is empty; a header line naming the columns is expected");
  }
  const std::size_t width = TakeHeader(table, rows);
  TakeRows(table, rows, width);
  return table;
}

Table TableOfCells(std::string source, std::vector<std::string> columns,
                   std::vector<std::string> cells) {
  const std::size_t width = columns.size();
  if (width == 0 || cells.size() % width != 0) {
    throw std::invalid_argument("a table's cells fill whole rows of its columns");
  }
  Table table;
  table.source = std::move(source);
  table.columns = std::move(columns);
  Table::Storage& storage = *table.storage;
  storage.fields.reserve(cells.size());
  for (std::string& cell : cells) {
    storage.own.push_back(std::move(cell));
    storage.fields.push_back(storage.own.back());
  }
  const std::span<const std::string_view> fields(storage.fields);
  table.rows.reserve(cells.size() / width);
  for (std::size_t r = 0; r < cells.size() / width; ++r)
    table.rows.push_back({r + 2, fields.subspan(r * width, width)});
  return table;
}

Table ReadTableFile(const std::filesystem::path& path, std::optional<char> delimiter) {
  return ParseTable(Unpacked(ReadWholeFile(path), path.string()), path.string(), delimiter);
}

}  // namespace korvelan::tools
