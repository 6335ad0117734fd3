#include "engine/runs.h"

// GCC 12 with the sanitizers at -O2 takes the vector inside the optional
// DrawsAhead of a run loop for uninitialised when the optional is empty
// (a false alarm: it is only read when engaged).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <algorithm>
#include <bit>
#include <optional>
#include <utility>

#include "numeric/random.h"

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

constexpr std::uint32_t kMissingBits = std::bit_cast<std::uint32_t>(kMissing);

// Draws ahead of the exchange that prefetches its slot.
constexpr std::int32_t kPrefetchDistance = 16;

constexpr std::uint64_t PowMod(std::uint64_t base, std::uint64_t e) {
  std::uint64_t r = 1;
  for (; e != 0; e >>= 1) {
    if (e & 1u) r = r * base % kModulus;
    base = base * base % kModulus;
  }
  return r;
}

// One lane of the interleaved generators steps over 2 x kLanes numbers.
constexpr std::uint32_t kLaneStride =
    static_cast<std::uint32_t>(PowMod(kMultiplier, 2 * ColumnShuffler::kLanes));

// A whole chunk of exchange steps: 16807^(2 kChunk).
constexpr std::uint64_t kChunkStride = PowMod(kMultiplier, 2 * ColumnShuffler::kChunk);

// MulMod in 32-bit lanes: the fold leaves y <= 2^32 - 2, and one
// conditional subtraction, done with the sign of y - (2^31 - 1), brings it
// into 0 .. 2^31 - 2.
inline std::uint32_t MulModLane(std::uint32_t a, std::uint32_t s) {
  const std::uint64_t x = static_cast<std::uint64_t>(a) * s;
  const auto y = static_cast<std::uint32_t>((x & kModulus) + (x >> 31));
  auto t = static_cast<std::int32_t>(y - static_cast<std::uint32_t>(kModulus));
  t += (t >> 31) & static_cast<std::int32_t>(kModulus);
  return static_cast<std::uint32_t>(t);
}

// Eight exchange steps, L = l .. l - 7, from the eight lanes' states, which
// then step on: k[c] = ExchangeIndex(l - c, Uniform(lane[c])). The lanes do
// not depend on each other, so their steps overlap in the processor.
inline void EightSteps(std::uint32_t* lane, std::int32_t l, std::int32_t* k) {
  static_assert(ColumnShuffler::kLanes == 8);
  for (std::int32_t c = 0; c < 8; ++c) {
    k[c] = ExchangeIndex(l - c, Uniform(static_cast<std::int32_t>(lane[c])));
    lane[c] = MulModLane(kLaneStride, lane[c]);
  }
}

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

void DrawStream::ExchangeIndices(std::int32_t first_l, std::int32_t steps, std::int32_t* k) {
  if (steps <= 0) return;
  Establish();
  constexpr std::int32_t kLanes = ColumnShuffler::kLanes;
  // Lane c starts at the used number of step c: 16807^(2c + 1) s.
  std::uint32_t lane[kLanes];
  std::int32_t s = saved_;
  for (std::int32_t c = 0; c < kLanes; ++c) {
    lane[c] = static_cast<std::uint32_t>(MulMod(kMultiplier, s));
    s = MulMod(kMultiplierSquared, s);
  }
  std::int32_t i = 0;
  for (; i + kLanes <= steps; i += kLanes) EightSteps(lane, first_l - i, k + i);
  for (std::int32_t c = 0; i + c < steps; ++c) {
    k[i + c] = ExchangeIndex(first_l - i - c, Uniform(static_cast<std::int32_t>(lane[c])));
  }
  // Full chunks, nearly all of them, step by a constant multiplier.
  saved_ = steps == ColumnShuffler::kChunk
               ? MulMod(kChunkStride, saved_)
               : numeric::StateAfter(saved_, 2 * static_cast<std::uint64_t>(steps));
}

std::int32_t ExchangeIndex(std::int32_t l, float u) {
  const auto k = static_cast<std::int32_t>(static_cast<double>(l) * static_cast<double>(u)) + 1;
  return k > l ? l : k;
}

ColumnShuffler::ColumnShuffler() : k_(ZeroedBuffer<std::int32_t>(kChunk)) {}

void ApplyExchanges(float* x, std::int32_t top, std::int32_t steps, const std::int32_t* k) {
  for (std::int32_t i = 0; i < steps; ++i) {
    if (i + kPrefetchDistance < steps) __builtin_prefetch(x + (k[i + kPrefetchDistance] - 1), 1);
    const std::int32_t l = top - i;
    // A missing rank never moves, and no other slot is drawn instead. The
    // test is on the bits (a float equals -99 exactly when its bits are
    // those of -99), and both slots are written back whether or not they
    // exchange: the step has no branch, and where it stores never waits
    // for what it loads.
    const std::int32_t kk = k[i];
    const auto kept = std::bit_cast<std::uint32_t>(x[l - 1]);
    const auto drawn = std::bit_cast<std::uint32_t>(x[kk - 1]);
    const bool stay = (kept == kMissingBits) | (drawn == kMissingBits);
    // The bits that differ, or none when the step makes no exchange.
    const std::uint32_t flip = (kept ^ drawn) & (static_cast<std::uint32_t>(stay) - 1u);
    x[l - 1] = std::bit_cast<float>(kept ^ flip);
    x[kk - 1] = std::bit_cast<float>(drawn ^ flip);
  }
}

void ColumnShuffler::Shuffle(float* x, std::int32_t p, DrawStream& draws) {
  std::int32_t* k = k_.data();
  for (std::int32_t top = p; top >= 2; top -= kChunk) {
    const std::int32_t steps = std::min(kChunk, top - 1);
    draws.ExchangeIndices(top, steps, k);
    ApplyExchanges(x, top, steps, k);
  }
}

void ShuffleColumn(float* x, std::int32_t p, DrawStream& draws) {
  ColumnShuffler shuffler;
  shuffler.Shuffle(x, p, draws);
}

namespace {

void ThrowIfStopped(const std::stop_token& stop) {
  if (stop.stop_requested()) throw Cancelled();
}

// The exchange indices of every study of one run, drawn ahead in pieces.
// Piece c of study j (0-based) covers steps c D .. c D + D - 1 (D the piece
// length), L = P - c D down: 2 (P - 1) j + 2 c D draws into the run.
class DrawsAhead {
 public:
  DrawsAhead(std::int32_t p, std::int32_t s, std::int32_t piece)
      : steps_(p - 1),
        piece_(std::max(piece, 1)),
        pieces_((steps_ + piece_ - 1) / piece_),
        tasks_(static_cast<std::size_t>(pieces_) * static_cast<std::size_t>(s)),
        k_(ZeroedBuffer<std::int32_t>(static_cast<std::size_t>(steps_) *
                                      static_cast<std::size_t>(s))) {}

  std::size_t Tasks() const { return tasks_; }

  // Piece `task` of the run whose first draw is the next of `run_start`.
  void Draw(std::size_t task, const DrawStream& run_start) {
    const auto j = static_cast<std::int32_t>(task / static_cast<std::size_t>(pieces_));
    const std::int32_t first =
        static_cast<std::int32_t>(task % static_cast<std::size_t>(pieces_)) * piece_;
    DrawStream own = run_start;
    own.Skip(2 * (static_cast<std::uint64_t>(steps_) * static_cast<std::uint64_t>(j) +
                  static_cast<std::uint64_t>(first)));
    own.ExchangeIndices(steps_ + 1 - first, std::min(piece_, steps_ - first), Study(j) + first);
  }

  std::int32_t* Study(std::int32_t j) {
    return k_.data() + static_cast<std::size_t>(steps_) * static_cast<std::size_t>(j);
  }

 private:
  std::int32_t steps_;  // P - 1 per study
  std::int32_t piece_;
  std::int32_t pieces_;  // per study
  std::size_t tasks_;
  std::vector<std::int32_t> k_;
};

// Draws ahead when there is a thread to spare and the buffer is allowed.
bool DrawAhead(const RunDivision& division, unsigned threads, std::int32_t p, std::int32_t s) {
  const std::size_t indices = static_cast<std::size_t>(p - 1) * static_cast<std::size_t>(s);
  return threads > 1 && indices <= division.draws_ahead_limit;
}

// The work of the runs, batch by batch. Each run is two batches on the
// pool: the studies' shuffles (or, drawn ahead, their exchanges) beside the
// counting of the run before, then STATS beside the next run's draws.
// The studies are dealt to lanes, one per thread (study j to lane j mod
// lanes), and a lane is the first tasks of a batch: the pool hands them
// out in order, so each thread tends to keep its lane run after run, and
// with it its columns (and their drawn indices) in its own cache: a
// column's exchanges touch it at random, and a column last written by
// another core is fetched from its cache a line at a time.
class RunLoop {
 public:
  RunLoop(const AnalysisParameters& params, RankMatrix& ranks, const StudyWeights& weights,
          WorkerPool& pool, const RunDivision& division, const std::stop_token& stop)
      : ranks_(ranks),
        weights_(weights),
        pool_(pool),
        stop_(stop),
        p_(params.probes),
        s_(params.studies),
        runs_(params.runs),
        per_study_(2 * static_cast<std::uint64_t>(p_ > 1 ? p_ - 1 : 0)),
        stats_tasks_(StatsTasks(p_, pool.size())) {
    if (runs_ <= 0 || p_ <= 1 || s_ <= 0) return;
    studies_ = static_cast<std::size_t>(s_);
    lanes_ = std::min<std::size_t>(studies_, pool.size());
    if (DrawAhead(division, pool.size(), p_, s_)) {
      ahead_.emplace(p_, s_, division.draw_piece);
    } else {
      shufflers_.resize(pool.size());  // one chunk buffer per thread
    }
  }

  // Run n's shuffles from `draws`, beside the counting of `counted` (when
  // `counter` is given); `draws` is left after the run's draws.
  void Shuffles(std::int32_t n, DrawStream& draws, ExceedanceCounter* counter,
                const Statistics& counted) {
    // The first draw of the program settles the starting state on this
    // thread; each study then starts from its own offset in the run.
    if (studies_ > 0) draws.Establish();
    const DrawStream start = draws;
    if (ahead_ && n == 1) {
      pool_.ForEach(lanes_, [&](std::size_t lane, unsigned) { DrawLane(lane, start); });
    }
    const std::size_t counting = counter != nullptr ? counter->Tasks() : 0;
    pool_.ForEach(lanes_ + counting, [&](std::size_t i, unsigned worker) {
      ThrowIfStopped(stop_);
      if (i >= lanes_) {
        counter->CountTask(i - lanes_, counted);
        return;
      }
      for (std::size_t j = i; j < studies_; j += lanes_) {
        float* column = ranks_.column(static_cast<std::int32_t>(j) + 1);
        if (ahead_) {
          ApplyExchanges(column, p_, p_ - 1, ahead_->Study(static_cast<std::int32_t>(j)));
        } else {
          DrawStream own = start;
          own.Skip(per_study_ * j);
          shufflers_[worker].Shuffle(column, p_, own);
        }
      }
    });
    if (studies_ > 0) draws.Skip(per_study_ * static_cast<std::uint64_t>(s_));
  }

  // Run n's STATS into `run`, beside the next run's draws from `next`
  // (the exchanges that read the buffer are over).
  void Stats(std::int32_t n, const DrawStream& next, Statistics& run) {
    const std::size_t lanes = ahead_ && n < runs_ ? lanes_ : 0;
    pool_.ForEach(lanes + stats_tasks_, [&](std::size_t i, unsigned) {
      ThrowIfStopped(stop_);
      if (i < lanes) {
        DrawLane(i, next);
      } else {
        StatsTask(i - lanes, stats_tasks_, ranks_, weights_, run, p_, s_);
      }
    });
  }

  // The draws of lane `lane`'s studies, piece after piece.
  void DrawLane(std::size_t lane, const DrawStream& start) {
    const std::size_t pieces = ahead_->Tasks() / studies_;
    for (std::size_t j = lane; j < studies_; j += lanes_) {
      for (std::size_t c = 0; c < pieces; ++c) {
        ThrowIfStopped(stop_);
        ahead_->Draw(j * pieces + c, start);
      }
    }
  }

 private:
  RankMatrix& ranks_;
  const StudyWeights& weights_;
  WorkerPool& pool_;
  const std::stop_token& stop_;
  std::int32_t p_, s_, runs_;
  std::uint64_t per_study_;
  std::size_t stats_tasks_;
  std::size_t studies_ = 0;  // studies to shuffle per run (0: nothing to shuffle)
  std::size_t lanes_ = 0;
  std::vector<ColumnShuffler> shufflers_;
  std::optional<DrawsAhead> ahead_;
};

}  // namespace

void PermutationRuns(const AnalysisParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const RunHooks& hooks, WorkerPool& pool, ExceedanceCounter* counter,
                     const RunDivision& division) {
  RunLoop loop(params, ranks, weights, pool, division, hooks.stop);
  // The statistics of the run before, while they are counted.
  Statistics counted;
  if (counter != nullptr && params.runs > 0) counted = Statistics(params.probes);
  bool pending = false;
  for (std::int32_t n = 1; n <= params.runs; ++n) {
    ThrowIfStopped(hooks.stop);
    if (hooks.before_run) hooks.before_run(n);
    loop.Shuffles(n, draws, pending ? counter : nullptr, counted);
    loop.Stats(n, draws, run);
    if (pending) counter->EndRun();
    if (hooks.after_run) hooks.after_run(n);
    if (counter != nullptr) {
      std::swap(run, counted);
      pending = true;
    }
  }
  if (pending) {
    ThrowIfStopped(hooks.stop);
    counter->CountRun(counted, pool);
    std::swap(run, counted);
  }
  if (counter != nullptr) counter->Settle();
  if (hooks.after_runs) hooks.after_runs();
}

void PermutationRuns(const AnalysisParameters& params, RankMatrix& ranks,
                     const StudyWeights& weights, DrawStream& draws, Statistics& run,
                     const RunHooks& hooks, unsigned threads) {
  WorkerPool pool(threads);
  PermutationRuns(params, ranks, weights, draws, run, hooks, pool);
}

}  // namespace korvelan::engine
