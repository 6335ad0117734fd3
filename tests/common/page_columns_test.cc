#include "common/page_columns.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/html_report.h"

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

// A column of one string per number, as the page was first written: every
// distinct text counted, then the shorter form.
std::string OracleTextColumn(const std::vector<std::string>& texts) {
  std::map<std::string, std::int64_t> slot;
  std::vector<std::string> distinct;
  std::vector<std::int64_t> index;
  for (const std::string& t : texts) {
    const auto [it, added] = slot.emplace(t, static_cast<std::int64_t>(distinct.size()));
    if (added) distinct.push_back(t);
    index.push_back(it->second);
  }
  auto join = [](const std::vector<std::string>& v) {
    std::string out = "[";
    for (std::size_t k = 0; k < v.size(); ++k) out += (k > 0 ? "," : "") + v[k];
    return out + "]";
  };
  const std::string plain = join(texts);
  if (distinct.size() * 2 > texts.size()) return plain;
  const std::string coded = "{\"v\":" + join(distinct) + ",\"i\":" + PackedColumn(index) + "}";
  return coded.size() < plain.size() ? coded : plain;
}

TEST(PageColumns, TextColumnIsTheOnePerStringColumn) {
  std::mt19937 rng(11);
  for (const std::size_t size : {0u, 1u, 2u, 3u, 4u, 7u, 40u, 401u}) {
    for (const std::size_t pool : {1u, 2u, 3u, 20u, 200u, 1000u}) {
      for (const int kind : {0, 1, 2}) {  // AddNumber, AddFloat, AddWhole
        const std::string name = "size " + std::to_string(size) + " pool " + std::to_string(pool) +
                                 " kind " + std::to_string(kind);
        JsonTexts texts(size / 2);  // fewer than come: the room grows
        std::vector<std::string> strings;
        for (std::size_t k = 0; k < size; ++k) {
          const auto draw = std::uniform_int_distribution<std::size_t>(0, pool - 1)(rng);
          // Long and short texts, a null and an infinity among them.
          double v = draw == 0 ? kNaN : draw == 1 ? -HUGE_VAL : static_cast<double>(draw) / 7;
          if (kind == 2) {
            texts.AddWhole(static_cast<std::int64_t>(draw) - 3);
            strings.push_back(std::to_string(static_cast<std::int64_t>(draw) - 3));
          } else if (kind == 1) {
            texts.AddFloat(v);
            strings.push_back(JsonFloat(v));
          } else {
            texts.AddNumber(v);
            strings.push_back(JsonNumber(v));
          }
        }
        ASSERT_EQ(texts.size(), size) << name;
        for (std::size_t k = 0; k < size; ++k) ASSERT_EQ(texts[k], strings[k]) << name << " " << k;
        EXPECT_EQ(TextColumn(texts), OracleTextColumn(strings)) << name;
      }
    }
  }
}

}  // namespace
}  // namespace korvelan::tools
