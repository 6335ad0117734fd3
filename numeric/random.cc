#include "numeric/random.h"

#include <ctime>
#include <limits>

#include "numeric/error_services.h"

namespace korvelan::numeric {
namespace {

constexpr std::int32_t kSchrageQuotient = kModulus / kMultiplier;   // 127773
constexpr std::int32_t kSchrageRemainder = kModulus % kMultiplier;  // 2836
constexpr std::int32_t kMidnightSeed = 123457;

// The smallest relative spacing of floats, 2^-24 (half the epsilon, which
// is the spacing just above 1).
constexpr float kHalfEpsilon = std::numeric_limits<float>::epsilon() / 2.0f;

float ScaleByLoop() {
  float scale = 1.0f / 2147483648.0f;  // 2^-31, exact
  // Each product is formed in double and stored back in single precision;
  // the first pass already lands on (2^24 - 1) 2^-55 and leaves the loop.
  while (static_cast<double>(scale) * 2147483648.0 >= 1.0) {
    scale =
        static_cast<float>(static_cast<double>(scale) * (1.0 - static_cast<double>(kHalfEpsilon)));
  }
  return scale;
}

struct Stream {
  std::int32_t seed = 0;
  float scale = 0.0f;
  bool setup_done = false;
  bool seed_set = false;
  bool first_draw_pending = true;
};

Stream& Str() {
  static Stream stream;
  return stream;
}

enum class SeedRequest { kMark, kEnsure };

void Setup(SeedRequest request) {
  Stream& s = Str();
  if (!s.setup_done) {
    s.scale = ScaleByLoop();
    s.setup_done = true;
  }
  if (request == SeedRequest::kMark) {
    s.seed_set = true;
  } else if (!s.seed_set) {
    s.seed = ClockSeed();
    s.seed_set = true;
  }
}

}  // namespace

void SETSEED(std::int32_t seed) {
  Stream& s = Str();
  if (seed < 0 || seed == kModulus) {
    Setup(SeedRequest::kEnsure);
    return;
  }
  if (seed == 0) {
    s.seed = ClockSeed();
    return;
  }
  Setup(SeedRequest::kMark);
  s.seed = seed;
}

void GETSEED(std::int32_t& seed) {
  Setup(SeedRequest::kEnsure);
  seed = Str().seed;
}

void RNUN(std::int32_t nr, float* u) {
  if (nr < 1) {
    E1PSH("RNUN");
    E1STI(1, nr);
    E1STI(2, 1);
    E1STL(1, "NR");
    E1MES(5, 1, "%(L1) = %(I1).  %(L1) must be greater than or equal to %(I2).");
    E1POP("RNUN");
    return;
  }
  Stream& s = Str();
  if (s.first_draw_pending) {
    Setup(SeedRequest::kEnsure);
    s.first_draw_pending = false;
  }
  std::int32_t state = s.seed;
  for (std::int32_t i = 0; i < nr; ++i) {
    state = NextState(state);
    u[i] = static_cast<float>(static_cast<double>(state) * static_cast<double>(s.scale));
  }
  s.seed = state;
}

void ResetRandomStreamForTesting() { Str() = Stream{}; }

std::int32_t NextState(std::int32_t s) {
  const std::int32_t next =
      kMultiplier * (s % kSchrageQuotient) - kSchrageRemainder * (s / kSchrageQuotient);
  return next < 0 ? next + kModulus : next;
}

float UniformScale() {
  static const float scale = ScaleByLoop();
  return scale;
}

float UniformFromState(std::int32_t s) {
  return static_cast<float>(static_cast<double>(s) * static_cast<double>(UniformScale()));
}

std::int32_t StateAfter(std::int32_t s, std::uint64_t k) {
  constexpr std::uint64_t m = static_cast<std::uint64_t>(kModulus);
  // Every factor is below 2^31, so each product stays below 2^62.
  std::uint64_t power = 1;
  std::uint64_t base = static_cast<std::uint64_t>(kMultiplier);
  for (; k != 0; k >>= 1) {
    if (k & 1u) power = power * base % m;
    base = base * base % m;
  }
  return static_cast<std::int32_t>(power * static_cast<std::uint64_t>(s) % m);
}

std::int32_t ClockSeedOf(int hour, int minute, int second) {
  const std::int32_t seed = 10000 * hour + 100 * minute + second + 1;
  return seed <= 1 ? kMidnightSeed : seed;
}

std::int32_t ClockSeed() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) {
    return kMidnightSeed;
  }
  return ClockSeedOf(local.tm_hour, local.tm_min, local.tm_sec);
}

}  // namespace korvelan::numeric
