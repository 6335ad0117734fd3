// Ranking one study: from each gene's value to its rank 1 .. n among the n
// genes the study ranked, equal values sharing the average of the ranks
// they span.
//
// Ranks are held in half units (2 x rank): the average of the ranks a .. b
// is (a + b) / 2, a whole number or a half, so 2 x rank = a + b is exact in
// integers and prints as "7" or "7.5", which the program's reader turns
// into exactly that float (halves are exact in single precision far beyond
// 500000).
#ifndef KORVELAN_COMMON_RANKING_H_
#define KORVELAN_COMMON_RANKING_H_

#include <cstdint>
#include <span>
#include <vector>

namespace korvelan::tools {

// The order in which a study's genes are ranked, as a sortable key: genes
// compare by group first, then by value; rank 1 goes to the smallest key.
// Equal keys are ties. Groups let one key express orders that a single
// double cannot hold exactly (signed significance, below).
struct RankKey {
  int group = 0;
  double value = 0;
  friend bool operator==(const RankKey&, const RankKey&) = default;
  friend bool operator<(const RankKey& a, const RankKey& b) {
    return a.group != b.group ? a.group < b.group : a.value < b.value;
  }
};

enum class RankFirst { kSmallest, kLargest };

// The key of a plain value (a p-value or a signed statistic): rank 1 to the
// smallest or to the largest value. Infinities are ordinary extremes.
RankKey ValueKey(double value, RankFirst first);

// The key of signed significance sign(effect) x -log10(p), compared exactly
// rather than through a rounded logarithm: with rank 1 to the largest
// score, the genes with a positive effect and p < 1 come first by
// ascending p, then every gene whose score is 0 (effect 0, or p = 1) as one
// tie, then the genes with a negative effect by descending p. kSmallest
// reverses the whole order.
RankKey SignedSignificanceKey(double effect, double p_value, RankFirst first);

// 2 x the average rank of each key among all keys (ties averaged).
std::vector<std::int64_t> AverageHalfRanks(std::span<const RankKey> keys);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_RANKING_H_
