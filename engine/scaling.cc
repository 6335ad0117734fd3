#include "engine/scaling.h"

#include <bit>

namespace korvelan::engine {

namespace {

// Whether rows 1 .. P of columns 1 .. S are stored, so that the loops can
// run over the columns directly.
bool Stored(const RankMatrix& ranks, std::int32_t probes, std::int32_t studies) {
  return ranks.rows() >= probes && ranks.cols() >= studies;
}

// The present ranks of one stored column of P rows.
std::int64_t CountColumn(const float* r, std::int32_t probes) {
  std::int64_t n = 0;
  for (std::int32_t i = 0; i < probes; ++i) n += r[i] != kMissing ? 1 : 0;
  return n;
}

// Kept in double: rounding the quotient to float first would move some
// scaled ranks by one unit in the last place.
double ScaleFactor(std::int32_t probes, float present) {
  return static_cast<double>(probes) / static_cast<double>(present);
}

// Every value is scaled and the missing markers are then put back by a
// select on the bits, so that the loop has no branch on the randomly placed
// markers and vectorizes (as a condition, the compiler makes it a branch).
void ScaleColumn(float* r, std::int32_t probes, double factor) {
  for (std::int32_t i = 0; i < probes; ++i) {
    const float v = r[i];
    const auto scaled = static_cast<float>(factor * static_cast<double>(v));
    const std::uint32_t keep = v != kMissing ? 0xFFFFFFFFu : 0u;
    r[i] = std::bit_cast<float>((std::bit_cast<std::uint32_t>(scaled) & keep) |
                                (std::bit_cast<std::uint32_t>(v) & ~keep));
  }
}

}  // namespace

std::vector<float> CountPresent(const RankMatrix& ranks, std::int32_t probes, std::int32_t studies) {
  std::vector<float> present(studies > 0 ? static_cast<std::size_t>(studies) : 0, 0.0f);
  const bool stored = Stored(ranks, probes, studies);
  for (std::int32_t j = 1; j <= studies; ++j) {
    float count = 0.0f;
    if (stored) {
      // Whole numbers below 2^24 are exact in a float; counted as an
      // integer, the float is the same.
      count = static_cast<float>(CountColumn(ranks.column(j), probes));
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
    const double factor = ScaleFactor(probes, present[static_cast<std::size_t>(j - 1)]);
    if (Stored(ranks, probes, studies)) {
      ScaleColumn(ranks.column(j), probes, factor);
      continue;
    }
    for (std::int32_t i = 1; i <= probes; ++i) {
      const float r = ranks.Get(i, j);
      if (r != kMissing) ranks.Set(i, j, static_cast<float>(factor * static_cast<double>(r)));
    }
  }
}

void ScaleStudies(RankMatrix& ranks, std::int32_t probes, std::int32_t studies, WorkerPool& pool) {
  if (!Stored(ranks, probes, studies) || probes <= 0 || studies <= 0) {
    ScaleRanks(ranks, probes, studies, CountPresent(ranks, probes, studies));
    return;
  }
  pool.ForEach(static_cast<std::size_t>(studies), [&](std::size_t j, unsigned) {
    float* r = ranks.column(static_cast<std::int32_t>(j) + 1);
    const auto present = static_cast<float>(CountColumn(r, probes));
    ScaleColumn(r, probes, ScaleFactor(probes, present));
  });
}

}  // namespace korvelan::engine
