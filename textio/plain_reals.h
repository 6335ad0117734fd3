// The fast path of list-directed real input: a scanner for text made only
// of the common token shapes, which the reader of list_input uses for long
// statements and hands everything else back from.
//
// Plain text is blanks, tabs and record ends (LF, or CR right before LF)
// between plain numbers: an optional sign, digits with at most one point,
// at least one digit, no exponent. Such a number is converted to the
// nearest float, exactly as the general reader converts it. Anything else
// (a comma, a slash, a repeat count, an exponent, a logical value, a word,
// a lone CR, a byte outside those) is not plain: the scanner stops in front
// of the token (or separator) where it met it, so that the general reader
// takes over from there with no state carried over but "a value was read".
#ifndef KORVELAN_TEXTIO_PLAIN_REALS_H_
#define KORVELAN_TEXTIO_PLAIN_REALS_H_

#include <cstddef>

namespace korvelan::textio {

struct PlainScan {
  std::size_t values;  // values stored in out[0 .. values)
  const char* stop;    // where scanning stopped
};

// Scans [begin, end), where `end` follows a blank, tab or LF (or equals
// begin), storing at most `limit` values. Stops at `end`, right after the
// limit-th value's token (the separator after it not taken), or at the
// start of the first token or separator that is not plain. `out` must have
// room for min(limit, (end - begin + 1) / 2) values.
PlainScan ScanPlainReals(const char* begin, const char* end, std::size_t limit, float* out);

// The nearest float of a plain number token [b, e) (see above), or false
// when the token is not one or its conversion needs the general reader
// (it overflows).
bool PlainReal(const char* b, const char* e, float& out);

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_PLAIN_REALS_H_
