// List-directed output records and the numeric fields they are made of.
//
// A record starts with one blank, then its items: a text exactly as it
// stands; a 32-bit integer in a field of 12 characters; a double in a field
// of 24 characters. No separator is put before a numeric field (its own
// leading blanks separate it); a text that follows a number gets one blank.
// An item that does not fit in the 132 characters of a record starts a new
// record (which again begins with a blank).
//
// The functions here build text only; they never write. Record strings are
// returned without their line end; the writers add CR LF.
#ifndef KORVELAN_TEXTIO_LIST_OUTPUT_H_
#define KORVELAN_TEXTIO_LIST_OUTPUT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::textio {

inline constexpr std::size_t kListRecordLength = 132;

// 12 characters: the decimal value right-justified, "-" directly before the
// first digit when negative.
std::string IntegerField(std::int32_t value);

// 24 characters. Finite values are first rounded to 15 significant digits
// (round half to even on the exact binary value); with 0.1 <= |v| < 1e15
// after that rounding, the fixed form: v with 15 - k decimals right-justified
// in 19 characters, then 5 blanks ("0." before the decimals when |v| < 1).
// Otherwise, zero included, the exponent form right-justified in 24: one
// digit, ".", 15 digits, "E", sign, three exponent digits. NaN is " NaN",
// infinities " Infinity" / " -Infinity", left in the field, blank-padded.
std::string DoubleField(double value);

// The records of one list-directed output statement (normally one).
std::vector<std::string> ListRecords(std::string_view text);
std::vector<std::string> ListRecords(std::string_view text, std::int32_t value);
std::vector<std::string> ListRecords(std::string_view text, double value);

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_LIST_OUTPUT_H_
