#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "textio/termination.h"

namespace korvelan::driver {
namespace {

using Action = Options::Action;

Options Parse(std::vector<std::string_view> args) { return ParseOptions(args); }

TEST(ParseOptions, AcceptsWhatTheCommandLineOffers) {
  struct Case {
    const char* name;
    std::vector<std::string_view> args;
    Action action;
    std::int32_t seed;
  };
  const std::vector<Case> cases = {
      {"no arguments", {}, Action::kRun, 0},
      {"smallest seed", {"--seed", "1"}, Action::kRun, 1},
      {"largest seed", {"--seed", "2147483646"}, Action::kRun, 2147483646},
      {"leading zeros", {"--seed", "0042"}, Action::kRun, 42},
      {"last seed wins", {"--seed", "5", "--seed", "7"}, Action::kRun, 7},
      {"help", {"--help"}, Action::kHelp, 0},
      {"version", {"--version"}, Action::kVersion, 0},
      {"help acts where it stands", {"--help", "--bogus"}, Action::kHelp, 0},
      {"seed before version", {"--seed", "3", "--version"}, Action::kVersion, 3},
  };
  for (const auto& c : cases) {
    const Options o = Parse(c.args);
    EXPECT_EQ(o.action, c.action) << c.name;
    EXPECT_EQ(o.seed, c.seed) << c.name;
  }
}

TEST(ParseOptions, RefusesWithOneUsageLineAndStatusTwo) {
  struct Case {
    const char* name;
    std::vector<std::string_view> args;
    std::string line;
  };
  const std::string usage = "; usage: korvelan [--seed N] [--help] [--version]";
  const std::string range = "\", expected a whole number from 1 to 2147483646";
  const std::vector<Case> cases = {
      {"unknown", {"-x"}, "KORVELAN: unknown argument \"-x\"" + usage},
      {"empty argument", {""}, "KORVELAN: unknown argument \"\"" + usage},
      {"error before help", {"--bogus", "--help"}, "KORVELAN: unknown argument \"--bogus\"" + usage},
      {"joined form", {"--seed=5"}, "KORVELAN: unknown argument \"--seed=5\"" + usage},
      {"missing seed", {"--seed"}, "KORVELAN: --seed needs a value" + usage},
      {"zero", {"--seed", "0"}, "KORVELAN: bad seed \"0" + range + usage},
      {"2^31 - 1", {"--seed", "2147483647"}, "KORVELAN: bad seed \"2147483647" + range + usage},
      {"huge", {"--seed", "99999999999999999999"},
       "KORVELAN: bad seed \"99999999999999999999" + range + usage},
      {"negative", {"--seed", "-1"}, "KORVELAN: bad seed \"-1" + range + usage},
      {"plus sign", {"--seed", "+5"}, "KORVELAN: bad seed \"+5" + range + usage},
      {"fraction", {"--seed", "1.5"}, "KORVELAN: bad seed \"1.5" + range + usage},
      {"trailing blank", {"--seed", "5 "}, "KORVELAN: bad seed \"5 " + range + usage},
      {"empty seed", {"--seed", ""}, "KORVELAN: bad seed \"" + range + usage},
      {"seed then option", {"--seed", "--help"}, "KORVELAN: bad seed \"--help" + range + usage},
      {"line feed stays on one line", {"a\nb\r"}, "KORVELAN: unknown argument \"a?b?\"" + usage},
  };
  for (const auto& c : cases) {
    try {
      Parse(c.args);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const textio::Termination& t) {
      EXPECT_EQ(t.ReportLine(), c.line) << c.name;
      EXPECT_EQ(t.ExitStatus(), 2) << c.name;
      EXPECT_FALSE(t.HasStackListing()) << c.name;
    }
  }
}

TEST(HelpText, NamesEveryOptionAndFitsAConsole) {
  const auto lines = HelpLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), UsageSynopsis());
  std::string all;
  for (const auto& l : lines) {
    EXPECT_LE(l.size(), 79u) << l;
    EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos) << l;
    all += l + "\n";
  }
  for (const char* option : {"--seed N", "--help", "--version"}) {
    EXPECT_NE(all.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(VersionLine().rfind("KORVELAN ", 0), 0u);
}

}  // namespace
}  // namespace korvelan::driver
