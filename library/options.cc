#include "korvelan/options.h"

#include <sched.h>

#include <algorithm>
#include <array>
#include <limits>
#include <optional>
#include <stdexcept>
#include <thread>

#include "korvelan/analysis.h"

namespace korvelan {
namespace {

constexpr std::array<std::string_view, 2> kAbsentWords = {"below", "missing"};
constexpr std::array<std::string_view, 4> kDuplicatesWords = {"refuse", "first", "best", "mean"};
constexpr std::array<std::string_view, 2> kFirstWords = {"largest", "smallest"};
constexpr std::array<std::string_view, 6> kInputFormatWords = {"auto",    "tables", "lists",
                                                               "columns", "rows",   "long"};
constexpr std::array<std::string_view, 4> kDelimiterWords = {"auto", "tab", "comma", "semicolon"};
constexpr std::array<std::string_view, 2> kPValuesWords = {"plus-one", "exact"};
// PValueIndex order; PValueName gives the same names (a test holds them equal).
constexpr std::array<std::string_view, kPValues> kSortWords = {
    "p_Rmean_right", "p_Rmean_left", "p_Rwmean_right", "p_Rwmean_left", "p_Q_right", "p_Q_left"};
constexpr std::int64_t kMaxRuns = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMaxThreads = 256;

constexpr OptionSpec Word(std::string_view name, std::span<const std::string_view> words,
                          std::string_view default_value, std::string_view help) {
  return {name, OptionKind::kWord, words, 0, 0, default_value, help};
}

constexpr OptionSpec Whole(std::string_view name, std::int64_t low, std::int64_t high,
                           std::string_view default_value, std::string_view help) {
  return {name, OptionKind::kWhole, {}, low, high, default_value, help};
}

constexpr OptionSpec Form(std::string_view name, std::string_view help,
                          std::string_view default_value = "") {
  return {name, OptionKind::kForm, {}, 0, 0, default_value, help};
}

constexpr std::array<OptionSpec, 20> kOptions = {
    Form("studies",
         "Per-study settings, one row per study, with any of the columns weight, absent and universe (on "
         "korvelan-meta's command line a study sheet, a TSV file that also names each study's file)"),
    Word("input-format", kInputFormatWords, "auto", "auto, tables, lists, columns, rows or long"),
    Form("gene", "tables: column with the gene id; long: default \"gene\""),
    Form("pvalue", "tables and long: rank by this p-value column, smallest first"),
    Form("statistic", "tables and long: rank by this statistic (see first)"),
    Form("sign-by", "tables, with pvalue: rank by sign(COLUMN) x -log10(p) (see first)"),
    Word("first", kFirstWords, "largest",
         "Ranked by a statistic or a signed p-value: whether the largest or the smallest value gets rank 1"),
    Word("delimiter", kDelimiterWords, "auto", "auto, tab, comma or semicolon"),
    Form("study-column", "long: the study column", "study"),
    Word("absent", kAbsentWords, "",
         "below: a gene a study did not rank is ranked below its list, tied over the rest of the universe "
         "(default for lists); missing: it is not ranked by that study (default for tables)"),
    Whole(
        "universe", 1, kMaxUniverse, "",
        "With absent genes below: the number of genes N the studies chose from, or their ids (on "
        "korvelan-meta's command line a file of them, one per line; default: the genes the studies name)"),
    Word("duplicates", kDuplicatesWords, "",
         "An id twice in one study: refuse, first, best or mean (default: mean for study tables, "
         "refuse otherwise)"),
    Form("split-ids", "tables: split ids joining several genes at SEP (e.g. ///)"),
    Whole("min-studies", 1, kMaxStudies, "1",
          "Genes ranked by fewer studies are listed with NA and left out"),
    Word("pvalues", kPValuesWords, "plus-one",
         "plus-one: (count + 1) / (total + 1), never 0; exact: count / total"),
    Whole("runs", 1, kMaxRuns, "1000", "Monte Carlo runs"),
    Whole("seed", 1, kMaxSeed, "",
          "The generator's seed (default: drawn, and recorded with the results)"),
    Whole("threads", 1, kMaxThreads, "",
          "Threads for the runs; the results do not depend on them (default: one per processor)"),
    Form("weights",
         "One positive weight per study, for the weighted mean rank R_wmean (default: equal; on "
         "korvelan-meta's command line \"equal\" or the weights comma-separated)"),
    Word("sort-by", kSortWords, "p_Rmean_left",
         "P-value column that orders the results (ranked by a signed value, _left is up and _right down)"),
};

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Decimal digits with an optional sign, of any length; nullopt for other
// text, the int64 extremes for values beyond them (every limit lies within).
std::optional<std::int64_t> WholeNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
    return std::nullopt;
  text.remove_prefix(std::min(text.find_first_not_of('0'), text.size()));
  if (text.size() > 18) {
    return negative ? std::numeric_limits<std::int64_t>::min()
                    : std::numeric_limits<std::int64_t>::max();
  }
  std::int64_t value = 0;
  for (char c : text) value = value * 10 + (c - '0');
  return negative ? -value : value;
}

std::string WordList(std::span<const std::string_view> words) {
  std::string text;
  for (std::size_t k = 0; k < words.size(); ++k) {
    text += (k == 0 ? "" : k + 1 == words.size() ? " or " : ", ") + Quoted(words[k]);
  }
  return text;
}

// The position of `word` among the option's words; throws with the
// option's refusal otherwise.
std::size_t WordIndex(std::string_view option, std::string_view word) {
  const OptionSpec& spec = SharedOption(option);
  const auto found = std::find(spec.words.begin(), spec.words.end(), word);
  if (found == spec.words.end()) {
    throw std::invalid_argument(HostName(option) + " " + OptionProblem(spec, word));
  }
  return static_cast<std::size_t>(found - spec.words.begin());
}

}  // namespace

std::span<const OptionSpec> SharedOptions() { return kOptions; }

const OptionSpec& SharedOption(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (option.name == name || HostName(option.name) == name) return option;
  }
  throw std::invalid_argument("no shared option is named \"" + std::string(name) + "\"");
}

std::string HostName(std::string_view name) {
  std::string host(name);
  std::replace(host.begin(), host.end(), '-', '_');
  return host;
}

std::string OptionProblem(const OptionSpec& option, std::string_view text) {
  if (option.kind == OptionKind::kForm) return {};
  if (option.kind == OptionKind::kWord) {
    if (std::find(option.words.begin(), option.words.end(), text) != option.words.end()) return {};
    return "must be " + WordList(option.words) + ", not " + Quoted(text);
  }
  const std::optional<std::int64_t> value = WholeNumber(text);
  if (!value) return "must be a whole number in decimal digits, not " + Quoted(text);
  if (*value >= option.low && *value <= option.high) return {};
  return "must be a whole number from " + std::to_string(option.low) + " to " +
         std::to_string(option.high) + ", not " + std::string(text);
}

std::string AllowedValues(const OptionSpec& option) {
  if (option.kind == OptionKind::kForm) return {};
  if (option.kind == OptionKind::kWhole)
    return std::to_string(option.low) + " .. " + std::to_string(option.high);
  std::string text;
  for (std::string_view word : option.words) text += (text.empty() ? "" : ", ") + std::string(word);
  return text;
}

Absent AbsentFromWord(std::string_view word) {
  return WordIndex("absent", word) == 0 ? Absent::kBelow : Absent::kMissing;
}

Duplicates DuplicatesFromWord(std::string_view word) {
  constexpr std::array<Duplicates, 4> kValues = {Duplicates::kRefuse, Duplicates::kFirst,
                                                 Duplicates::kBest, Duplicates::kMean};
  return kValues[WordIndex("duplicates", word)];
}

PValues PValuesFromWord(std::string_view word) {
  return WordIndex("pvalues", word) == 1 ? PValues::kExact : PValues::kPlusOne;
}

std::string_view WordOf(Absent absent) { return kAbsentWords[absent == Absent::kBelow ? 0 : 1]; }

std::string_view WordOf(Duplicates duplicates) {
  switch (duplicates) {
    case Duplicates::kRefuse: return kDuplicatesWords[0];
    case Duplicates::kFirst: return kDuplicatesWords[1];
    case Duplicates::kBest: return kDuplicatesWords[2];
    case Duplicates::kMean: return kDuplicatesWords[3];
  }
  return kDuplicatesWords[0];
}

std::string_view WordOf(PValues pvalues) {
  return kPValuesWords[pvalues == PValues::kExact ? 1 : 0];
}

int SortColumnFromWord(std::string_view word) {
  return static_cast<int>(WordIndex("sort-by", word));
}

unsigned DefaultThreads() {
  long count = 0;
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) count = CPU_COUNT(&set);
  if (count < 1) count = static_cast<long>(std::thread::hardware_concurrency());
  return static_cast<unsigned>(std::clamp<long>(count, 1, kMaxThreads));
}

}  // namespace korvelan
