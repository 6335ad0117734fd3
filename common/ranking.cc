#include "common/ranking.h"

#include <algorithm>
#include <numeric>

namespace korvelan::tools {

RankKey ValueKey(double value, RankFirst first) {
  // Negation is exact, so a descending order costs no rounding.
  return {0, first == RankFirst::kSmallest ? value : -value};
}

RankKey SignedSignificanceKey(double effect, double p_value, RankFirst first) {
  RankKey key;
  if (effect > 0 && p_value < 1) {
    key = {0, p_value};
  } else if (effect < 0 && p_value < 1) {
    key = {2, -p_value};
  } else {
    key = {1, 0.0};
  }
  if (first == RankFirst::kSmallest) key = {2 - key.group, -key.value};
  // -0.0 and 0.0 compare equal already; normalise for readable keys.
  if (key.value == 0) key.value = 0;
  return key;
}

std::vector<std::int64_t> AverageHalfRanks(std::span<const RankKey> keys) {
  std::vector<std::size_t> order(keys.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
  std::vector<std::int64_t> half_ranks(keys.size());
  std::size_t begin = 0;
  while (begin < order.size()) {
    std::size_t end = begin + 1;
    while (end < order.size() && keys[order[end]] == keys[order[begin]]) ++end;
    // Positions begin .. end-1 hold ranks begin+1 .. end; their average
    // doubled is (begin + 1) + end.
    auto half = static_cast<std::int64_t>(begin + 1 + end);
    for (std::size_t i = begin; i < end; ++i) half_ranks[order[i]] = half;
    begin = end;
  }
  return half_ranks;
}

}  // namespace korvelan::tools
