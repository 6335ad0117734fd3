// Oracles: the straightforward forms of the engine's algorithms, kept to
// check the fast forms against on random data. Each follows the plain
// description step by step and is deliberately slow.
#ifndef KORVELAN_TESTS_ENGINE_ORACLES_H_
#define KORVELAN_TESTS_ENGINE_ORACLES_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/model.h"
#include "numeric/random.h"

namespace korvelan::engine::oracle {

// ORACLE: STATS probe by probe, three passes, the renormalised weights in a
// table v(1 .. S) rewritten for every probe.
struct StatsRows {
  std::vector<float> rmean, rwmean, q;
};
inline StatsRows Stats(const RankMatrix& x, const StudyWeights& w, std::int32_t p, std::int32_t s) {
  StatsRows out{std::vector<float>(static_cast<std::size_t>(p)),
                std::vector<float>(static_cast<std::size_t>(p)),
                std::vector<float>(static_cast<std::size_t>(p))};
  for (std::int32_t i = 1; i <= p; ++i) {
    float sum = 0.0f;
    std::int32_t n = 0;
    for (std::int32_t j = 1; j <= s; ++j) {
      if (x.Get(i, j) != -99.0f) {
        n = n + 1;
        sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(x.Get(i, j)));
      }
    }
    out.rmean[static_cast<std::size_t>(i - 1)] =
        static_cast<float>(static_cast<double>(sum) / static_cast<double>(n));
  }
  std::array<float, 100> v{};
  for (std::int32_t i = 1; i <= p; ++i) {
    float wsum = 0.0f;
    for (std::int32_t j = 1; j <= s; ++j) {
      if (x.Get(i, j) != -99.0f) {
        wsum = static_cast<float>(static_cast<double>(wsum) + static_cast<double>(w.Get(j)));
      }
    }
    float sum = 0.0f;
    for (std::int32_t j = 1; j <= s; ++j) {
      if (x.Get(i, j) != -99.0f) {
        v[static_cast<std::size_t>(j - 1)] =
            static_cast<float>(static_cast<double>(w.Get(j)) / static_cast<double>(wsum));
        sum = static_cast<float>(static_cast<double>(sum) +
                                 static_cast<double>(x.Get(i, j)) *
                                     static_cast<double>(v[static_cast<std::size_t>(j - 1)]));
      }
    }
    out.rwmean[static_cast<std::size_t>(i - 1)] = sum;
  }
  for (std::int32_t i = 1; i <= p; ++i) {
    float q = 0.0f;
    for (std::int32_t j = 1; j <= s; ++j) {
      if (x.Get(i, j) != -99.0f) {
        const double d = static_cast<double>(x.Get(i, j)) -
                         static_cast<double>(out.rmean[static_cast<std::size_t>(i - 1)]);
        q = static_cast<float>(static_cast<double>(q) + d * d);
      }
    }
    out.q[static_cast<std::size_t>(i - 1)] = q;
  }
  return out;
}

// ORACLE: one draw of the runs, through the process-wide stream every time.
inline float Draw(std::int32_t& saved) {
  float u = 0.0f;
  numeric::SETSEED(saved);
  numeric::RNUN(1, &u);
  numeric::GETSEED(saved);
  return u;
}

// ORACLE: the shuffle of one study through a work column, slots 1 .. P.
inline void Shuffle(std::vector<float>& column, std::int32_t p, std::int32_t& saved) {
  std::vector<float> x(static_cast<std::size_t>(p) + 1);  // x[0] unused
  for (std::int32_t i = 1; i <= p; ++i)
    x[static_cast<std::size_t>(i)] = column[static_cast<std::size_t>(i - 1)];
  for (std::int32_t l = p; l >= 2; --l) {
    const float u = Draw(saved);
    std::int32_t k = static_cast<std::int32_t>(static_cast<double>(l) * static_cast<double>(u)) + 1;
    (void)Draw(saved);
    if (k > l) k = l;
    const float kept = x[static_cast<std::size_t>(l)];
    if (x[static_cast<std::size_t>(k)] == -99.0f) k = l;
    if (x[static_cast<std::size_t>(l)] == -99.0f) k = l;
    x[static_cast<std::size_t>(l)] = x[static_cast<std::size_t>(k)];
    x[static_cast<std::size_t>(k)] = kept;
  }
  for (std::int32_t i = 1; i <= p; ++i)
    column[static_cast<std::size_t>(i - 1)] = x[static_cast<std::size_t>(i)];
}

// ORACLE: the counting step of one class and statistic, every pair compared,
// double counters incremented by 1 (rows a .. b, 1-based).
inline void CountPairs(const std::vector<float>& observed, const std::vector<float>& run,
                       std::int32_t a, std::int32_t b, std::vector<double>& right,
                       std::vector<double>& left) {
  for (std::int32_t i = a; i <= b; ++i) {
    for (std::int32_t v = a; v <= b; ++v) {
      const float r = run[static_cast<std::size_t>(v - 1)];
      const float o = observed[static_cast<std::size_t>(i - 1)];
      if (r >= o) right[static_cast<std::size_t>(i - 1)] += 1.0;
      if (r <= o) left[static_cast<std::size_t>(i - 1)] += 1.0;
    }
  }
}

// ORACLE: the same counts for large classes, from the class's run values
// sorted as floats (NaN left out; -0 and +0 are equivalent under <), each
// observed value looked up by binary search. A NaN observed value matches
// nothing.
inline void CountBySearch(const std::vector<float>& observed, const std::vector<float>& run,
                          std::int32_t a, std::int32_t b, std::vector<double>& right,
                          std::vector<double>& left) {
  std::vector<float> sorted;
  for (std::int32_t v = a; v <= b; ++v) {
    const float r = run[static_cast<std::size_t>(v - 1)];
    if (r == r) sorted.push_back(r);
  }
  std::sort(sorted.begin(), sorted.end());
  for (std::int32_t i = a; i <= b; ++i) {
    const float o = observed[static_cast<std::size_t>(i - 1)];
    if (o != o) continue;
    const auto below = std::lower_bound(sorted.begin(), sorted.end(), o) - sorted.begin();
    const auto up_to = std::upper_bound(sorted.begin(), sorted.end(), o) - sorted.begin();
    right[static_cast<std::size_t>(i - 1)] +=
        static_cast<double>(static_cast<std::ptrdiff_t>(sorted.size()) - below);
    left[static_cast<std::size_t>(i - 1)] += static_cast<double>(up_to);
  }
}

}  // namespace korvelan::engine::oracle

#endif  // KORVELAN_TESTS_ENGINE_ORACLES_H_
