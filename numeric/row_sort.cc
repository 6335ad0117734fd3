#include "numeric/row_sort.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

#include "numeric/error_services.h"
#include "numeric/row_sort_core.h"
#include "numeric/row_sort_workspace.h"

namespace korvelan::numeric {
namespace {

using detail::RowSortWorkspace;

struct Arguments {
  std::int32_t nrow;
  std::int32_t ncol;
  std::int32_t ldx;
  std::int32_t icomp;
  std::int32_t iordr;
  std::int32_t iret;
  std::int32_t nkey;
  const std::int32_t* indkey;
};

struct Outputs {
  std::int32_t* iperm;
  std::int32_t& ngrp;
  std::int32_t* ngsize;
  std::int32_t& nnan;
};

// Rows by their permutation entries, with the first key of every position
// cached beside it so that most comparisons touch neither X nor the key
// columns. A row's cached key and its row number always move together.
template <bool kSingleKey>
class KeyedRows {
 public:
  struct Pivot {
    float key;
    std::int32_t row;
  };

  KeyedRows(float* key, std::int32_t* row, const std::vector<const float*>& columns, bool absolute)
      : key_(key), row_(row), columns_(columns), absolute_(absolute) {}

  int Compare(std::int32_t p, std::int32_t q) const {
    return Rows(key_[p - 1], row_[p - 1], key_[q - 1], row_[q - 1]);
  }
  int CompareToPivot(std::int32_t p, const Pivot& t) const {
    return Rows(key_[p - 1], row_[p - 1], t.key, t.row);
  }
  int PivotCompare(const Pivot& t, std::int32_t p) const {
    return Rows(t.key, t.row, key_[p - 1], row_[p - 1]);
  }
  Pivot Load(std::int32_t p) const { return {key_[p - 1], row_[p - 1]}; }
  void Put(std::int32_t p, const Pivot& t) {
    key_[p - 1] = t.key;
    row_[p - 1] = t.row;
  }
  void Copy(std::int32_t from, std::int32_t to) {
    key_[to - 1] = key_[from - 1];
    row_[to - 1] = row_[from - 1];
  }
  void Swap(std::int32_t p, std::int32_t q) {
    std::swap(key_[p - 1], key_[q - 1]);
    std::swap(row_[p - 1], row_[q - 1]);
  }

 private:
  // Exact comparisons of the stored floats; +0 and -0 are equal, and no
  // NaN gets here (missing rows were set aside before the sort).
  int Rows(float ka, std::int32_t ra, float kb, std::int32_t rb) const {
    if (ka < kb) return -1;
    if (ka > kb) return +1;
    if constexpr (!kSingleKey) {
      for (std::size_t k = 1; k < columns_.size(); ++k) {
        const float a = Value(columns_[k][ra - 1]);
        const float b = Value(columns_[k][rb - 1]);
        if (a < b) return -1;
        if (a > b) return +1;
      }
    } else {
      (void)ra;
      (void)rb;
    }
    return 0;
  }
  float Value(float v) const { return absolute_ ? std::fabs(v) : v; }

  float* key_;
  std::int32_t* row_;
  const std::vector<const float*>& columns_;
  bool absolute_;
};

bool MissingRow(const std::vector<const float*>& columns, std::int32_t row) {
  for (const float* column : columns) {
    if (std::isnan(column[row - 1])) return true;
  }
  return false;
}

// Moves the missing rows behind the others with two cursors and returns
// their number. `perm` (1 .. nrow) ends as the permutation of that move.
// A position is always examined before anything is moved into it, so the
// rows looked at are still the input rows.
std::int32_t SetAsideMissing(const std::vector<const float*>& columns, std::int32_t nrow,
                             std::int32_t* perm) {
  std::fill(perm, perm + nrow, 0);
  std::int32_t nnan = 0;
  std::int32_t i = 1;
  std::int32_t b = nrow;
  while (true) {
    if (MissingRow(columns, i)) {
      ++nnan;
      if (b - i <= 0) break;
      std::int32_t remaining = b - i;
      bool exhausted = false;
      while (MissingRow(columns, b)) {
        ++nnan;
        --b;
        if (--remaining == 0) {
          exhausted = true;
          break;
        }
      }
      if (exhausted) break;
      perm[i - 1] = b;
      --b;
    }
    if (i >= b) break;
    ++i;
  }
  // Every exchange recorded "row b is now at i"; the row that was at i is
  // now at b.
  for (std::int32_t p = 1; p <= nrow; ++p) {
    if (perm[p - 1] == 0) {
      perm[p - 1] = p;
    } else if (perm[p - 1] > p) {
      perm[perm[p - 1] - 1] = p;
    }
  }
  return nnan;
}

template <bool kSingleKey>
std::int32_t SortAndGroup(const Arguments& a, const std::vector<const float*>& columns,
                          RowSortWorkspace& ws, std::int32_t n, std::int32_t* ngsize) {
  float* key = ws.key_cache();
  std::int32_t* rows = ws.rows();
  const bool absolute = a.icomp == 1;
  for (std::int32_t p = 0; p < n; ++p) {
    const float v = columns[0][rows[p] - 1];
    key[p] = absolute ? std::fabs(v) : v;
  }
  KeyedRows<kSingleKey> store(key, rows, columns, absolute);
  detail::QuickSortRows(
      store, n, detail::SegmentStack{ws.lower_stack(), ws.upper_stack(), ws.stack_capacity()});
  if (a.iret > 1) return 0;
  std::int32_t groups = 1;
  ngsize[0] = 1;
  for (std::int32_t p = 1; p < n; ++p) {
    if (store.Compare(p, p + 1) == 0) {
      ++ngsize[groups - 1];
    } else {
      ngsize[groups++] = 1;
    }
  }
  return groups;
}

// Rearranges the rows of X once, column by column: new row p is input row
// iperm(p). The same X that moving whole rows at every step gives.
void MoveRows(const Arguments& a, float* x, const std::int32_t* iperm, float* scratch) {
  bool identity = true;
  for (std::int32_t p = 0; p < a.nrow && identity; ++p) identity = iperm[p] == p + 1;
  if (identity) return;
  const std::size_t nrow = static_cast<std::size_t>(a.nrow);
  for (std::int32_t c = 0; c < a.ncol; ++c) {
    float* column = x + static_cast<std::size_t>(c) * static_cast<std::size_t>(a.ldx);
    for (std::size_t p = 0; p < nrow; ++p) scratch[p] = column[iperm[p] - 1];
    std::copy(scratch, scratch + nrow, column);
  }
}

void Sort(const Arguments& a, const KeyColumnSource& key_column, RowSortWorkspace& ws, Outputs out,
          float* x) {
  std::vector<const float*> columns;
  columns.reserve(static_cast<std::size_t>(a.nkey));
  for (std::int32_t k = 0; k < a.nkey; ++k) columns.push_back(key_column(a.indkey[k]));

  std::int32_t* rows = ws.rows();
  const std::int32_t nnan = SetAsideMissing(columns, a.nrow, rows);
  const std::int32_t n = a.nrow - nnan;
  out.nnan = nnan;
  if (n == 0) {
    std::copy(rows, rows + a.nrow, out.iperm);
    out.ngrp = 0;
    return;
  }
  const std::int32_t groups = a.nkey == 1 ? SortAndGroup<true>(a, columns, ws, n, out.ngsize)
                                          : SortAndGroup<false>(a, columns, ws, n, out.ngsize);
  if (a.iret <= 1) out.ngrp = groups;
  if (a.iordr == 1) {
    std::reverse(rows, rows + n);
    if (a.iret <= 1) std::reverse(out.ngsize, out.ngsize + groups);
  }
  std::copy(rows, rows + a.nrow, out.iperm);
  // IRET 1 and 3 return X in its input order, which is where it still is.
  if (x != nullptr && (a.iret == 0 || a.iret == 2)) MoveRows(a, x, out.iperm, ws.scratch_column());
}

// The working part, which receives the storage: every other argument check,
// then the sort.
void S2OWR(const Arguments& a, const KeyColumnSource& key_column, RowSortWorkspace& ws, Outputs out,
           float* x) {
  E1PSH("S2OWR");
  if (a.ldx < a.nrow) {
    E1STI(1, a.ldx);
    E1STI(2, a.nrow);
    E1MES(5, 3,
          "LDX = %(I1) and NROW = %(I2).  The leading dimension of X, LDX, must be "
          "greater than NROW.");
  }
  if (a.icomp != 0 && a.icomp != 1) {
    E1STI(1, a.icomp);
    E1MES(5, 5, "ICOMP = %(I1).  ICOMP must be either 0 or 1.");
  }
  if (a.iordr != 0 && a.iordr != 1) {
    E1STI(1, a.iordr);
    E1MES(5, 6, "IORDR = %(I1).  IORDR must be either 0 or 1.");
  }
  if (a.iret < 0 || a.iret > 3) {
    E1STI(1, a.iret);
    E1MES(5, 7, "IRET = %(I1).  IRET must be 0, 1, 2, or 3.");
  }
  if (a.nkey < 1 || a.nkey > a.ncol) {
    E1STI(1, a.nkey);
    E1STI(2, a.ncol);
    E1MES(5, 8,
          "NKEY = %(I1) and NCOL = %(I2).  The number of keys, NKEY, must be greater "
          "than 0 and less than or equal to NCOL.");
  }
  if (N1RCD(0) != 0) {
    E1POP("S2OWR");
    return;
  }
  for (std::int32_t k = 1; k <= a.nkey; ++k) {
    const std::int32_t column = a.indkey[k - 1];
    if (column < 1 || column > a.ncol) {
      E1STI(1, k);
      E1STI(2, column);
      E1STI(3, a.ncol);
      E1MES(5, 9,
            "INDKEY(%(I1)) = %(I2) and NCOL = %(I3).  Column numbers of X which are to "
            "be used in the sort, INDKEY(I), must be greater than 0 and less than or "
            "equal to NCOL.");
    }
  }
  if (N1RCD(0) != 0) {
    E1POP("S2OWR");
    return;
  }
  Sort(a, key_column, ws, out, x);
  E1POP("S2OWR");
}

// The entry both forms share: the checks of the row and column counts, the
// working storage, then the working part. Nothing is written before every
// check has passed.
void RowSort(const Arguments& a, const KeyColumnSource& key_column, Outputs out, float* x) {
  E1PSH("SROWR");
  if (a.nrow < 1) {
    E1STI(1, a.nrow);
    E1MES(5, 1, "NROW = %(I1).  The number of rows of X, NROW, must be greater than 0.");
  }
  if (a.ncol < 1) {
    E1STI(1, a.ncol);
    E1MES(5, 2, "NCOL = %(I1).  The number of columns of X, NCOL, must be greater than 0.");
  }
  if (N1RCD(0) != 0) {
    E1POP("SROWR");
    return;
  }
  RowSortWorkspace ws;
  if (!ws.Obtain(a.nrow, a.ncol)) {
    E1STI(1, a.nrow);
    E1STI(2, a.ncol);
    E1MES(5, 4,
          "The required storage cannot be allocated.  The workspace requirement is based "
          "on NROW = %(I1) and NCOL = %(I2).");
    E1POP("SROWR");
    return;
  }
  S2OWR(a, key_column, ws, out, x);
  E1POP("SROWR");
}

}  // namespace

void SROWR(std::int32_t nrow, std::int32_t ncol, float* x, std::int32_t ldx, std::int32_t icomp,
           std::int32_t iordr, std::int32_t iret, std::int32_t nkey, const std::int32_t* indkey,
           std::int32_t* iperm, std::int32_t& ngrp, std::int32_t* ngsize, std::int32_t& nnan) {
  const Arguments a{nrow, ncol, ldx, icomp, iordr, iret, nkey, indkey};
  const KeyColumnSource columns_of_x = [x, ldx](std::int32_t column) -> const float* {
    return x + static_cast<std::size_t>(column - 1) * static_cast<std::size_t>(ldx);
  };
  RowSort(a, columns_of_x, Outputs{iperm, ngrp, ngsize, nnan}, x);
}

void ROW_ORDER(std::int32_t nrow, std::int32_t ncol, std::int32_t icomp, std::int32_t iordr,
               std::int32_t iret, std::int32_t nkey, const std::int32_t* indkey,
               const KeyColumnSource& key_column, std::int32_t* iperm, std::int32_t& ngrp,
               std::int32_t* ngsize, std::int32_t& nnan) {
  const Arguments a{nrow, ncol, nrow, icomp, iordr, iret, nkey, indkey};
  RowSortWorkspace ws;
  if (!ws.Obtain(a.nrow, a.ncol)) throw std::bad_alloc();
  Sort(a, key_column, ws, Outputs{iperm, ngrp, ngsize, nnan}, nullptr);
}

void SROWR_ORDER(std::int32_t nrow, std::int32_t ncol, std::int32_t ldx, std::int32_t icomp,
                 std::int32_t iordr, std::int32_t iret, std::int32_t nkey,
                 const std::int32_t* indkey, const KeyColumnSource& key_column, std::int32_t* iperm,
                 std::int32_t& ngrp, std::int32_t* ngsize, std::int32_t& nnan) {
  const Arguments a{nrow, ncol, ldx, icomp, iordr, iret, nkey, indkey};
  RowSort(a, key_column, Outputs{iperm, ngrp, ngsize, nnan}, nullptr);
}

}  // namespace korvelan::numeric
