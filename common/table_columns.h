// Which columns of a differential-expression table name the gene and rank
// it, read from the header alone, so that the tables of the common tools
// need no column options.
//
// Known layouts (matched by their characteristic columns):
//   limma topTable    logFC AveExpr t P.Value adj.P.Val B; the id in ID or
//                     in the row names (an unnamed first column)
//   GEO web tool      the same plus Gene.symbol (the id) beside the probe ID
//   DESeq2 results    baseMean log2FoldChange lfcSE stat pvalue padj
//   edgeR topTags     logFC logCPM PValue FDR
//   Seurat markers    p_val avg_log2FC (or avg_logFC) pct.1 pct.2 p_val_adj
//   scanpy markers    names scores logfoldchanges pvals pvals_adj
//   simple tables     an id column (Symbol, gene, ...) with a p-value and,
//                     usually, a log fold change
//
// The ranking follows the direction when the table has one: a signed
// statistic (t, stat, scores), largest first; else a p-value signed by the
// fold change, sign(logFC) x -log10(p), largest first; so rank 1 is the
// most "up" gene. A p-value alone ranks smallest first. Columns named on
// the command line always win; the rest is filled in from the header.
//
// Depends on the header names only (no file reading), so every front end
// can offer the same choice.
#ifndef KORVELAN_COMMON_TABLE_COLUMNS_H_
#define KORVELAN_COMMON_TABLE_COLUMNS_H_

#include <string>
#include <vector>

#include "common/study.h"

namespace korvelan::tools {

// What the command line named; empty strings: not named.
struct ColumnRequest {
  std::string gene;
  std::string pvalue;
  std::string statistic;
  std::string sign_by;
  RankFirst first = RankFirst::kLargest;
};

struct ColumnChoice {
  std::string layout;  // "limma topTable", ..., "simple table" (none known)
  RankingRule rule;
  std::string fold_change;  // the log fold change column, empty: none
  bool detected = false;    // some column was chosen from the header
};

// The choice for a table with these header names. Throws ToolError naming
// `source` when a column cannot be found: the message lists the header and
// the options that name columns.
ColumnChoice ChooseColumns(const std::vector<std::string>& header, const ColumnRequest& request,
                           const std::string& source);

// How the rows are ranked, and the fold-change column where that is not
// part of the rule, e.g. `"stat", largest first (rank 1 = most up)`: the
// same for tables of different layouts ranked the same way.
std::string DescribeRanking(const ColumnChoice& choice);

// One line for the screen and run.json: the layout, the id column and the
// ranking, e.g. `DESeq2 results: id "row.names", ranked by "stat",
// largest first (rank 1 = most up)`.
std::string DescribeChoice(const ColumnChoice& choice);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_TABLE_COLUMNS_H_
