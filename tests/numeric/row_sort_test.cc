#include "numeric/row_sort.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "numeric/report_layout.h"
#include "numeric/row_sort_workspace.h"
#include "tests/numeric/report_capture.h"

namespace korvelan::numeric {
namespace {

using testing::CapturedReports;
using testing::EndsWithStop;
using Ints = std::vector<std::int32_t>;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr std::int32_t kUntouched = -777;

// A call of SROWR on a matrix given by rows, with every output preset to a
// value the routine never writes.
struct Call {
  std::int32_t nrow;
  std::int32_t ncol;
  std::int32_t ldx;
  std::vector<float> x;  // ldx * ncol, column by column
  std::int32_t icomp = 0;
  std::int32_t iordr = 0;
  std::int32_t iret = 0;
  Ints indkey = {1};
  Ints iperm;
  std::int32_t ngrp = kUntouched;
  Ints ngsize;
  std::int32_t nnan = kUntouched;

  // rows[r] holds row r + 1; a last column with the input row number is
  // added, so that the moves of X can be read back.
  static Call FromRows(const std::vector<std::vector<float>>& rows) {
    Call c;
    c.nrow = static_cast<std::int32_t>(rows.size());
    c.ncol = static_cast<std::int32_t>(rows.empty() ? 1 : rows[0].size() + 1);
    c.ldx = c.nrow;
    c.x.assign(static_cast<std::size_t>(c.ldx * c.ncol), 0.0f);
    for (std::int32_t r = 1; r <= c.nrow; ++r) {
      const std::vector<float>& row = rows[static_cast<std::size_t>(r - 1)];
      for (std::size_t j = 0; j < row.size(); ++j)
        c.At(r, static_cast<std::int32_t>(j) + 1) = row[j];
      c.At(r, c.ncol) = static_cast<float>(r);
    }
    c.iperm.assign(static_cast<std::size_t>(std::max(c.nrow, 1)), kUntouched);
    c.ngsize.assign(static_cast<std::size_t>(std::max(c.nrow, 1)), kUntouched);
    return c;
  }
  static Call FromKeys(const std::vector<float>& keys) {
    std::vector<std::vector<float>> rows;
    for (float k : keys) rows.push_back({k});
    return FromRows(rows);
  }

  float& At(std::int32_t r, std::int32_t c) {
    return x[static_cast<std::size_t>((c - 1) * ldx + (r - 1))];
  }
  // The input row numbers in the order X now holds them.
  Ints RowsOfX() {
    Ints out;
    for (std::int32_t r = 1; r <= nrow; ++r) out.push_back(static_cast<std::int32_t>(At(r, ncol)));
    return out;
  }
  Ints Perm() const { return Ints(iperm.begin(), iperm.begin() + nrow); }
  Ints Groups() const { return Ints(ngsize.begin(), ngsize.begin() + std::max(ngrp, 0)); }

  void Run() {
    SROWR(nrow, ncol, x.data(), ldx, icomp, iordr, iret, static_cast<std::int32_t>(indkey.size()),
          indkey.data(), iperm.data(), ngrp, ngsize.data(), nnan);
  }
  void RunOrder() {
    SROWR_ORDER(
        nrow, ncol, ldx, icomp, iordr, iret, static_cast<std::int32_t>(indkey.size()), indkey.data(),
        [this](std::int32_t c) -> const float* {
          return x.data() + static_cast<std::size_t>((c - 1) * ldx);
        },
        iperm.data(), ngrp, ngsize.data(), nnan);
  }
};

Ints Range(std::int32_t from, std::int32_t to) {
  Ints out;
  for (std::int32_t v = from; from <= to ? v <= to : v >= to; v += from <= to ? 1 : -1) {
    out.push_back(v);
  }
  return out;
}

std::vector<float> Repeat(const std::vector<float>& pattern, int times) {
  std::vector<float> out;
  for (int t = 0; t < times; ++t) out.insert(out.end(), pattern.begin(), pattern.end());
  return out;
}

struct OrderCase {
  const char* label;
  std::vector<float> keys;
  std::int32_t iordr;
  Ints order;
  Ints ngsize;
};

TEST(SROWR, TieOrdersOfTheQuicksort) {
  const OrderCase cases[] = {
      {"1,2,1,2,1 descending", {1, 2, 1, 2, 1}, 1, {2, 4, 3, 5, 1}, {2, 3}},
      {"1,2,1,2,1 ascending", {1, 2, 1, 2, 1}, 0, {1, 5, 3, 4, 2}, {3, 2}},
      {"five equal ascending", Repeat({7}, 5), 0, Range(1, 5), {5}},
      {"five equal descending", Repeat({7}, 5), 1, Range(5, 1), {5}},
      {"fifteen equal ascending", Repeat({7}, 15), 0, Range(1, 15), {15}},
      {"fifteen equal descending", Repeat({7}, 15), 1, Range(15, 1), {15}},
      {"2,1,3 x5 descending",
       Repeat({2, 1, 3}, 5),
       1,
       {15, 3, 6, 12, 9, 1, 10, 7, 13, 4, 8, 11, 14, 2, 5},
       {5, 5, 5}},
      {"2,1,3 x5 ascending",
       Repeat({2, 1, 3}, 5),
       0,
       {5, 2, 14, 11, 8, 4, 13, 7, 10, 1, 9, 12, 6, 3, 15},
       {5, 5, 5}},
      {"single row", {4}, 0, {1}, {1}},
      {"+0 and -0 are equal", {0.0f, -0.0f, 0.0f}, 0, {1, 2, 3}, {3}},
  };
  for (const OrderCase& c : cases) {
    for (bool row_numbers : {false, true}) {
      CapturedReports reports;
      Call call = Call::FromKeys(c.keys);
      call.iordr = c.iordr;
      row_numbers ? call.RunOrder() : call.Run();
      const std::string label = std::string(c.label) + (row_numbers ? " (order form)" : "");
      EXPECT_EQ(call.Perm(), c.order) << label;
      EXPECT_EQ(call.Groups(), c.ngsize) << label;
      EXPECT_EQ(call.nnan, 0) << label;
      EXPECT_EQ(call.RowsOfX(), row_numbers ? Range(1, call.nrow) : c.order) << label;
      EXPECT_TRUE(reports.lines().empty()) << label;
    }
  }
}

TEST(SROWR, MissingRowsGoToTheEnd) {
  CapturedReports reports;
  Call call = Call::FromKeys({1, kNaN, 3, 2, kNaN, 3});
  call.iordr = 1;
  call.Run();
  EXPECT_EQ(call.RowsOfX(), (Ints{6, 3, 4, 1, 5, 2}));
  EXPECT_EQ(call.Perm(), (Ints{6, 3, 4, 1, 5, 2}));
  EXPECT_EQ(call.nnan, 2);
  EXPECT_EQ(call.ngrp, 3);
  EXPECT_EQ(call.Groups(), (Ints{2, 1, 1}));
  EXPECT_TRUE(std::isnan(call.At(5, 1)) && std::isnan(call.At(6, 1)));
}

TEST(SROWR, AllRowsMissingLeavesXAndCountsNoGroup) {
  for (std::int32_t iret : {0, 2}) {
    CapturedReports reports;
    Call call = Call::FromKeys({kNaN, kNaN, kNaN, kNaN});
    const std::vector<float> before = call.x;
    call.iret = iret;
    call.Run();
    EXPECT_EQ(call.nnan, 4) << iret;
    EXPECT_EQ(call.ngrp, 0) << iret;
    EXPECT_EQ(call.Perm(), Range(1, 4)) << iret;
    EXPECT_EQ(std::memcmp(call.x.data(), before.data(), before.size() * sizeof(float)), 0);
    EXPECT_EQ(call.ngsize[0], kUntouched) << iret;
  }
}

TEST(SROWR, ReturnOptionsDecideXAndGroups) {
  struct Case {
    std::int32_t iret;
    bool x_sorted;
    bool groups;
  } cases[] = {{0, true, true}, {1, false, true}, {2, true, false}, {3, false, false}};
  for (const Case& c : cases) {
    for (std::int32_t iordr : {0, 1}) {
      CapturedReports reports;
      Call call = Call::FromKeys({1, 2, 1, 2, 1});
      call.iret = c.iret;
      call.iordr = iordr;
      call.Run();
      const Ints order = iordr == 1 ? Ints{2, 4, 3, 5, 1} : Ints{1, 5, 3, 4, 2};
      EXPECT_EQ(call.Perm(), order) << c.iret << "/" << iordr;
      EXPECT_EQ(call.RowsOfX(), c.x_sorted ? order : Range(1, 5)) << c.iret << "/" << iordr;
      if (c.groups) {
        EXPECT_EQ(call.Groups(), iordr == 1 ? (Ints{2, 3}) : (Ints{3, 2})) << c.iret;
      } else {
        EXPECT_EQ(call.ngrp, kUntouched) << c.iret;
        EXPECT_EQ(call.ngsize[0], kUntouched) << c.iret;
      }
    }
  }
}

TEST(SROWR, AbsoluteValuesAndSeveralKeys) {
  {
    CapturedReports reports;
    Call call = Call::FromKeys({-3, 2, -1, 0, 1});
    call.icomp = 1;
    call.Run();
    // |keys| 3, 2, 1, 0, 1: the two 1s tie.
    EXPECT_EQ(call.Perm(), (Ints{4, 5, 3, 2, 1}));
    EXPECT_EQ(call.Groups(), (Ints{1, 2, 1, 1}));
  }
  {
    CapturedReports reports;
    // Second key first, then the first key breaks its ties.
    Call call = Call::FromRows({{1, 5}, {2, 3}, {0, 5}, {2, 1}, {1, 3}});
    call.indkey = {2, 1};
    call.Run();
    EXPECT_EQ(call.Perm(), (Ints{4, 5, 2, 3, 1}));
    EXPECT_EQ(call.Groups(), (Ints{1, 1, 1, 1, 1}));
    call = Call::FromRows({{1, 5}, {2, 3}, {0, 5}, {2, 1}, {1, 3}});
    call.indkey = {2, 1};
    call.iordr = 1;
    call.Run();
    EXPECT_EQ(call.Perm(), (Ints{1, 3, 2, 5, 4}));
  }
  {
    CapturedReports reports;
    // A NaN in the second key makes the row missing too.
    Call call = Call::FromRows({{1, kNaN}, {2, 3}, {0, 5}});
    call.indkey = {1, 2};
    call.Run();
    EXPECT_EQ(call.nnan, 1);
    EXPECT_EQ(call.Perm(), (Ints{3, 2, 1}));
  }
}

// ---- argument checks ----

std::vector<std::string> Report(std::int32_t code, const std::string& name, const std::string& text,
                                bool traceback_levels) {
  std::vector<std::string> lines = {""};
  for (std::string& l : MessageLines("TERMINAL", code, name, ".  " + text)) lines.push_back(l);
  if (traceback_levels) {
    for (std::string& l : TracebackLines({{"USER", 0, 0}, {"SROWR", 0, 0}, {"S2OWR", 5, code}})) {
      lines.push_back(l);
    }
  }
  return lines;
}

TEST(SROWR, KeyColumnZeroGivesTheKnownReportAndChangesNothing) {
  CapturedReports reports;
  Call call = Call::FromKeys({3, 1, 2});
  call.ncol = 100;
  call.x.assign(300, 1.5f);
  call.indkey = {0};
  const Call before = call;
  EXPECT_TRUE(EndsWithStop([&] { call.Run(); }));
  const std::vector<std::string> expected = {
      "",
      " *** TERMINAL ERROR 9 from S2OWR.  INDKEY(1) = 0 and NCOL = 100.  Column",
      " ***          numbers of X which are to be used in the sort, INDKEY(I), must ",
      " ***          be greater than 0 and less than or equal to NCOL.",
      "     Here is a traceback of subprogram calls in reverse order:",
      "     Routine name                    Error type  Error code",
      "     ------------                    ----------  ----------",
      "     S2OWR                                5           9    (Called internally)",
      "     SROWR                                0           0",
      "     USER                                 0           0"};
  EXPECT_EQ(reports.lines(), expected);
  EXPECT_EQ(call.x, before.x);
  EXPECT_EQ(call.iperm, before.iperm);
  EXPECT_EQ(call.ngsize, before.ngsize);
  EXPECT_EQ(call.ngrp, kUntouched);
  EXPECT_EQ(call.nnan, kUntouched);
}

struct CheckCase {
  const char* label;
  std::int32_t nrow, ncol, ldx, icomp, iordr, iret;
  Ints indkey;
  std::vector<std::vector<std::string>> reports;
};

std::vector<CheckCase> CheckCases() {
  return {
      {"rows and columns both reported, nothing after",
       0,
       -1,
       -5,
       9,
       9,
       9,
       {0},
       {Report(1, "SROWR", "NROW = 0.  The number of rows of X, NROW, must be greater than 0.",
               false),
        Report(2, "SROWR", "NCOL = -1.  The number of columns of X, NCOL, must be greater than 0.",
               false)}},
      {"columns alone",
       3,
       0,
       3,
       0,
       0,
       0,
       {1},
       {Report(2, "SROWR", "NCOL = 0.  The number of columns of X, NCOL, must be greater than 0.",
               false)}},
      {"every second-group check, no key check after",
       4,
       2,
       3,
       2,
       -1,
       4,
       {0, 0, 0},
       {Report(3, "S2OWR",
               "LDX = 3 and NROW = 4.  The leading dimension of X, LDX, must be greater than "
               "NROW.",
               true),
        Report(5, "S2OWR", "ICOMP = 2.  ICOMP must be either 0 or 1.", true),
        Report(6, "S2OWR", "IORDR = -1.  IORDR must be either 0 or 1.", true),
        Report(7, "S2OWR", "IRET = 4.  IRET must be 0, 1, 2, or 3.", true),
        Report(8, "S2OWR",
               "NKEY = 3 and NCOL = 2.  The number of keys, NKEY, must be greater than 0 and "
               "less than or equal to NCOL.",
               true)}},
      {"no keys",
       2,
       2,
       2,
       0,
       0,
       0,
       {},
       {Report(8, "S2OWR",
               "NKEY = 0 and NCOL = 2.  The number of keys, NKEY, must be greater than 0 and "
               "less than or equal to NCOL.",
               true)}},
      {"one report per bad key",
       2,
       3,
       2,
       0,
       1,
       0,
       {0, 2, 4},
       {Report(9, "S2OWR",
               "INDKEY(1) = 0 and NCOL = 3.  Column numbers of X which are to be used in the "
               "sort, INDKEY(I), must be greater than 0 and less than or equal to NCOL.",
               true),
        Report(9, "S2OWR",
               "INDKEY(3) = 4 and NCOL = 3.  Column numbers of X which are to be used in the "
               "sort, INDKEY(I), must be greater than 0 and less than or equal to NCOL.",
               true)}},
  };
}

TEST(SROWR, ArgumentChecksInTheirOrder) {
  for (const CheckCase& c : CheckCases()) {
    for (bool row_numbers : {false, true}) {
      CapturedReports reports;
      std::vector<float> x(64, 2.0f);
      Ints iperm(8, kUntouched);
      Ints ngsize(8, kUntouched);
      std::int32_t ngrp = kUntouched;
      std::int32_t nnan = kUntouched;
      bool columns_read = false;
      const std::int32_t nkey = static_cast<std::int32_t>(c.indkey.size());
      const Ints indkey = c.indkey.empty() ? Ints{1} : c.indkey;
      const std::string label = std::string(c.label) + (row_numbers ? " (order form)" : "");
      EXPECT_TRUE(EndsWithStop([&] {
        if (row_numbers) {
          SROWR_ORDER(
              c.nrow, c.ncol, c.ldx, c.icomp, c.iordr, c.iret, nkey, indkey.data(),
              [&](std::int32_t) -> const float* {
                columns_read = true;
                return x.data();
              },
              iperm.data(), ngrp, ngsize.data(), nnan);
        } else {
          SROWR(c.nrow, c.ncol, x.data(), c.ldx, c.icomp, c.iordr, c.iret, nkey, indkey.data(),
                iperm.data(), ngrp, ngsize.data(), nnan);
        }
      })) << label;
      std::vector<std::string> expected;
      for (const auto& r : c.reports) expected.insert(expected.end(), r.begin(), r.end());
      // Each later report's traceback shows the code then held.
      EXPECT_EQ(reports.lines(), expected) << label;
      EXPECT_EQ(x, std::vector<float>(64, 2.0f)) << label;
      EXPECT_EQ(iperm, Ints(8, kUntouched)) << label;
      EXPECT_EQ(ngsize, Ints(8, kUntouched)) << label;
      EXPECT_EQ(ngrp, kUntouched) << label;
      EXPECT_EQ(nnan, kUntouched) << label;
      EXPECT_FALSE(columns_read) << label;
    }
  }
}

TEST(SROWR, StorageFailureIsCodeFour) {
  CapturedReports reports;
  detail::SetWorkspaceLimitForTesting(64);
  Call call = Call::FromKeys({3, 1, 2, 5, 4});
  call.ldx = 0;  // the storage comes before the leading-dimension check
  const Call before = call;
  const bool stopped = EndsWithStop([&] { call.Run(); });
  detail::SetWorkspaceLimitForTesting(0);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(reports.lines(),
            Report(4, "SROWR",
                   "The required storage cannot be allocated.  The workspace requirement is "
                   "based on NROW = 5 and NCOL = 2.",
                   false));
  EXPECT_EQ(call.iperm, before.iperm);
  EXPECT_EQ(call.x, before.x);
}

TEST(RowSortWorkspace, SizesFollowTheDocumentedFormulas) {
  using detail::RowSortWorkspace;
  EXPECT_EQ(RowSortWorkspace::RealCount(500000), 1000000u);
  EXPECT_EQ(RowSortWorkspace::IntegerCount(500000), 500039u);
  EXPECT_EQ(RowSortWorkspace::StackCapacity(500000), 19u);
  // Room for the floor(log2 n) pending segments at every size.
  for (std::size_t d = 2; d < (std::size_t{1} << 31); d = d * 3 / 2 + 1) {
    EXPECT_GE(RowSortWorkspace::StackCapacity(d), static_cast<std::size_t>(std::log2(d))) << d;
    EXPECT_LE(2 * RowSortWorkspace::StackCapacity(d), RowSortWorkspace::IntegerCount(d) - d) << d;
  }
}

}  // namespace
}  // namespace korvelan::numeric
