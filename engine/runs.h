// The Monte Carlo permutation runs.
//
// Each run shuffles every study column of the rank matrix in place (a
// missing rank -99 never leaves its cell; present ranks are exchanged only
// among the study's present cells), then recomputes the statistics with
// STATS and hands them to the counting step of the chosen analysis. The
// matrix is never restored: run n starts from the arrangement of run n - 1.
//
// All draws of all studies and runs form one unbroken sequence of the
// uniform stream: the order is run 1 study 1 (L = P down to 2, two draws per
// exchange step, the first used and the second only advancing the stream),
// run 1 study 2, ..., run 2 study 1, and so on. A study thus takes exactly
// 2 (P - 1) draws whatever its ranks, which is what lets studies be
// shuffled side by side: each one's draws start at a known offset.
#ifndef KORVELAN_ENGINE_RUNS_H_
#define KORVELAN_ENGINE_RUNS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "driver/model.h"
#include "engine/stats.h"

namespace korvelan::engine {

// The saved seed and the draws made from it. Every draw is, in effect,
// SETSEED(saved); RNUN(1, u); GETSEED(saved). The first draw is made exactly
// so, through the process-wide stream, which settles the starting state (a
// saved seed of 0 takes the clock seed there); since each later SETSEED
// would only re-establish the state the previous GETSEED returned, all
// draws are then computed from that state directly, giving the identical
// sequence.
class DrawStream {
 public:
  explicit DrawStream(std::int32_t saved_seed) : saved_(saved_seed) {}

  // One draw.
  float Next();
  // One exchange step's pair of draws: returns the first, discards the
  // second.
  float NextPair();
  // Makes the first draw's starting state known, without consuming a
  // number: the process-wide stream is asked for the first number once, and
  // the state is stepped back over it (by 16807^-1 modulo 2^31 - 1), so that
  // the next draw regenerates it. Done by the first draw if not before.
  void Establish();
  // Advances by `draws` numbers without making them (after Establish()).
  void Skip(std::uint64_t draws);

  // The saved seed: the state the next number is generated from (the
  // initial seed before anything is established).
  std::int32_t saved_seed() const { return saved_; }

 private:
  std::int32_t saved_;
  bool established_ = false;
};

// K of one exchange step: trunc(L * u) + 1, capped at L. The product of L and
// the float u is exact in double (at most 43 significant bits).
std::int32_t ExchangeIndex(std::int32_t l, float u);

// Shuffles one study column. The exchange indices depend only on L and the
// draws, never on the column's values, so they are all drawn first and the
// exchanges then follow with the slots they touch fetched ahead. A buffer of
// P + 1 indices is held and reused.
class ColumnShuffler {
 public:
  // Room for columns of up to `probes` slots; a failed allocation is 41.
  explicit ColumnShuffler(std::int32_t probes);

  // Shuffles x[0 .. p-1] (slots 1 .. P, p <= probes) in place: for L = P
  // down to 2 one exchange step of two draws; X(L) and X(K) are exchanged
  // unless either holds -99. No draw at all when P <= 1.
  void Shuffle(float* x, std::int32_t p, DrawStream& draws);

 private:
  std::vector<std::int32_t> k_;  // k_[L]: the exchange index of step L
};

// ShuffleColumn with a buffer of its own (tests and single use).
void ShuffleColumn(float* x, std::int32_t p, DrawStream& draws);

// The run loop: for n = 1 .. N (none when N <= 0) writes "Run=" n on the
// console, shuffles columns 1 .. S of rows 1 .. P, fills `run` with STATS
// and calls per_run(n); after the last run (also when there was none)
// writes the one-blank line. With threads > 1 the studies of a run are
// shuffled on that many threads, each study from its own offset in the
// stream; the results are the same for every thread count. Preconditions as
// for STATS; `run` holds P entries.
void PermutationRuns(const DialogueParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const std::function<void(std::int32_t)>& per_run, unsigned threads = 1);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_RUNS_H_
