#include "tools/prepare/prepare.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <utility>

#include "tests/tools/test_support.h"
#include "korvelan/version.h"
#include "tools/prepare/prepare_command.h"
#include "tools/report/report_command.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ReadText;
using testing::ScratchDirectory;
using testing::WriteText;

const std::filesystem::path kData = KORVELAN_TOOLS_TEST_DATA;
const std::vector<std::string> kStudies = {"GSE12050", "GSE24883", "GSE25401", "GSE27949",
                                           "GSE29718"};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunPrepare(std::vector<std::string> args) {
  std::ostringstream out;
  std::ostringstream err;
  int status = PrepareMain(args, out, err);
  return {status, out.str(), err.str()};
}

std::vector<std::string> RealDataArgs(const std::filesystem::path& directory,
                                      std::vector<std::string> options) {
  std::vector<std::string> args = {"-o", directory.string(), "--gene", "Symbol"};
  args.insert(args.end(), options.begin(), options.end());
  for (const std::string& study : kStudies) args.push_back((kData / (study + ".tsv")).string());
  return args;
}

// The reference files of the five-study set were ranked independently of
// this code; the default gene order and number layout reproduce them byte
// for byte.
TEST(PrepareMain, ReproducesTheReferenceInputFilesOfTheFiveStudySet) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const char* reference;
  };
  const Case cases[] = {
      {"ascending p-value", {"--pvalue", "pvalue"}, "data_pvalue.txt"},
      {"signed significance", {"--pvalue", "pvalue", "--sign-by", "Log2FC"}, "data_signed.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDirectory scratch;
    std::filesystem::path directory = scratch.path() / "analysis";
    Outcome run = RunPrepare(RealDataArgs(directory, c.options));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_THAT(run.out, HasSubstr("5 studies, 7894 genes"));
    EXPECT_THAT(run.out, HasSubstr("information classes: 1: 507, 2: 585, 3: 672, 4: 178, 5: 5952"));
    EXPECT_TRUE(ReadText(directory / "data.txt") == ReadText(kData / c.reference));
    EXPECT_EQ(ReadText(directory / "weights.txt"), "1.0 1.0 1.0 1.0 1.0\n");
    EXPECT_EQ(ReadText(directory / "answers.txt"), "1\n5\n7894\n5\n1000\n");
    std::string genes = ReadText(directory / "genes.tsv");
    EXPECT_TRUE(
        genes.starts_with("line\tgene\tclass\tGSE12050\tGSE24883\tGSE25401\tGSE27949\tGSE29718\n"
                          "1\tA1BG\t3\t"));
  }
}

TEST(PrepareMain, WritesNamesWeightsAndRunsAsAsked) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "a.csv", "id,stat\nX,2.5\nY,-1\nZ,NA\n");
  WriteText(scratch.path() / "b.csv", "id;stat\nZ;0.5\nY;0.5\n");
  Outcome run = RunPrepare(
      {"-o", (scratch.path() / "out").string(), "--gene", "id", "--statistic", "stat", "--first",
       "smallest", "--names", "first,second", "--weights", "10,25", "--runs", "7", "--gene-order",
       "first-seen", (scratch.path() / "a.csv").string(), (scratch.path() / "b.csv").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadText(scratch.path() / "out" / "genes.tsv"),
            "line\tgene\tclass\tfirst\tsecond\n"
            "1\tX\t1\t2\t-99\n"
            "2\tY\t2\t1\t1.5\n"
            "3\tZ\t1\t-99\t1.5\n");
  EXPECT_EQ(ReadText(scratch.path() / "out" / "weights.txt"), "10.0 25.0\n");
  EXPECT_EQ(ReadText(scratch.path() / "out" / "answers.txt"), "1\n2\n3\n2\n7\n");
}

TEST(PrepareMain, FailuresAreOneLineAndWriteNothing) {
  ScratchDirectory scratch;
  std::filesystem::path out = scratch.path() / "out";
  WriteText(scratch.path() / "good.tsv", "Symbol\tpvalue\nA\t0.1\nB\t0.2\n");
  WriteText(scratch.path() / "dup.tsv", "Symbol\tpvalue\nA\t0.1\nB\t0.2\nA\t0.3\n");
  std::string good = (scratch.path() / "good.tsv").string();
  std::string dup = (scratch.path() / "dup.tsv").string();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  std::vector<std::string> base = {"-o", out.string(), "--gene", "Symbol"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = base;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::vector<Case> cases = {
      {"duplicate gene", with({"--pvalue", "pvalue", good, dup}), 1,
       "korvelan-prepare: " + dup + ": gene \"A\" is listed twice, on lines 2 and 4\n"},
      {"missing column", with({"--pvalue", "P.Value", good, good}), 1,
       "korvelan-prepare: " + good + ": no column \"P.Value\""},
      {"one table", with({"--pvalue", "pvalue", good}), 1, "at least 2 study tables, 1 given"},
      {"same table twice", with({"--pvalue", "pvalue", good, good}), 1,
       "two studies are named \"good\""},
      {"names count", with({"--pvalue", "pvalue", "--names", "x", good, dup}), 1,
       "--names gives 1 names for 2 study tables"},
      {"no ranking column", with({good, dup}), 2, "give exactly one of --pvalue and --statistic"},
      {"both ranking columns", with({"--pvalue", "p", "--statistic", "t", good, dup}), 2,
       "korvelan-prepare: "},
      {"first with a p-value", with({"--pvalue", "pvalue", "--first", "largest", good, dup}), 2,
       "--first applies to --statistic and --sign-by only"},
      {"missing table", with({"--pvalue", "pvalue", good, "/nonexistent/x.tsv"}), 2,
       "korvelan-prepare: "},
      {"bad delimiter name", with({"--pvalue", "pvalue", "--delimiter", "pipe", good, dup}), 2,
       "korvelan-prepare: "},
      {"zero runs", with({"--pvalue", "pvalue", "--runs", "0", "--names", "a,b", good, good}), 2,
       "--runs: Value 0 not in range 1 to 2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome run = RunPrepare(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(std::filesystem::exists(out / "data.txt"));
  }
}

TEST(PrepareMain, GzippedTablesGiveTheFilesOfThePlainOnes) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "a.tsv", "Symbol\tpvalue\nA\t0.1\nB\t0.2\nC\tNA\n");
  WriteText(scratch.path() / "b.tsv", "Symbol\tpvalue\nB\t0.3\nA\t0.01\n");
  ASSERT_EQ(std::system(("gzip -k '" + (scratch.path() / "b.tsv").string() + "'").c_str()), 0);
  const std::string a = (scratch.path() / "a.tsv").string();
  const std::string b = (scratch.path() / "b.tsv").string();
  for (const auto& [dir, second] : {std::pair{"plain", b}, std::pair{"packed", b + ".gz"}}) {
    Outcome run = RunPrepare({"-o", (scratch.path() / dir).string(), "--gene", "Symbol", "--pvalue",
                              "pvalue", a, second});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  for (const char* file : {"data.txt", "genes.tsv"}) {
    EXPECT_EQ(ReadText(scratch.path() / "packed" / file), ReadText(scratch.path() / "plain" / file))
        << file;
  }
}

TEST(PrepareMain, RefusesADirectoryHoldingResultsOfAnEarlierAnalysis) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "a.tsv", "Symbol\tpvalue\nA\t0.1\n");
  WriteText(scratch.path() / "b.tsv", "Symbol\tpvalue\nA\t0.3\n");
  WriteText(scratch.path() / "output.txt", "old results");
  Outcome run =
      RunPrepare({"-o", scratch.path().string(), "--gene", "Symbol", "--pvalue", "pvalue",
                  (scratch.path() / "a.tsv").string(), (scratch.path() / "b.tsv").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.err, HasSubstr("output.txt exists"));
  EXPECT_EQ(ReadText(scratch.path() / "output.txt"), "old results");
  EXPECT_FALSE(std::filesystem::exists(scratch.path() / "data.txt"));
}

TEST(PrepareMain, HelpGoesToStandardOutput) {
  Outcome run = RunPrepare({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("--sign-by"));
  EXPECT_EQ(run.err, "");
}

}  // namespace
}  // namespace korvelan::tools

namespace korvelan::tools {
namespace {

// Every companion program answers --version with the project's version.
TEST(CommandLines, VersionIsTheProjectsEverywhere) {
  const struct {
    const char* program;
    int (*main)(std::span<const std::string>, std::ostream&, std::ostream&);
  } programs[] = {{"korvelan-prepare", PrepareMain}, {"korvelan-report", ReportMain}};
  for (const auto& p : programs) {
    std::ostringstream out, err;
    const std::vector<std::string> args = {"--version"};
    EXPECT_EQ(p.main(args, out, err), 0) << p.program;
    EXPECT_EQ(out.str(), std::string(p.program) + " (KORVELAN) " + kVersion + "\n") << p.program;
    EXPECT_EQ(err.str(), "") << p.program;
  }
}

}  // namespace
}  // namespace korvelan::tools
