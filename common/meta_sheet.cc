#include "common/meta_sheet.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <unordered_map>

#include "common/file_io.h"
#include "common/input_text.h"
#include "common/number_text.h"
#include "common/sha256.h"
#include "common/study.h"
#include "common/table.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::array<std::string_view, 10> kColumns = {"file",     "study", "weight", "absent",
                                                       "universe", "gene",  "pvalue", "statistic",
                                                       "sign_by",  "first"};

std::string At(const std::filesystem::path& sheet, std::size_t line) {
  return sheet.string() + " line " + std::to_string(line);
}

// The first line that is neither blank nor a # comment.
std::string_view FirstLine(std::string_view text) {
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    const std::string_view line = TrimBlanks(text.substr(0, end));
    if (!line.empty() && line.front() != '#') return line;
    if (end == text.npos) break;
    text.remove_prefix(end + 1);
  }
  return {};
}

// One row's cells by column name ("" where the sheet has no such column).
class RowCells {
 public:
  RowCells(const Table& table, const Table::Row& row) : table_(table), row_(row) {}
  std::string operator[](std::string_view name) const {
    const auto at = std::find(table_.columns.begin(), table_.columns.end(), name);
    if (at == table_.columns.end()) return {};
    return std::string(row_.fields[static_cast<std::size_t>(at - table_.columns.begin())]);
  }

 private:
  const Table& table_;
  const Table::Row& row_;
};

void CheckColumns(const Table& table, const std::filesystem::path& sheet) {
  for (const std::string& c : table.columns) {
    if (std::find(kColumns.begin(), kColumns.end(), c) == kColumns.end()) {
      std::string known;
      for (std::string_view k : kColumns) known += (known.empty() ? "" : ", ") + std::string(k);
      throw ToolError(sheet.string() + ": the column \"" + c + "\" is not one of " + known);
    }
    if (std::count(table.columns.begin(), table.columns.end(), c) > 1) {
      throw ToolError(sheet.string() + ": the column \"" + c + "\" is named twice");
    }
  }
  if (std::find(table.columns.begin(), table.columns.end(), "file") == table.columns.end()) {
    throw ToolError(sheet.string() + ": the sheet needs a column \"file\" (one study file per row)");
  }
}

// The row's ranking rule: its own cells over the command line's.
MetaReadOptions RowReadOptions(const RowCells& cells, const SheetDefaults& d,
                               const std::string& where) {
  auto pick = [&](std::string_view name, const std::string& fallback) {
    const std::string own = cells[name];
    return own.empty() ? fallback : own;
  };
  const TableOptions t = {pick("gene", d.table.gene), pick("pvalue", d.table.pvalue),
                          pick("statistic", d.table.statistic), pick("sign_by", d.table.sign_by),
                          pick("first", d.table.first)};
  if (!t.pvalue.empty() && !t.statistic.empty())
    throw ToolError(where + ": give at most one of pvalue and statistic");
  if (!t.sign_by.empty() && t.pvalue.empty()) throw ToolError(where + ": sign_by needs pvalue");
  if (t.first != "largest" && t.first != "smallest") {
    throw ToolError(where + ": first must be largest or smallest, not \"" + t.first + "\"");
  }
  MetaReadOptions r;
  SetTableRule(r, t);
  r.delimiter = d.delimiter;
  r.duplicates = d.duplicates;
  r.split_ids = d.split_ids;
  return r;
}

double RowWeight(const std::string& cell, const SheetDefaults& d, const std::string& where) {
  if (cell.empty()) return d.weight.value_or(1.0);
  const std::optional<double> w = ParseDecimal(cell);
  if (!w || !(*w > 0) || !std::isfinite(static_cast<float>(*w))) {
    throw ToolError(where + ": the weight \"" + cell + "\" is not a positive number");
  }
  return *w;
}

// The row's universe into the study: a size, or the ids of a file.
void RowUniverse(const std::string& cell, const std::filesystem::path& folder,
                 const std::string& where, StudySettings& settings, SheetStudy& row) {
  row.universe = cell;
  if (cell.empty()) return;
  if (settings.absent != Absent::kBelow) {
    throw ToolError(where +
                    ": a universe applies to absent below (this study's absent genes are missing)");
  }
  if (const std::optional<std::int32_t> size =
          UniverseSize(cell, where + ": the universe", ErrorKind::kData)) {
    settings.universe_size = *size;
    return;
  }
  const std::filesystem::path file = folder / cell;
  if (!std::filesystem::exists(file))
    throw ToolError(where + ": the universe file \"" + cell + "\" does not exist");
  const std::string text = ReadWholeFile(file);
  row.universe_sha256 = Sha256Hex(text);
  settings.universe_ids = ReadUniverseIds(text, file.string());
}

// One row: its file read as a table or a list, then its settings.
Study ReadRow(const RowCells& cells, const std::filesystem::path& folder, const SheetDefaults& d,
              const std::string& where, StudySettings& settings, SheetStudy& row) {
  const std::string name = cells["file"];
  if (name.empty()) throw ToolError(where + ": the file cell is empty");
  row.file = folder / name;
  if (!std::filesystem::exists(row.file))
    throw ToolError(where + ": the file \"" + name + "\" does not exist");
  MetaReadOptions options = RowReadOptions(cells, d, where);
  // Read once (a FIFO or a pipe could not be read again): the bytes give
  // the checksum, their text the kind of file and the study.
  Study study;
  try {
    std::string bytes = ReadInputBytes(row.file);
    row.sha256 = Sha256Hex(bytes);
    std::string text = Unpacked(std::move(bytes), row.file.string());
    row.list = !DetectDelimiter(FirstLine(text)).has_value();
    options.duplicates =
        options.duplicates.value_or(row.list ? Duplicates::kRefuse : Duplicates::kMean);
    if (row.list) {
      study = ParseList(text, row.file.string(), StudyNameOf(row.file), *options.duplicates);
    } else {
      row.table.emplace();
      study = ParseStudyTable(std::move(text), row.file.string(), StudyNameOf(row.file), options,
                              *row.table);
    }
  } catch (const ToolError& e) {
    throw ToolError(where + ": " + e.what());
  }
  if (const std::string own = cells["study"]; !own.empty()) study.name = own;
  if (row.table) row.table->study = study.name;
  row.weight = RowWeight(cells["weight"], d, where);
  const std::string absent = cells["absent"];
  if (!absent.empty() && absent != "missing" && absent != "below") {
    throw ToolError(where + ": absent must be missing or below, not \"" + absent + "\"");
  }
  settings.absent = !absent.empty()
                        ? (absent == "below" ? Absent::kBelow : Absent::kMissing)
                        : d.absent.value_or(row.list ? Absent::kBelow : Absent::kMissing);
  RowUniverse(cells["universe"], folder, where, settings, row);
  return study;
}

}  // namespace

void SetTableRule(MetaReadOptions& options, const TableOptions& t) {
  options.rule.gene_column = t.gene;
  options.value_given = !t.pvalue.empty() || !t.statistic.empty();
  options.rule.value_column = t.statistic.empty() ? t.pvalue : t.statistic;
  options.rule.sign_column = t.sign_by;
  options.rule.kind = !t.statistic.empty() ? RankingRule::Kind::kStatistic
                      : !t.sign_by.empty() ? RankingRule::Kind::kSignedPValue
                                           : RankingRule::Kind::kPValue;
  options.rule.first = t.first == "largest" ? RankFirst::kLargest : RankFirst::kSmallest;
}

std::optional<std::int32_t> UniverseSize(const std::string& text, const std::string& what,
                                         ErrorKind kind) {
  if (text.empty() || text.find_first_not_of("+-0123456789") != std::string::npos)
    return std::nullopt;
  std::int32_t size = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
  if (error != std::errc() || end != text.data() + text.size() || size < 1 ||
      size > korvelan::kMaxUniverse) {
    throw ToolError(what + " must be a whole number from 1 to " +
                        std::to_string(korvelan::kMaxUniverse) +
                        ", or the name of a file of ids, not \"" + text + "\"",
                    kind);
  }
  return size;
}

std::vector<std::string> ReadUniverseIds(std::string_view text, const std::string& source) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<std::string> ids;
  std::unordered_map<std::string, std::size_t> line_of;
  std::size_t line = 0;
  while (!text.empty()) {
    ++line;
    const std::size_t end = text.find_first_of("\r\n");
    const std::string id(TrimBlanks(text.substr(0, end)));
    text.remove_prefix(end == text.npos ? text.size()
                                        : end + (text.substr(end, 2) == "\r\n" ? 2 : 1));
    if (id.empty() || id.front() == '#') continue;
    if (!IsUsableIdentifier(id)) {
      throw ToolError(source + " line " + std::to_string(line) + ": the universe id \"" + id +
                      "\" is not usable (it holds a tab or a double quote)");
    }
    const auto [it, added] = line_of.emplace(id, line);
    if (!added) {
      throw ToolError(source + ": the universe lists \"" + id + "\" twice, on lines " +
                      std::to_string(it->second) + " and " + std::to_string(line));
    }
    ids.push_back(id);
  }
  if (ids.empty()) throw ToolError(source + ": the universe file holds no ids");
  return ids;
}

SheetInput ReadStudySheet(const std::filesystem::path& sheet, const SheetDefaults& defaults) {
  SheetInput out;
  const std::string text = ReadWholeFile(sheet);
  out.sha256 = Sha256Hex(text);
  const Table table = ParseTable(text, sheet.string(), '\t');
  CheckColumns(table, sheet);
  if (table.rows.empty()) throw ToolError(sheet.string() + ": the sheet lists no study");
  const std::filesystem::path folder = sheet.parent_path();
  for (const Table::Row& r : table.rows) {
    SheetStudy row;
    StudySettings settings;
    out.studies.push_back(
        ReadRow(RowCells(table, r), folder, defaults, At(sheet, r.line), settings, row));
    out.settings.push_back(std::move(settings));
    out.rows.push_back(std::move(row));
  }
  return out;
}

}  // namespace korvelan::tools
