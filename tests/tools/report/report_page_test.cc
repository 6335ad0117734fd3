// korvelan-report's page: the page's data from output.txt and genes.tsv,
// and the program writing it (or, when it cannot, leaving the table alone).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "common/html_report.h"
#include "tests/tools/test_support.h"
#include "tools/report/report.h"
#include "tools/report/report_command.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ReadText;
using testing::ResultsLegend;
using testing::ResultsRecord;
using testing::ScratchDirectory;
using testing::WriteText;

// The page's data: the text of its JSON script block.
std::string DataBlock(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"korvelan-data\">";
  const std::size_t from = page.find(open);
  if (from == std::string::npos) return "";
  const std::size_t start = from + open.size();
  return page.substr(start, page.find("</script>", start) - start);
}

TEST(PageData, RanksFromGenesTsvStudySizesAndRowOrder) {
  const GeneKey key = ParseGenesFile(
      "line\tgene\tclass\tS1\tS2\n1\tA\t2\t1\t2.5\n2\tB\t1\t-99\t1\n3\tC\t1\t2\t-99\n", "g");
  std::vector<ReportRow> rows(3);
  for (std::size_t i = 0; i < 3; ++i) {
    rows[i].line = 3 - i;  // the table's order: C, B, A
    rows[i].gene = key.genes[2 - i];
    rows[i].info_class = key.classes[2 - i];
    rows[i].r_mean = static_cast<double>(i);
  }
  const HtmlReportData data = PageData(rows, key, {{"seed", "1"}});
  EXPECT_EQ(data.studies, (std::vector<std::string>{"S1", "S2"}));
  EXPECT_EQ(data.study_sizes, (std::vector<std::int64_t>{2, 2}));
  ASSERT_EQ(data.genes.size(), 3u);
  EXPECT_EQ(data.genes[0].gene, "C");
  EXPECT_EQ(data.genes[0].ranks[0], 2);
  EXPECT_TRUE(std::isnan(data.genes[0].ranks[1]));
  EXPECT_EQ(data.genes[0].n_studies, 1);
  EXPECT_EQ(data.genes[2].gene, "A");
  EXPECT_EQ(data.genes[2].ranks, (std::vector<double>{1, 2.5}));
  EXPECT_EQ(data.genes[2].n_studies, 2);
  EXPECT_TRUE(std::isnan(data.genes[2].r_wmean));
  EXPECT_EQ(data.facts.front().first, "seed");
}

TEST(ReportMain, WritesThePageWithRunsAndSeedInItsSummary) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "output.txt",
            ResultsLegend() + ResultsRecord(1, 1.5, {0.5, 0.25, 0.5, 0.25, 0.75, 0.5}, 0.5) +
                ResultsRecord(2, 2, {1, 1, 1, 1, 1, 1}, 0));
  WriteText(scratch.path() / "genes.tsv",
            "line\tgene\tclass\tS1\tS2\n1\tA\t2\t1\t2\n2\tB\t1\t2\t-99\n");
  WriteText(scratch.path() / "answers.txt", "1\n2\n2\n2\n250\n");
  std::ostringstream out;
  std::ostringstream err;
  const std::filesystem::path html = scratch.path() / "report.html";
  std::vector<std::string> args = {scratch.path().string(), "--html", html.string(), "--seed",
                                   "4711"};
  ASSERT_EQ(ReportMain(args, out, err), 0) << err.str();
  EXPECT_THAT(out.str(), HasSubstr("page: " + html.string()));
  const std::string block = DataBlock(ReadText(html));
  EXPECT_THAT(block, HasSubstr("[\"runs\",\"250\"],[\"seed\",\"4711\"]"));
  EXPECT_THAT(block, HasSubstr("\"gene\":[\"A\",\"B\"]"));
  EXPECT_THAT(block, HasSubstr("\"ranks\":[1,2,2,null]"));

  // Without answers.txt the runs are unknown; a seed out of range is refused.
  std::filesystem::remove(scratch.path() / "answers.txt");
  args = {scratch.path().string(), "--html", html.string()};
  ASSERT_EQ(ReportMain(args, out, err), 0) << err.str();
  EXPECT_THAT(DataBlock(ReadText(html)),
              HasSubstr("[\"runs\",\"not recorded\"],[\"seed\",\"not recorded\"]"));
  args = {scratch.path().string(), "--html", html.string(), "--seed", "0"};
  EXPECT_EQ(ReportMain(args, out, err), 2);
}

TEST(ReportMain, APageThatCannotBeWrittenLeavesTheTableAsItWas) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "output.txt",
            ResultsLegend() + ResultsRecord(1, 1.5, {0.5, 0.25, 0.5, 0.25, 0.75, 0.5}, 0.5));
  WriteText(scratch.path() / "genes.tsv", "line\tgene\tclass\tS1\n1\tA\t1\t1\n");
  WriteText(scratch.path() / "results.tsv", "old");
  std::ostringstream out;
  std::ostringstream err;
  std::vector<std::string> args = {scratch.path().string(), "--html",
                                   (scratch.path() / "missing" / "report.html").string()};
  EXPECT_EQ(ReportMain(args, out, err), 1);
  EXPECT_THAT(err.str(), HasSubstr("report.html"));
  EXPECT_EQ(ReadText(scratch.path() / "results.tsv"), "old");
}

}  // namespace
}  // namespace korvelan::tools
