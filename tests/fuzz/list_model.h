// A small model of list-directed input for the fuzzers to compare the
// reader with. It works on whole records split up front and converts with
// strtod/strtof, so it shares neither the reader's buffering and refills
// nor its number conversion; it is slow and simple on purpose.
#ifndef KORVELAN_TESTS_FUZZ_LIST_MODEL_H_
#define KORVELAN_TESTS_FUZZ_LIST_MODEL_H_

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::fuzzmodel {

// The condition a statement ends with (24, 59 or 64).
struct Failure {
  int condition;
};

// Records end at LF; a CR right before the LF is not part of the record; a
// last line without LF is a record; any other CR is an ordinary character.
inline std::vector<std::string> SplitRecords(std::string_view in) {
  std::vector<std::string> records;
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = in.find('\n', start);
    if (lf == std::string_view::npos) {
      if (start < in.size()) records.emplace_back(in.substr(start));
      return records;
    }
    std::string_view r = in.substr(start, lf - start);
    if (!r.empty() && r.back() == '\r') r.remove_suffix(1);
    records.emplace_back(r);
    start = lf + 1;
  }
}

inline bool Digit(char c) { return c >= '0' && c <= '9'; }

// Whether a decimal digit string (leading zeros allowed) exceeds `limit`.
inline bool Exceeds(std::string_view digits, std::string_view limit) {
  const std::size_t nz = digits.find_first_not_of('0');
  const std::string_view sig = nz == std::string_view::npos ? std::string_view() : digits.substr(nz);
  return sig.size() > limit.size() || (sig.size() == limit.size() && sig > limit);
}

// A value token after the repeat count: a logical (-1 for true, 0 for
// false), or a number checked against the grammar. `integer` tells whether
// it had neither point nor exponent; `text` is what strtod/strtof take.
struct Number {
  bool logical = false;
  bool truth = false;
  bool integer = false;
  bool negative = false;
  std::string mantissa;  // the integer digits, for integer tokens
  std::string text;
};

inline Number Classify(const std::string& token) {
  Number n;
  const std::size_t t = token.size() > 1 && token[0] == '.' ? 1 : 0;
  const char c = token[t];
  if (c == 'T' || c == 't' || c == 'F' || c == 'f') {
    n.logical = true;
    n.truth = c == 'T' || c == 't';
    return n;
  }
  std::size_t p = 0;
  if (token[p] == '+' || token[p] == '-') n.negative = token[p++] == '-';
  std::size_t digits = 0;
  n.integer = true;
  while (p < token.size() && Digit(token[p])) n.mantissa += token[p++], ++digits;
  if (p < token.size() && token[p] == '.') {
    n.integer = false;
    ++p;
    while (p < token.size() && Digit(token[p])) ++p, ++digits;
  }
  if (digits == 0) throw Failure{59};
  if (p < token.size()) {
    if (std::string_view("eEdDqQ").find(token[p]) == std::string_view::npos) throw Failure{59};
    n.integer = false;
    ++p;
    if (p < token.size() && (token[p] == '+' || token[p] == '-')) ++p;
    if (p == token.size() || !Digit(token[p])) throw Failure{59};
    while (p < token.size() && Digit(token[p])) ++p;
    if (p != token.size()) throw Failure{59};
  }
  n.text = token;
  for (char& ch : n.text) {
    if (ch == 'd' || ch == 'D' || ch == 'q' || ch == 'Q') ch = 'e';
  }
  return n;
}

inline std::int32_t ToInteger(const std::string& token) {
  const Number n = Classify(token);
  if (n.logical) return n.truth ? -1 : 0;
  if (n.integer) {
    if (Exceeds(n.mantissa, n.negative ? "2147483648" : "2147483647")) throw Failure{64};
    const long long v = std::strtoll(n.mantissa.c_str(), nullptr, 10);
    return static_cast<std::int32_t>(n.negative ? -v : v);
  }
  const double d = std::trunc(std::strtod(n.text.c_str(), nullptr));
  if (std::isinf(d) || d < -2147483648.0 || d > 2147483647.0) throw Failure{64};
  return static_cast<std::int32_t>(d);
}

inline float ToReal(const std::string& token) {
  const Number n = Classify(token);
  if (n.logical) return n.truth ? -1.0f : 0.0f;
  const float f = std::strtof(n.text.c_str(), nullptr);
  if (std::isinf(f)) throw Failure{64};
  return f;
}

// Input statements one after another on the same records.
class Reader {
 public:
  explicit Reader(std::string_view input) : records_(SplitRecords(input)) {}

  // One statement over `count` targets: convert(token) gives the value,
  // store(index, value) puts it; nulls and the slash store nothing.
  template <class Convert, class Store>
  void Statement(std::size_t count, Convert convert, Store store) {
    if (started_) {
      ++r_;  // the rest of the previous statement's record is skipped
      pos_ = 0;
    }
    started_ = true;
    after_value_ = false;
    if (r_ >= records_.size()) throw Failure{24};
    std::size_t i = 0;
    while (i < count) {
      const std::string& rec = records_[r_];
      if (pos_ >= rec.size()) {
        if (++r_ >= records_.size()) throw Failure{24};
        pos_ = 0;
        continue;
      }
      const char c = rec[pos_];
      if (c == ' ' || c == '\t') {
        ++pos_;
        continue;
      }
      if (c == ',') {
        ++pos_;
        if (after_value_) {
          after_value_ = false;
          continue;
        }
        ++i;  // a null value
        continue;
      }
      if (c == '/') {
        ++pos_;
        return;
      }
      std::size_t end = pos_;
      while (end < rec.size() && std::string_view(" \t,/").find(rec[end]) == std::string_view::npos) {
        ++end;
      }
      std::string token = rec.substr(pos_, end - pos_);
      pos_ = end;
      after_value_ = true;
      std::uint64_t repeat = 1;
      std::size_t star = 0;
      while (star < token.size() && Digit(token[star])) ++star;
      if (star > 0 && star < token.size() && token[star] == '*') {
        const std::string_view digits(token.data(), star);
        if (Exceeds(digits, "2147483647")) throw Failure{64};
        repeat = std::strtoull(std::string(digits).c_str(), nullptr, 10);
        if (repeat == 0) throw Failure{59};
        token.erase(0, star + 1);
        if (token.empty()) {  // r*: r null values
          i += static_cast<std::size_t>(std::min<std::uint64_t>(repeat, count - i));
          continue;
        }
      }
      const auto v = convert(token);
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(repeat, count - i));
      for (std::size_t k = i; k < i + n; ++k) store(k, v);
      i += n;
    }
  }

 private:
  std::vector<std::string> records_;
  std::size_t r_ = 0;    // current record
  std::size_t pos_ = 0;  // next character in it
  bool started_ = false;
  bool after_value_ = false;
};

}  // namespace korvelan::fuzzmodel

#endif  // KORVELAN_TESTS_FUZZ_LIST_MODEL_H_
