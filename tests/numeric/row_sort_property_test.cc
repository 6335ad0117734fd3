// The production sort against the whole-row oracle on random matrices: ties,
// missing rows, several keys, both orders, every return option, both
// comparison modes, padding rows beyond NROW.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numeric/row_sort.h"
#include "tests/numeric/report_capture.h"
#include "tests/numeric/row_sort_oracle.h"

namespace korvelan::numeric {
namespace {

using Ints = std::vector<std::int32_t>;
constexpr std::int32_t kUntouched = -777;
constexpr float kPadding = 12345.0f;

struct Problem {
  std::int32_t nrow, ncol, ldx, icomp, iordr, iret;
  Ints indkey;
  std::vector<float> x;

  std::string Describe() const {
    std::ostringstream s;
    s << "nrow " << nrow << " ncol " << ncol << " ldx " << ldx << " icomp " << icomp << " iordr "
      << iordr << " iret " << iret << " keys";
    for (std::int32_t k : indkey) s << " " << k;
    return s.str();
  }
  float Key(std::int32_t r, std::int32_t c) const {
    return x[static_cast<std::size_t>((c - 1) * ldx + (r - 1))];
  }
};

Problem RandomProblem(std::mt19937& gen, std::int32_t max_rows) {
  auto pick = [&gen](std::int32_t lo, std::int32_t hi) {
    return std::uniform_int_distribution<std::int32_t>(lo, hi)(gen);
  };
  Problem p;
  // Short inputs stay in the insertion range, longer ones partition.
  p.nrow = pick(0, 3) == 0 ? pick(1, 13) : pick(1, max_rows);
  p.ncol = pick(1, 5);
  p.ldx = p.nrow + pick(0, 2);
  p.icomp = pick(0, 1);
  p.iordr = pick(0, 1);
  p.iret = pick(0, 3);
  const std::int32_t nkey = pick(1, std::min(p.ncol, 3));
  for (std::int32_t k = 0; k < nkey; ++k) p.indkey.push_back(pick(1, p.ncol));
  // Few distinct values make ties common; signed zeros and opposite signs
  // tie under absolute comparison.
  const float values[] = {-2.0f, -1.0f, -0.0f, 0.0f, 1.0f, 2.0f, 3.0f, 0.5f};
  const std::int32_t distinct = pick(1, 8);
  const double missing_share = std::array<double, 4>{0.0, 0.05, 0.3, 1.0}[pick(0, 3)];
  std::bernoulli_distribution missing(missing_share);
  p.x.assign(static_cast<std::size_t>(p.ldx * p.ncol), kPadding);
  for (std::int32_t c = 1; c <= p.ncol; ++c) {
    for (std::int32_t r = 1; r <= p.nrow; ++r) {
      float v = values[pick(0, distinct - 1)];
      if (missing(gen) && pick(0, 1) == 0) v = std::numeric_limits<float>::quiet_NaN();
      // A second column value tells otherwise equal rows apart in X.
      if (pick(0, 4) == 0) v = static_cast<float>(r) * 0.25f;
      p.x[static_cast<std::size_t>((c - 1) * p.ldx + (r - 1))] = v;
    }
  }
  return p;
}

struct Outputs {
  Ints iperm;
  std::int32_t ngrp = kUntouched;
  Ints ngsize;
  std::int32_t nnan = kUntouched;
};

Outputs Prepared(std::int32_t nrow) {
  Outputs o;
  o.iperm.assign(static_cast<std::size_t>(nrow), kUntouched);
  o.ngsize.assign(static_cast<std::size_t>(nrow), kUntouched);
  return o;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

void CheckAgainstOracle(const Problem& p) {
  SCOPED_TRACE(p.Describe());
  std::vector<float> oracle_x = p.x;
  const oracle::RowSortResult want =
      oracle::WholeRowSort(p.nrow, p.ncol, oracle_x, p.ldx, p.icomp, p.iordr, p.iret, p.indkey);

  std::vector<float> x = p.x;
  Outputs got = Prepared(p.nrow);
  const std::int32_t nkey = static_cast<std::int32_t>(p.indkey.size());
  SROWR(p.nrow, p.ncol, x.data(), p.ldx, p.icomp, p.iordr, p.iret, nkey, p.indkey.data(),
        got.iperm.data(), got.ngrp, got.ngsize.data(), got.nnan);
  ASSERT_TRUE(SameBits(x, oracle_x)) << "X differs";
  ASSERT_EQ(got.iperm, want.iperm);
  ASSERT_EQ(got.nnan, want.nnan);
  ASSERT_EQ(got.ngrp, want.ngrp < 0 ? kUntouched : want.ngrp);
  for (std::size_t g = 0; g < want.ngsize.size(); ++g)
    ASSERT_EQ(got.ngsize[g], want.ngsize[g]) << g;
  for (std::size_t g = want.ngsize.size(); g < got.ngsize.size(); ++g) {
    ASSERT_EQ(got.ngsize[g], kUntouched) << g;
  }

  Outputs order = Prepared(p.nrow);
  SROWR_ORDER(
      p.nrow, p.ncol, p.ldx, p.icomp, p.iordr, p.iret, nkey, p.indkey.data(),
      [&p](std::int32_t c) { return p.x.data() + static_cast<std::size_t>((c - 1) * p.ldx); },
      order.iperm.data(), order.ngrp, order.ngsize.data(), order.nnan);
  ASSERT_EQ(order.iperm, got.iperm) << "row-number form";
  ASSERT_EQ(order.ngrp, got.ngrp);
  ASSERT_EQ(order.ngsize, got.ngsize);
  ASSERT_EQ(order.nnan, got.nnan);

  // The key columns come out ordered, missing rows last.
  const std::int32_t n = p.nrow - got.nnan;
  auto key = [&](std::int32_t pos, std::int32_t k) {
    const float v =
        p.Key(got.iperm[static_cast<std::size_t>(pos - 1)], p.indkey[static_cast<std::size_t>(k)]);
    return p.icomp == 1 ? std::fabs(v) : v;
  };
  for (std::int32_t pos = 1; pos < n; ++pos) {
    int c = 0;
    for (std::size_t k = 0; k < p.indkey.size() && c == 0; ++k) {
      const float a = key(pos, static_cast<std::int32_t>(k));
      const float b = key(pos + 1, static_cast<std::int32_t>(k));
      c = a < b ? -1 : (a > b ? 1 : 0);
    }
    ASSERT_NE(c, p.iordr == 0 ? 1 : -1) << "rows " << pos << " and " << pos + 1;
  }
  for (std::int32_t pos = n + 1; pos <= p.nrow; ++pos) {
    bool missing = false;
    for (std::size_t k = 0; k < p.indkey.size(); ++k) {
      missing = missing || std::isnan(key(pos, static_cast<std::int32_t>(k)));
    }
    ASSERT_TRUE(missing) << pos;
  }
}

TEST(RowSortProperty, AgreesWithTheWholeRowOracle) {
  testing::CapturedReports reports;
  std::mt19937 gen(20261208);
  for (int trial = 0; trial < 3000; ++trial) {
    SCOPED_TRACE(trial);
    CheckAgainstOracle(RandomProblem(gen, 120));
    if (HasFatalFailure()) return;
  }
  EXPECT_TRUE(reports.lines().empty());
}

TEST(RowSortProperty, AgreesOnLongInputs) {
  testing::CapturedReports reports;
  std::mt19937 gen(5);
  for (int trial = 0; trial < 12; ++trial) {
    SCOPED_TRACE(trial);
    CheckAgainstOracle(RandomProblem(gen, 6000));
    if (HasFatalFailure()) return;
  }
}

// Sorted and reverse-sorted keys, and keys with one outlier: the shapes in
// which a pivot choice goes wrong first. Then long runs of equal keys, as
// the class sort has them (a few classes, then zeros up to the end), where
// runs of equal rows are passed over.
TEST(RowSortProperty, AgreesOnOrderedShapes) {
  testing::CapturedReports reports;
  for (std::int32_t nrow : {12, 13, 50, 777, 5003}) {
    for (int shape = 0; shape < 5; ++shape) {
      for (std::int32_t iordr : {0, 1}) {
        Problem p{nrow, 1, nrow, 0, iordr, 0, {1}, {}};
        for (std::int32_t r = 1; r <= nrow; ++r) {
          float v = static_cast<float>(r);
          if (shape == 1) v = static_cast<float>(nrow - r);
          if (shape == 2) v = r == nrow / 2 ? -1.0f : 5.0f;
          if (shape == 3) v = static_cast<float>(r % 3);
          if (shape == 4) v = r <= nrow / 16 ? static_cast<float>(1 + r % 5) : 0.0f;
          p.x.push_back(v);
        }
        CheckAgainstOracle(p);
        if (HasFatalFailure()) return;
      }
    }
  }
}

}  // namespace
}  // namespace korvelan::numeric
