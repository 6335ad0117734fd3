#include "engine/stats.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace korvelan::engine {

namespace {

// Probes per block: the block's slice of every study column (S x 512
// floats, 200 kB at 98 studies) stays in the core's cache across the four
// sweeps over it.
constexpr std::size_t kBlock = 512;

// `kept` where mask is all ones, `old` where it is zero: a select on the
// bits, which the compiler turns into vector code, unlike a branch.
inline float Select(std::uint32_t mask, float kept, float old) {
  return std::bit_cast<float>((std::bit_cast<std::uint32_t>(kept) & mask) |
                              (std::bit_cast<std::uint32_t>(old) & ~mask));
}

// All ones for a present rank, zero for the missing marker.
inline std::uint32_t PresentMask(float r) { return r != kMissing ? 0xFFFFFFFFu : 0u; }

// Rows [first, first + n) of the three outputs, n <= kBlock. Every probe's
// additions come in study order 1 .. S; the passes go study by study over
// the block so that the loops over probes are plain, branch-free selects
// (a missing cell computes a value that is then not kept).
[[gnu::always_inline]] inline void StatsBlockBody(const RankMatrix& ranks,
                                                  const StudyWeights& weights, float* rmean,
                                                  float* rwmean, float* q, std::size_t first,
                                                  std::size_t n, std::int32_t s) {
  float count[kBlock];  // whole numbers up to 98: exact in a float
  float wsum[kBlock];
  float sum[kBlock];
  for (std::size_t i = 0; i < n; ++i) {
    count[i] = 0.0f;
    wsum[i] = 0.0f;
    sum[i] = 0.0f;
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j) + first;
    const double w = weights.Get(j);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t present = PresentMask(r[i]);
      const auto added = static_cast<float>(static_cast<double>(sum[i]) + static_cast<double>(r[i]));
      const auto weighed = static_cast<float>(static_cast<double>(wsum[i]) + w);
      sum[i] = Select(present, added, sum[i]);
      wsum[i] = Select(present, weighed, wsum[i]);
      count[i] += Select(present, 1.0f, 0.0f);
    }
  }
  float* m = rmean + first;
  for (std::size_t i = 0; i < n; ++i) {
    // 0 / 0 for a probe with no present rank: NaN, by intent.
    m[i] = static_cast<float>(static_cast<double>(sum[i]) / static_cast<double>(count[i]));
    sum[i] = 0.0f;
    count[i] = 0.0f;  // now the running Q
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j) + first;
    const double w = weights.Get(j);
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t present = PresentMask(r[i]);
      // v(j) is stored as a float; the product of the two floats is exact
      // in double (48 significant bits), only the new sum is rounded.
      const auto v = static_cast<float>(w / static_cast<double>(wsum[i]));
      const auto weighted = static_cast<float>(static_cast<double>(sum[i]) +
                                               static_cast<double>(r[i]) * static_cast<double>(v));
      // d from the R-mean as stored (a float); d and d * d stay in double.
      const double d = static_cast<double>(r[i]) - static_cast<double>(m[i]);
      const auto squares = static_cast<float>(static_cast<double>(count[i]) + d * d);
      sum[i] = Select(present, weighted, sum[i]);
      count[i] = Select(present, squares, count[i]);
    }
  }
  std::copy_n(sum, n, rwmean + first);
  std::copy_n(count, n, q + first);
}

// The same loops in each instruction-set form (engine/vector_form.h).
void StatsBlockBaseline(const RankMatrix& ranks, const StudyWeights& weights, float* rmean,
                        float* rwmean, float* q, std::size_t first, std::size_t n, std::int32_t s) {
  StatsBlockBody(ranks, weights, rmean, rwmean, q, first, n, s);
}

#if KORVELAN_AVX2_FORMS
[[gnu::target("avx2")]] void StatsBlockAvx2(const RankMatrix& ranks, const StudyWeights& weights,
                                            float* rmean, float* rwmean, float* q,
                                            std::size_t first, std::size_t n, std::int32_t s) {
  StatsBlockBody(ranks, weights, rmean, rwmean, q, first, n, s);
}
#endif

void StatsBlock(VectorForm form, const RankMatrix& ranks, const StudyWeights& weights, float* rmean,
                float* rwmean, float* q, std::size_t first, std::size_t n, std::int32_t s) {
#if KORVELAN_AVX2_FORMS
  if (UseAvx2(form)) {
    StatsBlockAvx2(ranks, weights, rmean, rwmean, q, first, n, s);
    return;
  }
#else
  (void)form;
#endif
  StatsBlockBaseline(ranks, weights, rmean, rwmean, q, first, n, s);
}

std::size_t Blocks(std::int32_t p) { return (static_cast<std::size_t>(p) + kBlock - 1) / kBlock; }

}  // namespace

void STATS(const RankMatrix& ranks, const StudyWeights& weights, std::span<float> rmean,
           std::span<float> rwmean, std::span<float> q, std::int32_t p, std::int32_t s,
           VectorForm form) {
  if (p <= 0) return;
  const auto rows = static_cast<std::size_t>(p);
  for (std::size_t b = 0; b < Blocks(p); ++b) {
    const std::size_t first = b * kBlock;
    StatsBlock(form, ranks, weights, rmean.data(), rwmean.data(), q.data(), first,
               std::min(kBlock, rows - first), s);
  }
}

void STATS(const RankMatrix& ranks, const StudyWeights& weights, Statistics& out, std::int32_t p,
           std::int32_t s) {
  STATS(ranks, weights, out.rmean.span(), out.rwmean.span(), out.q.span(), p, s);
}

std::size_t StatsTasks(std::int32_t p, unsigned threads) {
  if (p <= 0) return 0;
  // About eight tasks per thread, so that threads finish close together.
  const std::size_t blocks = Blocks(p);
  const std::size_t wanted = 8 * static_cast<std::size_t>(std::max(threads, 1u));
  const std::size_t per_task = (blocks + wanted - 1) / wanted;
  return (blocks + per_task - 1) / per_task;
}

void StatsTask(std::size_t task, std::size_t tasks, const RankMatrix& ranks,
               const StudyWeights& weights, Statistics& out, std::int32_t p, std::int32_t s) {
  const auto rows = static_cast<std::size_t>(p);
  const std::size_t blocks = Blocks(p);
  const std::size_t per_task = (blocks + tasks - 1) / tasks;
  const std::size_t last = std::min(blocks, (task + 1) * per_task);
  for (std::size_t b = task * per_task; b < last; ++b) {
    const std::size_t first = b * kBlock;
    StatsBlock(VectorForm::kWidest, ranks, weights, out.rmean.data(), out.rwmean.data(),
               out.q.data(), first, std::min(kBlock, rows - first), s);
  }
}

void STATS(const RankMatrix& ranks, const StudyWeights& weights, Statistics& out, std::int32_t p,
           std::int32_t s, WorkerPool& pool) {
  const std::size_t tasks = StatsTasks(p, pool.size());
  pool.ForEach(tasks,
               [&](std::size_t t, unsigned) { StatsTask(t, tasks, ranks, weights, out, p, s); });
}

}  // namespace korvelan::engine
