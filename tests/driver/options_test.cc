#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <thread>
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
    unsigned threads = 0;  // 0: the default
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
      {"one thread", {"--threads", "1"}, Action::kRun, 0, 1},
      {"most threads", {"--threads", "256"}, Action::kRun, 0, 256},
      {"threads and seed", {"--threads", "007", "--seed", "9"}, Action::kRun, 9, 7},
      {"last thread count wins", {"--threads", "3", "--threads", "2"}, Action::kRun, 0, 2},
  };
  for (const auto& c : cases) {
    const Options o = Parse(c.args);
    EXPECT_EQ(o.action, c.action) << c.name;
    EXPECT_EQ(o.seed, c.seed) << c.name;
    EXPECT_EQ(o.threads, c.threads == 0 ? DefaultThreads() : c.threads) << c.name;
  }
}

TEST(ParseOptions, DefaultThreadsAreTheHardwareThreadsWithinLimits) {
  const unsigned n = DefaultThreads();
  EXPECT_GE(n, 1u);
  EXPECT_LE(n, kMaxThreads);
  const unsigned hardware = std::thread::hardware_concurrency();
  if (hardware >= 1 && hardware <= kMaxThreads) {
    EXPECT_EQ(n, hardware);
  }
}

TEST(ParseOptions, RefusesWithOneUsageLineAndStatusTwo) {
  struct Case {
    const char* name;
    std::vector<std::string_view> args;
    std::string line;
  };
  const std::string usage = "; usage: korvelan [--seed N] [--threads T] [--help] [--version]";
  const std::string range = "\", expected a whole number from 1 to 2147483646";
  const std::string threads = "\", expected a whole number from 1 to 256";
  const std::vector<Case> cases = {
      {"unknown", {"-x"}, "KORVELAN: unknown argument \"-x\"" + usage},
      {"empty argument", {""}, "KORVELAN: unknown argument \"\"" + usage},
      {"error before help", {"--bogus", "--help"}, "KORVELAN: unknown argument \"--bogus\"" + usage},
      {"joined form", {"--seed=5"}, "KORVELAN: unknown argument \"--seed=5\"" + usage},
      {"missing seed", {"--seed"}, "KORVELAN: --seed needs a value" + usage},
      {"zero", {"--seed", "0"}, "KORVELAN: bad seed \"0" + range + usage},
      {"2^31 - 1", {"--seed", "2147483647"}, "KORVELAN: bad seed \"2147483647" + range + usage},
      {"huge",
       {"--seed", "99999999999999999999"},
       "KORVELAN: bad seed \"99999999999999999999" + range + usage},
      {"negative", {"--seed", "-1"}, "KORVELAN: bad seed \"-1" + range + usage},
      {"plus sign", {"--seed", "+5"}, "KORVELAN: bad seed \"+5" + range + usage},
      {"fraction", {"--seed", "1.5"}, "KORVELAN: bad seed \"1.5" + range + usage},
      {"trailing blank", {"--seed", "5 "}, "KORVELAN: bad seed \"5 " + range + usage},
      {"empty seed", {"--seed", ""}, "KORVELAN: bad seed \"" + range + usage},
      {"seed then option", {"--seed", "--help"}, "KORVELAN: bad seed \"--help" + range + usage},
      {"line feed stays on one line", {"a\nb\r"}, "KORVELAN: unknown argument \"a?b?\"" + usage},
      {"missing thread count", {"--threads"}, "KORVELAN: --threads needs a value" + usage},
      {"zero threads", {"--threads", "0"}, "KORVELAN: bad thread count \"0" + threads + usage},
      {"too many threads",
       {"--threads", "257"},
       "KORVELAN: bad thread count \"257" + threads + usage},
      {"huge thread count",
       {"--threads", "99999999999999999999"},
       "KORVELAN: bad thread count \"99999999999999999999" + threads + usage},
      {"signed thread count",
       {"--threads", "+2"},
       "KORVELAN: bad thread count \"+2" + threads + usage},
      {"joined thread form", {"--threads=2"}, "KORVELAN: unknown argument \"--threads=2\"" + usage},
      {"thread count then option",
       {"--threads", "--seed"},
       "KORVELAN: bad thread count \"--seed" + threads + usage},
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
  for (const char* option : {"--seed N", "--threads T", "--help", "--version"}) {
    EXPECT_NE(all.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(VersionLine().rfind("KORVELAN ", 0), 0u);
}

}  // namespace
}  // namespace korvelan::driver
