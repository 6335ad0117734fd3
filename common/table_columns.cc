#include "common/table_columns.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

// Candidates in order of preference, compared without letter case. The
// gene symbol comes before a probe or row id, so that the GEO tool's
// tables (ID is the probe) meet the other studies on symbols.
constexpr std::string_view kIdNames[] = {"gene.symbol", "names",  "symbol",    "gene_symbol",
                                         "genesymbol",  "gene",   "gene_name", "gene.name",
                                         "gene_id",     "geneid", "id",        "row.names"};
constexpr std::string_view kStatisticNames[] = {"t", "stat", "scores"};
constexpr std::string_view kPValueNames[] = {"p.value", "pvalue",  "p_val",  "pvals",
                                             "pval",    "p_value", "p-value"};
constexpr std::string_view kFoldChangeNames[] = {
    "logfc",          "log2foldchange", "avg_log2fc",       "avg_logfc",
    "logfoldchanges", "log2fc",         "log2_fold_change", "lfc"};

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The first header name (in file order) matching the earliest candidate.
std::optional<std::string> Find(const std::vector<std::string>& header,
                                std::span<const std::string_view> candidates) {
  for (std::string_view want : candidates) {
    for (const std::string& name : header) {
      if (Lower(name) == want) return name;
    }
  }
  return std::nullopt;
}

bool HasAll(const std::vector<std::string>& header, std::initializer_list<std::string_view> names) {
  return std::all_of(names.begin(), names.end(), [&](std::string_view n) {
    return std::find(header.begin(), header.end(), n) != header.end();
  });
}

std::string Layout(const std::vector<std::string>& header) {
  const bool limma = HasAll(header, {"logFC", "t", "P.Value", "adj.P.Val"});
  if (limma && HasAll(header, {"Gene.symbol"})) return "GEO web tool";
  if (limma) return "limma topTable";
  if (HasAll(header, {"baseMean", "log2FoldChange", "pvalue"})) return "DESeq2 results";
  if (HasAll(header, {"logFC", "logCPM", "PValue"})) return "edgeR topTags";
  if (HasAll(header, {"p_val", "p_val_adj"})) return "Seurat FindMarkers";
  if (HasAll(header, {"names", "scores", "pvals"})) return "scanpy rank_genes_groups_df";
  return "simple table";
}

[[noreturn]] void Unrecognised(const std::vector<std::string>& header, const std::string& source,
                               const std::string& what) {
  std::string list;
  for (const std::string& name : header) list += (list.empty() ? "\"" : ", \"") + name + "\"";
  throw ToolError(source + ": cannot tell which column " + what + " from the header (" + list +
                  "); name the columns with --gene COLUMN and one of --statistic COLUMN or "
                  "--pvalue COLUMN (with --sign-by COLUMN to rank by direction)");
}

}  // namespace

ColumnChoice ChooseColumns(const std::vector<std::string>& header, const ColumnRequest& request,
                           const std::string& source) {
  ColumnChoice choice;
  choice.layout = Layout(header);
  RankingRule& rule = choice.rule;
  rule.first = request.first;
  if (!request.gene.empty()) {
    rule.gene_column = request.gene;
  } else if (const auto id = Find(header, kIdNames)) {
    rule.gene_column = *id;
    choice.detected = true;
  } else {
    Unrecognised(header, source, "holds the gene ids");
  }
  const auto fold_change = Find(header, kFoldChangeNames);
  choice.fold_change = fold_change.value_or("");
  if (!request.statistic.empty()) {
    rule.kind = RankingRule::Kind::kStatistic;
    rule.value_column = request.statistic;
  } else if (!request.pvalue.empty()) {
    rule.kind =
        request.sign_by.empty() ? RankingRule::Kind::kPValue : RankingRule::Kind::kSignedPValue;
    rule.value_column = request.pvalue;
    rule.sign_column = request.sign_by;
  } else {
    choice.detected = true;
    const auto statistic = Find(header, kStatisticNames);
    const auto pvalue = Find(header, kPValueNames);
    if (statistic) {
      rule.kind = RankingRule::Kind::kStatistic;
      rule.value_column = *statistic;
    } else if (pvalue && fold_change) {
      rule.kind = RankingRule::Kind::kSignedPValue;
      rule.value_column = *pvalue;
      rule.sign_column = *fold_change;
    } else if (pvalue) {
      rule.kind = RankingRule::Kind::kPValue;
      rule.value_column = *pvalue;
    } else {
      Unrecognised(header, source, "ranks the genes (a statistic such as t, or a p-value)");
    }
  }
  if (rule.kind == RankingRule::Kind::kSignedPValue) choice.fold_change = rule.sign_column;
  return choice;
}

std::string DescribeRanking(const ColumnChoice& choice) {
  const RankingRule& rule = choice.rule;
  const bool largest = rule.first == RankFirst::kLargest;
  std::string text;
  switch (rule.kind) {
    case RankingRule::Kind::kPValue:
      text += "\"" + rule.value_column + "\", smallest first (no direction)";
      break;
    case RankingRule::Kind::kStatistic:
      text += "\"" + rule.value_column + "\", " +
              (largest ? "largest first (rank 1 = most up)" : "smallest first (rank 1 = most down)");
      break;
    case RankingRule::Kind::kSignedPValue:
      text += "sign(" + rule.sign_column + ") x -log10(" + rule.value_column + "), " +
              (largest ? "largest first (rank 1 = most up)" : "smallest first (rank 1 = most down)");
      break;
  }
  if (!choice.fold_change.empty() && rule.kind != RankingRule::Kind::kSignedPValue) {
    text += "; fold change \"" + choice.fold_change + "\"";
  }
  return text;
}

std::string DescribeChoice(const ColumnChoice& choice) {
  return (choice.detected ? choice.layout : std::string("columns as named")) + ": id \"" +
         choice.rule.gene_column + "\", ranked by " + DescribeRanking(choice);
}

}  // namespace korvelan::tools
