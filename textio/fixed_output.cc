#include "textio/fixed_output.h"

#include <charconv>
#include <cmath>

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
  const auto r = std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::fixed, d);
  char* begin = buf;
  char* end = r.ptr;
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
