#include "textio/list_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "textio/termination.h"

namespace korvelan::textio {
namespace {

// Hands out its bytes `step` at a time, to put record ends, CRs and tokens
// across the reader's refills.
std::unique_ptr<ByteSource> Source(const std::string& bytes, std::size_t step) {
  return StringSource(bytes, step == 0 ? SIZE_MAX : step);
}

// The outcome of one statement: the targets, or the condition it raised.
struct RealsOutcome {
  std::vector<float> values;
  int error = 0;
  bool operator==(const RealsOutcome& o) const {
    if (error != o.error || values.size() != o.values.size()) return false;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (std::memcmp(&values[i], &o.values[i], sizeof(float)) != 0) return false;
    }
    return true;
  }
};

std::ostream& operator<<(std::ostream& os, const RealsOutcome& o) {
  if (o.error != 0) return os << "condition " << o.error;
  os << "{";
  for (float v : o.values) os << " " << v;
  return os << " }";
}

// Targets start at 100 + i, so that a value left alone is visible.
RealsOutcome ReadRealsFrom(const std::string& input, std::size_t n, std::size_t step = 0) {
  RealsOutcome o;
  o.values.resize(n);
  for (std::size_t i = 0; i < n; ++i) o.values[i] = 100.0f + static_cast<float>(i);
  ListReader reader(Source(input, step), 10, "/w/data.txt");
  try {
    reader.ReadReals(o.values);
  } catch (const Termination& t) {
    o.values.clear();
    o.error = t.SevereNumber();
  }
  return o;
}

RealsOutcome Values(std::vector<float> v) { return RealsOutcome{std::move(v), 0}; }
RealsOutcome Condition(int n) { return RealsOutcome{{}, n}; }

struct RealsCase {
  const char* name;
  std::string input;
  std::size_t count;
  RealsOutcome expected;
};

std::vector<RealsCase> RealsCases() {
  return {
      // Separators and records.
      {"blanks_and_tabs", " 1\t2  \t 3\n", 3, Values({1, 2, 3})},
      {"commas", "1,2 , 3", 3, Values({1, 2, 3})},
      {"record_ends_and_empty_lines", "1\n2\n\n   \n3\n", 3, Values({1, 2, 3})},
      {"crlf_records", "1\r\n2\r\n\r\n3\r\n", 3, Values({1, 2, 3})},
      {"cr_inside_a_record_is_a_character", "1\r2\n", 2, Condition(59)},
      {"cr_at_end_without_lf_is_a_character", "1 2\r", 2, Condition(59)},
      {"cr_alone_before_value", "\r5\n", 1, Condition(59)},
      {"last_line_without_lf", "1 2", 2, Values({1, 2})},
      // Null values.
      {"two_commas", "1,,3", 3, Values({1, 101, 3})},
      {"comma_blank_comma", "1, ,3", 3, Values({1, 101, 3})},
      {"leading_comma", ",5", 2, Values({100, 5})},
      {"two_leading_commas", ",,5", 3, Values({100, 101, 5})},
      {"comma_after_value_on_next_line", "1\n,2", 2, Values({1, 2})},
      {"comma_at_end_of_line", "1,\n2", 2, Values({1, 2})},
      {"trailing_null_then_end", "1,,", 2, Values({1, 101})},
      // Repeats.
      {"repeat_value", "3*-99", 3, Values({-99, -99, -99})},
      {"repeat_beyond_list", "5*2", 3, Values({2, 2, 2})},
      {"repeat_null", "2* 9", 3, Values({100, 101, 9})},
      {"repeat_null_then_comma", "2*,9", 3, Values({100, 101, 9})},
      {"repeat_logical", "2*T", 2, Values({-1, -1})},
      {"repeat_zero", "0*5", 1, Condition(59)},
      {"repeat_signed", "+2*5", 1, Condition(59)},
      {"repeat_twice", "2*3*4", 1, Condition(59)},
      {"repeat_star_star", "2**", 1, Condition(59)},
      {"repeat_count_beyond_32_bits", "4294967297*1", 1, Condition(64)},
      // Repeat counts: leading zeros allowed and not counted towards the
      // limit; above 2147483647 the conversion error, with or without value.
      {"repeat_leading_zeros", "0003*7 8", 4, Values({7, 7, 7, 8})},
      {"repeat_null_leading_zeros", "002* 9", 3, Values({100, 101, 9})},
      {"repeat_zero_with_leading_zeros", "000*5", 1, Condition(59)},
      {"repeat_count_largest", "2147483647*2", 2, Values({2, 2})},
      {"repeat_count_largest_after_zeros", "00000000002147483647*2", 2, Values({2, 2})},
      {"repeat_count_just_beyond", "2147483648*1", 1, Condition(64)},
      {"repeat_null_count_just_beyond", "2147483648*", 1, Condition(64)},
      // Slash.
      {"slash_ends_statement", "1 2 / 3", 4, Values({1, 2, 102, 103})},
      {"slash_right_after_value", "1/", 2, Values({1, 101})},
      {"slash_first", "/ 1", 1, Values({100})},
      {"repeat_null_then_slash", "2*/", 3, Values({100, 101, 102})},
      // Logical values.
      {"logicals", "T .F. TRUE Total f .t", 6, Values({-1, 0, -1, -1, 0, -1})},
      {"logical_runs_to_separator", "Tx*5,F/", 3, Values({-1, 0, 102})},
      // Numbers and exponents.
      {"exponent_letters", "1e2 1E2 1d2 1D2 1q2 1Q2", 6, Values({100, 100, 100, 100, 100, 100})},
      {"exponent_signs", "1e+2 1.5e-1 -2.5D0 +3Q1", 4, Values({100, 0.15f, -2.5f, 30})},
      {"point_forms", ".5 5. -.25 +7", 4, Values({0.5f, 5, -0.25f, 7})},
      {"nearest_float", "0.1 16777217 3.4028235e38", 3,
       Values({0.1f, 16777216.0f, std::numeric_limits<float>::max()})},
      {"underflow_to_subnormal", "1e-45 8e-46 7e-46", 3,
       Values({std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::denorm_min(),
               0.0f})},
      {"underflow_to_zero", "1e-50 -1e-50 1e-400", 3, Values({0.0f, -0.0f, 0.0f})},
      {"overflow", "1e39", 1, Condition(64)},
      {"negative_overflow", "-1e39", 1, Condition(64)},
      {"overflow_beyond_double", "1e400", 1, Condition(64)},
      {"rounds_down_to_max", "3.40282356e38", 1, Values({std::numeric_limits<float>::max()})},
      // Syntax errors.
      {"word", "abc", 1, Condition(59)},
      {"digits_then_letters", "12abc", 1, Condition(59)},
      {"header_line", "probe s1 class\n1 2 3\n", 3, Condition(59)},
      {"sign_without_letter", "1.0+5", 1, Condition(59)},
      {"exponent_without_digits", "1e", 1, Condition(59)},
      {"exponent_sign_only", "1e+", 1, Condition(59)},
      {"point_only", ".", 1, Condition(59)},
      {"sign_only", "-", 1, Condition(59)},
      {"two_points", "1.2.3", 1, Condition(59)},
      {"two_exponents", "1e2e3", 1, Condition(59)},
      {"two_signs", "--1", 1, Condition(59)},
      {"nan_word", "NaN", 1, Condition(59)},
      {"infinity_word", "Inf", 1, Condition(59)},
      {"quote", "'1'", 1, Condition(59)},
      {"nul_byte", std::string("1\0", 2), 1, Condition(59)},
      {"tokens_after_list_not_read", "1 abc", 1, Values({1})},
      // End of data.
      {"short", "1 2", 3, Condition(24)},
      {"empty", "", 1, Condition(24)},
      {"blank_lines_only", "\n  \n\r\n", 1, Condition(24)},
      {"empty_list_without_record", "", 0, Condition(24)},
      {"empty_list_with_record", "abc", 0, Values({})},
  };
}

TEST(ListReaderReals, Cases) {
  for (const RealsCase& c : RealsCases()) {
    EXPECT_EQ(ReadRealsFrom(c.input, c.count), c.expected) << c.name;
  }
}

TEST(ListReaderReals, SameOutcomeWhateverTheChunks) {
  for (const RealsCase& c : RealsCases()) {
    for (std::size_t step : {1, 2, 3, 7}) {
      EXPECT_EQ(ReadRealsFrom(c.input, c.count, step), c.expected)
          << c.name << " read " << step << " bytes at a time";
    }
  }
}

// Oracle: the C library's strtof, correctly rounded too, on the same number
// written with 'e'. The reader must agree bit for bit whichever spelling of
// the token it meets (its fast path takes plain decimals, the general path
// signs, D and Q exponents).
TEST(ListReaderReals, AgreesWithStrtofOracle) {
  std::mt19937_64 rng(12345);
  const char* letters[] = {"e", "E", "d", "D", "q", "Q"};
  std::string input;
  std::vector<float> expected;
  for (int i = 0; i < 20000; ++i) {
    std::string mantissa = std::to_string(rng() % 100000000000ull);
    const std::size_t point = rng() % (mantissa.size() + 1);
    if (rng() % 4 != 0) mantissa.insert(point, ".");
    const int exponent = static_cast<int>(rng() % 100) - 60;
    const std::string sign = (rng() % 3 == 0) ? "-" : (rng() % 3 == 0 ? "+" : "");
    const std::string oracle_text = sign + mantissa + "e" + std::to_string(exponent);
    const float want = std::strtof(oracle_text.c_str(), nullptr);
    if (std::isinf(want)) continue;
    expected.push_back(want);
    input += sign + mantissa + letters[rng() % 6] + std::to_string(exponent);
    input += (rng() % 5 == 0) ? "\r\n" : " ";
  }
  EXPECT_EQ(ReadRealsFrom(input, expected.size()), Values(expected));
}

TEST(ListReaderReals, TokenLongerThanAChunk) {
  // 0. followed by three million zeros and a one, times 10^3000000: 0.1.
  const std::string token = "0." + std::string(3000000, '0') + "1e3000000";
  EXPECT_EQ(ReadRealsFrom(token + " 2", 2), Values({0.1f, 2}));
}

TEST(ListReaderReals, LayoutOfTheDataDoesNotMatter) {
  const std::vector<float> expected = {1, 5, -99, 2, 2, 7, 1, 3};
  const std::string layouts[] = {
      "1 5 -99 2\n2 7 1 3\n",        // one probe per line
      "1 5 -99 2 2 7 1 3",           // all on one line
      "1\n5\n-99\n2\n2\n7\n1\n3\n",  // one value per line
      "1 5\n-99\n2 2 7\n\n1 3\r\n",  // split anyhow
      "1,5,-99,2\r\n2,7,1,3\r\n",    // commas and CR LF
  };
  for (const std::string& input : layouts) {
    EXPECT_EQ(ReadRealsFrom(input, expected.size()), Values(expected)) << input;
  }
}

struct IntegerCase {
  const char* name;
  std::string input;
  std::optional<std::int32_t> expected;  // target after the statement
  int error;
};

TEST(ListReaderInteger, Cases) {
  const IntegerCase cases[] = {
      {"plain", "12\n", 12, 0},
      {"fraction_truncates", " 12.9", 12, 0},
      {"negative_fraction_truncates", "-2.9", -2, 0},
      {"exponent", "1e3", 1000, 0},
      {"tiny_exponent", "1e-400", 0, 0},
      {"empty_lines_skipped", "\n\n   \r\n  7\n", 7, 0},
      {"leading_zeros", "007", 7, 0},
      {"plus", "+5", 5, 0},
      {"largest", "2147483647", 2147483647, 0},
      {"smallest", "-2147483648", std::numeric_limits<std::int32_t>::min(), 0},
      {"smallest_with_fraction", "-2147483648.5", std::numeric_limits<std::int32_t>::min(), 0},
      {"logical_true", "T", -1, 0},
      {"logical_false", ".false.", 0, 0},
      {"repeat", "3*8", 8, 0},
      {"repeat_leading_zeros", "0003*8", 8, 0},
      {"repeat_null_leading_zeros", "0003*", 42, 0},
      {"repeat_count_largest", "2147483647*5", 5, 0},
      {"repeat_count_beyond", "2147483648*5", std::nullopt, 64},
      {"null_keeps_target", ",5", 42, 0},
      {"slash_keeps_target", "/", 42, 0},
      {"second_number_ignored", "5 6", 5, 0},
      {"beyond_32_bits", "2147483648", std::nullopt, 64},
      {"below_32_bits", "-2147483649", std::nullopt, 64},
      {"three_billion", "3000000000", std::nullopt, 64},
      {"three_billion_exponent", "3e9", std::nullopt, 64},
      {"many_digits", "99999999999999999999999", std::nullopt, 64},
      {"beyond_double", "1e400", std::nullopt, 64},
      {"word", "abc", std::nullopt, 59},
      {"digits_then_letters", "12abc", std::nullopt, 59},
      {"end_of_input", "", std::nullopt, 24},
      {"only_blank_lines", "  \n \n", std::nullopt, 24},
  };
  for (const IntegerCase& c : cases) {
    std::int32_t target = 42;
    int error = 0;
    ListReader reader(StringSource(c.input), kConsoleInputUnit, std::string(kConsoleInputName));
    try {
      reader.ReadInteger(target);
    } catch (const Termination& t) {
      error = t.SevereNumber();
    }
    EXPECT_EQ(error, c.error) << c.name;
    if (c.expected) {
      EXPECT_EQ(target, *c.expected) << c.name;
    }
  }
}

TEST(ListReaderInteger, EndOfConsoleInputNamesTheConsole) {
  ListReader reader(StringSource("4\n"), kConsoleInputUnit, std::string(kConsoleInputName));
  std::int32_t v = 0;
  reader.ReadInteger(v);
  EXPECT_EQ(v, 4);
  try {
    reader.ReadInteger(v);
    ADD_FAILURE() << "no condition";
  } catch (const Termination& t) {
    EXPECT_EQ(t.ReportLine(), "forrtl: severe (24): end-of-file during read, unit -4, file CONIN$");
    EXPECT_EQ(t.ExitStatus(), 24);
  }
}

TEST(ListReaderStatements, EachStatementStartsOnANewRecord) {
  for (std::size_t step : {0, 1, 2}) {
    ListReader reader(Source("5 9\n7\n1\n2 3\n4", step), kConsoleInputUnit, "CONIN$");
    std::int32_t a = 0;
    std::int32_t b = 0;
    reader.ReadInteger(a);
    reader.ReadInteger(b);
    EXPECT_EQ(a, 5);
    EXPECT_EQ(b, 7);  // the 9 on the first line is never read
    std::vector<float> two(2);
    reader.ReadReals(two);  // 1, then on to the next record for 2
    EXPECT_EQ(two, (std::vector<float>{1, 2}));
    reader.ReadInteger(a);  // the 3 is skipped with the rest of its record
    EXPECT_EQ(a, 4);
  }
}

TEST(ListReaderStatements, EmptyListStillReadsARecord) {
  ListReader reader(StringSource("1\n2\n"), 18, "/w/weights.txt");
  reader.ReadReals(std::span<float>());
  std::int32_t v = 0;
  reader.ReadInteger(v);
  EXPECT_EQ(v, 2);
  try {
    reader.ReadReals(std::span<float>());
    ADD_FAILURE() << "no condition";
  } catch (const Termination& t) {
    EXPECT_EQ(t.ReportLine(),
              "forrtl: severe (24): end-of-file during read, unit 18, file /w/weights.txt");
  }
}

TEST(ListReaderStatements, SinkGetsIndicesInListOrder) {
  struct Recorder : ListReader::RealSink {
    std::vector<std::pair<std::size_t, float>> puts;
    void Put(std::size_t index, float value) override { puts.emplace_back(index, value); }
  } sink;
  ListReader reader(StringSource("1,,2*3 4 / 9"), 10, "d");
  reader.ReadReals(6, sink);
  EXPECT_EQ(sink.puts, (std::vector<std::pair<std::size_t, float>>{{0, 1}, {2, 3}, {3, 3}, {4, 4}}));
}

// The plain-text path (ReadReals on threads) against the general reader as
// oracle: the same values, the same report, and the same place for the next
// statement (an integer statement after it reads the same record).
struct Reading {
  std::vector<std::uint32_t> bits;
  std::string report;
  bool operator==(const Reading&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Reading& r) {
  os << r.bits.size() << " values";
  if (!r.report.empty()) os << ", " << r.report;
  return os;
}

// Writes every index it is given, from any thread (disjoint indices).
class BitsSink : public ListReader::RealSink {
 public:
  explicit BitsSink(std::vector<std::uint32_t>& out) : out_(out) {}
  void Put(std::size_t index, float value) override {
    std::memcpy(&out_.at(index), &value, sizeof value);
  }

 private:
  std::vector<std::uint32_t>& out_;
};

// threads == 0: the general reader alone.
Reading ReadThenNext(const std::string& input, std::size_t count, std::size_t step,
                     unsigned threads) {
  Reading r;
  r.bits.assign(count, 0xDEADBEEFu);
  ListReader reader(Source(input, step), 10, "/w/data.txt");
  BitsSink sink(r.bits);
  try {
    if (threads == 0) {
      reader.ReadReals(count, sink);
    } else {
      reader.ReadReals(count, sink, threads);
    }
    std::int32_t next = 0;
    reader.ReadInteger(next);
    r.bits.push_back(static_cast<std::uint32_t>(next));
  } catch (const Termination& t) {
    r.report = t.ReportLine();
  }
  return r;
}

TEST(ListReaderPlainPath, EveryCaseAsTheGeneralReader) {
  for (const RealsCase& c : RealsCases()) {
    for (std::size_t step : {0, 1, 3}) {
      const Reading want = ReadThenNext(c.input + "\n77\n", c.count, step, 0);
      for (unsigned threads : {1u, 2u, 7u}) {
        EXPECT_EQ(ReadThenNext(c.input + "\n77\n", c.count, step, threads), want)
            << c.name << ", " << step << " bytes at a time, " << threads << " threads";
      }
    }
  }
}

// Token shapes the plain path takes and those it hands back, one per row.
struct ShapeCase {
  const char* name;
  std::string token;
};

std::vector<ShapeCase> Shapes() {
  return {
      {"integer", "201381"},
      {"missing", "-99"},
      {"decimal", "3.25"},
      {"point first", ".5"},
      {"point last", "7."},
      {"plus", "+12"},
      {"minus zero", "-0"},
      {"minus zero point", "-0.0"},
      {"seven digits", "1234567"},
      {"eight digits", "16777217"},
      {"many digits", "123456789012345678901234567890"},
      {"long fraction", "0.1000000000000000055511151231257827"},
      {"tiny", "0.0000000000000000000000000000000000000000000001"},
      {"huge", "999999999999999999999999999999999999999999"},
      {"exponent", "1e5"},
      {"d exponent", "2.5D-3"},
      {"overflow", "1e39"},
      {"repeat", "3*4"},
      {"repeat null", "2*"},
      {"logical", "T"},
      {"dot logical", ".false."},
      {"word", "abc"},
      {"trailing letters", "12abc"},
      {"two points", "1.2.3"},
      {"sign alone", "-"},
      {"point alone", "."},
      {"null", ","},
      {"slash", "/"},
      {"lone cr", "5\r6"},
      {"nul byte", std::string("4\0", 2) + "2"},
  };
}

TEST(ListReaderPlainPath, EveryTokenShapeAmongPlainTokens) {
  const std::string plain = "1 -99 23.5\n4 5\r\n";
  for (const ShapeCase& c : Shapes()) {
    for (const std::string& around : {std::string(" "), std::string("\n"), std::string("\r\n")}) {
      const std::string input = plain + plain + c.token + around + plain + "\n";
      for (std::size_t count : {5u, 10u, 11u, 14u, 30u}) {
        const Reading want = ReadThenNext(input, count, 0, 0);
        for (unsigned threads : {1u, 2u, 7u}) {
          for (std::size_t step : {0, 2}) {
            EXPECT_EQ(ReadThenNext(input, count, step, threads), want)
                << c.name << ", count " << count << ", " << threads << " threads, step " << step;
          }
        }
      }
    }
  }
}

// Large random documents, mostly plain (so that blocks and pieces form),
// with damage at a random place: every way the statement can end.
TEST(ListReaderPlainPath, LargeDamagedDocumentsAsTheGeneralReader) {
  std::mt19937 rng(20261208);
  const std::vector<ShapeCase> shapes = Shapes();
  for (int trial = 0; trial < 24; ++trial) {
    std::string doc;
    std::size_t values = 0;
    const std::size_t records = 2000 + rng() % 20000;
    for (std::size_t r = 0; r < records; ++r) {
      const std::size_t width = 1 + rng() % 12;
      for (std::size_t k = 0; k < width; ++k) {
        if (rng() % 5 == 0) {
          doc += "-99";
        } else if (rng() % 3 == 0) {
          doc += std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000);
        } else {
          doc += std::to_string(rng() % 500000);
        }
        doc += rng() % 7 == 0 ? "\t" : " ";
        ++values;
      }
      doc += rng() % 4 == 0 ? "\r\n" : "\n";
    }
    if (trial % 4 != 0) {  // damage: one odd token somewhere
      const std::size_t at = rng() % doc.size();
      const std::size_t cut = doc.find_first_of(" \t\n", at);
      doc.insert(cut == std::string::npos ? doc.size() : cut + 1,
                 shapes[rng() % shapes.size()].token + " ");
    }
    if (trial % 3 == 0) doc.pop_back();  // the last record without LF
    const std::size_t count = trial % 2 == 0 ? values : values - rng() % values;
    const Reading want = ReadThenNext(doc, count, 0, 0);
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
      EXPECT_EQ(ReadThenNext(doc, count, trial % 5 == 0 ? 4093 : 0, threads), want)
          << "trial " << trial << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace korvelan::textio
