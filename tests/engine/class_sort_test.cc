#include "engine/class_sort.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "numeric/error_services.h"
#include "numeric/row_sort.h"
#include "tests/engine/test_data.h"
#include "textio/termination.h"

namespace korvelan::engine {
namespace {

using testing::LoadedMatrix;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

AnalysisParameters Params(std::int32_t s, std::int32_t p, std::int32_t m) {
  AnalysisParameters params;
  params.analysis_type = 1;
  params.studies = s;
  params.probes = p;
  params.classes = m;
  params.class_column = s + 1;
  return params;
}

// One study; the rank is the record number, so it names the record.
RankMatrix OneStudyWithClasses(const std::vector<float>& classes) {
  const auto p = static_cast<std::int32_t>(classes.size());
  RankMatrix x(p, 3);
  for (std::int32_t i = 1; i <= p; ++i) {
    x.Set(i, 1, static_cast<float>(i));
    x.Set(i, 2, classes[static_cast<std::size_t>(i - 1)]);
    x.Set(i, 3, static_cast<float>(i));
  }
  return x;
}

std::vector<std::int32_t> LineNumbers(const RankMatrix& x, std::int32_t p) {
  std::vector<std::int32_t> out;
  for (std::int32_t i = 1; i <= p; ++i) out.push_back(static_cast<std::int32_t>(x.Get(i, 3)));
  return out;
}

std::vector<std::pair<std::int32_t, std::int32_t>> RangesOf(const ClassRanges& r, std::int32_t m) {
  std::vector<std::pair<std::int32_t, std::int32_t>> out;
  for (std::int32_t k = 1; k <= m; ++k) out.emplace_back(r.first.Get(k), r.last.Get(k));
  return out;
}

// ORACLE: the row sort itself on an explicit matrix of all 500000 rows
// (the real rows, then zero rows), S + 2 columns.
RankMatrix SortedByTheFullRowSort(const RankMatrix& loaded, std::int32_t s) {
  const std::int32_t ncol = s + 2;
  std::vector<float> x(static_cast<std::size_t>(kMaxRows) * ncol, 0.0f);
  for (std::int32_t j = 1; j <= ncol; ++j) {
    for (std::int32_t i = 1; i <= loaded.rows(); ++i) {
      x[static_cast<std::size_t>(j - 1) * kMaxRows + static_cast<std::size_t>(i - 1)] =
          loaded.Get(i, j);
    }
  }
  std::vector<std::int32_t> iperm(kMaxRows), ngsize(kMaxRows);
  std::int32_t ngrp = 0, nnan = 0;
  const std::int32_t indkey[1] = {s + 1};
  numeric::SROWR(kMaxRows, ncol, x.data(), kMaxRows, 0, 1, 0, 1, indkey, iperm.data(), ngrp,
                 ngsize.data(), nnan);
  RankMatrix out(loaded.rows(), ncol);
  for (std::int32_t j = 1; j <= ncol; ++j) {
    for (std::int32_t i = 1; i <= loaded.rows(); ++i) {
      out.Set(i, j, x[static_cast<std::size_t>(j - 1) * kMaxRows + static_cast<std::size_t>(i - 1)]);
    }
  }
  return out;
}

class ClassSortTest : public ::testing::Test {
 protected:
  void SetUp() override { numeric::ResetErrorServicesForTesting(); }
};

TEST_F(ClassSortTest, HighestClassFirstAndRangesFromTheTop) {
  RankMatrix x = OneStudyWithClasses({1, 1, 2});
  const AnalysisParameters params = Params(1, 3, 2);
  ClassSort(params, x);
  EXPECT_EQ(x.Get(1, 3), 3.0f);  // the class-2 record
  EXPECT_EQ(x.Get(1, 1), 3.0f);  // its rank moved with it
  const ClassRanges r = ComputeClassRanges(params, x);
  EXPECT_EQ(RangesOf(r, 2), (std::vector<std::pair<std::int32_t, std::int32_t>>{{2, 3}, {1, 1}}));
}

struct RangeCase {
  std::string name;
  std::vector<float> classes;
  std::int32_t m;
  std::vector<std::pair<std::int32_t, std::int32_t>> ranges;  // classes 1 .. M
};

class ClassRangesTest : public ClassSortTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(ClassRangesTest, FromTheSortedClassColumn) {
  const RangeCase& c = GetParam();
  const auto p = static_cast<std::int32_t>(c.classes.size());
  RankMatrix x = OneStudyWithClasses(c.classes);
  const AnalysisParameters params = Params(1, p, c.m);
  ClassSort(params, x);
  const ClassRanges r = ComputeClassRanges(params, x);
  EXPECT_EQ(RangesOf(r, c.m), c.ranges);
  EXPECT_EQ(r.first.Get(kMaxClasses), 0) << "classes above M read zero";
  // Every row lies in the range of its own class.
  for (std::int32_t i = 1; i <= p; ++i) {
    const auto k = static_cast<std::int32_t>(x.Get(i, 2));
    EXPECT_LE(r.first.Get(k), i);
    EXPECT_GE(r.last.Get(k), i);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassRangesTest,
    ::testing::Values(
        RangeCase{"EmptyMiddleClass", {1, 3, 1, 3}, 3, {{3, 4}, {3, 2}, {1, 2}}},
        RangeCase{"EmptyTopClasses", {1, 2}, 4, {{2, 2}, {1, 1}, {1, 0}, {1, 0}}},
        RangeCase{
            "FractionsCountForTheirIntegerPart", {2, 2.5f, 1.75f, 3}, 3, {{4, 4}, {2, 3}, {1, 1}}},
        RangeCase{"NoProbes", {}, 2, {{1, 0}, {1, 0}}}, RangeCase{"NoClasses", {}, 0, {}}),
    [](const auto& param_info) { return param_info.param.name; });

// Class values whose integer part is below 1 or above 500000 sort among the
// zero rows or apart from them; counting them is the bounds condition.
TEST_F(ClassSortTest, ClassIndexOutsideTheDeclaredBoundsIs161) {
  for (float bad : {0.0f, -0.0f, 0.99f, -1.0f, -0.5f, kNaN, 500001.0f, 1e10f,
                    std::numeric_limits<float>::infinity()}) {
    RankMatrix x = OneStudyWithClasses({1, bad, 1});
    const AnalysisParameters params = Params(1, 3, 1);
    ClassSort(params, x);
    try {
      (void)ComputeClassRanges(params, x);
      ADD_FAILURE() << "class " << bad << " was accepted";
    } catch (const textio::Termination& t) {
      EXPECT_EQ(t.SevereNumber(), 161) << "class " << bad;
    }
  }
}

struct LimitCase {
  std::string name;
  std::vector<float> classes;
  std::int32_t m;
  std::optional<std::string> refusal;
};

class ClassLimitTest : public ::testing::TestWithParam<LimitCase> {};

TEST_P(ClassLimitTest, RefusesTheFirstRecordAboveM) {
  const LimitCase& c = GetParam();
  const RankMatrix x = OneStudyWithClasses(c.classes);
  const AnalysisParameters params = Params(1, static_cast<std::int32_t>(c.classes.size()), c.m);
  try {
    CheckClassesWithinLimit(params, x);
    EXPECT_FALSE(c.refusal) << "nothing refused";
  } catch (const textio::Termination& t) {
    ASSERT_TRUE(c.refusal) << t.ReportLine();
    EXPECT_EQ(t.ReportLine(), *c.refusal);
    EXPECT_EQ(t.ExitStatus(), 1);
    EXPECT_FALSE(t.HasStackListing());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ClassLimitTest,
    ::testing::Values(
        LimitCase{"WithinM", {1, 2, 2.9f}, 2, std::nullopt},
        LimitCase{"FirstInRecordOrder",
                  {1, 3, 5},
                  2,
                  "KORVELAN: record 2 of data.txt has information class 3, above the number "
                  "of information classes 2"},
        LimitCase{"IntegerPartIsShown",
                  {3.7f},
                  2,
                  "KORVELAN: record 1 of data.txt has information class 3, above the number "
                  "of information classes 2"},
        LimitCase{"LastDeclaredClass",
                  {500000.5f},
                  2,
                  "KORVELAN: record 1 of data.txt has information class 500000, above the "
                  "number of information classes 2"},
        LimitCase{"ZeroClasses",
                  {1},
                  0,
                  "KORVELAN: record 1 of data.txt has information class 1, above the number "
                  "of information classes 0"},
        LimitCase{"NegativeClasses",
                  {0, 2},
                  -3,
                  "KORVELAN: record 2 of data.txt has information class 2, above the number "
                  "of information classes -3"},
        // Outside 1 .. 500000 it is the bounds condition after the sort.
        LimitCase{"BoundsCasesPass", {0, -2, kNaN, 500001, 0.5f}, 2, std::nullopt}),
    [](const auto& param_info) { return param_info.param.name; });

TEST_F(ClassSortTest, ClassColumnZeroIsTheRowSortsCode9) {
  RankMatrix x = OneStudyWithClasses({1, 1});
  AnalysisParameters params = Params(1, 2, 1);
  params.analysis_type = 2;
  params.class_column = 0;
  CheckClassesWithinLimit(params, x);  // no class column: nothing to check
  ::testing::internal::CaptureStdout();
  try {
    ClassSort(params, x);
    ADD_FAILURE() << "key column 0 was sorted";
  } catch (const textio::Termination& t) {
    EXPECT_EQ(t.SevereNumber(), 0);
    EXPECT_EQ(t.ExitStatus(), 1);
  }
  const std::string out = ::testing::internal::GetCapturedStdout();
  const std::string first =
      "\r\n *** TERMINAL ERROR 9 from S2OWR.  INDKEY(1) = 0 and NCOL = 100.  Column\r\n";
  EXPECT_EQ(out.substr(0, first.size()), first);
  EXPECT_EQ(LineNumbers(x, 2), (std::vector<std::int32_t>{1, 2})) << "nothing moved";
}

// The tie order within a class is the full row sort's, zero rows included.
TEST_F(ClassSortTest, TieOrderIsThatOfTheFullRowSort) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 4; ++trial) {
    const std::int32_t p = 5 + static_cast<std::int32_t>(rng() % 60);
    const std::int32_t m = 1 + static_cast<std::int32_t>(rng() % 4);
    const std::int32_t s = 2;
    RankMatrix x = testing::RandomRanks(rng, p, s, 0.2);
    for (std::int32_t i = 1; i <= p; ++i) {
      x.Set(i, s + 1, static_cast<float>(1 + rng() % static_cast<unsigned>(m)));
    }
    const RankMatrix expect = SortedByTheFullRowSort(x, s);
    ClassSort(Params(s, p, m), x);
    for (std::int32_t j = 1; j <= s + 2; ++j) {
      for (std::int32_t i = 1; i <= p; ++i) {
        ASSERT_EQ(x.Get(i, j), expect.Get(i, j))
            << "trial " << trial << " row " << i << " column " << j;
      }
    }
  }
}

struct TieCase {
  std::string name;
  std::vector<float> classes;
  std::vector<std::int32_t> lines;  // records in class-sorted order
};

class TieOrder : public ClassSortTest, public ::testing::WithParamInterface<TieCase> {};

TEST_P(TieOrder, IsThatOfTheQuicksortOverAllRows) {
  const TieCase& c = GetParam();
  const auto p = static_cast<std::int32_t>(c.classes.size());
  RankMatrix x = OneStudyWithClasses(c.classes);
  const RankMatrix expect = SortedByTheFullRowSort(x, 1);
  ClassSort(Params(1, p, 2), x);
  EXPECT_EQ(LineNumbers(x, p), c.lines);
  EXPECT_EQ(LineNumbers(expect, p), c.lines);
  for (std::int32_t i = 1; i <= p; ++i) EXPECT_EQ(x.Get(i, 1), x.Get(i, 3)) << "row " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TieOrder,
    ::testing::Values(
        TieCase{"OneClassKeepsDataOrder", {1, 1, 1, 1, 1}, {1, 2, 3, 4, 5}},
        TieCase{"AlternatingClasses", {1, 2, 1, 2, 1}, {2, 4, 1, 3, 5}},
        // The partition that brings the class-2 row up moves record 1 last.
        TieCase{"SevenOnesThenATwo", {1, 1, 1, 1, 1, 1, 1, 2}, {8, 2, 3, 4, 5, 6, 7, 1}},
        TieCase{"SixOnesATwoAndAOne", {1, 1, 1, 1, 1, 1, 2, 1}, {7, 1, 2, 4, 5, 6, 3, 8}}),
    [](const auto& param_info) { return param_info.param.name; });

}  // namespace
}  // namespace korvelan::engine
