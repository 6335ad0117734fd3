// The options every front end of the meta-analysis shares, defined once:
// korvelan-meta's command line, the R package's korvelan() and the Python
// package's analyze() take their names, allowed values, defaults, limits
// and help from here, and refuse a value with the same words.
//
// Names are korvelan-meta's spelling ("min-studies"); a host whose names
// cannot hold a hyphen writes it as an underscore (HostName: "min_studies").
// A refusal is the option's name in the front end's own spelling ("--runs",
// "`runs`", "runs") followed by OptionProblem's text ("must be a whole
// number from 1 to 2147483647, not 0"), so one value is refused alike
// everywhere.
//
// Threads: by default one per processor this process may run on
// (DefaultThreads). The R package alone lowers that to 2 where R's package
// checks set _R_CHECK_LIMIT_CORES_, as such checks demand of every package;
// the results never depend on the number of threads.
#ifndef KORVELAN_OPTIONS_H_
#define KORVELAN_OPTIONS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "korvelan/meta.h"

namespace korvelan {

enum class OptionKind {
  kWord,   // one of a few words
  kWhole,  // a whole number within limits
  // A form each front end reads its own way (a file, a list, a data
  // frame), or a name (a column, a separator); the reading or RunMeta
  // judges what it holds.
  kForm,
};

struct OptionSpec {
  std::string_view name;  // korvelan-meta's spelling, without "--"
  OptionKind kind = OptionKind::kWord;
  std::span<const std::string_view> words;  // kWord: the allowed values
  std::int64_t low = 0, high = 0;           // kWhole: the limits, inclusive
  // As text; empty where each run settles it (the help says how).
  std::string_view default_value;
  std::string_view help;  // one line
};

// Every shared option, in the order korvelan-meta's --help shows them.
std::span<const OptionSpec> SharedOptions();

// The option of that name, in korvelan-meta's or a host's spelling. Throws
// std::invalid_argument for a name that is none of them.
const OptionSpec& SharedOption(std::string_view name);

// "min-studies" -> "min_studies".
std::string HostName(std::string_view name);

// Empty when `text` is a value the option allows (any text for kForm,
// whose content RunMeta judges); otherwise what is wrong
// with it, to follow the option's name: `must be "below" or "missing", not
// "x"`, `must be a whole number from 1 to 98, not 0`. A whole number is
// written in decimal digits with an optional sign (hosts pass the digits of
// their integer), so "0x10" and "1e3" are not whole numbers here.
std::string OptionProblem(const OptionSpec& option, std::string_view text);

// The option's allowed values as a list for help texts: "below, missing";
// "1 .. 98".
std::string AllowedValues(const OptionSpec& option);

// The words of the options that choose a MetaOptions setting; each
// FromWord throws std::invalid_argument (the option's name, then
// OptionProblem's words) for any other text.
Absent AbsentFromWord(std::string_view word);
Duplicates DuplicatesFromWord(std::string_view word);
PValues PValuesFromWord(std::string_view word);
std::string_view WordOf(Absent absent);
std::string_view WordOf(Duplicates duplicates);
std::string_view WordOf(PValues pvalues);
// sort-by's word: the PValueIndex of that P-value column.
int SortColumnFromWord(std::string_view word);

// The threads option's default: one per processor this process may run on
// (its CPU affinity), at least 1 and at most the option's upper limit.
unsigned DefaultThreads();

}  // namespace korvelan

#endif  // KORVELAN_OPTIONS_H_
