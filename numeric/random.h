// The uniform random stream: the multiplicative congruential generator
// s <- 16807 s mod (2^31 - 1), without a shuffle table, single-precision
// numbers u = float(double(s) * S) with S = 4.6566126E-10 (0x2FFFFFFF), the
// largest float below 2^-31. Every number lies in [S, 1 - 2^-24]: never 0,
// never 1.
//
// SETSEED, RNUN and GETSEED share one process-wide state (seed, scale,
// setup done, seed set, first draw pending); a seed read by GETSEED and
// given back to SETSEED continues the same sequence. A seed of 0 asks for
// the clock seed 10000 h + 100 m + s + 1 of the local time of day (123457 at
// 00:00:00), read through the C library's localtime_r.
//
// The one-time setup computes the scale and then honours a request: *mark*
// (seed set becomes true) or *ensure* (if no seed is set yet, take the clock
// seed and mark it set). GETSEED, the first RNUN with NR >= 1 and SETSEED
// with an invalid seed ensure; SETSEED with a valid positive seed marks.
//
// The pure functions below the three routines are what the engine uses to
// run studies side by side: they give the same numbers without the
// process-wide state, and may be called from any thread.
//
// Main thread only for SETSEED, RNUN and GETSEED: the state is unprotected.
#ifndef KORVELAN_NUMERIC_RANDOM_H_
#define KORVELAN_NUMERIC_RANDOM_H_

#include <cstdint>

namespace korvelan::numeric {

// seed 1 .. 2147483646: setup (mark), then the stream continues from that
// state. seed 0: the clock seed is stored, and neither the setup nor the
// seed-set flag is touched (so a first GETSEED or RNUN afterwards still
// takes a fresh clock seed). Negative or 2147483647: setup (ensure) only;
// the seed is kept and nothing is reported.
void SETSEED(std::int32_t seed);

// Setup (ensure), then the current state (1 .. 2147483646).
void GETSEED(std::int32_t& seed);

// U(1 .. NR) receives the next NR numbers of the stream (u points at U(1));
// the final state is stored. The first call with NR >= 1 runs the setup
// (ensure). NR < 1: terminal error 1 from RNUN through the error services
// ("NR = 0.  NR must be greater than or equal to 1.") and stop; U and the
// seed are untouched.
void RNUN(std::int32_t nr, float* u);

// Resets the stream to its process-start state. For tests only.
void ResetRandomStreamForTesting();

inline constexpr std::int32_t kModulus = 2147483647;
inline constexpr std::int32_t kMultiplier = 16807;

// One step of the generator, s in 1 .. 2147483646, by Schrage's
// decomposition: 16807 (s mod 127773) - 2836 (s div 127773), plus the
// modulus when negative; no intermediate leaves 32 bits.
std::int32_t NextState(std::int32_t s);

// The scale S as the setup finds it: starting from 2^-31, multiplied by
// (1 - 2^-24) and rounded to float until S * 2^31 < 1 (one pass).
float UniformScale();

// The number a state gives: float(double(s) * S), rounded to nearest.
float UniformFromState(std::int32_t s);

// The state after k steps from s (k >= 0, s in 1 .. 2147483646), by modular
// exponentiation of the multiplier in 64-bit arithmetic:
// 16807^k * s mod (2^31 - 1). StateAfter(s, 2147483646) == s.
std::int32_t StateAfter(std::int32_t s, std::uint64_t k);

// The clock seed of a time of day: 10000 hour + 100 minute + second + 1, or
// 123457 when that is 1 or less (only at 00:00:00).
std::int32_t ClockSeedOf(int hour, int minute, int second);

// The clock seed of the current local time of day (123457 if the time
// cannot be read).
std::int32_t ClockSeed();

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_RANDOM_H_
