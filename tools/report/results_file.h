// Reading the program's results file output.txt: the twelve-record column
// legend, then one 199-character record per probe of nine fixed-point
// fields (widths 7, 24, 24, 24, 24, 24, 24, 24, 24):
//
//   line number (F7.0), R-mean (F24.4), right and left P-value for R-mean,
//   right and left P-value for R-weighted mean (F24.16 each), Q (F24.4),
//   right and left P-value for Q (F24.16 each)
//
// Records end with CR LF (LF alone is taken too). A field holding "NaN" is
// a NaN; a field of asterisks means the program could not fit the value,
// which leaves it unknown: that is an error, not a value.
#ifndef KORVELAN_TOOLS_REPORT_RESULTS_FILE_H_
#define KORVELAN_TOOLS_REPORT_RESULTS_FILE_H_

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "textio/results_legend.h"

namespace korvelan::tools {

// The six P-values in file order.
enum PValueIndex : std::size_t {
  kRmeanRight,
  kRmeanLeft,
  kRwmeanRight,
  kRwmeanLeft,
  kQRight,
  kQLeft,
  kPValueCount,
};

struct ResultRecord {
  std::size_t line = 0;  // the gene's line in data.txt, 1 .. 499999
  double r_mean = 0;
  double q = 0;
  std::array<double, kPValueCount> p{};
};

inline constexpr std::size_t kLegendRecords = textio::kLegend.size();
inline constexpr std::size_t kRecordWidth = 199;

// Throws ToolError naming `source` and the file line for: a legend that is
// not the program's, a record of another length, a field that is neither a
// number nor NaN, a field of asterisks, and a line number that is not a
// whole number in 1 .. 499999 or repeats.
std::vector<ResultRecord> ParseResultsFile(std::string_view text, const std::string& source);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_REPORT_RESULTS_FILE_H_
