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

#include "engine/class_sort.h"
#include "engine/stats.h"

namespace korvelan::engine {

class RestrictedAnalysis {
 public:
  // `observed` and `ranges` must outlive the object and stay unchanged.
  RestrictedAnalysis(std::int32_t gene_id, std::int32_t gene_class, std::int32_t limit,
                     const Statistics& observed, const ClassRanges& ranges)
      : gene_(gene_id), class_(gene_class), limit_(limit), observed_(observed),
        ranges_(ranges) {}

  // The per-run step. A lower bound <= 0 (ordered comparison: NaN passes)
  // writes "Problem with the "limit" value" on the console and throws
  // Termination::Stop(1); bad indices throw condition 161.
  void CountRun(const Statistics& run);

  // The two console lines "right-sided P-value for Q=" and "left-sided
  // P-value for Q=" with count / band count in double (NaN for a band count
  // of 0).
  void Finish() const;

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
