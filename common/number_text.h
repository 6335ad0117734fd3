// Numbers as text, both ways.
//
// Reading: the value cells of study tables. A cell is missing when it is
// empty or holds NA, NaN, N/A, #N/A or NULL (any letter case): the markers
// written by R, spreadsheets and databases. Anything else must be a whole
// decimal number (optional sign, digits, point, exponent; Inf and -Inf are
// accepted, as R writes them) and is converted to the nearest double.
//
// Writing: every number the tools write reads back as the same value, both
// through the program's list-directed reader (nearest float) and through R
// or a spreadsheet (nearest double), in the shortest decimal that does so.
#ifndef KORVELAN_COMMON_NUMBER_TEXT_H_
#define KORVELAN_COMMON_NUMBER_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvelan::tools {

// The cell's blanks (spaces, tabs, CR) stripped from both ends.
std::string_view TrimBlanks(std::string_view text);

bool IsMissingMarker(std::string_view cell);

// The cell's value: nullopt for a missing marker; throws nothing but returns
// false in `ok` when the cell is neither a number nor a missing marker.
struct CellValue {
  bool ok = false;
  std::optional<double> value;  // empty: missing
};
CellValue ParseCell(std::string_view cell);

// A whole-number or decimal token as written by the program's fixed fields
// ("17.", "0.0500000007450581", "-0.0000", " NaN", " Infinity"): the value,
// or nullopt when the text is not such a number.
std::optional<double> ParseDecimal(std::string_view text);

// A rank held in half units (2 x rank, so that the average rank of a tie,
// always a whole number or a half, is exact): "352" or "352.5".
std::string FormatHalfRank(std::int64_t half_units);

// The shortest decimal that converts back to exactly `value`; "NA" for a
// NaN, "Inf" and "-Inf" for infinities.
std::string FormatShortest(double value);

// The shortest decimal that converts back to exactly `value` as a float,
// with ".0" added to a whole number so that it reads as a real weight.
std::string FormatWeight(float value);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_NUMBER_TEXT_H_
