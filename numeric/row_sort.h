// SROWR: sorts the rows of a single-precision matrix (column by column,
// 1-based, leading dimension LDX) by one or more key columns.
//
// The result, ties included, is exactly that of the row-wise quicksort with
// its fixed fraction R, the two-cursor step that moves missing (NaN-key)
// rows to the end, the push of the larger segment and the guarded insertion
// pass for short segments. The sort is not stable: equal keys end in the
// order that sequence of comparisons and moves leaves them in.
//
// Rows are compared on INDKEY(1), then INDKEY(2), ... (absolute values with
// ICOMP = 1): the first key that differs decides; +0 and -0 are equal. A row
// with a NaN in any key column is missing: it takes no part in the sort and
// ends behind the others, in the order the two-cursor step leaves it.
//
// Argument checks, in this order, each a terminal report through the error
// services (I1, I2, I3 as listed), then a stop:
//   "SROWR": 1 NROW < 1; 2 NCOL < 1 (both reported; stop if either);
//            4 the working storage cannot be obtained (NROW, NCOL);
//   "S2OWR": 3 LDX < NROW; 5 ICOMP not 0/1; 6 IORDR not 0/1; 7 IRET not
//            0 .. 3; 8 NKEY < 1 or > NCOL (all reported; stop if any);
//            9 INDKEY(k) < 1 or > NCOL, one report per bad k (k, INDKEY(k),
//            NCOL); stop if any.
// A call that stops at a check changes nothing: X, IPERM, NGRP, NGSIZE and
// NNAN keep what they held. The working storage (2 max(NROW, NCOL) floats
// and a little over max(NROW, NCOL) integers) is released on every path.
#ifndef KORVELAN_NUMERIC_ROW_SORT_H_
#define KORVELAN_NUMERIC_ROW_SORT_H_

#include <cstdint>
#include <functional>

namespace korvelan::numeric {

// NROW rows, NCOL columns of X (LDX >= NROW); ICOMP 0 by value, 1 by
// absolute value; IORDR 0 ascending, 1 descending; IRET 0 sorted X and
// groups, 1 X in input order and groups, 2 sorted X, 3 X in input order;
// NKEY keys INDKEY(1 .. NKEY).
// Outputs: IPERM(1 .. NROW) the input row number of each sorted position
// (missing rows last); NNAN the number of missing rows; for IRET 0 or 1,
// NGRP and NGSIZE(1 .. NGRP) the groups of equal keys among the non-missing
// rows in sorted order (NGSIZE needs room for NROW entries; NGRP is left
// alone for IRET 2 or 3, except that it is set to 0 when every row is
// missing, whatever IRET). IORDR = 1 reverses the sorted order of the
// non-missing rows (and NGSIZE); the missing rows stay at the end.
// Arrays are passed as pointers to their first element (element 1).
void SROWR(std::int32_t nrow, std::int32_t ncol, float* x, std::int32_t ldx, std::int32_t icomp,
           std::int32_t iordr, std::int32_t iret, std::int32_t nkey, const std::int32_t* indkey,
           std::int32_t* iperm, std::int32_t& ngrp, std::int32_t* ngsize, std::int32_t& nnan);

// Column c of X (c in INDKEY) as NROW floats, element 1 first.
using KeyColumnSource = std::function<const float*(std::int32_t column)>;

// The row-number form: the same checks (with the same reports, routine
// names "SROWR" and "S2OWR"), the same comparisons and the same moves
// applied to a vector of row numbers, so that IPERM, NGRP, NGSIZE and NNAN
// come out exactly as SROWR's, without moving any row of X. X is seen only
// through key_column(c), called once per key after the checks pass (every
// pointer it returns must stay valid until the call returns); IRET
// only decides whether NGRP/NGSIZE are produced. The caller moves its rows
// once, by IPERM: new row p = input row IPERM(p) (for IRET 0 or 2).
// Time O(NROW log NROW) comparisons; 500000 rows on one key take a few tens
// of milliseconds.
void SROWR_ORDER(std::int32_t nrow, std::int32_t ncol, std::int32_t ldx, std::int32_t icomp,
                 std::int32_t iordr, std::int32_t iret, std::int32_t nkey,
                 const std::int32_t* indkey, const KeyColumnSource& key_column, std::int32_t* iperm,
                 std::int32_t& ngrp, std::int32_t* ngsize, std::int32_t& nnan);

// The same sort without the checks and reports, for callers that have
// validated their arguments themselves (NROW >= 1, NCOL >= 1, ICOMP and
// IORDR 0 or 1, IRET 0 .. 3, 1 <= NKEY, every INDKEY(k) a column of X):
// it touches neither the error services nor any other process-wide state,
// so any number of threads may call it at once. The comparisons, moves and
// outputs are exactly those of SROWR_ORDER. Working storage that cannot be
// had is std::bad_alloc.
void ROW_ORDER(std::int32_t nrow, std::int32_t ncol, std::int32_t icomp, std::int32_t iordr,
               std::int32_t iret, std::int32_t nkey, const std::int32_t* indkey,
               const KeyColumnSource& key_column, std::int32_t* iperm, std::int32_t& ngrp,
               std::int32_t* ngsize, std::int32_t& nnan);

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_ROW_SORT_H_
