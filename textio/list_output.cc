#include "textio/list_output.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace korvelan::textio {
namespace {

constexpr std::size_t kIntegerWidth = 12;
constexpr std::size_t kDoubleWidth = 24;
constexpr std::size_t kFixedPart = 19;  // the fixed form's digits; 5 blanks follow

std::string RightJustify(std::string_view s, std::size_t width) {
  if (s.size() >= width) return std::string(s);
  std::string out(width - s.size(), ' ');
  out += s;
  return out;
}

// The exponent form: 16 significant digits of the exact value (round half to
// even, as printf), "E", the exponent's sign and three digits.
std::string ExponentForm(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 15);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  const std::size_t e = s.find('e');
  std::string out(s.substr(0, e));
  out += 'E';
  out += s[e + 1];  // to_chars always writes the exponent's sign
  std::string_view digits = s.substr(e + 2);
  if (digits.size() > 3) return std::string(kDoubleWidth, '*');
  out.append(3 - digits.size(), '0');
  out += digits;
  return RightJustify(out, kDoubleWidth);
}

}  // namespace

std::string IntegerField(std::int32_t value) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return RightJustify(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), kIntegerWidth);
}

std::string DoubleField(double value) {
  if (std::isnan(value)) {
    std::string out = " NaN";
    out.resize(kDoubleWidth, ' ');
    return out;
  }
  if (std::isinf(value)) {
    std::string out = value < 0 ? " -Infinity" : " Infinity";
    out.resize(kDoubleWidth, ' ');
    return out;
  }
  if (value == 0) return ExponentForm(value);  // keeps the sign of -0

  // Round to 15 significant digits first; the decimal exponent of that
  // rounded value (0.d1..d15 x 10^k) picks the form, so 0.09999999999999999
  // (which rounds to 0.1) takes the fixed form.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));
  const int k = std::atoi(std::string(s.substr(s.find('e') + 1)).c_str()) + 1;
  if (k < 0 || k > 15) return ExponentForm(value);

  // Rounding straight to 15 - k decimals gives the same digits as the
  // 15-digit rounding above, also when that rounding carried into a new
  // leading digit: the value then lies within half a unit of the 16th digit
  // of the power of ten, far inside half a unit of the 15th.
  char fixed[64];
  const auto f = std::to_chars(fixed, fixed + sizeof fixed, value, std::chars_format::fixed, 15 - k);
  std::string digits(fixed, static_cast<std::size_t>(f.ptr - fixed));
  if (k == 15) digits += '.';  // no decimals: the point is still written
  std::string out = RightJustify(digits, kFixedPart);
  out.append(kDoubleWidth - kFixedPart, ' ');
  return out;
}

namespace {

class RecordBuilder {
 public:
  // A text item. A text longer than a whole record is carried on over as
  // many records as it needs.
  void Text(std::string_view text) {
    if (last_was_number_) Append(" ");
    last_was_number_ = false;
    Append(text);
  }
  void Number(const std::string& field) {
    if (current_.size() + field.size() > kListRecordLength) Break();
    current_ += field;
    last_was_number_ = true;
  }
  std::vector<std::string> Finish() {
    records_.push_back(std::move(current_));
    return std::move(records_);
  }

 private:
  void Append(std::string_view text) {
    if (current_.size() + text.size() > kListRecordLength && current_.size() > 1) Break();
    while (current_.size() + text.size() > kListRecordLength) {
      const std::size_t room = kListRecordLength - current_.size();
      current_ += text.substr(0, room);
      text.remove_prefix(room);
      Break();
    }
    current_ += text;
  }
  void Break() {
    records_.push_back(current_);
    current_.assign(1, ' ');
  }

  std::vector<std::string> records_;
  std::string current_ = " ";
  bool last_was_number_ = false;
};

}  // namespace

std::vector<std::string> ListRecords(std::string_view text) {
  RecordBuilder b;
  b.Text(text);
  return b.Finish();
}

std::vector<std::string> ListRecords(std::string_view text, std::int32_t value) {
  RecordBuilder b;
  b.Text(text);
  b.Number(IntegerField(value));
  return b.Finish();
}

std::vector<std::string> ListRecords(std::string_view text, double value) {
  RecordBuilder b;
  b.Text(text);
  b.Number(DoubleField(value));
  return b.Finish();
}

}  // namespace korvelan::textio
