#include "engine/stats.h"

#include <cstddef>

namespace korvelan::engine {

namespace {

// The passes run study by study over contiguous columns, with one running
// value per probe; a probe's additions still come in the order 1 .. S.
void RmeanPass(const RankMatrix& ranks, float* rmean, float* count, std::size_t p,
               std::int32_t s) {
  for (std::size_t i = 0; i < p; ++i) {
    rmean[i] = 0.0f;
    count[i] = 0.0f;  // whole numbers up to 98: exact in a float
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j);
    for (std::size_t i = 0; i < p; ++i) {
      if (r[i] != kMissing) {
        count[i] += 1.0f;
        rmean[i] = static_cast<float>(static_cast<double>(rmean[i]) + static_cast<double>(r[i]));
      }
    }
  }
  for (std::size_t i = 0; i < p; ++i) {
    // 0 / 0 for a probe with no present rank: NaN, by intent.
    rmean[i] = static_cast<float>(static_cast<double>(rmean[i]) / static_cast<double>(count[i]));
  }
}

void WeightedPass(const RankMatrix& ranks, const StudyWeights& weights, float* rwmean,
                  float* weight_sum, std::size_t p, std::int32_t s) {
  for (std::size_t i = 0; i < p; ++i) {
    weight_sum[i] = 0.0f;
    rwmean[i] = 0.0f;
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j);
    const double w = weights.Get(j);
    for (std::size_t i = 0; i < p; ++i) {
      if (r[i] != kMissing) {
        weight_sum[i] = static_cast<float>(static_cast<double>(weight_sum[i]) + w);
      }
    }
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j);
    const double w = weights.Get(j);
    for (std::size_t i = 0; i < p; ++i) {
      if (r[i] != kMissing) {
        // v(j) is stored as a float; the product of the two floats is exact
        // in double (48 significant bits), only the new sum is rounded.
        const float v = static_cast<float>(w / static_cast<double>(weight_sum[i]));
        rwmean[i] = static_cast<float>(static_cast<double>(rwmean[i]) +
                                       static_cast<double>(r[i]) * static_cast<double>(v));
      }
    }
  }
}

void QPass(const RankMatrix& ranks, const float* rmean, float* q, std::size_t p,
           std::int32_t s) {
  for (std::size_t i = 0; i < p; ++i) q[i] = 0.0f;
  for (std::int32_t j = 1; j <= s; ++j) {
    const float* r = ranks.column(j);
    for (std::size_t i = 0; i < p; ++i) {
      if (r[i] != kMissing) {
        // d from the R-mean as stored (a float); d and d * d stay in double.
        const double d = static_cast<double>(r[i]) - static_cast<double>(rmean[i]);
        q[i] = static_cast<float>(static_cast<double>(q[i]) + d * d);
      }
    }
  }
}

}  // namespace

void STATS(const RankMatrix& ranks, const StudyWeights& weights, std::span<float> rmean,
           std::span<float> rwmean, std::span<float> q, std::int32_t p, std::int32_t s) {
  if (p <= 0) return;
  const auto n = static_cast<std::size_t>(p);
  // Q's storage holds the count of present studies during the R-mean pass
  // and the weight sum during the weighted pass; the Q pass then starts it
  // from zero.
  RmeanPass(ranks, rmean.data(), q.data(), n, s);
  WeightedPass(ranks, weights, rwmean.data(), q.data(), n, s);
  QPass(ranks, rmean.data(), q.data(), n, s);
}

void STATS(const RankMatrix& ranks, const StudyWeights& weights, Statistics& out,
           std::int32_t p, std::int32_t s) {
  STATS(ranks, weights, out.rmean.span(), out.rwmean.span(), out.q.span(), p, s);
}

}  // namespace korvelan::engine
