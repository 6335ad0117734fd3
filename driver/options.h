// The command line of the program. Without arguments the program runs its
// console dialogue; the options only add repeatability and the usual
// informational switches.
//
//   --seed N    the Monte Carlo runs start from saved seed N
//               (1 .. 2147483646) instead of the clock seed
//   --threads T the analysis runs on T threads (1 .. 256) instead of one
//               per hardware thread; the results are the same for every T
//   --help      the help text on standard output, exit status 0
//   --version   the version line on standard output, exit status 0
//
// Arguments are taken left to right: --help and --version act where they
// stand, so an error before them wins and anything after them is ignored.
#ifndef KORVELAN_DRIVER_OPTIONS_H_
#define KORVELAN_DRIVER_OPTIONS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::driver {

inline constexpr std::int32_t kMaxSeed = 2147483646;
// More threads than this would only add start-up cost and memory.
inline constexpr unsigned kMaxThreads = 256;

struct Options {
  enum class Action { kRun, kHelp, kVersion };
  Action action = Action::kRun;
  // 0: the clock seed; otherwise the saved seed the runs start from.
  std::int32_t seed = 0;
  // Threads for the analysis: --threads, else DefaultThreads().
  unsigned threads = 1;
};

// One thread per hardware thread the system reports, at least 1 and at
// most kMaxThreads.
unsigned DefaultThreads();

// Parses the arguments after the program name. An unknown argument, a
// missing seed or one outside 1 .. 2147483646 (digits only), a missing
// thread count or one outside 1 .. kMaxThreads (digits only) throws
// textio::Termination::Message(one line ending in the usage, 2).
Options ParseOptions(std::span<const std::string_view> args);

// The usage synopsis, also the tail of every refusal line.
std::string_view UsageSynopsis();

// The lines of --help and --version, without line ends.
std::vector<std::string> HelpLines();
std::string VersionLine();

}  // namespace korvelan::driver

#endif  // KORVELAN_DRIVER_OPTIONS_H_
