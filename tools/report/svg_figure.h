// The report's figure: one self-contained SVG document (no scripts, no
// external fonts or images) that a browser shows as it stands.
//
//   top: six histograms, one per P-value column (20 bins over 0 .. 1,
//        NA left out and counted in the caption), arranged by statistic:
//        R-mean, R-weighted mean, Q across; right-sided above, left-sided
//        below
//   bottom: every gene's Q against its R-mean, coloured by information
//        class (genes with a NaN in either are left out)
#ifndef KORVELAN_TOOLS_REPORT_SVG_FIGURE_H_
#define KORVELAN_TOOLS_REPORT_SVG_FIGURE_H_

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/html_report.h"
#include "tools/report/report.h"

namespace korvelan::tools {

inline constexpr std::size_t kHistogramBins = 20;

// Counts of the non-NaN values in bins [0, 0.05), [0.05, 0.1), ...,
// [0.95, 1]; values outside 0 .. 1 go to the nearest end bin.
std::array<std::size_t, kHistogramBins> HistogramCounts(std::span<const double> values);

// Round tick positions covering low .. high (about `count` of them).
std::vector<double> NiceTicks(double low, double high, int count);

std::string SvgFigure(const std::vector<ReportRow>& rows);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_REPORT_SVG_FIGURE_H_
