// Loading of the input files into the data model: "data.txt" into the rank
// matrix, "weights.txt" into the study weights (main analysis only), the
// scaling of every study's ranks to the scale of P probes, the opening of
// "output.txt" (main analysis only) and the line numbers.
//
// Each file is read by one list-directed statement, so line breaks carry no
// meaning, a null value leaves its cell zero, and a statement with nothing
// to read still consumes one record (an empty file is end-of-file). Every
// failure is thrown as textio::Termination; values read before it stay but
// nothing uses them.
#ifndef KORVELAN_DRIVER_LOADING_H_
#define KORVELAN_DRIVER_LOADING_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/model.h"
#include "textio/channels.h"
#include "textio/list_input.h"

namespace korvelan::driver {

struct LoadedInputs {
  RankMatrix ranks;
  StudyWeights weights;
  // The results file, opened before any computation; null unless the
  // analysis type is 1.
  std::unique_ptr<textio::ResultsFile> results;
};

// The whole loading phase on the files of the working directory, in order:
// read "data.txt" (unit 10) and move the columns, read "weights.txt" (unit
// 18) if the analysis type is 1, count and scale, open "output.txt" (unit
// 3) if the analysis type is 1, store the line numbers. "data.txt" is read,
// and the studies counted and scaled, on `threads` threads (the results are
// the same for every number).
LoadedInputs LoadInputs(const AnalysisParameters& params, unsigned threads = 1);

// The steps, on P probes and S studies as answered (any values: negative
// counts read and touch nothing, except as the steps' own indices demand).

// One statement of P x (S + 2) reals, probe after probe, value k of probe i
// into cell (i, k). The matrix stores rows 1 .. P and columns 1 .. S + 2.
// Plain text is tokenized on `threads` threads (ListReader::ReadReals);
// values, reports and the reader's position are those of one thread.
RankMatrix ReadRankMatrix(textio::ListReader& data, std::int32_t probes, std::int32_t studies,
                          unsigned threads = 1);

// Columns 1 .. S + 1 take the next column's value: the first value of each
// record is dropped; column S + 2 keeps a copy of the class.
void MoveColumnsLeft(RankMatrix& ranks, std::int32_t probes, std::int32_t studies);

// ReadRankMatrix and MoveColumnsLeft in one pass, for the loading phase:
// columns 1 .. S + 1 as the two steps leave them, but column S + 2 holds
// each record's first value (which the line numbers replace). Same reports
// at the same points.
RankMatrix ReadRankRecords(textio::ListReader& data, std::int32_t probes, std::int32_t studies,
                           unsigned threads = 1);

// One statement of S reals into weights 1 .. S.
void ReadStudyWeights(textio::ListReader& weights_file, std::int32_t studies, StudyWeights& weights);

// Row i's record position i into column S + 2; a column outside 1 .. 100
// (S below -1) is the array-bounds condition at the first store.
void StoreLineNumbers(RankMatrix& ranks, std::int32_t probes, std::int32_t studies);

}  // namespace korvelan::driver

#endif  // KORVELAN_DRIVER_LOADING_H_
