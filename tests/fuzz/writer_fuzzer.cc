// Fuzzes the number writers: arbitrary doubles and floats (from the input's
// bytes) into Fw.d fields, the 24-character double field, the 12-character
// integer field and the data records of the results file.
//
// Layout of the input: byte 0 gives a width w (0 .. 40), byte 1 a number of
// decimals d (0 .. 20); the rest is read as 8-byte doubles (the low four
// bytes of each also as a float and as a 32-bit integer).
//
// The oracles are the C library's printf and strtod, which round the exact
// binary value half to even like the writers should:
// - Fw.d is printf("%.*f") right-justified (a "." after the digits for d = 0;
//   the "0" before the point dropped only when that makes it fit), w
//   asterisks when even that does not fit, the NaN and infinity words; the
//   field parses back to within half a unit of the d-th decimal of v.
// - The 24-character field is the 15 significant digits of printf("%.14e")
//   laid out in the fixed form when 0.1 <= |v| < 1e15 after that rounding,
//   else printf("%.15E") with a three-digit exponent; it parses back to the
//   value rounded to 15 (fixed) or 16 (exponent form) significant digits.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "textio/fixed_output.h"
#include "textio/list_output.h"

namespace {

using korvelan::textio::AppendDataRecords;
using korvelan::textio::AppendFixedField;
using korvelan::textio::DoubleField;
using korvelan::textio::IntegerField;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Printf(const char* format, int precision, double v) {
  char buf[512];
  const int n = std::snprintf(buf, sizeof buf, format, precision, v);
  Check(n > 0 && static_cast<std::size_t>(n) < sizeof buf);
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string Word(const char* word, std::size_t width) {
  std::string w = word;
  if (w.size() > width) return std::string(width, '*');
  w.resize(width, ' ');
  return w;
}

std::string RightJustify(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string ExpectedFixed(double v, int w, int d) {
  const std::size_t width = static_cast<std::size_t>(w);
  if (std::isnan(v)) return Word(" NaN", width);
  if (std::isinf(v)) return Word(v < 0 ? " -Infinity" : " Infinity", width);
  std::string s = Printf("%.*f", d, v);
  if (d == 0) s += '.';
  if (s.size() > width) {
    const std::size_t zero = s[0] == '-' ? 1 : 0;
    if (s.compare(zero, 2, "0.") == 0) s.erase(zero, 1);
  }
  if (s.size() > width) return std::string(width, '*');
  return RightJustify(s, width);
}

void CheckFixed(double v, int w, int d) {
  std::string field;
  AppendFixedField(field, v, w, d);
  Check(field == ExpectedFixed(v, w, d));
  if (!std::isfinite(v) || field.find_first_not_of('*') == std::string::npos) return;
  // The field's own reading: d decimals, within half a unit of v.
  const std::size_t point = field.find('.');
  Check(point != std::string::npos && field.size() - point - 1 == static_cast<std::size_t>(d));
  Check((field.find('-') != std::string::npos) == std::signbit(v));
  const double back = std::strtod(field.c_str(), nullptr);
  const long double err = std::fabs(static_cast<long double>(back) - static_cast<long double>(v));
  const long double half = 0.5L * std::pow(10.0L, -d);
  Check(err <= half + std::nextafter(std::fabs(back), HUGE_VAL) - std::fabs(back));
}

std::string ExpectedDouble(double v) {
  if (std::isnan(v)) return Word(" NaN", 24);
  if (std::isinf(v)) return Word(v < 0 ? " -Infinity" : " Infinity", 24);
  const std::string sci = Printf("%.*e", 14, v);  // d.dddddddddddddde+XX
  const std::size_t e = sci.find('e');
  const int k = std::atoi(sci.c_str() + e + 1) + 1;
  if (v != 0 && k >= 0 && k <= 15) {
    const bool negative = sci[0] == '-';
    std::string digits = sci.substr(negative ? 1 : 0, e - (negative ? 1 : 0));
    digits.erase(1, 1);  // the point: 15 significant digits remain
    std::string fixed = negative ? "-" : "";
    if (k == 0) {
      fixed += "0." + digits;
    } else {
      fixed += digits.substr(0, static_cast<std::size_t>(k)) + "." +
               digits.substr(static_cast<std::size_t>(k));
    }
    return RightJustify(fixed, 19) + "     ";
  }
  const std::string exp = Printf("%.*E", 15, v);  // d.dddddddddddddddE+XX
  const std::size_t x = exp.find('E');
  std::string digits = exp.substr(x + 2);
  if (digits.size() > 3) return std::string(24, '*');
  digits.insert(0, 3 - digits.size(), '0');
  return RightJustify(exp.substr(0, x + 2) + digits, 24);
}

void CheckDouble(double v) {
  const std::string field = DoubleField(v);
  Check(field == ExpectedDouble(v));
  if (!std::isfinite(v)) return;
  const double back = std::strtod(field.c_str(), nullptr);
  const bool fixed = field.find('E') == std::string::npos;
  const double rounded = std::strtod(Printf("%.*e", fixed ? 14 : 15, v).c_str(), nullptr);
  Check(back == rounded && std::signbit(back) == std::signbit(v));
}

void CheckInteger(std::int32_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%12d", static_cast<int>(v));
  Check(IntegerField(v) == buf);
}

void CheckRecords(std::span<const float> values) {
  static constexpr int kW[9] = {7, 24, 24, 24, 24, 24, 24, 24, 24};
  static constexpr int kD[9] = {0, 4, 16, 16, 16, 16, 4, 16, 16};
  std::string out;
  AppendDataRecords(out, values);
  std::string expected;
  for (std::size_t i = 0; i < values.size(); ++i) {
    AppendFixedField(expected, static_cast<double>(values[i]), kW[i % 9], kD[i % 9]);
    if (i % 9 == 8 || i + 1 == values.size()) expected += "\r\n";
  }
  if (values.empty()) expected = "\r\n";
  Check(out == expected);
  // Whole records of 199 characters, one per nine values; only the last
  // may be shorter.
  const std::size_t full = values.size() / 9;
  const std::size_t records = values.empty() ? 1 : (values.size() + 8) / 9;
  std::size_t at = 0;
  for (std::size_t r = 0; r < records; ++r) {
    const std::size_t end = out.find("\r\n", at);
    Check(end != std::string::npos && (r >= full || end - at == 199));
    at = end + 2;
  }
  Check(at == out.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int w = data[0] % 41;
  const int d = data[1] % 21;
  std::vector<float> floats;
  for (std::size_t at = 2; at < size; at += 8) {
    std::uint8_t bytes[8] = {};
    std::memcpy(bytes, data + at, size - at < 8 ? size - at : 8);
    double v;
    std::memcpy(&v, bytes, sizeof v);
    float f;
    std::memcpy(&f, bytes, sizeof f);
    std::int32_t i;
    std::memcpy(&i, bytes, sizeof i);

    CheckFixed(v, w, d);
    CheckFixed(static_cast<double>(f), w, d);
    // The edits of the results file, on the float as the program holds it.
    CheckFixed(static_cast<double>(f), 7, 0);
    CheckFixed(static_cast<double>(f), 24, 4);
    CheckFixed(static_cast<double>(f), 24, 16);
    CheckDouble(v);
    CheckDouble(static_cast<double>(f));
    CheckInteger(i);
    floats.push_back(f);
  }
  CheckRecords(floats);
  return 0;
}
