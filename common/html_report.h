// The interactive report: one self-contained HTML page (summary, gene
// table, P-value histograms, R-mean against Q or -log10 P, and the selected
// gene's rank in each study) that opens offline from a file.
//
// The page's script and style live in common/report_page/ and are compiled
// in (common/report_page_assets.h); the data goes in once, as one compact
// JSON object in a <script type="application/json"> block, column by column:
//
//   {"title", "facts": [[name, value]...], "legend": [[term, meaning]...],
//    "methods", "sort", "studies", "sizes", "gene", "klass", "n",
//    "ranks" (gene-major, studies per gene), "rmean", "rwmean", "q",
//    "p": [6 columns], "qv": [6 columns], "excluded" (0/1 per gene);
//    signed results add "dir" (1 up, -1 down, 0 NA), "nup", "ndown";
//    fold changes add "lfc" (gene-major) and "lfcmean"}
//
// Numbers are the shortest decimals that read back as the same double (so
// the page's TSV export carries the values given), or with
// float_statistics the same for the float each of R-mean, R-wmean and Q
// was (the text results.tsv writes); NaN is null, +-Inf is +-1e999 (which
// JSON readers take as infinity). Columns are written in the shortest of
// the exact forms of page_columns.h: ranks as packed halves, P-values with
// a denominator as packed numerators (and "pden"), columns of few distinct
// values as the values and packed indices.
// The page shows gene ids and every other string as text, never as HTML.
// A Content-Security-Policy forbids the page any network request.
#ifndef KORVELAN_COMMON_HTML_REPORT_H_
#define KORVELAN_COMMON_HTML_REPORT_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvelan::tools {

struct HtmlReportGene {
  std::string gene;
  std::int32_t info_class = 0;            // information class
  std::int32_t n_studies = 0;             // studies that ranked it
  std::vector<double> ranks;              // per study, NaN = not ranked
  double r_mean = 0, r_wmean = 0, q = 0;  // NaN = NA
  std::array<double, 6>
      p{};  // p_Rmean_right, p_Rmean_left, p_Rwmean_right, p_Rwmean_left, p_Q_right, p_Q_left; NaN = NA
  std::array<double, 6> q_values{};  // the BH q-values of those, NaN = NA
  double p_denominator = 0;          // the P-values are k / this (0: not known)
  bool excluded = false;             // left out of the runs (too few studies)
  std::int8_t direction = 0;         // signed results: 1 up, -1 down, 0 NA
  std::int32_t n_up = 0, n_down = 0;
  std::vector<double> fold_changes;  // per study, NaN = none
  double fold_change_mean = 0;       // NaN = none
};

struct HtmlReportData {
  std::string title;  // e.g. "KORVELAN results"
  std::vector<std::pair<std::string, std::string>>
      facts;  // shown in the summary in this order: inputs, runs, seed, version, ...
  std::vector<std::string> studies;                         // study names
  std::vector<std::int64_t> study_sizes;                    // genes each study ranked (or listed)
  std::vector<HtmlReportGene> genes;                        // in the table's initial order
  std::vector<std::pair<std::string, std::string>> legend;  // (term, meaning) shown as the legend
  std::string methods;  // a methods paragraph, with a copy button
  int sort_by = 1;      // the P column the genes come sorted by (order of HtmlReportGene::p)
  bool float_statistics = false;  // r_mean, r_wmean, q are single-precision values, widened
  bool float_pvalues = false;     // so are the P-values (exact P-values: count / total)
  bool directional = false;       // direction, n_up and n_down are given
  bool fold_changes = false;      // fold_changes and fold_change_mean are given
};

// The whole self-contained page. A gene with fewer or more ranks than
// `studies` has its missing ranks shown as not ranked and extra ones
// dropped, so the page's table stays rectangular.
std::string HtmlReport(const HtmlReportData& data);

// `text` as a JSON string literal (with quotes), escaped as described above.
std::string JsonString(std::string_view text);

// `text` with &, <, >, " and ' written as XML entities.
std::string EscapeXml(std::string_view text);

// `value` as a JSON number as described above ("null" for NaN).
std::string JsonNumber(double value);
// The same for a single-precision value widened to double: the shortest
// text of the float ("1.8" rather than "1.7999999523162842").
std::string JsonFloat(double value);
// The two appended to `out`.
void AppendJsonNumber(std::string& out, double value);
void AppendJsonFloat(std::string& out, double value);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_HTML_REPORT_H_
