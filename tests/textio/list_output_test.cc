#include "textio/list_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace korvelan::textio {
namespace {

std::string Blanks(std::size_t n) { return std::string(n, ' '); }

struct IntegerCase {
  const char* name;
  std::int32_t value;
  std::string field;
};

TEST(IntegerField, RightJustifiedInTwelve) {
  const IntegerCase cases[] = {
      {"zero", 0, Blanks(11) + "0"},
      {"minus_five", -5, Blanks(10) + "-5"},
      {"ten", 10, Blanks(10) + "10"},
      {"most_negative", std::numeric_limits<std::int32_t>::min(), " -2147483648"},
      {"most_positive", std::numeric_limits<std::int32_t>::max(), "  2147483647"},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(IntegerField(c.value), c.field) << c.name;
  }
}

struct DoubleCase {
  const char* name;
  double value;
  std::string field;
};

TEST(DoubleField, FixedAndExponentForms) {
  const DoubleCase cases[] = {
      {"half", 0.5, Blanks(2) + "0.500000000000000" + Blanks(5)},
      {"one", 1.0, Blanks(3) + "1.00000000000000" + Blanks(5)},
      {"tenth", 0.1, Blanks(2) + "0.100000000000000" + Blanks(5)},
      {"rounds_up_to_tenth", 0.09999999999999999, Blanks(2) + "0.100000000000000" + Blanks(5)},
      {"below_tenth", 0.0999, Blanks(2) + "9.990000000000000E-002"},
      {"fifteen_nines", 999999999999999.0, Blanks(3) + "999999999999999." + Blanks(5)},
      {"ten_to_15", 1e15, Blanks(2) + "1.000000000000000E+015"},
      {"five_hundredths", 0.05, Blanks(2) + "5.000000000000000E-002"},
      {"twelve_ten_thousandths", 0.0012, Blanks(2) + "1.200000000000000E-003"},
      {"zero", 0.0, Blanks(2) + "0.000000000000000E+000"},
      {"negative_zero", -0.0, Blanks(1) + "-0.000000000000000E+000"},
      {"negative_fixed", -1.5, Blanks(2) + "-1.50000000000000" + Blanks(5)},
      {"negative_exponent", -0.05, Blanks(1) + "-5.000000000000000E-002"},
      {"largest_double", std::numeric_limits<double>::max(), Blanks(2) + "1.797693134862316E+308"},
      {"smallest_subnormal", std::numeric_limits<double>::denorm_min(),
       Blanks(2) + "4.940656458412465E-324"},
      {"third", 1.0 / 3.0, Blanks(2) + "0.333333333333333" + Blanks(5)},
      {"fixed_with_integer_digits", 12345.678, Blanks(3) + "12345.6780000000" + Blanks(5)},
      // 2.5e-16 above 0.5 in binary: ties are decided on the exact value.
      {"exact_binary_decides", 0.1 + 0.2, Blanks(2) + "0.300000000000000" + Blanks(5)},
      {"nan", std::nan(""), " NaN" + Blanks(20)},
      {"infinity", std::numeric_limits<double>::infinity(), " Infinity" + Blanks(15)},
      {"minus_infinity", -std::numeric_limits<double>::infinity(), " -Infinity" + Blanks(14)},
  };
  for (const DoubleCase& c : cases) {
    const std::string f = DoubleField(c.value);
    EXPECT_EQ(f, c.field) << c.name;
    EXPECT_EQ(f.size(), 24u) << c.name;
  }
}

TEST(DoubleField, TiesRoundHalfToEven) {
  // Exact binary values whose decimal expansion ends in a 5 right after the
  // last digit shown: the tie goes to the even digit, as printf does.
  // 2^-24 = 5.9604644775390625E-8 and 3 * 2^-23 = 3.5762786865234375E-7.
  EXPECT_EQ(DoubleField(std::ldexp(1.0, -24)), "  5.960464477539062E-008");
  EXPECT_EQ(DoubleField(std::ldexp(3.0, -23)), "  3.576278686523438E-007");
  // Fixed form with no decimals (k = 15).
  EXPECT_EQ(DoubleField(100000000000000.5), Blanks(3) + "100000000000000." + Blanks(5));
  EXPECT_EQ(DoubleField(100000000000001.5), Blanks(3) + "100000000000002." + Blanks(5));
}

struct RecordCase {
  const char* name;
  std::vector<std::string> records;
  std::vector<std::string> expected;
};

TEST(ListRecords, Layouts) {
  const RecordCase cases[] = {
      {"echo_of_ten_studies",
       ListRecords("The number of studies is", 10),
       {" The number of studies is" + Blanks(10) + "10"}},
      {"run_line", ListRecords("Run=", 1), {" Run=" + Blanks(11) + "1"}},
      {"one_blank_text", ListRecords(" "), {"  "}},
      {"empty_text", ListRecords(""), {" "}},
      {"most_negative",
       ListRecords("x", std::numeric_limits<std::int32_t>::min()),
       {" x -2147483648"}},
      {"p_value",
       ListRecords("right-sided P-value for Q=", 0.05),
       {" right-sided P-value for Q=  5.000000000000000E-002"}},
      {"trailing_blanks_kept", ListRecords("a  "), {" a  "}},
  };
  for (const RecordCase& c : cases) {
    EXPECT_EQ(c.records, c.expected) << c.name;
  }
  EXPECT_EQ(ListRecords("The number of studies is", 10)[0].size(), 37u);
}

TEST(ListRecords, ItemThatDoesNotFitStartsANewRecord) {
  const std::string text(125, 'x');  // 126 with the blank: 12 more do not fit
  EXPECT_EQ(ListRecords(text, 7), (std::vector<std::string>{" " + text, Blanks(12) + "7"}));
  const std::string fits(119, 'y');  // 120 + 12 = 132 exactly
  EXPECT_EQ(ListRecords(fits, 7), (std::vector<std::string>{" " + fits + Blanks(11) + "7"}));
  const std::string longer(200, 'z');  // longer than a record: carried on
  EXPECT_EQ(ListRecords(longer),
            (std::vector<std::string>{" " + longer.substr(0, 131), " " + longer.substr(131)}));
}

}  // namespace
}  // namespace korvelan::textio
