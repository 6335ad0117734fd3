#include "common/html_report.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>

#include "tests/tools/test_support.h"
#include "korvelan/meta.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ReadText;
using testing::ResultsLegend;
using testing::ResultsRecord;
using testing::ScratchDirectory;
using testing::WriteText;

const double kNaN = std::nan("");
const std::filesystem::path kPageDir = KORVELAN_REPORT_PAGE_DIR;

TEST(JsonString, EscapesWhatCouldEndTheScriptBlockAndRepairsBadUtf8) {
  struct Case {
    const char* name;
    std::string text;
    std::string json;
  };
  const Case cases[] = {
      {"plain", "TP53", "\"TP53\""},
      {"quote and backslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
      {"control characters", "a\nb\tc\x01", "\"a\\u000ab\\u0009c\\u0001\""},
      {"end of script", "</script>", "\"\\u003c/script\\u003e\""},
      {"comment opener", "<!--x-->", "\"\\u003c!--x--\\u003e\""},
      {"ampersand", "Q&A", "\"Q\\u0026A\""},
      {"line and paragraph separators",
       "a\xE2\x80\xA8"
       "b\xE2\x80\xA9",
       "\"a\\u2028b\\u2029\""},
      {"two-, three- and four-byte UTF-8 kept", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\xA7\xAC",
       "\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\xA7\xAC\""},
      {"stray byte",
       "a\xFF"
       "b",
       "\"a\\ufffdb\""},
      {"truncated sequence", "a\xC3", "\"a\\ufffd\""},
      {"overlong slash", "\xC0\xAF", "\"\\ufffd\\ufffd\""},
      {"surrogate", "\xED\xA0\x80", "\"\\ufffd\\ufffd\\ufffd\""},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JsonString(c.text), c.json);
  }
}

TEST(JsonNumber, ShortestRoundTripNullForNaNHugeForInfinity) {
  EXPECT_EQ(JsonNumber(kNaN), "null");
  EXPECT_EQ(JsonNumber(HUGE_VAL), "1e999");
  EXPECT_EQ(JsonNumber(-HUGE_VAL), "-1e999");
  EXPECT_EQ(JsonNumber(0.1), "0.1");
  EXPECT_EQ(JsonNumber(352.5), "352.5");
  EXPECT_EQ(JsonNumber(0.0500000007450581), "0.0500000007450581");
  EXPECT_EQ(JsonNumber(3.360215146e-07), "3.360215146e-07");
  EXPECT_EQ(std::stod(JsonNumber(0.1 + 0.2)), 0.1 + 0.2);
}

HtmlReportData TwoGenes() {
  HtmlReportData data;
  data.title = "Results <b>&</b>";
  data.facts = {{"inputs", "a</script>"}, {"seed", "7"}};
  data.studies = {"S1", "S2"};
  data.study_sizes = {2, 1};
  HtmlReportGene first;
  first.gene = "</script><!--";
  first.info_class = 2;
  first.n_studies = 2;
  first.ranks = {1, 2.5};
  first.r_mean = 1.75;
  first.r_wmean = kNaN;
  first.q = 0.5;
  first.p = {0.25, 1, kNaN, kNaN, 0.5, 0.5};
  first.q_values = {0.5, 1, kNaN, kNaN, 1, 1};
  HtmlReportGene second = first;
  second.gene = "B";
  second.info_class = 1;
  second.n_studies = 1;
  second.ranks = {2};  // one short: the second study shows "not ranked"
  data.genes = {first, second};
  return data;
}

std::string DataBlock(const std::string& page) {
  const std::string open = "<script type=\"application/json\" id=\"korvelan-data\">";
  const std::size_t from = page.find(open);
  if (from == std::string::npos) return "";
  const std::size_t start = from + open.size();
  return page.substr(start, page.find("</script>", start) - start);
}

TEST(HtmlReport, PutsTheDataInOnceAsColumnsThatNoStringCanBreakOutOf) {
  const std::string page = HtmlReport(TwoGenes());
  EXPECT_EQ(DataBlock(page),
            "{\"title\":\"Results \\u003cb\\u003e\\u0026\\u003c/b\\u003e\","
            "\"facts\":[[\"inputs\",\"a\\u003c/script\\u003e\"],[\"seed\",\"7\"]],"
            "\"legend\":[],\"methods\":\"\",\"sort\":1,"
            "\"studies\":[\"S1\",\"S2\"],\"sizes\":[2,1],"
            "\"gene\":[\"\\u003c/script\\u003e\\u003c!--\",\"B\"],\"klass\":[2,1],\"n\":[2,1],"
            "\"ranks\":[1,2.5,2,null],\"rmean\":[1.75,1.75],\"rwmean\":[null,null],"
            "\"q\":[0.5,0.5],"
            "\"p\":[[0.25,0.25],[1,1],[null,null],[null,null],[0.5,0.5],[0.5,0.5]],"
            "\"qv\":[[0.5,0.5],[1,1],[null,null],[null,null],[1,1],[1,1]],\"excluded\":[0,0]}");
  EXPECT_THAT(page, HasSubstr("<title>Results &lt;b&gt;&amp;&lt;/b&gt;</title>"));
  // The data block and the script: two blocks, each closed once.
  std::size_t closes = 0;
  for (std::size_t at = page.find("</script"); at != std::string::npos;
       at = page.find("</script", at + 1)) {
    ++closes;
  }
  EXPECT_EQ(closes, 2u);
}

// The whole numbers of the packed column {"w":W,"s":"..."} at `at` (-1 for
// null), decoded as the page's script does.
std::vector<std::int64_t> Unpacked(const std::string& block, std::size_t at) {
  const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";
  const std::size_t width = std::stoul(block.substr(block.find("\"w\":", at) + 4));
  const std::size_t from = block.find("\"s\":\"", at) + 5;
  const std::string text = block.substr(from, block.find('"', from) - from);
  std::vector<std::int64_t> out;
  for (std::size_t k = 0; k + width <= text.size(); k += width) {
    std::int64_t v = 0;
    for (std::size_t j = 0; j < width; ++j)
      v = v * 64 + static_cast<std::int64_t>(digits.find(text[k + j]));
    out.push_back(v - 1);
  }
  return out;
}

// The numbers of one data column as the page's script reads them: a plain
// array, or distinct values and an index per gene.
std::vector<std::string> ColumnTexts(const std::string& block, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const std::size_t at = block.find(key);
  if (at == std::string::npos) return {};
  auto list = [&](std::size_t open) {
    std::vector<std::string> items;
    const std::size_t close = block.find(']', open);
    std::stringstream cells(block.substr(open + 1, close - open - 1));
    for (std::string item; std::getline(cells, item, ',');) items.push_back(item);
    return items;
  };
  const std::size_t start = at + key.size();
  if (block[start] == '[') return list(start);
  const std::vector<std::string> values = list(block.find("\"v\":[", start) + 4);
  std::vector<std::string> out;
  for (std::int64_t k : Unpacked(block, block.find("\"i\":{", start) + 4)) {
    out.push_back(values.at(static_cast<std::size_t>(k)));
  }
  return out;
}

TEST(HtmlReport, ColumnsOfFewValuesAreCodedAndReadBackTheSame) {
  struct Case {
    const char* name;
    std::size_t genes;
    std::function<double(std::size_t)> value;
    bool coded;
  };
  const std::vector<Case> cases = {
      {"two genes: the plain array is shorter", 2,
       [](std::size_t i) { return 0.25 * static_cast<double>(i); }, false},
      {"plus-one P-values of 1000 runs", 5000,
       [](std::size_t i) { return static_cast<double>(i * 7 % 1001 + 1) / 1001.0; }, true},
      {"every value distinct", 3000, [](std::size_t i) { return 1.0 / static_cast<double>(i + 3); },
       false},
      {"NA among repeated values", 400,
       [](std::size_t i) { return i % 3 == 0 ? kNaN : 0.123456789; }, true},
  };
  for (const Case& c : cases) {
    HtmlReportData data = TwoGenes();
    data.genes.resize(c.genes, data.genes.front());
    for (std::size_t i = 0; i < c.genes; ++i) data.genes[i].r_mean = c.value(i);
    const std::string block = DataBlock(HtmlReport(data));
    const std::vector<std::string> got = ColumnTexts(block, "rmean");
    ASSERT_EQ(got.size(), c.genes) << c.name;
    for (std::size_t i = 0; i < c.genes; ++i) {
      EXPECT_EQ(got[i], JsonNumber(c.value(i))) << c.name << " gene " << i;
    }
    EXPECT_EQ(block.find("\"rmean\":{\"v\":") != std::string::npos, c.coded) << c.name;
  }
}
TEST(HtmlReport, SignedResultsAndFloatStatistics) {
  HtmlReportData data = TwoGenes();
  data.float_statistics = true;
  data.directional = true;
  data.fold_changes = true;
  data.genes[0].r_mean = static_cast<double>(1.8f);
  data.genes[0].direction = 1;
  data.genes[0].n_up = 2;
  data.genes[0].fold_changes = {0.5, -0.25};
  data.genes[0].fold_change_mean = 0.125;
  data.genes[1].direction = -1;
  data.genes[1].n_down = 1;
  data.genes[1].fold_changes = {-1};  // one short: NA in the second study
  data.genes[1].fold_change_mean = -1;
  data.genes[1].excluded = true;
  const std::string block = DataBlock(HtmlReport(data));
  using V = std::vector<std::string>;
  EXPECT_EQ(ColumnTexts(block, "rmean"), (V{"1.8", "1.75"}));
  EXPECT_EQ(ColumnTexts(block, "dir"), (V{"1", "-1"}));
  EXPECT_EQ(ColumnTexts(block, "nup"), (V{"2", "0"}));
  EXPECT_EQ(ColumnTexts(block, "ndown"), (V{"0", "1"}));
  EXPECT_EQ(ColumnTexts(block, "lfc"), (V{"0.5", "-0.25", "-1", "null"}));
  EXPECT_EQ(ColumnTexts(block, "lfcmean"), (V{"0.125", "-1"}));
  EXPECT_EQ(ColumnTexts(block, "excluded"), (V{"0", "1"}));
  // Unsigned data carry none of these keys.
  const std::string plain = DataBlock(HtmlReport(TwoGenes()));
  for (const char* key : {"\"dir\"", "\"nup\"", "\"lfc\"", "\"lfcmean\""}) {
    EXPECT_EQ(plain.find(key), std::string::npos) << key;
  }
}

// A page as korvelan-meta writes it for `genes` genes of five studies:
// plus-one P-values of 1000 runs with their q-values, float statistics,
// and, with fold changes, one of ~16 digits per study.
HtmlReportData MetaSizedPage(std::size_t genes, bool fold_changes) {
  HtmlReportData data;
  data.title = "KORVELAN meta-analysis";
  data.studies = {"GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"};
  data.study_sizes.assign(5, static_cast<std::int64_t>(genes));
  data.float_statistics = true;
  data.directional = fold_changes;
  data.fold_changes = fold_changes;
  std::mt19937_64 random(7);
  // One information class: every gene's runs count over 1000 runs of all
  // genes, so P-values have (nearly) as many values as genes.
  const std::uint64_t total = 1000 * genes;
  std::array<std::vector<double>, 6> p;
  for (std::size_t i = 0; i < genes; ++i) {
    HtmlReportGene g;
    g.gene = "GENE" + std::to_string(i);
    g.info_class = g.n_studies = 5;
    for (int s = 0; s < 5; ++s)
      g.ranks.push_back(static_cast<double>(random() % (2 * genes) + 2) / 2);
    g.r_mean = static_cast<float>(static_cast<double>(random() % 1000000) / 999983.0);
    g.r_wmean = kNaN;
    g.q = static_cast<float>(static_cast<double>(random() % 1000000) / 7.0);
    g.p_denominator = static_cast<double>(total + 1);
    for (std::size_t t = 0; t < 6; ++t) {
      g.p[t] = static_cast<double>(random() % (total + 1) + 1) / g.p_denominator;
      p[t].push_back(g.p[t]);
    }
    if (fold_changes) {
      for (int s = 0; s < 5; ++s)
        g.fold_changes.push_back(static_cast<double>(random() % 2000000) / 1e6 - 1.0 + 1e-13);
      g.fold_change_mean = g.fold_changes[0] / 3;
      g.direction = 1;
      g.n_up = 3;
      g.n_down = 2;
    }
    data.genes.push_back(std::move(g));
  }
  for (std::size_t t = 0; t < 6; ++t) {
    const std::vector<double> q = BenjaminiHochberg(p[t]);
    for (std::size_t i = 0; i < genes; ++i) data.genes[i].q_values[t] = q[i];
  }
  return data;
}

TEST(HtmlReport, PageSizesStayWithinTheirBudgets) {
  struct Case {
    std::size_t genes;
    bool fold_changes;
    double megabytes;
  };
  const std::vector<Case> cases = {{20000, true, 5}, {20000, false, 5}};
  for (const Case& c : cases) {
    const std::size_t size = HtmlReport(MetaSizedPage(c.genes, c.fold_changes)).size();
    EXPECT_LT(static_cast<double>(size), c.megabytes * 1e6)
        << c.genes << " genes" << (c.fold_changes ? " with fold changes" : "") << ": " << size
        << " bytes";
  }
}

TEST(HtmlReport, PageOfTheLargestRunStaysUnder60Megabytes) {
  const std::size_t size = HtmlReport(MetaSizedPage(499999, false)).size();
  EXPECT_LT(size, 60'000'000u) << size;
}

TEST(HtmlReport, CarriesThePageFilesByteForByteAndNothingFromOutside) {
  const std::string page = HtmlReport(HtmlReportData{});
  for (const char* file : {"page.css", "page.js"}) {
    SCOPED_TRACE(file);
    const std::string text = ReadText(kPageDir / file);
    ASSERT_FALSE(text.empty());
    EXPECT_THAT(page, HasSubstr(text));
    // Either would end its block early and show the rest as text.
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower.find("</script"), std::string::npos);
    EXPECT_EQ(lower.find("</style"), std::string::npos);
  }
  EXPECT_THAT(page, HasSubstr("default-src 'none'"));
  // The SVG namespace is a name, not an address that is fetched.
  std::string rest = page;
  const std::string svg_namespace = "http://www.w3.org/2000/svg";
  for (std::size_t at; (at = rest.find(svg_namespace)) != std::string::npos;) {
    rest.erase(at, svg_namespace.size());
  }
  for (const char* remote : {"http://", "https://", "//cdn", "src=\"", "@import", "url("}) {
    SCOPED_TRACE(remote);
    EXPECT_EQ(rest.find(remote), std::string::npos);
  }
}

}  // namespace
}  // namespace korvelan::tools
