// korvelan-meta's command line in-process: --version, --help and the
// command lines it refuses.
#include "tools/meta/meta_command.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "korvelan/version.h"

namespace korvelan::tools {
namespace {

TEST(MetaCommandLine, VersionHelpAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // a part of standard output
    std::string err;  // a part of standard error
  };
  const std::vector<Case> cases = {
      {{"--version"}, 0, std::string("korvelan-meta (KORVELAN) ") + kVersion + "\n", ""},
      {{"--help"}, 0, "--absent", ""},
      {{"a", "b"}, 2, "", "korvelan-meta: --out is required"},
      {{"a", "b", "-o", "d", "--pvalue", "p", "--statistic", "t"},
       2,
       "",
       "give at most one of --pvalue and --statistic"},
      {{"a", "b", "-o", "d", "--sign-by", "lfc"}, 2, "", "--sign-by needs --pvalue"},
      {{"a", "b", "-o", "d", "--seed", "0"}, 2, "", "--seed"},
      {{"a", "b", "-o", "d", "--absent", "ignore"}, 2, "", "--absent"},
      {{"a", "b", "-o", "d", "--min-studies", "0"}, 2, "", "--min-studies"},
      {{"-o", "d"}, 2, "", "give input files or --studies SHEET"},
      {{"a", "-o", "d", "--studies", "s.tsv"}, 2, "", "give input files or --studies SHEET"},
      {{"-o", "d", "--studies", "s.tsv", "--weights", "1,2"},
       2,
       "",
       "weights go in the sheet's weight column"},
  };
  for (const Case& c : cases) {
    std::ostringstream out, err;
    EXPECT_EQ(MetaMain(c.args, out, err, MetaTerminal{}), c.status) << c.args.front() << err.str();
    EXPECT_NE(out.str().find(c.out), std::string::npos) << c.args.front() << ": " << out.str();
    EXPECT_NE(err.str().find(c.err), std::string::npos) << c.args.front() << ": " << err.str();
  }
  std::ostringstream help, ignored;
  MetaMain(std::vector<std::string>{"--help"}, help, ignored, MetaTerminal{});
  for (const char* option :
       {"--input-format", "--studies", "--universe", "--duplicates", "--min-studies", "--pvalues",
        "--runs", "--seed", "--threads", "--weights", "--top", "--quiet", "--force"}) {
    EXPECT_NE(help.str().find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace korvelan::tools
