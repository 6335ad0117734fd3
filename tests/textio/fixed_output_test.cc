#include "textio/fixed_output.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <limits>
#include <string>
#include <vector>

namespace korvelan::textio {
namespace {

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

std::string Field(double v, int w, int d) {
  std::string out;
  AppendFixedField(out, v, w, d);
  return out;
}

struct FieldCase {
  const char* name;
  double value;
  int width;
  int decimals;
  std::string field;
};

TEST(AppendFixedField, Layouts) {
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const FieldCase cases[] = {
      {"probe_12", 12, 7, 0, "    12."},
      {"probe_17", 17, 7, 0, "    17."},
      {"probe_500000_fills", 500000, 7, 0, "500000."},
      {"probe_1000000_too_wide", 1000000, 7, 0, "*******"},
      {"float_of_0_05", static_cast<double>(0.05f), 24, 16, Blanks(6) + "0.0500000007450581"},
      {"quarter", 0.25, 24, 16, Blanks(6) + "0.2500000000000000"},
      {"four_decimals", 1234.5678, 24, 4, Blanks(15) + "1234.5678"},
      {"tie_to_even_down", 1.03125, 24, 4, Blanks(18) + "1.0312"},
      {"tie_to_even_up", 1.09375, 24, 4, Blanks(18) + "1.0938"},
      {"negative_rounds_to_zero", -0.00001, 24, 4, Blanks(17) + "-0.0000"},
      {"negative", -2.5, 24, 4, Blanks(17) + "-2.5000"},
      {"zero", 0, 24, 16, Blanks(6) + "0.0000000000000000"},
      {"zero_dropped_when_tight", 0.5, 2, 1, ".5"},
      {"negative_zero_dropped", -0.5, 3, 1, "-.5"},
      {"too_wide_even_without_zero", 0.5, 1, 1, "*"},
      {"huge", 1e30, 24, 16, std::string(24, '*')},
      {"nan", nan, 24, 16, " NaN" + Blanks(20)},
      {"nan_narrow", nan, 7, 0, " NaN   "},
      {"infinity", inf, 24, 4, " Infinity" + Blanks(15)},
      {"minus_infinity", -inf, 24, 4, " -Infinity" + Blanks(14)},
      {"word_too_wide", -inf, 7, 0, "*******"},
  };
  for (const FieldCase& c : cases) {
    EXPECT_EQ(Field(c.value, c.width, c.decimals), c.field) << c.name;
  }
}

// A wide field as to_chars writes the value: the oracle of the short path
// for floats to at most four decimals.
std::string WideFieldOracle(double value, int decimals) {
  char buf[400];
  char* end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals).ptr;
  if (decimals == 0) *end++ = '.';
  const std::string digits(buf, end);
  return std::string(60 - digits.size(), ' ') + digits;
}

std::string WideField(double value, int decimals) {
  std::string out;
  AppendFixedField(out, value, 60, decimals);
  return out;
}

// Floats of every magnitude the short path takes and the edges where it
// hands over (ties, -0, values that round to zero, the largest taken, a
// double that is not a float), each with zero to five decimals.
TEST(AppendFixedField, FloatsToFewDecimalsAsToChars) {
  std::vector<double> values = {0.0,         -0.0,       0.5,      1.5,       2.5,
                                -2.5,        0.03125,    -0.03125, 0.00005,   -0.00004,
                                254004.9375, 1e-45,      -1e-40,   9999999.5, 16777217.0,
                                9.99e12,     1.00001e13, 4e38,     0.1,       1.0 / 3.0};
  std::mt19937 rng(20261211);
  for (int k = 0; k < 200000; ++k) {
    // Random bit patterns over all magnitudes, then values near integers
    // and halves at the decimal scales, where the rounding decides.
    std::uint32_t bits = static_cast<std::uint32_t>(rng());
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(f)) values.push_back(f);
    const double half = static_cast<double>(rng() % 2000000) / 2.0 / std::pow(10.0, rng() % 5);
    values.push_back(static_cast<float>(k % 2 == 0 ? half : -half));
  }
  for (const double v : values) {
    for (int d = 0; d <= 5; ++d) {
      ASSERT_EQ(WideField(v, d), WideFieldOracle(v, d)) << "value " << v << ", " << d << " decimals";
    }
  }
}

TEST(AppendDataRecords, NineFieldsPerRecordWithReversion) {
  std::vector<float> values;
  for (int probe = 1; probe <= 2; ++probe) {
    values.push_back(static_cast<float>(probe));
    for (int k = 0; k < 8; ++k) values.push_back(0.25f);
  }
  values.push_back(3.0f);  // a tenth value after the second record
  std::string out;
  AppendDataRecords(out, values);
  const std::string body = Blanks(18) + "0.2500" + (Blanks(6) + "0.2500000000000000") +
                           (Blanks(6) + "0.2500000000000000") + (Blanks(6) + "0.2500000000000000") +
                           (Blanks(6) + "0.2500000000000000") + Blanks(18) + "0.2500" +
                           (Blanks(6) + "0.2500000000000000") + (Blanks(6) + "0.2500000000000000");
  ASSERT_EQ(body.size(), 192u);
  const std::string expected = "     1." + body + "\r\n" + "     2." + body + "\r\n" + "     3.\r\n";
  EXPECT_EQ(out, expected);
}

TEST(AppendDataRecords, EmptyListWritesOneEmptyRecord) {
  std::string out = "legend\r\n";
  AppendDataRecords(out, {});
  EXPECT_EQ(out, "legend\r\n\r\n");
}

TEST(AppendDataRecords, NanFieldsStayLeft) {
  std::vector<float> values(9, std::nanf(""));
  values[0] = 4;
  std::string out;
  AppendDataRecords(out, values);
  ASSERT_EQ(out.size(), 201u);
  EXPECT_EQ(out.substr(0, 7 + 24), "     4. NaN" + Blanks(20));
  EXPECT_EQ(out.substr(199), "\r\n");
}

}  // namespace
}  // namespace korvelan::textio
