// korvelan-report's work, callable in-process: join output.txt with
// genes.tsv, add Benjamini-Hochberg q-values and write results.tsv, sorted,
// and optionally the SVG figure and the interactive HTML page.
//
// results.tsv is tab-separated with a header:
//
//   gene line class R_mean Q
//   p_Rmean_right p_Rmean_left p_Rwmean_right p_Rwmean_left p_Q_right p_Q_left
//   q_Rmean_right q_Rmean_left q_Rwmean_right q_Rwmean_left q_Q_right q_Q_left
//
// one row per gene. Numbers are the shortest decimals of the values read
// (P-values exactly as output.txt shows them, trailing zeros dropped); NaN
// is written NA. Each q column adjusts its P column across all genes. Rows
// are sorted by the chosen P column, ascending; equal P-values by R-mean,
// then by line number; NA last.
//
// With plus-one P-values, each written P-value count / total (total = runs
// x the size of the gene's class) is turned back into its count and
// replaced by (count + 1) / (total + 1) before the adjustment.
#ifndef KORVELAN_TOOLS_REPORT_REPORT_H_
#define KORVELAN_TOOLS_REPORT_REPORT_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/report/genes_file.h"
#include "common/html_report.h"
#include "tools/report/results_file.h"

namespace korvelan::tools {

struct ReportRow {
  std::string gene;
  std::size_t line = 0;
  std::int32_t info_class = 0;
  double r_mean = 0;
  double q = 0;
  std::array<double, kPValueCount> p{};
  std::array<double, kPValueCount> q_values{};
};

// "p_Rmean_right" ... "p_Q_left"; the "p_" may be left out.
std::optional<PValueIndex> PValueColumn(std::string_view name);
std::string_view PValueColumnName(PValueIndex index);

// One row per gene of `key`, with q-values. Throws ToolError when the two
// files cannot be from one analysis: other gene counts, a line number
// beyond genes.tsv, or records out of the program's class order (highest
// class first).
std::vector<ReportRow> JoinResults(const std::vector<ResultRecord>& records, const GeneKey& key,
                                   const std::string& results_source,
                                   const std::string& genes_source);

void SortRows(std::vector<ReportRow>& rows, PValueIndex by);

// The q-value columns from the P-value columns (JoinResults does this).
void AddQValues(std::vector<ReportRow>& rows);

// Replaces every P-value by its plus-one form. Throws ToolError naming
// `source` and the line when a P-value is not float(count / total) for
// exactly one whole count: another number of runs, or a total too large
// for single precision to tell neighbouring counts apart.
void PlusOnePValues(std::vector<ReportRow>& rows, std::int64_t runs, const std::string& source);

std::string ResultsTable(const std::vector<ReportRow>& rows);

// The HTML page's data: `rows` in their order, each with its ranks from
// `key` (R_wmean is not in output.txt: NaN), study sizes counted from the
// ranks, and `facts` for the summary.
HtmlReportData PageData(const std::vector<ReportRow>& rows, const GeneKey& key,
                        std::vector<std::pair<std::string, std::string>> facts);

struct ReportOptions {
  std::filesystem::path results_file;  // output.txt
  std::filesystem::path genes_file;    // genes.tsv
  std::filesystem::path table;         // results.tsv to write
  std::optional<std::filesystem::path> svg;
  std::optional<std::filesystem::path> html;
  // Shown in the page's summary after the inputs: the runs (read from the
  // answers.txt beside output.txt, where there is one) and the seed.
  std::optional<std::filesystem::path> answers;
  std::string seed;  // empty: not given
  PValueIndex sort_by = kRmeanLeft;
  std::optional<std::int64_t> plus_one_runs;  // set: plus-one P-values
};

// Reads, joins, writes (results.tsv, the figure and the page replaced
// together, or none of them); returns the rows as written. Throws ToolError.
std::vector<ReportRow> Report(const ReportOptions& options);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_REPORT_REPORT_H_
