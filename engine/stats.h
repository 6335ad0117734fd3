// STATS: the three per-probe statistics on which every comparison rests.
//
//   R-mean(i)          = sum of the present ranks / number present
//   R-weighted mean(i) = sum of r(i, j) * w(j) / W(i), W(i) = sum of the
//                        present studies' weights (renormalised per probe)
//   Q(i)               = sum of (r(i, j) - R-mean(i))^2, not divided
//
// A rank is present when it does not compare equal to -99. Rounding points
// (each one matters for the P-values, which compare these floats exactly):
//   - every accumulator is a float, rounded after each addition; the addend
//     is formed in double;
//   - R-mean = float(double(sum) / n);
//   - the renormalised weight v(j) = float(double(w(j)) / double(W(i))) is
//     stored as a float, and r * v(j) is the exact double product of the two
//     floats; only the new sum is rounded to float;
//   - Q uses d = double(r) - double(R-mean as stored), and d * d, both in
//     double; only the new Q is rounded to float.
// Studies are added in the order 1 .. S for every probe. Under the masked
// floating-point environment a probe with no present rank gets R-mean NaN
// (0 / 0), R-weighted mean 0 and Q 0; present studies whose weights add up
// to 0 give an R-weighted mean of NaN or an infinity.
#ifndef KORVELAN_ENGINE_STATS_H_
#define KORVELAN_ENGINE_STATS_H_

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/model.h"
#include "engine/row_array.h"
#include "engine/vector_form.h"
#include "engine/worker_pool.h"

namespace korvelan::engine {

// The three statistics of every row, in class-sorted order: P stored
// entries each, read as zero beyond P up to row 500000.
struct Statistics {
  Statistics() = default;
  explicit Statistics(std::int32_t probes) : rmean(probes), rwmean(probes), q(probes) {}
  RowArray<float> rmean;   // R-mean
  RowArray<float> rwmean;  // R-weighted mean
  RowArray<float> q;       // Q
};

// Fills entries 1 .. P of the three outputs from rows 1 .. P and columns
// 1 .. S of `ranks`, in the vector form `form` (the same bits in each); nothing else is read or written (P <= 0 or S <= 0
// write as described above; P <= 0 writes nothing).
// Preconditions: P <= ranks.rows() and S <= ranks.cols() when P > 0 and
// S > 0; each output holds at least P entries. The probes are taken in
// blocks, each block through all three passes before the next; a probe's
// results depend on its own row only, so the blocking changes nothing.
void STATS(const RankMatrix& ranks, const StudyWeights& weights, std::span<float> rmean,
           std::span<float> rwmean, std::span<float> q, std::int32_t p, std::int32_t s,
           VectorForm form = VectorForm::kWidest);

// STATS into the stored parts of `out` (which must hold P entries).
void STATS(const RankMatrix& ranks, const StudyWeights& weights, Statistics& out, std::int32_t p,
           std::int32_t s);

// The same with the blocks of probes shared among the pool's threads (each
// probe's additions still in study order, on one thread).
void STATS(const RankMatrix& ranks, const StudyWeights& weights, Statistics& out, std::int32_t p,
           std::int32_t s, WorkerPool& pool);

// STATS as independent tasks of whole blocks of probes, for a batch shared
// with other work: running tasks 0 .. StatsTasks(p, threads) - 1 in any
// order is one STATS call.
std::size_t StatsTasks(std::int32_t p, unsigned threads);
void StatsTask(std::size_t task, std::size_t tasks, const RankMatrix& ranks,
               const StudyWeights& weights, Statistics& out, std::int32_t p, std::int32_t s);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_STATS_H_
