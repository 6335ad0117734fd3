#include "tools/report/svg_figure.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "tests/tools/test_support.h"

namespace korvelan::tools {
namespace {

using testing::ReadText;
using testing::ScratchDirectory;
using testing::WriteText;

std::vector<ReportRow> SomeRows(std::size_t count) {
  std::vector<ReportRow> rows;
  for (std::size_t i = 0; i < count; ++i) {
    ReportRow row;
    row.gene = testing::Numbered("g", i);
    row.line = i + 1;
    row.info_class = static_cast<std::int32_t>(1 + i % 3);
    row.r_mean = static_cast<double>(i) * 1.5;
    row.q = static_cast<double>((i * 7919) % 1000) * 1e4;
    for (std::size_t c = 0; c < kPValueCount; ++c) {
      row.p[c] = static_cast<double>((i * (c + 3)) % 101) / 100.0;
    }
    rows.push_back(row);
  }
  rows[0].r_mean = std::nan("");  // a gene without ranks stays out of the scatter
  rows[1].p[kQRight] = std::nan("");
  return rows;
}

struct XmlCheck {
  bool well_formed = false;
  std::string error;
  std::string root;
  std::size_t circles = 0;
  std::size_t rects = 0;
};

// Expat is a conforming XML parser: any well-formedness fault (unbalanced
// tags, bad entities, unquoted attributes) stops it with an error.
XmlCheck ParseXml(const std::string& text) {
  XmlCheck check;
  std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
      XML_ParserCreateNS(nullptr, ' '), XML_ParserFree);
  XML_SetUserData(parser.get(), &check);
  XML_SetStartElementHandler(parser.get(), [](void* data, const XML_Char* name, const XML_Char**) {
    auto* me = static_cast<XmlCheck*>(data);
    std::string element = name;
    if (me->root.empty()) me->root = element;
    me->circles += element == "http://www.w3.org/2000/svg circle";
    me->rects += element == "http://www.w3.org/2000/svg rect";
  });
  if (XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK) {
    check.well_formed = true;
  } else {
    check.error = std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) + " at line " +
                  std::to_string(XML_GetCurrentLineNumber(parser.get()));
  }
  return check;
}

TEST(SvgFigure, IsWellFormedSvgWithOneDotPerPlottableGene) {
  for (std::size_t count : {0u, 1u, 250u}) {
    SCOPED_TRACE(count);
    std::vector<ReportRow> rows = SomeRows(std::max<std::size_t>(count, 2));
    rows.resize(count);
    XmlCheck check = ParseXml(SvgFigure(rows));
    ASSERT_TRUE(check.well_formed) << check.error;
    EXPECT_EQ(check.root, "http://www.w3.org/2000/svg svg");
    // The first gene has a NaN R-mean.
    EXPECT_EQ(check.circles, count > 0 ? count - 1 : 0);
    // Background, 6 x 20 bars, legend squares.
    EXPECT_GE(check.rects, 1u + 6u * kHistogramBins);
  }
}

TEST(SvgFigure, TheCheckerCatchesFaults) {
  EXPECT_FALSE(ParseXml("<svg><g></svg>").well_formed);
  EXPECT_FALSE(ParseXml("<svg><text>a & b</text></svg>").well_formed);
  EXPECT_TRUE(ParseXml("<svg><text>" + EscapeXml("a & <b> \"c\"") + "</text></svg>").well_formed);
}

TEST(HistogramCounts, BinsOfOneTwentiethWithOneInTheLastBin) {
  std::vector<double> values = {0, 0.0499, 0.05, 0.5, 0.95, 0.99, 1.0, std::nan(""), -0.1, 1.2};
  std::array<std::size_t, kHistogramBins> counts = HistogramCounts(values);
  EXPECT_EQ(counts[0], 3u);   // 0, 0.0499, -0.1
  EXPECT_EQ(counts[1], 1u);   // 0.05
  EXPECT_EQ(counts[10], 1u);  // 0.5
  EXPECT_EQ(counts[19], 4u);  // 0.95, 0.99, 1, 1.2
  std::size_t total = 0;
  for (std::size_t c : counts) total += c;
  EXPECT_EQ(total, 9u);  // NaN left out
}

TEST(NiceTicks, CoverTheRangeWithRoundSteps) {
  EXPECT_EQ(NiceTicks(0, 8000, 6), (std::vector<double>{0, 2000, 4000, 6000, 8000}));
  EXPECT_EQ(NiceTicks(3, 7.2, 4), (std::vector<double>{2, 4, 6, 8}));
  EXPECT_EQ(NiceTicks(5, 5, 4), (std::vector<double>{5}));
}

// A browser renders the figure: Debian's chromium, which .ci/run and the
// README's test command install; its screenshot must be a picture with
// content. Without the background-networking flags Chromium's own
// connections are refused on a machine without network.
TEST(SvgFigure, RendersInAHeadlessBrowser) {
  const char* chromium = "/usr/bin/chromium";
  ASSERT_TRUE(std::filesystem::exists(chromium))
      << "no " << chromium << ": install Debian's chromium package (see .ci/run)";
  ScratchDirectory scratch;
  WriteText(scratch.path() / "figure.svg", SvgFigure(SomeRows(500)));
  std::filesystem::path png = scratch.path() / "figure.png";
  std::string command = std::string("timeout 120 ") + chromium +
                        " --headless --no-sandbox --disable-gpu --hide-scrollbars --disable-quic"
                        " --no-first-run --disable-background-networking"
                        " --disable-component-update --disable-sync"
                        " --user-data-dir=" +
                        (scratch.path() / "profile").string() +
                        " --window-size=960,940 --screenshot=" + png.string() + " file://" +
                        (scratch.path() / "figure.svg").string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::string picture = ReadText(png);
  ASSERT_GE(picture.size(), 24u);
  EXPECT_EQ(picture.substr(0, 8), "\x89PNG\r\n\x1a\n");
  // A blank page compresses to a few kilobytes; the figure does not.
  EXPECT_GT(picture.size(), 20000u);
}

}  // namespace
}  // namespace korvelan::tools
