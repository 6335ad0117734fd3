#include "engine/runs.h"

#include <algorithm>
#include <thread>

#include "numeric/random.h"
#include "textio/channels.h"

namespace korvelan::engine {

namespace {

constexpr std::uint64_t kModulus = 2147483647u;  // 2^31 - 1, prime
constexpr std::uint64_t kMultiplier = 16807u;
// 16807^2 mod (2^31 - 1): two steps of the generator in one.
constexpr std::uint64_t kMultiplierSquared = 282475249u;
// The stream's scale, (2^24 - 1) * 2^-55: the largest float below 2^-31.
constexpr float kScale = 0x1.fffffep-32f;

// a * s mod (2^31 - 1) for a, s < 2^31: the product fits in 62 bits, and
// 2^31 == 1 modulo 2^31 - 1 folds the high part onto the low one. Equal to
// the 32-bit Schrage decomposition of the stream itself.
inline std::int32_t MulMod(std::uint64_t a, std::int32_t s) {
  std::uint64_t x = a * static_cast<std::uint64_t>(s);
  x = (x & kModulus) + (x >> 31);
  if (x >= kModulus) x -= kModulus;
  return static_cast<std::int32_t>(x);
}

// The number of a state: the exact double product, rounded once to float.
inline float Uniform(std::int32_t s) {
  return static_cast<float>(static_cast<double>(s) * static_cast<double>(kScale));
}

// Draws ahead of the exchange that prefetches its slot.
constexpr std::int32_t kPrefetchDistance = 16;

}  // namespace

void DrawStream::Establish() {
  if (established_) return;
  float u = 0.0f;
  numeric::SETSEED(saved_);
  numeric::RNUN(1, &u);
  numeric::GETSEED(saved_);
  // 16807^(M-2) is the inverse of the multiplier modulo the prime M.
  saved_ = numeric::StateAfter(saved_, kModulus - 2);
  established_ = true;
}

void DrawStream::Skip(std::uint64_t draws) {
  Establish();
  saved_ = numeric::StateAfter(saved_, draws);
}

float DrawStream::Next() {
  Establish();
  saved_ = MulMod(kMultiplier, saved_);
  return Uniform(saved_);
}

float DrawStream::NextPair() {
  Establish();
  const float u = Uniform(MulMod(kMultiplier, saved_));
  saved_ = MulMod(kMultiplierSquared, saved_);
  return u;
}

std::int32_t ExchangeIndex(std::int32_t l, float u) {
  const auto k = static_cast<std::int32_t>(static_cast<double>(l) * static_cast<double>(u)) + 1;
  return k > l ? l : k;
}

ColumnShuffler::ColumnShuffler(std::int32_t probes)
    : k_(ZeroedBuffer<std::int32_t>(static_cast<std::size_t>(std::max(probes, 1)) + 1)) {}

void ColumnShuffler::Shuffle(float* x, std::int32_t p, DrawStream& draws) {
  if (p < 2) return;
  std::int32_t* k = k_.data();
  for (std::int32_t l = p; l >= 2; --l) k[l] = ExchangeIndex(l, draws.NextPair());
  for (std::int32_t l = p; l >= 2; --l) {
    if (l - kPrefetchDistance >= 2) __builtin_prefetch(x + (k[l - kPrefetchDistance] - 1), 1);
    std::int32_t kk = k[l];
    const float kept = x[l - 1];
    // A missing rank never moves, and no other slot is drawn instead.
    if (x[kk - 1] == kMissing) kk = l;
    if (x[l - 1] == kMissing) kk = l;
    x[l - 1] = x[kk - 1];
    x[kk - 1] = kept;
  }
}

void ShuffleColumn(float* x, std::int32_t p, DrawStream& draws) {
  ColumnShuffler shuffler(p);
  shuffler.Shuffle(x, p, draws);
}

namespace {

// The studies of one run on `workers.size()` threads, study j from the
// stream's offset 2 (P - 1) (j - 1); the stream then stands after them all.
void ShuffleStudiesSideBySide(RankMatrix& ranks, std::int32_t p, std::int32_t s,
                              DrawStream& draws, std::vector<ColumnShuffler>& workers) {
  draws.Establish();
  const auto per_study = 2 * static_cast<std::uint64_t>(p - 1);
  const auto count = static_cast<std::int32_t>(workers.size());
  std::vector<std::thread> threads;
  threads.reserve(workers.size());
  for (std::int32_t w = 0; w < count; ++w) {
    threads.emplace_back([&, w] {
      for (std::int32_t j = 1 + w; j <= s; j += count) {
        DrawStream own = draws;
        own.Skip(per_study * static_cast<std::uint64_t>(j - 1));
        workers[static_cast<std::size_t>(w)].Shuffle(ranks.column(j), p, own);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  draws.Skip(per_study * static_cast<std::uint64_t>(s));
}

}  // namespace

void PermutationRuns(const DialogueParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const std::function<void(std::int32_t)>& per_run, unsigned threads) {
  const std::int32_t p = params.probes;
  const std::int32_t s = params.studies;
  const bool side_by_side = threads > 1 && s > 1 && p > 1 && params.runs > 0;
  const std::size_t worker_count =
      side_by_side ? std::min<std::size_t>(threads, static_cast<std::size_t>(s)) : 1;
  std::vector<ColumnShuffler> workers;
  if (params.runs > 0) {
    workers.reserve(worker_count);
    for (std::size_t w = 0; w < worker_count; ++w) workers.emplace_back(p);
  }
  for (std::int32_t n = 1; n <= params.runs; ++n) {
    textio::ConsoleWrite("Run=", n);
    if (side_by_side) {
      ShuffleStudiesSideBySide(ranks, p, s, draws, workers);
    } else if (p > 1) {
      for (std::int32_t j = 1; j <= s; ++j) workers.front().Shuffle(ranks.column(j), p, draws);
    }
    STATS(ranks, weights, run, p, s);
    per_run(n);
  }
  textio::ConsoleWrite(" ");
}

}  // namespace korvelan::engine
