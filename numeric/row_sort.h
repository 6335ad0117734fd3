// SROWR: sorts the rows of a single-precision matrix (column by column,
// 1-based, leading dimension LDX) by one or more key columns.
//
// The result, ties included, is exactly that of the row-wise quicksort with
// its fixed fraction R, the two-cursor step that moves missing (NaN-key)
// rows to the end, the push of the larger segment and the guarded insertion
// pass for short segments. The sort is not stable: equal keys end in the
// order that sequence of comparisons and moves leaves them in.
//
// Argument checks report through the error services (routine names "SROWR"
// for codes 1, 2, 4 and "S2OWR" for the others) and stop the run; a call
// that stops at a check changes nothing.
#ifndef KORVELAN_NUMERIC_ROW_SORT_H_
#define KORVELAN_NUMERIC_ROW_SORT_H_

#include <cstdint>
#include <functional>

namespace korvelan::numeric {

// NROW rows, NCOL columns of X (LDX >= NROW); ICOMP 0 by value, 1 by
// absolute value; IORDR 0 ascending, 1 descending; IRET 0 sorted X and
// groups, 1 X in input order and groups, 2 sorted X, 3 X in input order;
// NKEY keys INDKEY(1 .. NKEY). Outputs: IPERM(1 .. NROW) input row number of
// each sorted position; NGRP and NGSIZE(1 .. NGRP) the groups of equal keys
// (IRET 0 or 1); NNAN the number of missing rows (at the end).
// Arrays are passed as pointers to their first element (element 1).
void SROWR(std::int32_t nrow, std::int32_t ncol, float* x, std::int32_t ldx,
           std::int32_t icomp, std::int32_t iordr, std::int32_t iret,
           std::int32_t nkey, const std::int32_t* indkey, std::int32_t* iperm,
           std::int32_t& ngrp, std::int32_t* ngsize, std::int32_t& nnan);

// The row-number form: the same checks (with the same reports), the same
// comparisons and the same moves applied to a vector of row numbers, so that
// IPERM comes out exactly as SROWR's, without moving any row of X. X is seen
// only through key_column(c), which returns NROW floats of column c (c in
// INDKEY, called only after the checks pass); IRET only decides whether
// NGRP/NGSIZE are produced. The caller moves its rows once, by IPERM.
void SROWR_ORDER(std::int32_t nrow, std::int32_t ncol, std::int32_t ldx,
                 std::int32_t icomp, std::int32_t iordr, std::int32_t iret,
                 std::int32_t nkey, const std::int32_t* indkey,
                 const std::function<const float*(std::int32_t column)>& key_column,
                 std::int32_t* iperm, std::int32_t& ngrp, std::int32_t* ngsize,
                 std::int32_t& nnan);

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_ROW_SORT_H_
