// Small builders shared by the engine tests.
#ifndef KORVELAN_TESTS_ENGINE_TEST_DATA_H_
#define KORVELAN_TESTS_ENGINE_TEST_DATA_H_

#include <cstdint>
#include <initializer_list>
#include <random>
#include <vector>

#include "engine/model.h"

namespace korvelan::engine::testing {

// A rank matrix of the loaded shape: rows given as their S ranks followed by
// the class; the line-number column S + 2 gets the row number.
inline RankMatrix LoadedMatrix(std::int32_t s,
                               std::initializer_list<std::initializer_list<float>> rows) {
  RankMatrix x(static_cast<std::int32_t>(rows.size()), s + 2);
  std::int32_t i = 0;
  for (const auto& row : rows) {
    ++i;
    std::int32_t j = 0;
    for (float v : row) x.Set(i, ++j, v);
    x.Set(i, s + 2, static_cast<float>(i));
  }
  return x;
}

inline StudyWeights Weights(std::initializer_list<float> w) {
  StudyWeights out;
  std::int32_t j = 0;
  for (float v : w) out.Set(++j, v);
  return out;
}

// Ranks 1 .. p in each study, each column in its own random order, with
// about `missing` of the cells set to -99.
inline RankMatrix RandomRanks(std::mt19937& rng, std::int32_t p, std::int32_t s, double missing) {
  RankMatrix x(p, s + 2);
  std::bernoulli_distribution gap(missing);
  for (std::int32_t j = 1; j <= s; ++j) {
    std::vector<float> ranks(static_cast<std::size_t>(p));
    for (std::int32_t i = 0; i < p; ++i)
      ranks[static_cast<std::size_t>(i)] = static_cast<float>(i + 1);
    std::shuffle(ranks.begin(), ranks.end(), rng);
    for (std::int32_t i = 1; i <= p; ++i) {
      x.Set(i, j, gap(rng) ? -99.0f : ranks[static_cast<std::size_t>(i - 1)]);
    }
  }
  for (std::int32_t i = 1; i <= p; ++i) x.Set(i, s + 2, static_cast<float>(i));
  return x;
}

}  // namespace korvelan::engine::testing

#endif  // KORVELAN_TESTS_ENGINE_TEST_DATA_H_
