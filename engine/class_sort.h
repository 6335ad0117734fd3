// The class sort and the class row ranges.
//
// The rows of the rank matrix are put into class-sorted order: descending
// class value, so the probes of the highest class come first, and each
// class's probes form one contiguous range of rows. The order within a
// class is the one the row sort SROWR leaves when it sorts all 500000 rows
// of the declared matrix (the zero rows beyond P take part and fix the tie
// order); it is not the order of "data.txt". The line-number column links
// each row back to its record.
#ifndef KORVELAN_ENGINE_CLASS_SORT_H_
#define KORVELAN_ENGINE_CLASS_SORT_H_

#include <cstdint>
#include <vector>

#include "engine/model.h"
#include "engine/row_array.h"
#include "engine/worker_pool.h"

namespace korvelan::engine {

// Refuses data whose classes exceed M, before anything is sorted: the first
// row 1 .. P (still in "data.txt" order) whose class value has an integer
// part C in max(M + 1, 1) .. 500000 throws Termination::Message("KORVELAN:
// record R of data.txt has information class C, above the number of
// information classes M", 1). Class values below 1 or above 500000 pass
// here; they are the array-bounds condition of ComputeClassRanges. Nothing
// is checked when the class column lies outside the matrix's 1 .. 100 (the
// class sort refuses that column itself).
void CheckClassesWithinLimit(const AnalysisParameters& params, const RankMatrix& ranks);

// How the class sort treats a class column outside 1 .. 100.
enum class SortChecks {
  // The console program's way: the row sort checks its arguments, and a bad
  // column gets its code 9 report and its stop (Termination thrown by the
  // numerical library, through its process-wide error services).
  kReported,
  // The library's way: the caller has validated the column (a bad one is a
  // std::logic_error); nothing process-wide is touched, so analyses may run
  // on several threads at once.
  kNone,
};

// The row order of the class sort: SROWR's IPERM for the call on the whole
// declared matrix (NROW 500000, NCOL 100, LDX 500000, ICOMP 0, IORDR 1
// descending, IRET 0, NKEY 1, INDKEY = (class_column); made with IRET 2,
// which gives the same IPERM and checks without the groups), computed by the
// row-number form from the class column alone (zero beyond the stored
// rows). Both ways run the same sort; they differ only in the checks.
std::vector<std::int32_t> ClassSortOrder(std::int32_t class_column, const RankMatrix& ranks,
                                         SortChecks checks = SortChecks::kReported);

// Sorts `ranks` in place into class-sorted order (ClassSortOrder, then each
// stored row moved once). Rows 1 .. rows() come out exactly as the sort of
// the whole matrix leaves them; a real row that the sort would place beyond
// the stored rows is dropped, which nothing can observe: it implies that a
// zero row (class 0) lies within rows 1 .. P, and ComputeClassRanges then
// ends the run with condition 161 before any later read. With a pool, the
// columns are moved on its threads.
void ClassSort(std::int32_t class_column, RankMatrix& ranks, SortChecks checks,
               WorkerPool* pool = nullptr);
// The class column the parameters carry (the dialogue's, for the console
// program).
void ClassSort(const AnalysisParameters& params, RankMatrix& ranks);

// Class first row and class last row of classes 1 .. M (stored), zero for
// classes M + 1 .. 500000; 161 outside 1 .. 500000. Empty classes have
// first = last + 1.
struct ClassRanges {
  RowArray<std::int32_t> first;
  RowArray<std::int32_t> last;
};

// Counts the probes of each class from the class values of rows 1 .. P
// (integer part by truncation; below 1, above 500000 or NaN: condition 161)
// and accumulates the ranges from class M downwards, so class M occupies
// the first rows and class 1 ends at row P. A failed allocation is 41.
ClassRanges ComputeClassRanges(const AnalysisParameters& params, const RankMatrix& ranks);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_CLASS_SORT_H_
