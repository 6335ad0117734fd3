#include "driver/options.h"

#include <algorithm>
#include <charconv>
#include <system_error>
#include <thread>

#include "korvelan/version.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

constexpr std::string_view kSynopsis =
    "usage: korvelan [--seed N] [--threads T] [--help] [--version]";

// An argument is echoed inside one report line: control bytes (a line
// feed above all) would break the line apart, so they are shown as '?'.
std::string Printable(std::string_view arg) {
  std::string out;
  out.reserve(arg.size());
  for (char c : arg) {
    const auto u = static_cast<unsigned char>(c);
    out.push_back(u < 0x20 || u == 0x7F ? '?' : c);
  }
  return out;
}

[[noreturn]] void Refuse(const std::string& reason) {
  throw textio::Termination::Message("KORVELAN: " + reason + "; " + std::string(kSynopsis), 2);
}

// Digits only: no sign, no blanks, no fraction, so that what is accepted is
// exactly the number that is used. `what` names it in the refusal.
std::int64_t ParseWhole(std::string_view text, std::int64_t high, const char* what) {
  std::int64_t value = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const bool digits_only =
      !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (!digits_only || ec != std::errc() || end != last || value < 1 || value > high) {
    Refuse(std::string("bad ") + what + " \"" + Printable(text) +
           "\", expected a whole number from 1 to " + std::to_string(high));
  }
  return value;
}

}  // namespace

std::string_view UsageSynopsis() { return kSynopsis; }

unsigned DefaultThreads() {
  const unsigned n = std::thread::hardware_concurrency();  // 0: not known
  return std::clamp(n, 1u, kMaxThreads);
}

Options ParseOptions(std::span<const std::string_view> args) {
  Options options;
  options.threads = DefaultThreads();
  for (std::size_t n = 0; n < args.size(); ++n) {
    const std::string_view arg = args[n];
    if (arg == "--help") {
      options.action = Options::Action::kHelp;
      return options;
    }
    if (arg == "--version") {
      options.action = Options::Action::kVersion;
      return options;
    }
    if (arg == "--seed") {
      if (n + 1 == args.size()) Refuse("--seed needs a value");
      options.seed = static_cast<std::int32_t>(ParseWhole(args[++n], kMaxSeed, "seed"));
      continue;
    }
    if (arg == "--threads") {
      if (n + 1 == args.size()) Refuse("--threads needs a value");
      options.threads = static_cast<unsigned>(ParseWhole(args[++n], kMaxThreads, "thread count"));
      continue;
    }
    Refuse("unknown argument \"" + Printable(arg) + "\"");
  }
  return options;
}

std::vector<std::string> HelpLines() {
  return {
      std::string(kSynopsis),
      "",
      "KORVELAN: meta-analysis of ranked discovery datasets.",
      "",
      "Run it in the directory that holds data.txt (and weights.txt for the",
      "main analysis) and answer its questions on the console, or pipe the",
      "answers to it. The main analysis writes output.txt in that directory.",
      "",
      "Options:",
      "  --seed N    start the Monte Carlo runs from seed N (1 to 2147483646)",
      "              instead of the time of day, so that runs can be repeated",
      "  --threads T run the analysis on T threads (1 to 256; default: one per",
      "              hardware thread); the results are the same for every T",
      "  --help      show this text and exit",
      "  --version   show the version and exit",
  };
}

std::string VersionLine() { return std::string("KORVELAN ") + korvelan::kVersion; }

}  // namespace korvelan::driver
