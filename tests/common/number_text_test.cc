#include "common/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

namespace korvelan::tools {
namespace {

TEST(ParseCell, ReadsNumbersMissingMarkersAndRefusesTheRest) {
  struct Case {
    const char* cell;
    bool ok;
    bool missing;
    double value;
  };
  const Case cases[] = {
      {"0.000140099996580059", true, false, 0.000140099996580059},
      {"  -2.5  ", true, false, -2.5},
      {"+3", true, false, 3},
      {"1e-300", true, false, 1e-300},
      {"4.98956672263362e-15", true, false, 4.98956672263362e-15},
      {".5", true, false, 0.5},
      {"7.", true, false, 7},
      {"Inf", true, false, HUGE_VAL},
      {"-inf", true, false, -HUGE_VAL},
      {"", true, true, 0},
      {"   ", true, true, 0},
      {"NA", true, true, 0},
      {"na", true, true, 0},
      {"NaN", true, true, 0},
      {"N/A", true, true, 0},
      {"#N/A", true, true, 0},
      {"NULL", true, true, 0},
      {"abc", false, false, 0},
      {"1.2.3", false, false, 0},
      {"0x10", false, false, 0},
      {"1e", false, false, 0},
      {"1e400", false, false, 0},
      {"0,05", false, false, 0},
      {"--1", false, false, 0},
      {"nan(1)", false, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    CellValue parsed = ParseCell(c.cell);
    EXPECT_EQ(parsed.ok, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(!parsed.value.has_value(), c.missing);
    if (!c.missing) {
      EXPECT_EQ(*parsed.value, c.value);
    }
  }
}

TEST(ParseDecimal, ReadsTheProgramsFixedFields) {
  EXPECT_EQ(ParseDecimal("    17."), 17.0);
  EXPECT_EQ(ParseDecimal("      0.0500000007450581"), 0.0500000007450581);
  EXPECT_EQ(ParseDecimal("-0.0000"), 0.0);
  EXPECT_TRUE(std::isnan(*ParseDecimal(" NaN                    ")));
  EXPECT_EQ(ParseDecimal(" -Infinity"), -HUGE_VAL);
  EXPECT_FALSE(ParseDecimal("1.0+5"));
  EXPECT_FALSE(ParseDecimal(""));
}

TEST(FormatHalfRank, WritesWholeRanksAndHalves) {
  EXPECT_EQ(FormatHalfRank(2), "1");
  EXPECT_EQ(FormatHalfRank(705), "352.5");
  EXPECT_EQ(FormatHalfRank(999999), "499999.5");
}

TEST(FormatShortest, RoundTripsEveryDoubleAndNamesTheSpecialValues) {
  for (double value : {0.1, 0.0500000007450581, 1.0 / 3.0, 352.0, 4.656612873077393e-10,
                       std::numeric_limits<double>::denorm_min(), 1e300}) {
    std::string text = FormatShortest(value);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
  }
  EXPECT_EQ(FormatShortest(352.0), "352");
  EXPECT_EQ(FormatShortest(0.25), "0.25");
  EXPECT_EQ(FormatShortest(std::nan("")), "NA");
  EXPECT_EQ(FormatShortest(-HUGE_VAL), "-Inf");
}

TEST(FormatWeight, IsTheShortestTextOfTheFloatAndReadsAsAReal) {
  EXPECT_EQ(FormatWeight(1.0f), "1.0");
  EXPECT_EQ(FormatWeight(24.0f), "24.0");
  EXPECT_EQ(FormatWeight(0.1f), "0.1");
  EXPECT_EQ(std::strtof(FormatWeight(1e20f).c_str(), nullptr), 1e20f);
  EXPECT_EQ(std::strtof(FormatWeight(3.3333333f).c_str(), nullptr), 3.3333333f);
}

}  // namespace
}  // namespace korvelan::tools
