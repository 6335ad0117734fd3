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
// "NaN" (slot 2G + 1). A run only adds to the histograms; one prefix sum
// over the slots, when the counts are settled, gives for each group the
// number of run values below x(g) and at most x(g) over all the runs since
// the last settling. The counts are linear in the runs, so settling after
// every run or after many gives the same integers; it happens before a
// 32-bit slot could overflow and at the end.
// The slot of a value is found through a bucket table built once per class
// and statistic (engine/bucket_table.h): about two buckets per group, of
// equal width in value (the range of the observed values without the
// outermost few), each holding its first few groups' values and slot (the
// entries layout, 32 bytes per distinct value) or, for classes of more
// than 32768 distinct values, only its first group's index beside the
// sorted values (the starts layout, 12 bytes); a lookup compares a run
// value with a few values as vector lanes, several run values at a time.
// Classes with at most 8 distinct observed values compare each run value
// with all of them.
// Counts and totals are 64-bit integers, so no number of runs overflows
// them, and every count below 2^53 converts to double exactly, as a double
// counter incremented by 1 would hold it.
//
// The work of a run is shared among a pool's threads by class and
// statistic; a large class counted through its table is split into parts
// of its run values, each with a histogram of its own, added up when the
// counts are settled.
// Every count has one writer.
#ifndef KORVELAN_ENGINE_COUNTING_H_
#define KORVELAN_ENGINE_COUNTING_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/bucket_table.h"
#include "engine/class_sort.h"
#include "engine/row_array.h"
#include "engine/stats.h"
#include "engine/vector_form.h"
#include "engine/worker_pool.h"

namespace korvelan::engine {

// The statistics in their order of comparison and output.
enum Statistic : int { kRmean = 0, kRwmean = 1, kQ = 2 };
inline constexpr int kStatistics = 3;

// Right- and left-sided P-values per statistic, rows 1 .. P (the library's
// korvelan::PValues is something else: how a P-value is estimated).
struct SidedPValues {
  std::array<RowArray<double>, kStatistics> right;
  std::array<RowArray<double>, kStatistics> left;
};

class ExceedanceCounter {
 public:
  // The most values a histogram slot may gather between two settlings.
  static constexpr std::uint64_t kHistogramLimit = 0xFFFFFFFFu;

  // Counters at zero for rows 1 .. P and classes 1 .. M; the observed
  // values of every non-empty class range are sorted here. `observed` must
  // hold P entries; it is read here only. The ranges are those of
  // ComputeClassRanges (disjoint, within 1 .. P). A failed allocation is 41.
  // With a pool, the three statistics are prepared on its threads, and a
  // large class is counted in as many parts as the pool has threads (at
  // most 4, each of about 32768 values or more); without one, in one part.
  // The parts change nothing but the work's division. With `runs_follow`
  // false (an analysis of no runs) nothing is sorted or built: every count
  // stays 0 and the P-values are those of no run, and counting a run
  // throws std::logic_error. At the largest inputs the preparation is a
  // sixth of a run without runs.
  ExceedanceCounter(const Statistics& observed, const ClassRanges& ranges, std::int32_t classes,
                    std::int32_t probes, WorkerPool* pool = nullptr, bool runs_follow = true);

  // The counting step of one run, on the pool's threads or on this one.
  void CountRun(const Statistics& run, WorkerPool& pool);
  void CountRun(const Statistics& run);

  // The same step in pieces, for running beside other work: every task
  // (any order, any threads), then EndRun() once. `run` must stay unchanged
  // until the tasks are over.
  std::size_t Tasks() const { return items_.size(); }
  void CountTask(std::size_t task, const Statistics& run);
  void EndRun();

  // Brings the counts up to date with every run so far. The histograms
  // gather many runs between two settlings (a run only adds to them), so
  // the counts below may only be read after this.
  void Settle();

  // Settles whenever the values gathered since the last settling would
  // pass `limit` (at most kHistogramLimit) with one more run: for tests,
  // which cannot make 2^32 run values.
  void set_settle_limit(std::uint64_t limit) { settle_limit_ = limit; }
  // The vector form of the table lookups (the same counts in each); for
  // tests, which hold the forms against each other.
  void set_vector_form(VectorForm form) { form_ = form; }

  // count / class comparison total in double for row 1 .. P of a class
  // range (NaN when the total is 0, i.e. no run was made); 0 for rows
  // outside every class range. This and the three below throw
  // std::logic_error when runs were counted since the last Settle().
  double PValue(int statistic, bool right, std::int32_t row) const;
  // All of them at once.
  SidedPValues Finish() const;

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
    // Run values added to the histograms since they were last settled.
    std::uint64_t unsettled;
    // Per statistic: the class's distinct observed keys are entries
    // group_first .. group_first + groups - 1 of keys_ (and, as floats, of
    // values_ if any class is compact) and the counts, and the four entries
    // after them are end markers above every key (NaN in values_); its
    // histogram is entries 2 group_first .. 2 (group_first + groups) + 1 of
    // hist_, parts 2, 3, ... follow each other from extra_first in
    // extra_hist_; its bucket table is tables_[table] (-1: none, the
    // groups are few and compared directly).
    std::array<std::int32_t, kStatistics> group_first;
    std::array<std::int32_t, kStatistics> groups;
    std::array<std::int32_t, kStatistics> table;
    std::array<std::int64_t, kStatistics> extra_first;
    // The group (within the segment) that at least a quarter of the rows
    // share, counted apart from the table's lookups; -1: none.
    std::array<std::int32_t, kStatistics> frequent;
  };
  // A piece of one run's work for one statistic: segments [seg_begin,
  // seg_end) whole, or part `part` of the split segment seg_begin.
  struct Item {
    int statistic;
    std::int32_t seg_begin, seg_end;
    std::int32_t part;  // -1: whole segments
  };

  // The groups, counts, histograms and tables of one statistic.
  void BuildStatistic(int statistic, const float* observed);
  void BuildTable(Segment& seg, int statistic);
  void BuildItems();
  // Adds the run values of rows [r0, r1) of a segment to a histogram.
  void Histogram(const Segment& seg, int statistic, const float* run, std::int32_t r0,
                 std::int32_t r1, std::uint32_t* hist) const;
  // Turns a segment's histograms into counts and clears them.
  void Accumulate(const Segment& seg, int statistic);
  void Settle(Segment& seg);
  void RequireSettled() const;
  void RequirePrepared() const;
  // The segment holding 0-based row r, or -1.
  std::int32_t SegmentOf(std::int32_t r) const;

  std::int32_t probes_;
  std::vector<Segment> segments_;  // ascending rows (class M first)
  std::vector<Item> items_;
  bool prepared_ = false;  // the groups and tables built: runs may be counted
  bool settled_ = true;
  std::uint64_t settle_limit_ = kHistogramLimit;
  VectorForm form_ = VectorForm::kWidest;
  // Per statistic: the distinct observed keys, ascending within each
  // segment; per row the index of its group (-1: NaN or outside every
  // class); the counts per group; the histograms and bucket tables (dense
  // entries, or compact tables' first groups in starts_ with the keys as
  // floats in values_).
  std::array<std::vector<std::uint32_t>, kStatistics> keys_;
  std::array<std::vector<std::int32_t>, kStatistics> group_of_row_;
  std::array<std::vector<std::int64_t>, kStatistics> right_;
  std::array<std::vector<std::int64_t>, kStatistics> left_;
  std::array<std::vector<std::uint32_t>, kStatistics> hist_;
  std::array<std::vector<std::uint32_t>, kStatistics> extra_hist_;
  std::array<std::vector<BucketTable>, kStatistics> tables_;
  std::array<std::vector<BucketEntry>, kStatistics> entries_;
  std::array<std::vector<std::uint32_t>, kStatistics> starts_;
  std::array<std::vector<float>, kStatistics> values_;
  std::vector<std::int64_t> totals_;  // per class 1 .. M
};

// Sorts v[0 .. n) ascending by the high 32 bits (the key), using room[0 ..
// n) as room; entries with equal keys keep their order. Returns whichever
// of the two holds them.
const std::uint64_t* SortKeyedRows(std::uint64_t* v, std::uint64_t* room, std::size_t n);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_COUNTING_H_
