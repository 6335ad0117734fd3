#include "tools/study.h"

#include <cmath>
#include <optional>
#include <unordered_map>

#include "tools/number_text.h"
#include "tools/tool_error.h"

namespace korvelan::tools {
namespace {

std::string Where(const Table& table, const Table::Row& row) {
  return table.source + " line " + std::to_string(row.line);
}

std::optional<double> NumberOrMissing(const Table& table, const Table::Row& row,
                                      std::size_t column) {
  const std::string& cell = row.fields[column];
  CellValue parsed = ParseCell(cell);
  if (!parsed.ok) {
    throw ToolError(Where(table, row) + ": column \"" + table.columns[column] + "\" holds \"" +
                    cell + "\", which is not a number (empty, NA or NaN mark a missing value)");
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

bool IsUsableIdentifier(const std::string& id) {
  return !id.empty() && id.find_first_of("\t\r\n\"") == std::string::npos;
}

StudyRanks RankStudy(const Table& table, std::string name, const RankingRule& rule) {
  std::size_t gene_column = table.ColumnIndex(rule.gene_column);
  std::size_t value_column = table.ColumnIndex(rule.value_column);
  std::optional<std::size_t> sign_column;
  if (rule.kind == RankingRule::Kind::kSignedPValue) {
    sign_column = table.ColumnIndex(rule.sign_column);
  }

  StudyRanks study;
  study.name = std::move(name);
  study.genes.reserve(table.rows.size());
  std::vector<RankKey> keys;
  std::vector<std::size_t> ranked_rows;  // index into study.genes per key
  std::unordered_map<std::string, std::size_t> first_line;

  for (const Table::Row& row : table.rows) {
    std::string gene(TrimBlanks(row.fields[gene_column]));
    if (!IsUsableIdentifier(gene)) {
      throw ToolError(Where(table, row) + ": the gene id in column \"" + rule.gene_column +
                      "\" is " + (gene.empty() ? "empty" : "not usable (it holds a tab, a line end or a double quote)"));
    }
    auto [seen, inserted] = first_line.emplace(gene, row.line);
    if (!inserted) {
      throw ToolError(table.source + ": gene \"" + gene + "\" is listed twice, on lines " +
                      std::to_string(seen->second) + " and " + std::to_string(row.line));
    }
    std::optional<double> value = NumberOrMissing(table, row, value_column);
    std::optional<double> sign;
    if (sign_column) sign = NumberOrMissing(table, row, *sign_column);
    if (value && rule.kind != RankingRule::Kind::kStatistic) {
      CheckPValue(table, row, value_column, *value);
    }
    study.genes.push_back(std::move(gene));
    bool has_rank = value.has_value() && (!sign_column || sign.has_value());
    if (!has_rank) continue;
    switch (rule.kind) {
      case RankingRule::Kind::kPValue:
        keys.push_back(ValueKey(*value, RankFirst::kSmallest));
        break;
      case RankingRule::Kind::kStatistic:
        keys.push_back(ValueKey(*value, rule.first));
        break;
      case RankingRule::Kind::kSignedPValue:
        keys.push_back(SignedSignificanceKey(*sign, *value, rule.first));
        break;
    }
    ranked_rows.push_back(study.genes.size() - 1);
  }
  if (keys.empty()) {
    throw ToolError(table.source + ": no gene has a value in column \"" + rule.value_column +
                    "\"" + (sign_column ? " and column \"" + rule.sign_column + "\"" : ""));
  }

  study.half_ranks.assign(study.genes.size(), kNotRanked);
  std::vector<std::int64_t> half_ranks = AverageHalfRanks(keys);
  for (std::size_t i = 0; i < keys.size(); ++i) study.half_ranks[ranked_rows[i]] = half_ranks[i];
  study.ranked = keys.size();
  return study;
}

}  // namespace korvelan::tools
