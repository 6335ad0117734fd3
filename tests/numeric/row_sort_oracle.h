// ORACLE for the row sort: the straightforward whole-row form, step by step
// as the routine is defined: whole rows of X are exchanged and copied at
// every step, the pivot is a copied row, and the permutation entries move
// beside the rows. Slow (every move touches NCOL values) and kept only to
// check the production sort, which moves row numbers and rearranges X once.
//
// Arguments are as SROWR's, without the argument checks (callers pass valid
// arguments); x holds LDX * NCOL values, column by column.
#ifndef KORVELAN_TESTS_NUMERIC_ROW_SORT_ORACLE_H_
#define KORVELAN_TESTS_NUMERIC_ROW_SORT_ORACLE_H_

#include <cstdint>
#include <vector>

namespace korvelan::numeric::oracle {

struct RowSortResult {
  std::vector<std::int32_t> iperm;   // NROW entries
  std::int32_t ngrp = -1;            // -1: not produced
  std::vector<std::int32_t> ngsize;  // NGRP entries when produced
  std::int32_t nnan = 0;
};

RowSortResult WholeRowSort(std::int32_t nrow, std::int32_t ncol, std::vector<float>& x,
                           std::int32_t ldx, std::int32_t icomp, std::int32_t iordr,
                           std::int32_t iret, const std::vector<std::int32_t>& indkey);

}  // namespace korvelan::numeric::oracle

#endif  // KORVELAN_TESTS_NUMERIC_ROW_SORT_ORACLE_H_
