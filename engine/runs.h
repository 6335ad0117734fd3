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
#include <exception>
#include <functional>
#include <stop_token>
#include <vector>

#include "engine/model.h"
#include "engine/counting.h"
#include "engine/stats.h"
#include "engine/worker_pool.h"

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

  // A stream whose first draw is known to start from `seed` (1 ..
  // 2147483646) without asking the process-wide stream: SETSEED(seed)
  // establishes exactly that state, so both give the same draws. What the
  // library uses, since it may run on several threads at once.
  static DrawStream Seeded(std::int32_t seed) {
    DrawStream d(seed);
    d.established_ = true;
    return d;
  }

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
  // `steps` exchange steps' worth of pairs: k[i] = ExchangeIndex(first_l -
  // i, NextPair()) for i = 0 .. steps-1 (first_l - steps + 1 >= 1).
  void ExchangeIndices(std::int32_t first_l, std::int32_t steps, std::int32_t* k);

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
// draws, never on the column's values, so they are made first, a chunk of
// steps at a time, and the exchanges of the chunk then follow with the slots
// they touch fetched ahead. The draws of a chunk come from several
// interleaved copies of the generator, each stepping 2 x kLanes numbers at
// a time (a multiplier of 16807^(2 kLanes) modulo 2^31 - 1), which gives the
// same numbers as stepping one state but without one long chain of
// dependent multiplications. The buffer is one chunk, whatever P.
class ColumnShuffler {
 public:
  ColumnShuffler();

  // Shuffles x[0 .. p-1] (slots 1 .. P) in place: for L = P down to 2 one
  // exchange step of two draws; X(L) and X(K) are exchanged unless either
  // holds -99. No draw at all when P <= 1.
  void Shuffle(float* x, std::int32_t p, DrawStream& draws);

  static constexpr std::int32_t kChunk = 2048;  // exchange steps per chunk
  static constexpr std::int32_t kLanes = 8;     // interleaved generators

 private:
  std::vector<std::int32_t> k_;  // k_[i]: the exchange index of step L = first L - i
};

// ShuffleColumn with a buffer of its own (tests and single use).
void ShuffleColumn(float* x, std::int32_t p, DrawStream& draws);

// The exchanges of steps L = top .. top - steps + 1 of a column, with the
// exchange indices k[0 .. steps-1] drawn for them: what Shuffle does with
// each chunk once its indices are made.
void ApplyExchanges(float* x, std::int32_t top, std::int32_t steps, const std::int32_t* k);

// How the run loop divides its work among the pool's threads (never what
// it computes). A study's exchanges depend on each other and are made on
// one thread, but its draws do not: on a pool of several threads, run n +
// 1's exchange indices are drawn beside run n's STATS, in pieces that each
// start from their own offset of the stream, into a buffer of S (P - 1)
// indices; run n + 1 then only makes the exchanges. With a few studies on
// many threads, that takes some 40 % off the longest task of a run and
// fills the threads while STATS runs.
struct RunDivision {
  // Draw ahead only when the buffer holds at most this many indices (0:
  // never): 2^24 indices, 64 MB, at most the size of the rank columns.
  std::size_t draws_ahead_limit = std::size_t{1} << 24;
  // Exchange steps per piece of drawing (at least 1).
  std::int32_t draw_piece = 4 * ColumnShuffler::kChunk;
};

// What the run loop tells its caller and asks of it. The console program
// writes its "Run=" lines and the blank line after the runs here; the
// library reports progress and lets its caller stop. Every function is
// called on the thread that runs the loop; an empty one is skipped. An
// exception from one ends the loop (after the tasks under way are done).
struct RunHooks {
  std::function<void(std::int32_t n)> before_run;  // before run n's shuffles
  std::function<void(std::int32_t n)> after_run;   // run n's statistics are in `run`
  std::function<void()> after_runs;                // after the last run, also when none
  // Polled at the start of every run and of every task of a run (a study's
  // shuffle, a block of STATS, a piece of the counting: a few milliseconds
  // at most on the largest inputs); once a stop is requested the loop
  // throws Cancelled.
  std::stop_token stop;
};

// Thrown by the run loop when its stop token asks it to stop.
class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "analysis cancelled"; }
};

// The run loop: for n = 1 .. N (none when N <= 0) calls before_run(n),
// shuffles columns 1 .. S of rows 1 .. P, fills `run` with STATS and calls
// after_run(n); after the last run calls after_runs(). The studies of a run
// are shuffled side by side on the pool's threads, study j from the
// stream's offset 2 (P - 1) (j - 1) of the run (its draws made ahead, as
// `division` says), and STATS runs on them in blocks of probes; the results
// are the same for every number of threads and every division.
// Preconditions as for STATS; `run` holds P entries.
//
// With a `counter`, each run's statistics are also counted there, beside
// the next run's shuffles (which never touch the statistics; STATS then
// writes a second set of them); the last run is counted after the loop,
// and the counts are settled before after_runs(). Nothing of this shows
// outside: the counts are those of counting each run at its end, and when
// the loop returns `run` holds the last run's statistics.
void PermutationRuns(const AnalysisParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const RunHooks& hooks, WorkerPool& pool, ExceedanceCounter* counter = nullptr,
                     const RunDivision& division = {});

// The same on a pool of `threads` threads of its own.
void PermutationRuns(const AnalysisParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const RunHooks& hooks, unsigned threads = 1);

}  // namespace korvelan::engine

#endif  // KORVELAN_ENGINE_RUNS_H_
