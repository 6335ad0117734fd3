// The restricted heterogeneity analysis: the gene's observed Q judged
// against the run Q values of one class's probes whose run R-mean lies
// within the restriction limit of the gene's observed R-mean.
//
// Band: lower = float(double(R-mean(G)) - limit), upper = float(limit +
// double(R-mean(G))), the limit converted exactly to double. A row v of
// class K is in the band when lower <= run R-mean(v) <= upper (a NaN never
// is). Per in-band value: right count += observed Q(G) <= run Q(v), left
// count += observed Q(G) >= run Q(v), band count += 1 (ties on both sides).
//
// G and K are used as entered: the first access to an entry outside
// 1 .. 500000 is the array-bounds condition (161). K is first read (its class
// first and last row) in the per-run step; G in the band computation of the
// first row of a non-empty class, otherwise at the final division. A gene id
// beyond P reads R-mean 0 and Q 0; a class above M reads first = last row
// = 0, so its one "row" 0 passes the band and the limit test and then fails
// on the run R-mean of row 0.
#ifndef KORVELAN_ENGINE_RESTRICTED_H_
#define KORVELAN_ENGINE_RESTRICTED_H_

#include <cstdint>
#include <exception>

#include "engine/class_sort.h"
#include "engine/stats.h"

namespace korvelan::engine {

// Thrown by the per-run step when the band's lower bound is not positive:
// the restriction limit is at least the gene's R-mean. The console program
// answers it with "Problem with the "limit" value" and its stop.
class LimitProblem : public std::exception {
 public:
  const char* what() const noexcept override { return "restriction limit too large"; }
};

// The two P-values for Q: count / band count in double (NaN for a band
// count of 0).
struct RestrictedPValues {
  double right;
  double left;
};

class RestrictedAnalysis {
 public:
  // `observed` and `ranges` must outlive the object and stay unchanged.
  RestrictedAnalysis(std::int32_t gene_id, std::int32_t gene_class, std::int32_t limit,
                     const Statistics& observed, const ClassRanges& ranges)
      : gene_(gene_id), class_(gene_class), limit_(limit), observed_(observed), ranges_(ranges) {}

  // The per-run step. A lower bound <= 0 (ordered comparison: NaN passes)
  // throws LimitProblem; bad indices throw condition 161.
  void CountRun(const Statistics& run);

  // Whether the per-run step would throw LimitProblem (checked reads as
  // CountRun makes them): the band never changes, so this is known before
  // any run.
  bool LimitTooLarge() const;

  // The P-values after the last run. The counters live in arrays indexed by
  // the gene id, so a gene id outside 1 .. 500000 is condition 161 here.
  RestrictedPValues Finish() const;

  std::int64_t band_count() const { return band_; }
  std::int64_t right_count() const { return right_; }
  std::int64_t left_count() const { return left_; }

 private:
  std::int32_t gene_;
  std::int32_t class_;
  std::int32_t limit_;
  const Statistics& observed_;
  const ClassRanges& ranges_;
  // 64-bit: no number of runs overflows them; exact in double below 2^53.
  std::int64_t band_ = 0;
  std::int64_t right_ = 0;
  std::int64_t left_ = 0;
};

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_RESTRICTED_H_
