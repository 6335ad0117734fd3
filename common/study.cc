#include "common/study.h"

#include <cmath>
#include <limits>
#include <optional>

#include "common/number_text.h"
#include "common/tool_error.h"
#include "textio/id_map.h"

namespace korvelan::tools {
namespace {

std::string Where(const Table& table, const Table::Row& row) {
  return table.source + " line " + std::to_string(row.line);
}

std::optional<double> NumberOrMissing(const Table& table, const Table::Row& row,
                                      std::size_t column) {
  const std::string_view cell = row.fields[column];
  CellValue parsed = ParseCell(cell);
  if (!parsed.ok) {
    throw ToolError(Where(table, row) + ": column \"" + table.columns[column] + "\" holds \"" +
                    std::string(cell) +
                    "\", which is not a number (empty, NA or NaN mark a missing value)");
  }
  return parsed.value;
}

void CheckPValue(const Table& table, const Table::Row& row, std::size_t column, double p) {
  if (!(p >= 0 && p <= 1)) {
    throw ToolError(Where(table, row) + ": column \"" + table.columns[column] + "\" holds " +
                    std::string(TrimBlanks(row.fields[column])) +
                    ", which is not a p-value (0 .. 1)");
  }
}

}  // namespace

bool IsUsableIdentifier(std::string_view id) {
  return !id.empty() && id.find_first_of("\t\r\n\"") == std::string_view::npos;
}

namespace {

// The row's genes into `ids`: its id, or the parts of a joined id, as
// views into the table. Empty when the row has no usable id (then
// skipped, or refused in the strict reading).
void RowIds(const Table& table, const Table::Row& row, const std::string& column, std::size_t index,
            const RowRules& rules, std::vector<std::string_view>& ids) {
  const std::string_view id = TrimBlanks(row.fields[index]);
  ids.clear();
  auto take = [&](std::string_view part) {
    const bool absent = part.empty() || IsMissingMarker(part) || part == "---";
    if (absent && rules.skip_incomplete) return;
    if (!IsUsableIdentifier(part)) {
      throw ToolError(
          Where(table, row) + ": the gene id in column \"" + column + "\" is " +
          (part.empty() ? "empty" : "not usable (it holds a tab, a line end or a double quote)"));
    }
    ids.push_back(part);
  };
  if (rules.split.empty() || id.find(rules.split) == std::string_view::npos) {
    take(id);
    return;
  }
  for (std::size_t start = 0;;) {
    const std::size_t at = id.find(rules.split, start);
    take(TrimBlanks(id.substr(start, at == id.npos ? id.npos : at - start)));
    if (at == id.npos) return;
    start = at + rules.split.size();
  }
}

RankKey KeyOf(const RankingRule& rule, double value, double sign) {
  switch (rule.kind) {
    case RankingRule::Kind::kPValue: return ValueKey(value, RankFirst::kSmallest);
    case RankingRule::Kind::kStatistic: return ValueKey(value, rule.first);
    case RankingRule::Kind::kSignedPValue: break;
  }
  return SignedSignificanceKey(sign, value, rule.first);
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// How many of the row's ids an earlier line already gave; each id's first
// line is noted. A repeat is refused unless the rules let repeats through
// (they are resolved after ranking).
std::size_t RepeatsOf(const Table& table, const Table::Row& row,
                      const std::vector<std::string_view>& ids, const RowRules& rules,
                      textio::IdMap<std::size_t>& first_line) {
  std::size_t repeats = 0;
  for (const std::string_view id : ids) {
    const auto [seen, added] = first_line->emplace(id, row.line);
    if (added) continue;
    if (!rules.repeats) {
      throw ToolError(
          table.source + ": gene \"" + std::string(id) + "\" is listed twice, on lines " +
          std::to_string(seen->second) + " and " + std::to_string(row.line) +
          (rules.skip_incomplete ? " (--duplicates first, best or mean resolves it)" : ""));
    }
    ++repeats;
  }
  return repeats;
}

// The row's fold change, NaN where there is no such column or no number.
double FoldOf(const Table::Row& row, std::optional<std::size_t> fold_column) {
  if (!fold_column) return kNaN;
  const CellValue cell = ParseCell(row.fields[*fold_column]);
  return cell.ok && cell.value ? *cell.value : kNaN;
}

// A ranked row's effect for the direction columns: the statistic itself,
// or the sign column's value; NaN where the rule ranks by p-value alone.
double EffectOf(const RankingRule& rule, double value, std::optional<double> sign) {
  switch (rule.kind) {
    case RankingRule::Kind::kStatistic: return value;
    case RankingRule::Kind::kSignedPValue: return *sign;
    case RankingRule::Kind::kPValue: break;
  }
  return kNaN;
}

}  // namespace

RankedRows RankTableRows(const Table& table, const RankingRule& rule, const RowRules& rules) {
  const std::size_t gene_column = table.ColumnIndex(rule.gene_column);
  const std::size_t value_column = table.ColumnIndex(rule.value_column);
  std::optional<std::size_t> sign_column;
  if (rule.kind == RankingRule::Kind::kSignedPValue)
    sign_column = table.ColumnIndex(rule.sign_column);
  std::optional<std::size_t> fold_column;
  if (!rules.fold_change.empty()) fold_column = table.ColumnIndex(rules.fold_change);

  RankedRows out;
  out.table_rows = table.rows.size();
  std::vector<RankKey> keys;
  std::vector<std::size_t> key_of_row;  // per kept row: its key, or npos
  // Room for a row each (split ids beyond that grow as usual): no rehash
  // or reallocation as the rows come.
  textio::IdMap<std::size_t> first_line(table.rows.size());
  std::vector<std::string_view> ids;
  keys.reserve(table.rows.size());
  key_of_row.reserve(table.rows.size());
  out.rows.reserve(table.rows.size());
  for (const Table::Row& row : table.rows) {
    RowIds(table, row, rule.gene_column, gene_column, rules, ids);
    if (ids.empty()) {
      ++out.no_id;
      continue;
    }
    const std::optional<double> value = NumberOrMissing(table, row, value_column);
    std::optional<double> sign;
    if (sign_column) sign = NumberOrMissing(table, row, *sign_column);
    if (value && rule.kind != RankingRule::Kind::kStatistic)
      CheckPValue(table, row, value_column, *value);
    const bool has_rank = value.has_value() && (!sign_column || sign.has_value());
    if (!has_rank && rules.skip_incomplete) {
      ++out.no_value;
      continue;
    }
    out.repeated += RepeatsOf(table, row, ids, rules, first_line);
    if (has_rank) keys.push_back(KeyOf(rule, *value, sign.value_or(0)));
    const double fold = FoldOf(row, fold_column);
    const double effect = has_rank ? EffectOf(rule, *value, sign) : kNaN;
    out.split += ids.size() > 1;
    for (const std::string_view id : ids) {
      out.rows.push_back({id, kNotRanked, fold, row.line, effect});
      key_of_row.push_back(has_rank ? keys.size() - 1 : std::string::npos);
    }
  }
  if (keys.empty()) {
    throw ToolError(table.source + ": no gene has a value in column \"" + rule.value_column + "\"" +
                    (sign_column ? " and column \"" + rule.sign_column + "\"" : ""));
  }
  const std::vector<std::int64_t> half_ranks = AverageHalfRanks(keys);
  for (std::size_t r = 0; r < out.rows.size(); ++r) {
    if (key_of_row[r] != std::string::npos) out.rows[r].half_rank = half_ranks[key_of_row[r]];
  }
  return out;
}

StudyRanks RankStudy(const Table& table, std::string name, const RankingRule& rule) {
  RankedRows rows = RankTableRows(table, rule, RowRules{});
  StudyRanks study;
  study.name = std::move(name);
  study.genes.reserve(rows.rows.size());
  study.half_ranks.reserve(rows.rows.size());
  for (const RankedRow& row : rows.rows) {
    study.genes.emplace_back(row.id);
    study.half_ranks.push_back(row.half_rank);
    study.ranked += row.half_rank != kNotRanked;
  }
  return study;
}

}  // namespace korvelan::tools
