#include "common/page_columns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace korvelan::tools {
namespace {

const double kNaN = std::nan("");

TEST(PageColumns, PackedWholeNumbersTakeTheNarrowestWidth) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> values;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"null and small", {-1, 0, 62}, "{\"w\":1,\"s\":\"01_\"}"},
      {"63 needs two characters (stored as 64)", {63}, "{\"w\":2,\"s\":\"10\"}"},
      {"4095 is the last of two", {4094, 0}, "{\"w\":2,\"s\":\"__01\"}"},
      {"4095 needs three", {4095}, "{\"w\":3,\"s\":\"100\"}"},
      {"ranks of a 499999-gene study, doubled", {999998}, "{\"w\":4,\"s\":\"3q8_\"}"},
  };
  for (const Case& c : cases) EXPECT_EQ(PackedColumn(c.values), c.json) << c.name;
}

TEST(PageColumns, FormsAreChosenOnlyWhenExactAndShorter) {
  struct Case {
    const char* name;
    std::vector<double> values;
    std::string json;
  };
  const std::vector<Case> cases = {
      {"few values stay plain", {1, 2.5, kNaN}, "[1,2.5,null]"},
      {"negative values are never halves", std::vector<double>(40, -1.5), ""},
      {"thirds are not halves", std::vector<double>(40, 1.0 / 3), ""},
      {"many halves are packed", std::vector<double>(40, 7.5),
       "{\"half\":{\"w\":1,\"s\":\"GGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGGG\"}}"},
  };
  for (const Case& c : cases) {
    const std::string json = HalvesColumn(c.values);
    if (!c.json.empty()) {
      EXPECT_EQ(json, c.json) << c.name;
    } else {
      EXPECT_EQ(json.find("half"), std::string::npos) << c.name << ": " << json;
    }
  }
}

TEST(PageColumns, FractionsOnlyWhenTheyGiveTheValueBack) {
  struct Case {
    const char* name;
    std::vector<double> values;
    std::vector<double> denominators;
    bool written;
  };
  const std::vector<Case> cases = {
      {"plus-one P-values", {1.0 / 1001, 1, 501.0 / 1001, kNaN}, {1001, 1001, 1001, 1001}, true},
      {"a value that is no such fraction", {1.0 / 1001, 0.123456789}, {1001, 1001}, false},
      {"a missing denominator", {0.5}, {0}, false},
      {"a value above 1", {2}, {3}, false},
  };
  for (const Case& c : cases) {
    const auto json = FractionColumn(c.values, c.denominators);
    EXPECT_EQ(json.has_value(), c.written) << c.name;
  }
  // 1 + 1 = 02, 1001 + 1 = 15 x 64 + 42 = Fg, null = 00.
  EXPECT_EQ(
      FractionColumn(std::vector<double>{1.0 / 1001, 1, kNaN}, std::vector<double>{1001, 1001, 1}),
      "{\"num\":{\"w\":2,\"s\":\"02Fg00\"}}");
}

}  // namespace
}  // namespace korvelan::tools
