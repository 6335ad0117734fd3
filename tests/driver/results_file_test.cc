#include "driver/results_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>

#include "textio/fixed_output.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

using engine::kQ;
using engine::kRmean;
using engine::kRwmean;
using engine::kStatistics;
using engine::RowArray;
using engine::SidedPValues;
using engine::Statistics;

namespace fs = std::filesystem;

constexpr char kLegend[] =
    " Columns are appeared as follows:\r\n"
    "  \r\n"
    " 1: gene number\r\n"
    " 2: R-mean\r\n"
    " 3: right-sided P-value for R-mean\r\n"
    " 4: left-sided P-value for R-mean\r\n"
    " 5: right-sided P-value for R-weighted mean\r\n"
    " 6: left-sided P-value for R- weighted mean\r\n"
    " 7: Q-mean\r\n"
    " 8: right-sided P-value for Q-mean\r\n"
    " 9: left-sided P-value for Q-mean\r\n"
    "  \r\n";

class ResultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("korvelan_results_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    path_ = (dir_ / "output.txt").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Read() const {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::string path_;
};

// P rows whose P-values are all `p` and whose line numbers run 1 .. P.
struct Rows {
  explicit Rows(std::int32_t n, double p) : ranks(n > 0 ? n : 0, 3), observed(n) {
    for (int s = 0; s < kStatistics; ++s) {
      pvalues.right[s] = RowArray<double>(n);
      pvalues.left[s] = RowArray<double>(n);
      for (auto& v : pvalues.right[s].span()) v = p;
      for (auto& v : pvalues.left[s].span()) v = p;
    }
    for (std::int32_t i = 1; i <= n; ++i) {
      ranks.Set(i, 3, static_cast<float>(i));
      observed.rmean.Set(i, static_cast<float>(i) / 4.0f);
      observed.q.Set(i, static_cast<float>(i) * 1.5f);
    }
  }
  RankMatrix ranks;
  Statistics observed;
  SidedPValues pvalues;
};

TEST(ResultsRecords, LegendIsTwelveListDirectedRecords) {
  EXPECT_EQ(textio::LegendRecords(), kLegend);
}

TEST(ResultsRecords, FieldsInTheirOrderWithPValuesRoundedToFloat) {
  Rows rows(1, 0.05);
  rows.ranks.Set(1, 3, 17.0f);
  rows.observed.rmean.Set(1, 2.5f);
  rows.observed.rwmean.Set(1, 99.0f);  // never written
  rows.observed.q.Set(1, 12.25f);
  rows.pvalues.left[kRmean].Set(1, 0.25);
  rows.pvalues.right[kRwmean].Set(1, 1.0);
  rows.pvalues.left[kQ].Set(1, std::numeric_limits<double>::quiet_NaN());
  std::string out;
  AppendResultRecords(out, rows.ranks, 3, rows.observed, rows.pvalues, 1, 1);
  const std::string p05 = "      0.0500000007450581";  // float(0.05), 16 decimals
  EXPECT_EQ(out,
            "    17."
            "                  2.5000" +
                p05 + "      0.2500000000000000" + "      1.0000000000000000" + p05 +
                "                 12.2500" + p05 + " NaN                    " + "\r\n");
  EXPECT_EQ(out.size(), 199u + 2u);
}

TEST_F(ResultsTest, ChunkedWritesEqualOneWriteAndCutAnOldLongerFile) {
  // More chunks than a batch of the largest pool, the last batch partial.
  const std::int32_t p = 30000;
  Rows rows(p, 0.125);
  std::string expect = kLegend;
  AppendResultRecords(expect, rows.ranks, 3, rows.observed, rows.pvalues, 1, p);
  EXPECT_EQ(expect.size(), sizeof(kLegend) - 1 + static_cast<std::size_t>(p) * 201);
  for (unsigned threads : {1u, 2u, 3u, 7u}) {
    {
      std::ofstream old(path_, std::ios::binary);
      old << std::string(7'000'000, 'x');  // longer than the new results
    }
    textio::ResultsFile file(path_, textio::kOutputUnit);
    WriteResultsFile(file, rows.ranks, 3, rows.observed, rows.pvalues, p, threads);
    const std::string got = Read();
    EXPECT_EQ(got.size(), expect.size()) << threads << " threads";
    EXPECT_TRUE(got == expect) << threads << " threads";
  }
}

TEST_F(ResultsTest, NoProbesGiveTheLegendAndOneEmptyRecord) {
  for (std::int32_t p : {0, -7}) {
    Rows rows(p, 0.0);
    textio::ResultsFile file(path_, textio::kOutputUnit);
    WriteResultsFile(file, rows.ranks, 3, rows.observed, rows.pvalues, p);
    EXPECT_EQ(Read(), std::string(kLegend) + "\r\n") << "P = " << p;
  }
}

}  // namespace
}  // namespace korvelan::driver
