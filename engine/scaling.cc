#include "engine/scaling.h"

namespace korvelan::engine {

namespace {

// Whether rows 1 .. P of columns 1 .. S are stored, so that the loops can
// run over the columns directly.
bool Stored(const RankMatrix& ranks, std::int32_t probes, std::int32_t studies) {
  return ranks.rows() >= probes && ranks.cols() >= studies;
}

}  // namespace

std::vector<float> CountPresent(const RankMatrix& ranks, std::int32_t probes,
                                std::int32_t studies) {
  std::vector<float> present(studies > 0 ? static_cast<std::size_t>(studies) : 0, 0.0f);
  const bool stored = Stored(ranks, probes, studies);
  for (std::int32_t j = 1; j <= studies; ++j) {
    float count = 0.0f;
    if (stored) {
      // Whole numbers below 2^24 are exact in a float; counted as an
      // integer, the float is the same.
      const float* r = ranks.column(j);
      std::int64_t n = 0;
      for (std::int32_t i = 0; i < probes; ++i) n += r[i] != kMissing ? 1 : 0;
      count = static_cast<float>(n);
    } else {
      for (std::int32_t i = 1; i <= probes; ++i) {
        if (ranks.Get(i, j) != kMissing) count += 1.0f;
      }
    }
    present[static_cast<std::size_t>(j - 1)] = count;
  }
  return present;
}

void ScaleRanks(RankMatrix& ranks, std::int32_t probes, std::int32_t studies,
                const std::vector<float>& present) {
  for (std::int32_t j = 1; j <= studies; ++j) {
    // Kept in double: rounding the quotient to float first would move some
    // scaled ranks by one unit in the last place.
    const double factor =
        static_cast<double>(probes) / static_cast<double>(present[static_cast<std::size_t>(j - 1)]);
    if (Stored(ranks, probes, studies)) {
      float* r = ranks.column(j);
      for (std::int32_t i = 0; i < probes; ++i) {
        if (r[i] != kMissing) r[i] = static_cast<float>(factor * static_cast<double>(r[i]));
      }
      continue;
    }
    for (std::int32_t i = 1; i <= probes; ++i) {
      const float r = ranks.Get(i, j);
      if (r != kMissing) ranks.Set(i, j, static_cast<float>(factor * static_cast<double>(r)));
    }
  }
}

}  // namespace korvelan::engine
