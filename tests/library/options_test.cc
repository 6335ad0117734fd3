// The shared options: every value a front end may pass is judged here, so
// the cases cover each option's edges and the words of its refusal.
#include "korvelan/options.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "korvelan/analysis.h"
#include "korvelan/meta.h"

namespace korvelan {
namespace {

TEST(Options, ValuesAllowedAndRefused) {
  struct Case {
    const char* option;
    const char* text;
    const char* problem;  // empty: allowed
  };
  const Case cases[] = {
      {"runs", "1", ""},
      {"runs", "2147483647", ""},
      {"runs", "0", "must be a whole number from 1 to 2147483647, not 0"},
      {"runs", "2147483648", "must be a whole number from 1 to 2147483647, not 2147483648"},
      {"runs", "-3", "must be a whole number from 1 to 2147483647, not -3"},
      {"runs", "+7", ""},
      {"runs", "0007", ""},
      {"runs", "99999999999999999999999",
       "must be a whole number from 1 to 2147483647, not 99999999999999999999999"},
      {"runs", "-99999999999999999999999",
       "must be a whole number from 1 to 2147483647, not -99999999999999999999999"},
      {"runs", "0x10", "must be a whole number in decimal digits, not \"0x10\""},
      {"runs", "1e3", "must be a whole number in decimal digits, not \"1e3\""},
      {"runs", "", "must be a whole number in decimal digits, not \"\""},
      {"runs", "-", "must be a whole number in decimal digits, not \"-\""},
      {"runs", " 5", "must be a whole number in decimal digits, not \" 5\""},
      {"seed", "2147483646", ""},
      {"seed", "2147483647", "must be a whole number from 1 to 2147483646, not 2147483647"},
      {"threads", "256", ""},
      {"threads", "257", "must be a whole number from 1 to 256, not 257"},
      {"min-studies", "98", ""},
      {"min_studies", "99", "must be a whole number from 1 to 98, not 99"},
      {"universe", "8388608", ""},
      {"universe", "8388609", "must be a whole number from 1 to 8388608, not 8388609"},
      {"absent", "below", ""},
      {"absent", "Below", "must be \"below\" or \"missing\", not \"Below\""},
      {"duplicates", "mean", ""},
      {"duplicates", "last", "must be \"refuse\", \"first\", \"best\" or \"mean\", not \"last\""},
      {"pvalues", "plus-one", ""},
      {"pvalues", "plus_one", "must be \"plus-one\" or \"exact\", not \"plus_one\""},
      {"first", "smallest", ""},
      {"weights", "1,2,x", ""},
      {"sort-by", "p_Q_left", ""},
      {"sort_by", "q_Q_left",
       "must be \"p_Rmean_right\", \"p_Rmean_left\", \"p_Rwmean_right\", "
       "\"p_Rwmean_left\", \"p_Q_right\" or \"p_Q_left\", not \"q_Q_left\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(OptionProblem(SharedOption(c.option), c.text), c.problem) << c.option << " " << c.text;
  }
}

TEST(Options, EveryOptionIsWholeAndItsDefaultAllowed) {
  std::set<std::string> names;
  for (const OptionSpec& option : SharedOptions()) {
    const std::string name(option.name);
    EXPECT_TRUE(names.insert(name).second) << name << " twice";
    EXPECT_EQ(name.find('_'), std::string::npos) << name;
    EXPECT_FALSE(option.help.empty()) << name;
    EXPECT_EQ(option.help.find('\n'), std::string_view::npos) << name;
    EXPECT_EQ(&SharedOption(HostName(name)), &option) << name;
    if (option.kind == OptionKind::kWord) {
      EXPECT_GE(option.words.size(), 2u) << name;
    } else if (option.kind == OptionKind::kWhole) {
      EXPECT_LE(option.low, option.high) << name;
    }
    if (!option.default_value.empty()) {
      EXPECT_EQ(OptionProblem(option, option.default_value), "") << name;
    }
  }
  EXPECT_THROW(SharedOption("top"), std::invalid_argument);
}

// The defaults a caller of the library gets without a front end are the
// defaults every front end shows.
TEST(Options, DefaultsAreTheLibrarys) {
  const MetaOptions library;
  EXPECT_EQ(SharedOption("runs").default_value, std::to_string(library.runs));
  EXPECT_EQ(SharedOption("min-studies").default_value, std::to_string(library.min_studies));
  EXPECT_EQ(SharedOption("pvalues").default_value, WordOf(library.pvalues));
  EXPECT_EQ(SharedOption("seed").high, kMaxSeed);
  EXPECT_EQ(SharedOption("min-studies").high, kMaxStudies);
  EXPECT_EQ(SharedOption("universe").high, kMaxUniverse);
  EXPECT_EQ(SortColumnFromWord(SharedOption("sort-by").default_value), kRmeanLeft);
  const unsigned threads = DefaultThreads();
  EXPECT_GE(threads, 1u);
  EXPECT_LE(threads, static_cast<unsigned>(SharedOption("threads").high));
}

TEST(Options, WordsRoundTrip) {
  for (Absent a : {Absent::kMissing, Absent::kBelow}) EXPECT_EQ(AbsentFromWord(WordOf(a)), a);
  for (Duplicates d :
       {Duplicates::kRefuse, Duplicates::kFirst, Duplicates::kBest, Duplicates::kMean}) {
    EXPECT_EQ(DuplicatesFromWord(WordOf(d)), d);
  }
  for (PValues p : {PValues::kPlusOne, PValues::kExact}) EXPECT_EQ(PValuesFromWord(WordOf(p)), p);
  for (int t = 0; t < kPValues; ++t) {
    EXPECT_EQ(SortColumnFromWord(PValueName(t)), t) << PValueName(t);
    EXPECT_EQ(SharedOption("sort-by").words[static_cast<std::size_t>(t)], PValueName(t));
  }
  EXPECT_EQ(SharedOption("sort-by").words.size(), static_cast<std::size_t>(kPValues));
  try {
    DuplicatesFromWord("last");
    ADD_FAILURE() << "\"last\" was taken";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(),
                 "duplicates must be \"refuse\", \"first\", \"best\" or \"mean\", not \"last\"");
  }
  EXPECT_THROW(AbsentFromWord(""), std::invalid_argument);
  EXPECT_THROW(PValuesFromWord("exact "), std::invalid_argument);
}

TEST(Options, HostNames) {
  EXPECT_EQ(HostName("min-studies"), "min_studies");
  EXPECT_EQ(HostName("sort-by"), "sort_by");
  EXPECT_EQ(HostName("runs"), "runs");
  EXPECT_EQ(AllowedValues(SharedOption("absent")), "below, missing");
  EXPECT_EQ(AllowedValues(SharedOption("threads")), "1 .. 256");
}

}  // namespace
}  // namespace korvelan
