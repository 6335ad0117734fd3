#include "common/meta_input.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <exception>
#include <limits>
#include <unordered_map>

#include "textio/utf8.h"
#include "common/file_io.h"
#include "engine/in_order.h"
#include "common/input_text.h"
#include "common/number_text.h"
#include "common/sha256.h"
#include "common/table.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string At(const std::string& source, std::size_t line) {
  return source + " line " + std::to_string(line);
}

// The lines of a text (LF, CR LF or lone CR), a UTF-8 byte-order mark
// dropped; numbered from 1.
std::vector<std::string_view> Lines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\n' && text[i] != '\r') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool Skipped(std::string_view line) {
  const std::string_view t = TrimBlanks(line);
  return t.empty() || t.front() == '#';
}

std::vector<std::string> Split(std::string_view line, char delimiter) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = line.find(delimiter, start);
    fields.emplace_back(TrimBlanks(line.substr(start, at == line.npos ? line.npos : at - start)));
    if (at == line.npos) return fields;
    start = at + 1;
  }
}

// Ids and study names go into results, run.json and the page, which hold
// text: bytes that are not UTF-8 (a Latin-1 file) are refused where they are.
void CheckText(std::string_view text, const std::string& source, std::size_t line,
               const std::string& what) {
  if (const std::size_t bad = textio::FirstInvalidUtf8(text); bad != std::string::npos) {
    throw ToolError(At(source, line) + ": " + what + " \"" + std::string(text) +
                    "\" is not UTF-8 text (byte " + std::to_string(bad + 1) +
                    "); save the file as UTF-8");
  }
}

// One study's ids as they are read: checked, and duplicates refused with
// both lines when they are to be refused (the layer resolves the others).
class StudyBuilder {
 public:
  StudyBuilder(std::string source, std::string name, Duplicates duplicates)
      : source_(std::move(source)), duplicates_(duplicates) {
    study_.name = std::move(name);
  }
  void Add(std::string_view id, std::size_t line, double value = kNaN, bool valued = false) {
    if (!IsUsableIdentifier(id)) {
      throw ToolError(
          At(source_, line) + ": the id \"" + std::string(id) + "\" of study \"" + study_.name +
          "\" is " +
          (id.empty() ? "empty" : "not usable (it holds a tab, a line end or a double quote)"));
    }
    CheckText(id, source_, line, "the id");
    const auto [it, added] = lines_.emplace(id, line);
    if (!added && duplicates_ == Duplicates::kRefuse) {
      throw ToolError(source_ + ": study \"" + study_.name + "\" lists \"" + std::string(id) +
                      "\" twice, on lines " + std::to_string(it->second) + " and " +
                      std::to_string(line) + " (--duplicates first, best or mean resolves it)");
    }
    study_.ids.emplace_back(id);
    if (valued) study_.values.push_back(value);
  }
  Study Take() { return std::move(study_); }

 private:
  std::string source_;
  Duplicates duplicates_;
  Study study_;
  std::unordered_map<std::string, std::size_t> lines_;
};

char DelimiterOf(std::string_view line, const std::string& source, std::size_t number,
                 std::optional<char> given) {
  if (given) return *given;
  if (const auto d = DetectDelimiter(line)) return *d;
  throw ToolError(At(source, number) +
                  ": expected fields separated by tabs, commas or semicolons, found one field");
}

}  // namespace

std::optional<InputShape> InputShapeNamed(std::string_view name) {
  for (InputShape s : {InputShape::kAuto, InputShape::kTables, InputShape::kLists,
                       InputShape::kColumns, InputShape::kRows, InputShape::kLong}) {
    if (InputShapeName(s) == name) return s;
  }
  return std::nullopt;
}

std::string_view InputShapeName(InputShape shape) {
  switch (shape) {
    case InputShape::kAuto: return "auto";
    case InputShape::kTables: return "tables";
    case InputShape::kLists: return "lists";
    case InputShape::kColumns: return "columns";
    case InputShape::kRows: return "rows";
    case InputShape::kLong: return "long";
  }
  return "auto";
}

InputShape DetectShape(const std::vector<std::string>& texts,
                       const std::vector<std::string>& sources) {
  std::optional<std::string_view> first;
  for (std::string_view line : Lines(texts.front())) {
    if (!Skipped(line)) {
      first = line;
      break;
    }
  }
  if (!first)
    throw ToolError(sources.front() + ": the file holds no ids (only blank lines or # comments)");
  const std::optional<char> delimiter = DetectDelimiter(*first);
  if (texts.size() > 1) return delimiter ? InputShape::kTables : InputShape::kLists;
  if (!delimiter) return InputShape::kLists;
  std::vector<std::string> header = Split(*first, *delimiter);
  for (std::string& h : header) h = Lower(h);
  const bool has_study = std::find(header.begin(), header.end(), "study") != header.end();
  const bool has_gene = std::find(header.begin(), header.end(), "gene") != header.end();
  if (has_study && has_gene) return InputShape::kLong;
  if (header.front() == "study") return InputShape::kRows;
  return InputShape::kColumns;
}

Study ParseList(std::string_view text, const std::string& source, const std::string& name,
                Duplicates duplicates) {
  StudyBuilder builder(source, name, duplicates);
  const std::vector<std::string_view> lines = Lines(text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (Skipped(lines[i])) continue;
    const std::string id(TrimBlanks(lines[i]));
    if (id.find('\t') != std::string::npos) {
      throw ToolError(At(source, i + 1) + ": a list holds one id per line; this line holds a tab");
    }
    builder.Add(id, i + 1);
  }
  return builder.Take();
}

std::vector<Study> ParseColumns(std::string_view text, const std::string& source,
                                std::optional<char> delimiter, Duplicates duplicates) {
  const Table table = ParseTable(std::string(text), source, delimiter);
  std::size_t first = 0;
  const std::string lead = Lower(table.columns.front());
  if (lead == "rank" || lead == "row.names") first = 1;
  std::vector<Study> studies;
  for (std::size_t c = first; c < table.columns.size(); ++c) {
    StudyBuilder builder(source, table.columns[c], duplicates);
    std::size_t ended = 0;  // the line of the empty cell that ended the list
    for (const Table::Row& row : table.rows) {
      const std::string_view cell = row.fields[c];
      if (cell.empty() || IsMissingMarker(cell)) {
        if (ended == 0) ended = row.line;
        continue;
      }
      if (ended != 0) {
        throw ToolError(At(source, row.line) + ": column \"" + table.columns[c] + "\" holds \"" +
                        std::string(cell) + "\" after its list ended with an empty cell on line " +
                        std::to_string(ended));
      }
      builder.Add(cell, row.line);
    }
    studies.push_back(builder.Take());
  }
  if (studies.empty()) throw ToolError(source + ": the header names no study column");
  return studies;
}

std::vector<Study> ParseRows(std::string_view text, const std::string& source,
                             std::optional<char> delimiter, Duplicates duplicates) {
  const std::vector<std::string_view> lines = Lines(text);
  std::vector<Study> studies;
  std::optional<char> d = delimiter;
  bool header_checked = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (TrimBlanks(lines[i]).empty()) continue;
    if (!d) d = DelimiterOf(lines[i], source, i + 1, std::nullopt);
    std::vector<std::string> fields = Split(lines[i], *d);
    if (!header_checked) {
      header_checked = true;
      if (Lower(fields.front()) == "study") continue;
    }
    while (!fields.empty() && fields.back().empty()) fields.pop_back();
    if (fields.empty() || fields.front().empty()) {
      throw ToolError(At(source, i + 1) + ": expected a study name in the first field");
    }
    StudyBuilder builder(source, fields.front(), duplicates);
    for (std::size_t f = 1; f < fields.size(); ++f) builder.Add(fields[f], i + 1);
    studies.push_back(builder.Take());
  }
  return studies;
}

std::vector<Study> ParseLong(std::string_view text, const std::string& source,
                             const MetaReadOptions& options) {
  const Table table = ParseTable(std::string(text), source, options.delimiter);
  const std::size_t study = table.ColumnIndex(options.study_column);
  const std::size_t gene =
      table.ColumnIndex(options.rule.gene_column.empty() ? "gene" : options.rule.gene_column);
  const std::string value_name = options.value_given ? options.rule.value_column : "rank";
  const std::size_t value = table.ColumnIndex(value_name);
  const Order order = options.value_given && options.rule.kind == RankingRule::Kind::kStatistic &&
                              options.rule.first == RankFirst::kLargest
                          ? Order::kLargestFirst
                          : Order::kSmallestFirst;
  std::vector<StudyBuilder> builders;
  std::unordered_map<std::string, std::size_t> index;
  for (const Table::Row& row : table.rows) {
    const std::string name(row.fields[study]);
    if (!IsUsableIdentifier(name)) {
      throw ToolError(At(source, row.line) + ": the study name in column \"" +
                      options.study_column + "\" is empty or holds a tab or double quote");
    }
    CheckText(name, source, row.line, "the study name");
    const CellValue cell = ParseCell(row.fields[value]);
    if (!cell.ok) {
      throw ToolError(At(source, row.line) + ": column \"" + value_name + "\" holds \"" +
                      std::string(row.fields[value]) +
                      "\", which is not a number (empty or NA: not ranked)");
    }
    const auto [it, added] = index.emplace(name, builders.size());
    if (added)
      builders.emplace_back(source, name, options.duplicates.value_or(Duplicates::kRefuse));
    builders[it->second].Add(row.fields[gene], row.line, cell.value.value_or(kNaN), true);
  }
  std::vector<Study> studies;
  for (StudyBuilder& b : builders) {
    studies.push_back(b.Take());
    studies.back().order = order;
  }
  return studies;
}

MetaInput ReadMetaInput(const std::vector<std::filesystem::path>& files,
                        const MetaReadOptions& options) {
  const std::size_t n = files.size();
  std::vector<std::string> texts(n);
  std::vector<std::string> sources;
  MetaInput input;
  for (const auto& f : files)
    sources.push_back(f == "-" ? std::string("standard input") : f.string());
  // The reads stay on the calling thread, where a signal's knock breaks off
  // one that blocks (a FIFO without a writer); the loop they stand for
  // read, hashed and unpacked file by file, so a file's failure to read
  // comes after the earlier files' failures to unpack.
  std::exception_ptr unread;
  std::size_t read = 0;
  for (; read < n; ++read) {
    try {
      texts[read] = ReadInputBytes(files[read]);
    } catch (...) {
      unread = std::current_exception();
      break;
    }
  }
  input.sha256.resize(read);
  engine::EachInOrder(read, options.threads, [&](std::size_t i) {
    input.sha256[i] = Sha256Hex(texts[i]);
    texts[i] = Unpacked(std::move(texts[i]), sources[i]);
  });
  if (unread) std::rethrow_exception(unread);
  input.shape = options.shape == InputShape::kAuto ? DetectShape(texts, sources) : options.shape;
  const bool single = input.shape == InputShape::kColumns || input.shape == InputShape::kRows ||
                      input.shape == InputShape::kLong;
  if (single && files.size() != 1) {
    throw ToolError("the " + std::string(InputShapeName(input.shape)) +
                    " shape is one table holding every study; " + std::to_string(files.size()) +
                    " files were given");
  }
  input.duplicates = options.duplicates.value_or(
      input.shape == InputShape::kTables ? Duplicates::kMean : Duplicates::kRefuse);
  MetaReadOptions settled = options;
  settled.duplicates = input.duplicates;
  switch (input.shape) {
    case InputShape::kTables:
      input.tables.resize(n);
      input.studies.resize(n);
      engine::EachInOrder(n, options.threads, [&](std::size_t i) {
        input.studies[i] = ParseStudyTable(std::move(texts[i]), sources[i], StudyNameOf(files[i]),
                                           settled, input.tables[i]);
      });
      break;
    case InputShape::kLists:
      input.studies.resize(n);
      engine::EachInOrder(n, options.threads, [&](std::size_t i) {
        input.studies[i] = ParseList(texts[i], sources[i], StudyNameOf(files[i]), input.duplicates);
      });
      break;
    case InputShape::kColumns:
      input.studies =
          ParseColumns(texts.front(), sources.front(), options.delimiter, input.duplicates);
      break;
    case InputShape::kRows:
      input.studies = ParseRows(texts.front(), sources.front(), options.delimiter, input.duplicates);
      break;
    case InputShape::kLong:
      input.studies = ParseLong(texts.front(), sources.front(), settled);
      break;
    case InputShape::kAuto: break;
  }
  input.top_lists = input.shape == InputShape::kLists || input.shape == InputShape::kColumns ||
                    input.shape == InputShape::kRows;
  return input;
}

}  // namespace korvelan::tools
