// korvelan-meta's readers (shape detection, the four single-text parsers
// and their refusals) and SHA-256.
#include "common/meta_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "tests/tools/test_support.h"
#include "korvelan/version.h"
#include "common/sha256.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using testing::ReadText;
using testing::ScratchDirectory;
using testing::WriteText;

TEST(MetaShape, DetectedFromTheFirstLine) {
  struct Case {
    std::vector<std::string> texts;
    InputShape shape;
  };
  const std::vector<Case> cases = {
      {{"# comment\n\nA\nB\n", "C\nD\n"}, InputShape::kLists},
      {{"gene\tp\nA\t0.1\n", "gene\tp\nA\t0.1\n"}, InputShape::kTables},
      {{"rank\tX\tY\n1\tA\tB\n"}, InputShape::kColumns},
      {{"X,Y\nA,B\n"}, InputShape::kColumns},
      {{"study\tr1\tr2\nX\tA\tB\n"}, InputShape::kRows},
      {{"Study,Gene,rank\nX,A,1\n"}, InputShape::kLong},
      {{"A\nB\n"}, InputShape::kLists},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::vector<std::string> sources(cases[i].texts.size(), "f");
    EXPECT_EQ(DetectShape(cases[i].texts, sources), cases[i].shape) << "case " << i;
  }
  EXPECT_THROW(DetectShape({"\n# only\n"}, {"f"}), ToolError);
}

TEST(MetaParsers, ListsColumnsRowsAndLongTables) {
  const Study list = ParseList("\xEF\xBB\xBF# best first\r\nTP53\r\n\r\n  MYC \r\n#x\r\nEGFR",
                               "l.txt", "l", Duplicates::kRefuse);
  EXPECT_EQ(list.ids, (std::vector<std::string>{"TP53", "MYC", "EGFR"}));
  EXPECT_TRUE(list.values.empty());

  const std::vector<Study> columns = ParseColumns("rank\tA\tB\n1\tx\ty\n2\tz\t\n3\tw\t\n", "c.tsv",
                                                  std::nullopt, Duplicates::kRefuse);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0].ids, (std::vector<std::string>{"x", "z", "w"}));
  EXPECT_EQ(columns[1].name, "B");
  EXPECT_EQ(columns[1].ids, (std::vector<std::string>{"y"}));

  const std::vector<Study> rows = ParseRows("study\tr1\tr2\tr3\nA\tx\ty\tz\nB\ty\tx\n", "r.tsv",
                                            std::nullopt, Duplicates::kRefuse);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].ids, (std::vector<std::string>{"y", "x"}));
  const std::vector<Study> headless =
      ParseRows("A,x,y\nB,y,x,z\n", "r.csv", std::nullopt, Duplicates::kRefuse);
  EXPECT_EQ(headless.size(), 2u);

  MetaReadOptions o;
  const std::vector<Study> by_rank =
      ParseLong("study,gene,rank\nA,x,2\nB,x,1\nA,y,1\nA,z,NA\n", "l.csv", o);
  ASSERT_EQ(by_rank.size(), 2u);
  EXPECT_EQ(by_rank[0].ids, (std::vector<std::string>{"x", "y", "z"}));
  EXPECT_EQ(by_rank[0].values[0], 2.0);
  EXPECT_TRUE(std::isnan(by_rank[0].values[2]));
  EXPECT_EQ(by_rank[0].order, Order::kSmallestFirst);
  o.value_given = true;
  o.rule.value_column = "t";
  o.rule.kind = RankingRule::Kind::kStatistic;
  o.rule.first = RankFirst::kLargest;
  o.rule.gene_column = "id";
  o.study_column = "set";
  const std::vector<Study> by_t = ParseLong("set\tid\tt\nA\tx\t2.5\n", "l.tsv", o);
  EXPECT_EQ(by_t[0].order, Order::kLargestFirst);
}

TEST(MetaParsers, RefusalsNameFileAndLine) {
  struct Case {
    const char* name;
    std::function<void()> parse;
    const char* message;
  };
  MetaReadOptions o;
  const std::vector<Case> cases = {
      {"list duplicate", [] { ParseList("a\nb\n\na\n", "l.txt", "l", Duplicates::kRefuse); },
       "l.txt: study \"l\" lists \"a\" twice, on lines 1 and 4"},
      {"list tab", [] { ParseList("a\nb\tc\n", "l.txt", "l", Duplicates::kRefuse); },
       "l.txt line 2: a list holds one id per line; this line holds a tab"},
      {"list quote", [] { ParseList("a\"\n", "l.txt", "l", Duplicates::kRefuse); },
       "l.txt line 1: the id \"a\"\" of study \"l\" is not usable"},
      {"column gap",
       [] { ParseColumns("A\tB\na\tx\n\ty\nb\tz\n", "c.tsv", std::nullopt, Duplicates::kRefuse); },
       "c.tsv line 4: column \"A\" holds \"b\" after its list ended with an empty cell on line 3"},
      {"column duplicate",
       [] { ParseColumns("A,B\na,x\na,y\n", "c.csv", std::nullopt, Duplicates::kRefuse); },
       "c.csv: study \"A\" lists \"a\" twice, on lines 2 and 3"},
      {"row without name",
       [] { ParseRows("study\tr1\n\tx\n", "r.tsv", std::nullopt, Duplicates::kRefuse); },
       "r.tsv line 2: expected a study name in the first field"},
      {"row one field", [] { ParseRows("study\n", "r.tsv", std::nullopt, Duplicates::kRefuse); },
       "r.tsv line 1: expected fields separated by tabs, commas or semicolons"},
      {"long value", [&] { ParseLong("study,gene,rank\nA,x,high\n", "l.csv", o); },
       "l.csv line 2: column \"rank\" holds \"high\", which is not a number"},
      {"long column", [&] { ParseLong("study,id,rank\nA,x,1\n", "l.csv", o); },
       "no column \"gene\""},
      {"long duplicate", [&] { ParseLong("study,gene,rank\nA,x,1\nB,x,1\nA,x,2\n", "l.csv", o); },
       "l.csv: study \"A\" lists \"x\" twice, on lines 2 and 4"},
  };
  for (const Case& c : cases) {
    try {
      c.parse();
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  // Resolved duplicates pass through to the meta layer.
  EXPECT_EQ(ParseList("a\nb\na\n", "l.txt", "l", Duplicates::kBest).ids.size(), 3u);
}

TEST(MetaInputFiles, TablesRankedAsPrepareRanksThem) {
  ScratchDirectory dir;
  WriteText(dir.path() / "s1.tsv", "Symbol\tpvalue\nA\t0.5\nB\t0.01\nC\tNA\nD\t0.5\n");
  WriteText(dir.path() / "s2.csv", "Symbol,pvalue\nB,0.2\nA,0.1\n");
  MetaReadOptions o;
  o.rule.gene_column = "Symbol";
  o.rule.value_column = "pvalue";
  o.value_given = true;
  const MetaInput input = ReadMetaInput({dir.path() / "s1.tsv", dir.path() / "s2.csv"}, o);
  EXPECT_EQ(input.shape, InputShape::kTables);
  EXPECT_FALSE(input.top_lists);
  ASSERT_EQ(input.studies.size(), 2u);
  EXPECT_EQ(input.studies[0].name, "s1");
  EXPECT_EQ(input.studies[0].values[0], 2.5);  // A and D tie over ranks 2 and 3
  // C has no value: skipped and counted, not listed unranked.
  EXPECT_EQ(input.studies[0].ids, (std::vector<std::string>{"A", "B", "D"}));
  EXPECT_EQ(input.tables[0].no_value, 1u);
  EXPECT_EQ(input.sha256[1], Sha256Hex(ReadText(dir.path() / "s2.csv")));
  o.shape = InputShape::kRows;
  EXPECT_THROW(ReadMetaInput({dir.path() / "s1.tsv", dir.path() / "s2.csv"}, o), ToolError);
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

}  // namespace
}  // namespace korvelan::tools
