// UTF-8 well-formedness, shared by the meta layer (which refuses names and
// ids that are not text) and the tools (which escape what they echo).
#ifndef KORVELAN_TEXTIO_UTF8_H_
#define KORVELAN_TEXTIO_UTF8_H_

#include <cstddef>
#include <string_view>

namespace korvelan::textio {

// The length of the well-formed UTF-8 sequence at the start of `text` (1 to
// 4) with its code point, or 0 when it is not one: an empty text, a stray
// continuation byte, a truncated sequence, an overlong form, a surrogate or
// a code point above U+10FFFF.
std::size_t Utf8Length(std::string_view text, unsigned& code_point);

// The offset of the first byte that does not start a well-formed sequence,
// or std::string_view::npos when the whole text is UTF-8.
std::size_t FirstInvalidUtf8(std::string_view text);

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_UTF8_H_
