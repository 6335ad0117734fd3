// The column legend that opens the main analysis's results file
// (output.txt): written by the console program's results writer and
// checked by every reader of that file, so both take it from here.
#ifndef KORVELAN_TEXTIO_RESULTS_LEGEND_H_
#define KORVELAN_TEXTIO_RESULTS_LEGEND_H_

#include <array>
#include <string>
#include <string_view>

namespace korvelan::textio {

// The texts of the legend, one list-directed record each. The spelling
// (including "R- weighted") is the file's and is kept byte for byte.
inline constexpr std::array<std::string_view, 12> kLegend = {
    "Columns are appeared as follows:",
    " ",
    "1: gene number",
    "2: R-mean",
    "3: right-sided P-value for R-mean",
    "4: left-sided P-value for R-mean",
    "5: right-sided P-value for R-weighted mean",
    "6: left-sided P-value for R- weighted mean",
    "7: Q-mean",
    "8: right-sided P-value for Q-mean",
    "9: left-sided P-value for Q-mean",
    " ",
};

// The legend as the file holds it: twelve list-directed records, each
// with CR LF.
std::string LegendRecords();

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_RESULTS_LEGEND_H_
