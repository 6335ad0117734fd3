// The results file "output.txt" of the main analysis: the twelve legend
// records (textio/results_legend.h), then one 199-character record per probe in class-sorted order,
// then the end of file (an earlier, longer file loses its tail).
//
// A data record holds, as floats: the line-number column value (F7.0), the
// observed R-mean (F24.4), the right and left P-values for the R-mean, for
// the R-weighted mean (each F24.16), the observed Q (F24.4), the right and
// left P-values for Q. P-values are the double results rounded to float
// (round to nearest). The observed R-weighted mean itself is not written.
#ifndef KORVELAN_DRIVER_RESULTS_FILE_H_
#define KORVELAN_DRIVER_RESULTS_FILE_H_

#include <array>
#include <cstdint>
#include <string_view>
#include <string>

#include "engine/model.h"
#include "engine/counting.h"
#include "engine/stats.h"
#include "textio/channels.h"
#include "textio/results_legend.h"

namespace korvelan::driver {

// Appends the data records of rows first .. last (1-based, within the
// stored rows) to `out`; `line_column` is the line-number column S + 2.
void AppendResultRecords(std::string& out, const RankMatrix& ranks, std::int32_t line_column,
                         const engine::Statistics& observed, const engine::SidedPValues& pvalues,
                         std::int32_t first, std::int32_t last);

// Writes the whole results file and ends and closes it: BeginWriting, the
// legend, the data records of rows 1 .. P written in chunks (one formatted
// write in effect: the records are the same as one write of all 9 x P
// values), and EndAndClose. P <= 0 gives the legend and one empty record.
// Write failures come back as the file's Termination. The chunks are
// formatted on `threads` threads (the text is the same for every number)
// and written by the calling thread.
void WriteResultsFile(textio::ResultsFile& file, const RankMatrix& ranks, std::int32_t line_column,
                      const engine::Statistics& observed, const engine::SidedPValues& pvalues,
                      std::int32_t probes, unsigned threads = 1);

// The same with the P-values taken from the counter chunk by chunk, so that
// no array of all P-values is held.
void WriteResultsFile(textio::ResultsFile& file, const RankMatrix& ranks, std::int32_t line_column,
                      const engine::Statistics& observed, const engine::ExceedanceCounter& counter,
                      std::int32_t probes, unsigned threads = 1);

}  // namespace korvelan::driver

#endif  // KORVELAN_DRIVER_RESULTS_FILE_H_
