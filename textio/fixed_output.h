// Formatted (Fw.d) output: the data records of "output.txt".
//
// Fw.d: the exact binary value rounded to d decimals (round half to even on
// the exact value, as C's printf), "0" before the point when |v| < 1 and
// there is room, the point, exactly d digits; "-" when negative (a negative
// value that rounds to zero keeps its sign: -0.0000); right-justified in w;
// w asterisks when it does not fit. NaN and infinities as in DoubleField:
// one blank, then "NaN", "Infinity" or "-Infinity", blank-padded to w
// (asterisks when w is too small for the word).
#ifndef KORVELAN_TEXTIO_FIXED_OUTPUT_H_
#define KORVELAN_TEXTIO_FIXED_OUTPUT_H_

#include <span>
#include <string>

namespace korvelan::textio {

// Appends the Fw.d field of `value` to `out`. Float values are widened to
// double exactly before they are formatted.
void AppendFixedField(std::string& out, double value, int width, int decimals);

// The nine edits of a data record: F7.0, F24.4, 2F24.16, 2F24.16, F24.4,
// 2F24.16, a record of 199 characters.
inline constexpr int kDataFields = 9;

// Appends the records that one formatted write of `values` under the data
// record format produces, each ended with CR LF: the format is reused from
// its start for every 9 values (format reversion), and the record in
// progress is ended when the list runs out. An empty list gives one empty
// record (a bare CR LF).
void AppendDataRecords(std::string& out, std::span<const float> values);

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_FIXED_OUTPUT_H_
