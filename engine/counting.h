// Exceedance counting of the main analysis and its P-values.
//
// In every run each probe's observed statistic is compared with the run
// statistic of every probe of its class, itself included:
//   right count += number of run values >= observed value,
//   left count  += number of run values <= observed value,
// exact float comparisons: a tie counts on both sides, +0 equals -0, a NaN on
// either side counts on neither. Each class's comparison total grows by its
// size n(k) per run. After the runs, P-value = count / total in double.
//
// The counts equal those of comparing every pair of a class, but cost
// O(n) per class, statistic and run after a radix sort: floats are turned
// into order-preserving 32-bit keys (-0 first made +0, so the two zeros get
// one key; infinities are ordinary keys; NaN gets none and is left out).
// The observed values of each class are sorted once and grouped into
// distinct keys; rows with equal observed values get equal counts, so the
// counts are kept per distinct observed value. Every run sorts the class's
// run keys, and one merge pass over both gives, for each distinct observed
// key x, the number of run keys below x and at most x. Counts and totals
// are 64-bit integers, so no number of runs overflows them, and every count
// below 2^53 converts to double exactly, as a double counter incremented by
// 1 would hold it.
//
// The work of a run is shared among a pool's threads by class and
// statistic; a large class is split, once its run keys are sorted, into
// merges of chunks of distinct observed values. Every count has one writer.
#ifndef KORVELAN_ENGINE_COUNTING_H_
#define KORVELAN_ENGINE_COUNTING_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/class_sort.h"
#include "engine/row_array.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"

namespace korvelan::engine {

// The statistics in their order of comparison and output.
enum Statistic : int { kRmean = 0, kRwmean = 1, kQ = 2 };
inline constexpr int kStatistics = 3;

// Right- and left-sided P-values per statistic, rows 1 .. P.
struct PValues {
  std::array<RowArray<double>, kStatistics> right;
  std::array<RowArray<double>, kStatistics> left;
};

class ExceedanceCounter {
 public:
  // Counters at zero for rows 1 .. P and classes 1 .. M; the observed
  // values of every non-empty class range are sorted here. `observed` must
  // hold P entries; it is read here only. The ranges are those of
  // ComputeClassRanges (disjoint, within 1 .. P). A failed allocation is 41.
  ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges,
                    std::int32_t classes, std::int32_t probes);

  // The counting step of one run, on the pool's threads or on this one.
  void CountRun(const Statistics& run, WorkerPool& pool);
  void CountRun(const Statistics& run);

  // The same step in pieces, for running beside other work: every task of
  // the first stage (any order, any threads), then every task of the
  // second, then EndRun() once. `run` must stay unchanged until the second
  // stage is over. The first stage sorts each class's run keys and merges
  // the classes that are counted in one piece; the second merges the
  // pieces of the large classes.
  std::size_t FirstStageTasks() const { return sort_items_.size(); }
  void FirstStage(std::size_t task, const Statistics& run);
  std::size_t SecondStageTasks() const { return merge_items_.size(); }
  void SecondStage(std::size_t task) { MergeItem(merge_items_[task]); }
  void EndRun();

  // count / class comparison total in double for row 1 .. P of a class
  // range (NaN when the total is 0, i.e. no run was made); 0 for rows
  // outside every class range.
  double PValue(int statistic, bool right, std::int32_t row) const;
  // All of them at once.
  PValues Finish() const;

  // The counts of row 1 .. P and the comparison total of class 1 .. M.
  std::int64_t right(int statistic, std::int32_t row) const;
  std::int64_t left(int statistic, std::int32_t row) const;
  std::int64_t total(std::int32_t k) const;

 private:
  struct Segment {
    std::int32_t first;  // 0-based row of the class's first probe
    std::int32_t size;
    std::int32_t k;      // class number
    // Per statistic: the class's distinct observed keys are entries
    // group_first .. group_first + groups - 1 of keys_ and the counts.
    std::array<std::int32_t, kStatistics> group_first;
    std::array<std::int32_t, kStatistics> groups;
  };
  // A piece of one run's work for one statistic: segments [seg_begin,
  // seg_end); for a merge, only their groups [group_begin, group_end).
  // Sort items cover every segment; merge items only the large segments
  // (more than one merge piece), whose merges wait for their sorts.
  struct Item {
    int statistic;
    std::int32_t seg_begin, seg_end;
    std::int32_t group_begin, group_end;
  };

  void BuildItems();
  void SortSegment(std::size_t seg, int statistic, const float* run);
  void MergeItem(const Item& item);
  // The segment holding 0-based row r, or -1.
  std::int32_t SegmentOf(std::int32_t r) const;

  std::int32_t probes_;
  std::vector<Segment> segments_;  // ascending rows (class M first)
  std::vector<Item> sort_items_;
  std::vector<Item> merge_items_;
  // Per statistic: the distinct observed keys, ascending within each
  // segment; per row the index of its group (-1: NaN or outside every
  // class); the counts per group.
  std::array<std::vector<std::uint32_t>, kStatistics> keys_;
  std::array<std::vector<std::int32_t>, kStatistics> group_of_row_;
  std::array<std::vector<std::int64_t>, kStatistics> right_;
  std::array<std::vector<std::int64_t>, kStatistics> left_;
  std::vector<std::int64_t> totals_;  // per class 1 .. M
  // Per statistic, a run's sorted keys: segment i's part starts at its
  // first row + i (one slot more than its size, for an end marker). The
  // radix sort moves keys between the two buffers; sorted_in_second_ says
  // where each segment's sorted keys ended, run_count_ how many there are.
  std::array<std::vector<std::uint32_t>, kStatistics> run_keys_;
  std::array<std::vector<std::uint32_t>, kStatistics> scratch_;
  std::array<std::vector<std::uint8_t>, kStatistics> sorted_in_second_;
  std::array<std::vector<std::int32_t>, kStatistics> run_count_;
};

// The order-preserving key of a non-NaN float: a < b exactly when
// OrderKey(a) < OrderKey(b), and equal values (both zeros too) share a key.
// No key is 0xFFFFFFFF (the largest, that of +infinity, is 0xFF800000).
std::uint32_t OrderKey(float x);

// Sorts keys[0 .. n) ascending, using scratch[0 .. n) as room; returns
// whichever of the two holds the sorted keys. Least significant digit
// first, three passes of 11, 11 and 10 bits, a pass skipped when all keys
// share its digit; short arrays are sorted by comparison.
const std::uint32_t* SortKeys(std::uint32_t* keys, std::uint32_t* scratch, std::size_t n);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_COUNTING_H_
