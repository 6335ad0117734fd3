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
// O(n log n) per class and run: each class's observed values are sorted
// once, its run values are sorted every run, and one merge pass over both
// gives every probe's two counts. Counts and totals are 64-bit integers, so
// no number of runs overflows them, and every count below 2^53 converts to
// double exactly, as a double counter incremented by 1 would hold it.
#ifndef KORVELAN_ENGINE_COUNTING_H_
#define KORVELAN_ENGINE_COUNTING_H_

#include <array>
#include <cstdint>
#include <vector>

#include "engine/class_sort.h"
#include "engine/row_array.h"
#include "engine/stats.h"

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
  // hold P entries and stay unchanged while the counter is used; the ranges
  // are those of ComputeClassRanges (disjoint, within 1 .. P).
  ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges,
                    std::int32_t classes, std::int32_t probes);

  // The counting step of one run.
  void CountRun(const Statistics& run);

  // count / class comparison total in double for every row of a class range
  // (NaN when the total is 0, i.e. no run was made); 0 for rows outside
  // every class range.
  PValues Finish() const;

  std::int64_t right(int statistic, std::int32_t row) const {
    return right_[statistic][static_cast<std::size_t>(row - 1)];
  }
  std::int64_t left(int statistic, std::int32_t row) const {
    return left_[statistic][static_cast<std::size_t>(row - 1)];
  }
  std::int64_t total(std::int32_t k) const;

 private:
  struct Segment {
    std::int32_t first;  // 0-based row of the class's first probe
    std::int32_t size;
    std::int32_t k;      // class number
    // Entries of order_ that are not NaN (they come first in the segment).
    std::array<std::int32_t, kStatistics> ordered;
  };

  void CountSegment(const Segment& seg, int statistic, const float* run);

  const Statistics& observed_;
  std::int32_t probes_;
  std::vector<Segment> segments_;
  // Per statistic: the rows of each segment (0-based), non-NaN observed
  // values first in ascending order, then the NaN rows.
  std::array<std::vector<std::int32_t>, kStatistics> order_;
  std::array<std::vector<std::int64_t>, kStatistics> right_;
  std::array<std::vector<std::int64_t>, kStatistics> left_;
  std::vector<std::int64_t> totals_;  // per class 1 .. M
  std::vector<float> sorted_run_;      // reused for every class and run
};

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_COUNTING_H_
