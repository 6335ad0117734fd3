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
// a few operations per run value: floats are turned into order-preserving
// 32-bit keys (-0 first made +0, so the two zeros get one key; infinities
// are ordinary keys; NaN gets none and is left out). The observed values
// of each class are sorted once and grouped into distinct keys x(0) <
// ... < x(G-1); rows with equal observed values get equal counts, so the
// counts are kept per distinct observed value. Every run value falls into
// one slot of a histogram of 2 G + 2 slots: "between x(g-1) and x(g)"
// (slot 2g), "equal to x(g)" (slot 2g + 1), "above x(G-1)" (slot 2G) and
// "NaN" (slot 2G + 1). One prefix sum over the slots then gives, for each
// group, the number of run values below x(g) and at most x(g). The slot of
// a value is found through a bucket table built once per class and
// statistic: the key range is cut into cells of equal key width, and each
// cell into as many buckets (a power of two) as it holds groups, so that
// uneven spreads (values over many powers of two, clusters) still give
// buckets of one or two groups; a lookup is one cell read, one table read
// and at most two steps along the observed keys (a binary search only in an
// overfull bucket). Classes with at most 8 distinct observed values
// compare each run value with all of them. Classes with more than 32768
// distinct observed values sort their run keys (LSD radix) and merge them
// with the observed keys in one pass, as their tables would be visited at
// random beyond the caches.
// Counts and totals are 64-bit integers, so no number of runs overflows
// them, and every count below 2^53 converts to double exactly, as a double
// counter incremented by 1 would hold it.
//
// The work of a run is shared among a pool's threads by class and
// statistic; a large class counted through its table is split into parts
// of its run values, each with a histogram of its own, and their sum is
// taken in the second stage.
// Every count has one writer.
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
  // stage is over. The first stage counts the classes that are counted in
  // one piece and fills the part histograms of the large ones; the second
  // adds up the parts of each large class and counts it.
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
    std::int32_t parts;  // histograms of a run's values (1: not split)
    // Per statistic: the class's distinct observed keys are entries
    // group_first .. group_first + groups - 1 of keys_ and the counts, and
    // entry group_first + groups is an end marker above every key; its
    // histogram is entries 2 group_first .. 2 (group_first + groups) + 1 of
    // hist_, parts 2, 3, ... follow each other from extra_first in
    // extra_hist_; its bucket layout is layouts_[layout] (-1: none, the
    // groups are few and compared directly).
    std::array<std::int32_t, kStatistics> group_first;
    std::array<std::int32_t, kStatistics> groups;
    std::array<std::int32_t, kStatistics> layout;
    std::array<std::int64_t, kStatistics> extra_first;
  };
  // The bucket table of one class and statistic: cells of 2^cell_shift
  // keys from low_key on (keys beyond low_key + span count as that), each
  // cell a pair (first bucket, shift) in cells_ from cells_first; bucket b
  // may hold groups table[b] .. table[b + 1] (entries of tables_ from
  // table_first, group numbers within the class).
  struct Layout {
    std::int64_t cells_first;
    std::int64_t table_first;
    std::uint32_t buckets;
    std::uint32_t low_key;
    std::uint32_t span;
    std::uint32_t within_mask;
    int cell_shift;
  };
  // A piece of one run's work for one statistic. First stage: segments
  // [seg_begin, seg_end) whole, or part `part` of the split segment
  // seg_begin. Second stage: the sum of the split segment seg_begin's
  // histograms and its counts.
  struct Item {
    int statistic;
    std::int32_t seg_begin, seg_end;
    std::int32_t part;  // -1: whole segments
    // Room for sorting the run keys (two entries per row and two more)
    // in scratch_, or -1.
    std::int64_t scratch_first;
  };

  void BuildLayout(Segment& seg, int statistic);
  void BuildItems();
  // Adds the run values of rows [r0, r1) of a segment to a histogram.
  void Histogram(const Segment& seg, int statistic, const float* run, std::int32_t r0,
                 std::int32_t r1, std::uint32_t* hist) const;
  // Whether a class counts by sorting its run values (many distinct
  // observed values) rather than through a bucket table.
  bool Sorted(const Segment& seg, int statistic) const;
  // The number of part histograms of a class and statistic.
  std::int32_t PartsOf(const Segment& seg, int statistic) const;
  std::uint32_t* Scratch(const Item& item);
  // Counts a class with many distinct observed values by sorting its run
  // values and merging them with the observed ones.
  void SortAndCount(const Segment& seg, int statistic, const float* run,
                    std::uint32_t* scratch);
  // Turns a segment's histograms into counts and clears them.
  void Accumulate(const Segment& seg, int statistic);
  void MergeItem(const Item& item);
  // The segment holding 0-based row r, or -1.
  std::int32_t SegmentOf(std::int32_t r) const;

  std::int32_t probes_;
  std::vector<Segment> segments_;  // ascending rows (class M first)
  std::vector<Item> sort_items_;
  std::vector<Item> merge_items_;
  // Per statistic: the distinct observed keys, ascending within each
  // segment; per row the index of its group (-1: NaN or outside every
  // class); the counts per group; the histograms and bucket tables.
  std::array<std::vector<std::uint32_t>, kStatistics> keys_;
  std::array<std::vector<std::int32_t>, kStatistics> group_of_row_;
  std::array<std::vector<std::int64_t>, kStatistics> right_;
  std::array<std::vector<std::int64_t>, kStatistics> left_;
  std::array<std::vector<std::uint32_t>, kStatistics> hist_;
  std::array<std::vector<std::uint32_t>, kStatistics> extra_hist_;
  std::array<std::vector<std::uint32_t>, kStatistics> cells_;
  std::array<std::vector<std::int32_t>, kStatistics> tables_;
  std::array<std::vector<std::uint32_t>, kStatistics> scratch_;
  std::array<std::vector<Layout>, kStatistics> layouts_;
  std::vector<std::int64_t> totals_;  // per class 1 .. M
};

// The order-preserving key of a non-NaN float: a < b exactly when
// OrderKey(a) < OrderKey(b), and equal values (both zeros too) share a key.
// No key is 0xFFFFFFFF (the largest, that of +infinity, is 0xFF800000).
std::uint32_t OrderKey(float x);

// Sorts keys[0 .. n) ascending, using scratch[0 .. n) as room; returns
// whichever of the two holds the sorted keys (a tool beside the counter,
// which does not sort run values). Least significant digit first, three
// passes of 11, 11 and 10 bits, a pass skipped when all keys
// share its digit; short arrays are sorted by comparison.
const std::uint32_t* SortKeys(std::uint32_t* keys, std::uint32_t* scratch, std::size_t n);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_COUNTING_H_
