// The class sort's shape at full size: 500000 rows, one key, descending,
// the rows beyond the data all zero. Slow under the oracle; labelled big.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <random>
#include <vector>

#include "numeric/row_sort.h"
#include "tests/numeric/report_capture.h"
#include "tests/numeric/row_sort_oracle.h"

namespace korvelan::numeric {
namespace {

constexpr std::int32_t kRows = 500000;
constexpr std::int32_t kColumns = 100;

std::vector<float> ClassColumn(std::int32_t probes, std::int32_t classes, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<std::int32_t> pick(1, classes);
  std::vector<float> column(kRows, 0.0f);
  for (std::int32_t r = 0; r < probes; ++r)
    column[static_cast<std::size_t>(r)] = static_cast<float>(pick(gen));
  return column;
}

std::vector<std::int32_t> ClassSortOrder(const std::vector<float>& column) {
  const std::int32_t indkey[1] = {kColumns - 1};
  std::vector<std::int32_t> iperm(kRows);
  std::vector<std::int32_t> ngsize(kRows);
  std::int32_t ngrp = 0;
  std::int32_t nnan = 0;
  SROWR_ORDER(
      kRows, kColumns, kRows, 0, 1, 0, 1, indkey, [&column](std::int32_t) { return column.data(); },
      iperm.data(), ngrp, ngsize.data(), nnan);
  return iperm;
}

TEST(RowSortBig, ClassSortShapeAgreesWithTheOracle) {
  testing::CapturedReports reports;
  for (std::int32_t classes : {1, 37, 20000}) {
    const std::vector<float> column = ClassColumn(312345, classes, static_cast<unsigned>(classes));
    const std::vector<std::int32_t> iperm = ClassSortOrder(column);
    // The oracle moves whole rows: the class column and the row number.
    std::vector<float> x = column;
    for (std::int32_t r = 1; r <= kRows; ++r) x.push_back(static_cast<float>(r));
    const oracle::RowSortResult want = oracle::WholeRowSort(kRows, 2, x, kRows, 0, 1, 0, {1});
    EXPECT_EQ(iperm, want.iperm) << classes << " classes";
  }
}

}  // namespace
}  // namespace korvelan::numeric
