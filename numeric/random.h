// The uniform random stream: the multiplicative congruential generator
// s <- 16807 s mod (2^31 - 1), without a shuffle table, single-precision
// numbers u = float(double(s) * S) with S = 4.6566126E-10 (0x2FFFFFFF).
//
// SETSEED, RNUN and GETSEED share one process-wide state (seed, scale,
// setup done, seed set, first draw pending); a seed read by GETSEED and
// given back to SETSEED continues the same sequence. A seed of 0 asks for
// the clock seed 10000 h + 100 m + s + 1 of the local time of day (123457 at
// 00:00:00), read through the C library's localtime.
//
// The pure functions below the three routines are what the engine uses to
// run studies side by side: they give the same numbers without the
// process-wide state.
#ifndef KORVELAN_NUMERIC_RANDOM_H_
#define KORVELAN_NUMERIC_RANDOM_H_

#include <cstdint>

namespace korvelan::numeric {

void SETSEED(std::int32_t seed);
void GETSEED(std::int32_t& seed);
// NR < 1: terminal error 1 from RNUN through the error services (stop).
void RNUN(std::int32_t nr, float* u);

// Resets the stream to its process-start state. For tests only.
void ResetRandomStreamForTesting();

inline constexpr std::int32_t kModulus = 2147483647;
inline constexpr std::int32_t kMultiplier = 16807;

// One step of the generator by Schrage's decomposition (no overflow).
std::int32_t NextState(std::int32_t s);
// The number a state gives: float(double(s) * scale), scale found by the
// setup loop.
float UniformFromState(std::int32_t s);
// The state after k steps from s (k >= 0), by modular exponentiation of the
// multiplier: 16807^k * s mod (2^31 - 1).
std::int32_t StateAfter(std::int32_t s, std::uint64_t k);
// The clock seed of the current local time of day.
std::int32_t ClockSeed();

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_RANDOM_H_
