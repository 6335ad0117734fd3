// Prints what the uniform stream takes from the local clock, for the test
// that runs it under a fake clock:
//   clock C first-read F after-set A next N
// C: ClockSeed(); F: GETSEED after SETSEED(0) as the very first operation
// (a fresh clock seed, since that SETSEED marks nothing); A: GETSEED after
// SETSEED(7) then SETSEED(0); N: the seed after one more number.
#include <cstdio>

#include "numeric/random.h"

int main() {
  using namespace korvelan::numeric;
  std::int32_t first = 0;
  SETSEED(0);
  GETSEED(first);
  std::int32_t after = 0;
  SETSEED(7);
  SETSEED(0);
  GETSEED(after);
  float u = 0.0f;
  RNUN(1, &u);
  std::int32_t next = 0;
  GETSEED(next);
  std::printf("clock %d first-read %d after-set %d next %d\n", static_cast<int>(ClockSeed()),
              static_cast<int>(first), static_cast<int>(after), static_cast<int>(next));
  return 0;
}
