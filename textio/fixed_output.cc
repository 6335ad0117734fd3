#include "textio/fixed_output.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace korvelan::textio {
namespace {

constexpr int kWidths[kDataFields] = {7, 24, 24, 24, 24, 24, 24, 24, 24};
constexpr int kDecimals[kDataFields] = {0, 4, 16, 16, 16, 16, 4, 16, 16};
constexpr std::size_t kDataRecordLength = 199;

void AppendWord(std::string& out, std::string_view word, std::size_t width) {
  if (word.size() > width) {
    out.append(width, '*');
    return;
  }
  out += word;
  out.append(width - word.size(), ' ');
}

// The digits of a value that is a float, to at most four decimals, as
// to_chars gives them: the value has at most 24 significant bits and 10^4
// at most 14 (2^4 x 5^4), so value x 10^d is exact in a double, and its
// nearest integer, ties to even, is the correctly rounded decimal. Returns
// the end of the digits, or null when the value is not such a float.
char* ShortFixedDigits(char* buf, double value, int d) {
  constexpr double kScale[] = {1e0, 1e1, 1e2, 1e3, 1e4};
  if (d > 4 || !(std::fabs(value) < 1e13) ||
      static_cast<double>(static_cast<float>(value)) != value) {
    return nullptr;
  }
  // Ties to even by hand, whatever the rounding mode: the floor and the
  // remainder are exact.
  const double scaled = std::fabs(value) * kScale[d];
  const double whole = std::floor(scaled);
  const double rest = scaled - whole;
  auto q = static_cast<std::uint64_t>(whole);
  if (rest > 0.5 || (rest == 0.5 && q % 2 == 1)) ++q;
  // Digits from the last, the point d from the end, at least one before it.
  char digits[24];
  char* p = digits + sizeof digits;
  for (int k = 0; q != 0 || k <= d; ++k) {
    if (k == d && d > 0) *--p = '.';
    *--p = static_cast<char>('0' + q % 10);
    q /= 10;
  }
  // to_chars writes the sign of a negative value (or -0) that rounds to 0.
  char* out = buf;
  if (std::signbit(value)) *out++ = '-';
  const std::size_t n = static_cast<std::size_t>(digits + sizeof digits - p);
  std::memcpy(out, p, n);
  return out + n;
}

}  // namespace

void AppendFixedField(std::string& out, double value, int width, int decimals) {
  const std::size_t w = width > 0 ? static_cast<std::size_t>(width) : 0;
  if (std::isnan(value)) return AppendWord(out, " NaN", w);
  if (std::isinf(value)) return AppendWord(out, value < 0 ? " -Infinity" : " Infinity", w);

  // The largest double has 309 integer digits; decimals beyond that are
  // never asked for by this program, and a value that long cannot fit.
  char buf[400];
  const int d = decimals < 0 ? 0 : decimals;
  if (d > 80) return AppendWord(out, std::string(w + 1, '*'), w);
  // Exact digits of the binary value, ties to even: as printf("%.*f").
  char* end = ShortFixedDigits(buf, value, d);
  if (end == nullptr) {
    end = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, d).ptr;
  }
  char* begin = buf;
  if (d == 0) *end++ = '.';
  std::size_t len = static_cast<std::size_t>(end - begin);
  if (len > w) {
    // The "0" before the point is optional: drop it when it is all that
    // stands between the value and asterisks.
    const bool negative = begin[0] == '-';
    char* zero = begin + (negative ? 1 : 0);
    if (zero[0] == '0' && zero[1] == '.') {
      if (negative) zero[0] = '-';
      ++begin;
      --len;
    }
  }
  if (len > w) {
    out.append(w, '*');
    return;
  }
  out.append(w - len, ' ');
  out.append(begin, len);
}

void AppendDataRecords(std::string& out, std::span<const float> values) {
  if (values.empty()) {
    out += "\r\n";
    return;
  }
  const std::size_t records = (values.size() + kDataFields - 1) / kDataFields;
  out.reserve(out.size() + records * (kDataRecordLength + 2));
  std::size_t field = 0;
  for (const float v : values) {
    AppendFixedField(out, static_cast<double>(v), kWidths[field], kDecimals[field]);
    if (++field == kDataFields) {
      out += "\r\n";
      field = 0;
    }
  }
  if (field != 0) out += "\r\n";
}

}  // namespace korvelan::textio
