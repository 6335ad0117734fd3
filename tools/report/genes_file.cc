#include "tools/report/genes_file.h"

#include <charconv>
#include <cmath>
#include <optional>

#include "common/number_text.h"
#include "common/table.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

bool ParseWhole(std::string_view text, std::int64_t& value) {
  text = TrimBlanks(text);
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

GeneKey ParseGenesFile(std::string_view text, const std::string& source) {
  Table table = ParseTable(std::string(text), source, '\t');
  if (table.columns.size() < 3 || table.columns[0] != "line" || table.columns[1] != "gene" ||
      table.columns[2] != "class") {
    throw ToolError(source +
                    ": not a genes.tsv of korvelan-prepare (its header starts with "
                    "line, gene, class)");
  }
  GeneKey key;
  key.study_names.assign(table.columns.begin() + 3, table.columns.end());
  const auto studies = static_cast<std::int64_t>(key.study_names.size());
  for (std::size_t i = 0; i < table.rows.size(); ++i) {
    const Table::Row& row = table.rows[i];
    std::string where = source + " line " + std::to_string(row.line);
    std::int64_t line = 0;
    if (!ParseWhole(row.fields[0], line) || line != static_cast<std::int64_t>(i + 1)) {
      throw ToolError(where + ": line number \"" + std::string(row.fields[0]) + "\" where " +
                      std::to_string(i + 1) + " is due");
    }
    std::string gene(TrimBlanks(row.fields[1]));
    if (gene.empty()) throw ToolError(where + ": the gene id is empty");
    std::int64_t info_class = 0;
    if (!ParseWhole(row.fields[2], info_class) || info_class < 1 || info_class > studies) {
      throw ToolError(where + ": class \"" + std::string(row.fields[2]) + "\" is not 1 .. " +
                      std::to_string(studies));
    }
    for (std::size_t s = 3; s < table.columns.size(); ++s) {
      std::string_view cell = TrimBlanks(row.fields[s]);
      std::optional<double> rank = ParseDecimal(cell);
      if (cell == "-99") {
        key.ranks.push_back(std::nan(""));
      } else if (rank && *rank >= 1 && std::isfinite(*rank)) {
        key.ranks.push_back(*rank);
      } else {
        throw ToolError(where + ": rank \"" + std::string(cell) + "\" in study " +
                        table.columns[s] + " is neither -99 nor a rank of 1 or more");
      }
    }
    key.genes.push_back(std::move(gene));
    key.classes.push_back(static_cast<std::int32_t>(info_class));
  }
  return key;
}

}  // namespace korvelan::tools
