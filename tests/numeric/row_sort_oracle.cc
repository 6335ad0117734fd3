// ORACLE: see row_sort_oracle.h. Written as a literal transcription of the
// sort's steps (the labels are the step numbers), independent of the
// production core.
#include "tests/numeric/row_sort_oracle.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

namespace korvelan::numeric::oracle {
namespace {

class Matrix {
 public:
  Matrix(std::vector<float>& x, std::int32_t nrow, std::int32_t ncol, std::int32_t ldx)
      : x_(x), nrow_(nrow), ncol_(ncol), ldx_(ldx) {}

  float& At(std::int32_t r, std::int32_t c) {
    return x_[static_cast<std::size_t>(c - 1) * static_cast<std::size_t>(ldx_) +
              static_cast<std::size_t>(r - 1)];
  }
  std::vector<float> Row(std::int32_t r) {
    std::vector<float> v(static_cast<std::size_t>(ncol_));
    for (std::int32_t c = 1; c <= ncol_; ++c) v[static_cast<std::size_t>(c - 1)] = At(r, c);
    return v;
  }
  void SetRow(std::int32_t r, const std::vector<float>& v) {
    for (std::int32_t c = 1; c <= ncol_; ++c) At(r, c) = v[static_cast<std::size_t>(c - 1)];
  }
  void CopyRow(std::int32_t from, std::int32_t to) { SetRow(to, Row(from)); }
  void SwapRows(std::int32_t a, std::int32_t b) {
    std::vector<float> t = Row(a);
    CopyRow(b, a);
    SetRow(b, t);
  }
  std::int32_t nrow() const { return nrow_; }

 private:
  std::vector<float>& x_;
  std::int32_t nrow_;
  std::int32_t ncol_;
  std::int32_t ldx_;
};

// compare(a, b) over the key columns, for rows of X and the pivot copy.
struct Keys {
  const std::vector<std::int32_t>& indkey;
  bool absolute;

  template <class A, class B>
  int Compare(A a, B b) const {
    for (std::int32_t k : indkey) {
      float va = a(k);
      float vb = b(k);
      if (absolute) {
        va = std::fabs(va);
        vb = std::fabs(vb);
      }
      if (va == vb) continue;
      return va < vb ? -1 : +1;
    }
    return 0;
  }
  template <class A>
  bool Missing(A a) const {
    for (std::int32_t k : indkey) {
      if (std::isnan(a(k))) return true;
    }
    return false;
  }
};

auto RowOf(Matrix& m, std::int32_t r) {
  return [&m, r](std::int32_t c) { return m.At(r, c); };
}
auto Copied(const std::vector<float>& t) {
  return [&t](std::int32_t c) { return t[static_cast<std::size_t>(c - 1)]; };
}

std::int32_t& Ip(std::vector<std::int32_t>& iperm, std::int32_t i) {
  return iperm[static_cast<std::size_t>(i - 1)];
}

std::int32_t StepOne(Matrix& m, const Keys& keys, std::vector<std::int32_t>& iperm) {
  const std::int32_t nrow = m.nrow();
  std::fill(iperm.begin(), iperm.end(), 0);
  std::int32_t nnan = 0;
  std::int32_t i = 1;
  std::int32_t b = nrow;
  while (true) {
    if (keys.Missing(RowOf(m, i))) {
      ++nnan;
      if (b - i <= 0) break;
      std::int32_t count = b - i;
      bool done = false;
      while (keys.Missing(RowOf(m, b))) {
        ++nnan;
        --b;
        --count;
        if (count == 0) {
          done = true;
          break;
        }
      }
      if (done) break;
      m.SwapRows(i, b);
      Ip(iperm, i) = b;
      --b;
    }
    if (i >= b) break;
    ++i;
  }
  for (std::int32_t p = 1; p <= nrow; ++p) {
    if (Ip(iperm, p) == 0) {
      Ip(iperm, p) = p;
    } else if (Ip(iperm, p) > p) {
      Ip(iperm, Ip(iperm, p)) = p;
    }
  }
  return nnan;
}

void StepTwo(Matrix& m, const Keys& keys, std::vector<std::int32_t>& iperm, std::int32_t n) {
  std::vector<std::pair<std::int32_t, std::int32_t>> stack;
  std::int32_t i = 1;
  std::int32_t j = n;
  std::int32_t k = 0;
  std::int32_t l = 0;
  std::int32_t ij = 0;
  std::int32_t p = 0;
  float r = 0.375f;
  std::vector<float> t;
  auto cmp_rows = [&](std::int32_t a, std::int32_t b) {
    return keys.Compare(RowOf(m, a), RowOf(m, b));
  };
  auto cmp_row_t = [&](std::int32_t a) { return keys.Compare(RowOf(m, a), Copied(t)); };

step1:
  if (i == j) goto step10;
  if (r <= 0.5898437f) {
    r = r + 0.0390625f;
  } else {
    r = r - 0.21875f;
  }
step2:
  k = i;
  ij = i + static_cast<std::int32_t>(static_cast<double>(j - i) * static_cast<double>(r));
  t = m.Row(ij);
  p = Ip(iperm, ij);
  // step 3
  if (cmp_row_t(i) == +1) {
    m.CopyRow(i, ij);
    m.SetRow(i, t);
    t = m.Row(ij);
    Ip(iperm, ij) = Ip(iperm, i);
    Ip(iperm, i) = p;
    p = Ip(iperm, ij);
  }
  // step 4
  l = j;
  if (cmp_row_t(j) == -1) {
    m.CopyRow(j, ij);
    m.SetRow(j, t);
    t = m.Row(ij);
    Ip(iperm, ij) = Ip(iperm, j);
    Ip(iperm, j) = p;
    p = Ip(iperm, ij);
    if (cmp_row_t(i) == +1) {
      m.CopyRow(i, ij);
      m.SetRow(i, t);
      t = m.Row(ij);
      Ip(iperm, ij) = Ip(iperm, i);
      Ip(iperm, i) = p;
    }
  }
step5:
  --l;
  while (cmp_row_t(l) == +1) --l;
  // step 6
  ++k;
  while (cmp_row_t(k) == -1) ++k;
  // step 7
  if (k <= l) {
    if (cmp_rows(l, k) != 0) {
      m.SwapRows(l, k);
      std::swap(Ip(iperm, l), Ip(iperm, k));
    }
    goto step5;
  }
  // step 8
  if (l - i > j - k) {
    stack.emplace_back(i, l);
    i = k;
  } else {
    stack.emplace_back(k, j);
    j = l;
  }
step9:
  if (j - i >= 11) goto step2;
  if (i == 1) goto step1;
  goto step11;
step10:
  if (stack.empty()) return;
  i = stack.back().first;
  j = stack.back().second;
  stack.pop_back();
  goto step9;
step11:
  i = i - 1;
  while (true) {
    i = i + 1;
    if (i == j) goto step10;
    t = m.Row(i + 1);
    p = Ip(iperm, i + 1);
    if (cmp_row_t(i) <= 0) continue;
    k = i;
    do {
      m.CopyRow(k, k + 1);
      Ip(iperm, k + 1) = Ip(iperm, k);
      k = k - 1;
    } while (keys.Compare(Copied(t), RowOf(m, k)) == -1);
    m.SetRow(k + 1, t);
    Ip(iperm, k + 1) = p;
  }
}

}  // namespace

RowSortResult WholeRowSort(std::int32_t nrow, std::int32_t ncol, std::vector<float>& x,
                           std::int32_t ldx, std::int32_t icomp, std::int32_t iordr,
                           std::int32_t iret, const std::vector<std::int32_t>& indkey) {
  Matrix m(x, nrow, ncol, ldx);
  const Keys keys{indkey, icomp == 1};
  RowSortResult out;
  out.iperm.assign(static_cast<std::size_t>(nrow), 0);
  out.nnan = StepOne(m, keys, out.iperm);
  const std::int32_t n = nrow - out.nnan;
  if (n == 0) {
    out.ngrp = 0;
    return out;
  }
  StepTwo(m, keys, out.iperm, n);

  if (iret <= 1) {
    out.ngrp = 1;
    out.ngsize.push_back(1);
    for (std::int32_t i = 2; i <= n; ++i) {
      if (keys.Compare(RowOf(m, i - 1), RowOf(m, i)) == 0) {
        ++out.ngsize.back();
      } else {
        out.ngsize.push_back(1);
        ++out.ngrp;
      }
    }
  }
  // X's rows still match the ascending permutation here.
  const std::vector<std::int32_t> ascending = out.iperm;
  if (iordr == 1) {
    std::reverse(out.iperm.begin(), out.iperm.begin() + n);
    std::reverse(out.ngsize.begin(), out.ngsize.end());
    if (iret == 0 || iret == 2) {
      for (std::int32_t r = 1; r <= n / 2; ++r) m.SwapRows(r, n + 1 - r);
    }
  }
  if (iret == 1 || iret == 3) {
    // Put every row back where it came from.
    std::vector<float> copy = x;
    Matrix from(copy, nrow, ncol, ldx);
    for (std::int32_t pos = 1; pos <= nrow; ++pos) {
      m.SetRow(ascending[static_cast<std::size_t>(pos - 1)], from.Row(pos));
    }
  }
  return out;
}

}  // namespace korvelan::numeric::oracle
