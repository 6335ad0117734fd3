#include "textio/utf8.h"

namespace korvelan::textio {

std::size_t Utf8Length(std::string_view text, unsigned& code_point) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  unsigned minimum = 0;
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, code_point = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, code_point = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, code_point = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code_point = (code_point << 6) | (byte(i) & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    return 0;
  }
  return length;
}

std::size_t FirstInvalidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    unsigned code_point = 0;
    const std::size_t length = Utf8Length(text.substr(at), code_point);
    if (length == 0) return at;
    at += length;
  }
  return std::string_view::npos;
}

}  // namespace korvelan::textio
