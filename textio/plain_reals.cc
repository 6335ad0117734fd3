#include "textio/plain_reals.h"

#include <charconv>
#include <cstdint>
#include <system_error>

namespace korvelan::textio {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that are exact in a float (5^10 < 2^24).
constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

}  // namespace

bool PlainReal(const char* b, const char* e, float& out) {
  const char* p = b;
  bool negative = false;
  if (p != e && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* number = p;
  std::uint64_t m = 0;
  int digits = 0;
  int fraction = -1;  // digits after the point; -1: no point
  for (; p != e; ++p) {
    if (IsDigit(*p)) {
      if (digits < 19) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
      ++digits;
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  // An integer below 2^24 and a power of ten up to 10^10 are exact floats,
  // and one correctly rounded division of them is the nearest float to the
  // decimal: the conversion of the general reader, without its cost.
  const int scale = fraction < 0 ? 0 : fraction;
  if (digits <= 19 && m <= (std::uint64_t{1} << 24) && scale <= 10) {
    const float f = static_cast<float>(m) / kPow10[scale];
    out = negative ? -f : f;
    return true;
  }
  // from_chars takes the sign but not '+'. Out of range (overflow, or an
  // underflow whose rounding strtof settles) is left to the general reader.
  float f = 0;
  const auto r = std::from_chars(negative ? number - 1 : number, e, f);
  if (r.ec != std::errc() || r.ptr != e) return false;
  out = f;
  return true;
}

PlainScan ScanPlainReals(const char* begin, const char* end, std::size_t limit, float* out) {
  const char* p = begin;
  std::size_t n = 0;
  while (p != end && n < limit) {
    const char c = *p;
    if (c == ' ' || c == '\t' || c == '\n') {
      ++p;
      continue;
    }
    if (c == '\r') {
      // Only a CR right before LF ends a record; the LF is in the range,
      // as `end` follows a separator.
      if (p[1] != '\n') return {n, p};
      p += 2;
      continue;
    }
    // A token, read as it is scanned: the common short number is converted
    // on the way; anything longer or odder goes through PlainReal, and a
    // token that ends in something other than a blank, tab or record end
    // (a comma, slash, letter, a CR inside a record) is not plain.
    const char* t = p;
    const bool negative = c == '-';
    if (c == '-' || c == '+') ++p;
    std::uint32_t m = 0;
    int digits = 0;
    while (IsDigit(*p) && digits < 7) {
      m = m * 10 + static_cast<std::uint32_t>(*p - '0');
      ++digits;
      ++p;
    }
    int scale = 0;
    if (*p == '.') {
      ++p;
      while (IsDigit(*p) && digits < 7) {
        m = m * 10 + static_cast<std::uint32_t>(*p - '0');
        ++digits;
        ++scale;
        ++p;
      }
    }
    const char after = *p;
    if (digits > 0 &&
        (after == ' ' || after == '\t' || after == '\n' || (after == '\r' && p[1] == '\n'))) {
      // At most 7 digits: below 2^24, exact, like the power of ten.
      const float f = scale == 0 ? static_cast<float>(m) : static_cast<float>(m) / kPow10[scale];
      out[n++] = negative ? -f : f;
      continue;
    }
    // The long way: to the token's end, then the full conversion.
    while (p != end && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != ',' &&
           *p != '/') {
      ++p;
    }
    if (p == end || *p == ',' || *p == '/' || (*p == '\r' && p[1] != '\n') ||
        !PlainReal(t, p, out[n])) {
      return {n, t};
    }
    ++n;
  }
  return {n, p};
}

}  // namespace korvelan::textio
