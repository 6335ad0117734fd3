#include "common/number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace korvelan::tools {
namespace {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// from_chars takes more than a plain decimal (hex with a prefix, "nan(...)",
// "infinity"); the cells must be numbers a person or R would write, so the
// shape is checked first: sign, digits with at most one point and at least
// one digit, then an optional exponent letter with an optionally signed
// integer.
bool IsPlainDecimal(std::string_view text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      ++digits;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i == text.size()) return true;
  if (text[i] != 'e' && text[i] != 'E') return false;
  ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t exponent_digits = 0;
  for (; i < text.size() && IsDigit(text[i]); ++i) ++exponent_digits;
  return exponent_digits > 0 && i == text.size();
}

std::optional<double> ConvertPlainDecimal(std::string_view text) {
  if (!IsPlainDecimal(text)) return std::nullopt;
  // from_chars refuses a leading plus sign.
  if (text.front() == '+') text.remove_prefix(1);
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  // A magnitude beyond the double range is out of range here; R would read
  // it as Inf, but such a cell is a damaged number, not a statistic.
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string_view TrimBlanks(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsMissingMarker(std::string_view cell) {
  cell = TrimBlanks(cell);
  if (cell.empty()) return true;
  for (std::string_view marker : {"NA", "NaN", "N/A", "#N/A", "NULL"}) {
    if (EqualsIgnoringCase(cell, marker)) return true;
  }
  return false;
}

CellValue ParseCell(std::string_view cell) {
  cell = TrimBlanks(cell);
  if (IsMissingMarker(cell)) return {true, std::nullopt};
  std::string_view magnitude = cell;
  bool negative = false;
  if (!magnitude.empty() && (magnitude.front() == '+' || magnitude.front() == '-')) {
    negative = magnitude.front() == '-';
    magnitude.remove_prefix(1);
  }
  if (EqualsIgnoringCase(magnitude, "Inf") || EqualsIgnoringCase(magnitude, "Infinity")) {
    return {true, negative ? -HUGE_VAL : HUGE_VAL};
  }
  std::optional<double> value = ConvertPlainDecimal(cell);
  if (!value) return {false, std::nullopt};
  return {true, value};
}

std::optional<double> ParseDecimal(std::string_view text) {
  text = TrimBlanks(text);
  if (text == "NaN") return std::nan("");
  if (text == "Infinity") return HUGE_VAL;
  if (text == "-Infinity") return -HUGE_VAL;
  return ConvertPlainDecimal(text);
}

std::string FormatHalfRank(std::int64_t half_units) {
  std::string text = std::to_string(half_units / 2);
  if (half_units % 2 != 0) text += ".5";
  return text;
}

std::string FormatShortest(double value) {
  if (std::isnan(value)) return "NA";
  if (std::isinf(value)) return value > 0 ? "Inf" : "-Inf";
  std::array<char, 32> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

std::string FormatWeight(float value) {
  std::array<char, 32> buffer{};
  auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  std::string text(buffer.data(), result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

}  // namespace korvelan::tools
