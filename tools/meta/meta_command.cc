// korvelan-meta's command line: options to the readers and the meta layer,
// the seed, the progress bar, and the staged output directory.
#include "tools/meta/meta_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <map>
#include <random>

#include "korvelan/inputs.h"
#include "korvelan/meta.h"
#include "korvelan/options.h"
#include "tools/cli/cli_parse.h"
#include "engine/in_order.h"
#include "common/meta_sheet.h"
#include "common/meta_studies.h"
#include "common/weights.h"
#include "tools/cli/message_text.h"
#include "tools/meta/meta_progress.h"
#include "tools/cli/output_dir.h"
#include "common/tool_error.h"
#include "textio/utf8.h"

namespace korvelan::tools {
namespace {

constexpr const char* kProgram = "korvelan-meta";
using Seconds = std::chrono::duration<double>;

// Everything read from the command line, before defaults that depend on
// the input (--absent) are settled: the run's settings (korvelan/inputs.h)
// and what only the program has.
struct Settings : RunSettings {
  std::vector<std::filesystem::path> inputs;
  std::filesystem::path sheet;  // --studies
  std::filesystem::path out;
  std::optional<std::int64_t> seed;
  unsigned threads = 0;
  std::int32_t top = 10;
  bool quiet = false;
  bool force = false;
  // The shared options as given (or their defaults), by name, before they
  // are judged and settled into the fields above (SettleShared).
  std::map<std::string, std::string, std::less<>> shared;
};

// A shared option with the library's name, help and default. Its value is
// judged after parsing, by the library, so that a refusal reads as it does
// in the R and Python packages.
CLI::Option* AddShared(CLI::App& app, Settings& s, std::string_view name) {
  const OptionSpec& spec = SharedOption(name);
  std::string help(spec.help);
  if (!spec.default_value.empty()) help += " (default " + std::string(spec.default_value) + ")";
  std::string& text = s.shared[std::string(name)];
  text = spec.default_value;
  CLI::Option* option = app.add_option("--" + std::string(name), text, help);
  const std::string values = AllowedValues(spec);
  if (spec.kind == OptionKind::kWhole) {
    option->type_name("INT in [" + values + "]");
  } else if (spec.kind == OptionKind::kWord) {
    std::string words = values;
    words.erase(std::remove(words.begin(), words.end(), ' '), words.end());
    option->type_name("TEXT:{" + words + "}");
  }
  return option;
}

// The first shared option given a value it does not allow, as "--runs must
// be ..."; otherwise the values, settled into their fields.
std::optional<std::string> SettleShared(const CLI::App& app, Settings& s) {
  for (const OptionSpec& spec : SharedOptions()) {
    const std::string flag = "--" + std::string(spec.name);
    // --universe is a number or a file of ids; UniverseSize judges it.
    if (spec.name == "universe" || app.get_option(flag)->count() == 0) continue;
    const std::string problem = OptionProblem(spec, s.shared.find(spec.name)->second);
    if (!problem.empty()) return flag + " " + problem;
  }
  for (const auto& [name, text] : s.shared) {
    if (name == "studies") {
      s.sheet = text;
    } else if (name == "seed" || name == "threads") {
      if (text.empty()) continue;  // drawn, or one per processor
      if (name == "seed") s.seed = std::stoll(text);
      if (name == "threads") s.threads = static_cast<unsigned>(std::stoll(text));
    } else if (!(name == "weights" && text.empty())) {  // "": equal weights
      SetRunSetting(s, name, text);
    }
  }
  return std::nullopt;
}

// Every shared option, in the library's order (its --help order), with the
// program's own options where they belong.
void AddOptions(CLI::App& app, Settings& s) {
  app.add_option("inputs", s.inputs,
                 "Input files: study tables, lists, or one table of all studies");
  for (const OptionSpec& spec : SharedOptions()) {
    CLI::Option* option = AddShared(app, s, spec.name);
    if (spec.name == "universe") option->type_name("N|FILE");
    if (spec.name == "split-ids") option->type_name("SEP");
    if (spec.name == "studies") {
      app.add_option("-o,--out", s.out,
                     "Results directory (created; refused if it exists unless --force)")
          ->required();
    }
  }
  app.add_option("--top", s.top, "Genes shown on screen (default 10; 0: none)")
      ->check(CLI::Range(0, 1000000));
  app.add_flag("-q,--quiet", s.quiet, "No progress bar, per-study lines or table on screen");
  app.add_flag("--force", s.force, "Replace an existing results directory");
}

// The seed when none is given: from the system's entropy source, never
// from the clock, so that two runs started together differ.
std::int32_t DrawSeed() {
  std::random_device device;
  std::uniform_int_distribution<std::int32_t> pick(1, kMaxSeed);
  return pick(device);
}

// Four significant digits: the screen is for reading, results.tsv keeps
// every digit.
std::string Short(double value) {
  if (std::isnan(value)) return "NA";
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

void ShowTop(std::ostream& out, const MetaResults& r, int sort_by, std::int32_t top) {
  const std::string p = std::string(PValueName(sort_by));
  const auto t = static_cast<std::size_t>(sort_by);
  std::size_t width = 4;
  const std::vector<std::size_t> order = ResultOrder(r, sort_by);
  const std::size_t shown = std::min(order.size(), static_cast<std::size_t>(top));
  // Ids may hold ESC and other bytes a terminal acts on: shown escaped.
  std::vector<std::string> ids;
  for (std::size_t k = 0; k < shown; ++k) {
    ids.push_back(EscapedText(r.genes[order[k]]));
    width = std::max(width, ids.back().size());
  }
  out << std::left << std::setw(static_cast<int>(width + 2)) << "gene" << std::setw(11)
      << "n_studies" << std::setw(12) << "R_mean" << std::setw(16) << p;
  out << (r.directional ? std::setw(16) : std::setw(0)) << "q" + p.substr(1)
      << (r.directional ? "direction" : "") << "\n";
  for (std::size_t k = 0; k < shown; ++k) {
    const std::size_t i = order[k];
    out << std::setw(static_cast<int>(width + 2)) << ids[k] << std::setw(11) << r.n_studies[i]
        << std::setw(12) << Short(r.r_mean[i]) << std::setw(16) << Short(r.p[t][i])
        << (r.directional ? std::setw(16) : std::setw(0)) << Short(r.q_values[t][i]);
    if (r.directional) out << DirectionName(r.direction[i]);
    out << "\n";
  }
}

// Distinct information classes of the genes that took part.
std::size_t ClassCount(const MetaResults& r) {
  std::vector<std::int32_t> seen;
  for (std::size_t i = 0; i < r.genes.size(); ++i) {
    if (r.analysed[i] && std::find(seen.begin(), seen.end(), r.info_class[i]) == seen.end())
      seen.push_back(r.info_class[i]);
  }
  return seen.size();
}

// The meta layer names the study at fault; the file it came from goes in
// front: the study's own file when each file is one study, else the one file.
std::string WithFile(std::string_view what, const std::vector<Study>& studies,
                     const std::vector<std::filesystem::path>& files) {
  std::string message = MessageLine(what);
  if (files.size() == 1) return files.front().string() + ": " + message;
  if (files.size() != studies.size()) return message;
  for (std::size_t j = 0; j < files.size(); ++j) {
    if (message.find("study \"" + studies[j].name + "\"") != std::string::npos) {
      return files[j].string() + ": " + message;
    }
  }
  return message;
}

// One line per study, then UniverseNote's line when it has one.
void ShowStudies(std::ostream& out, const MetaResults& results, bool per_study) {
  for (std::size_t j = 0; per_study && j < results.studies.size(); ++j) {
    const MetaResults::StudyFacts& f = results.study_facts[j];
    out << "  " << results.studies[j] << ": " << f.listed << " ids listed, ";
    if (f.absent == Absent::kBelow) {
      out << "universe " << f.universe << ", absent genes below\n";
    } else {
      out << "absent genes missing\n";
    }
  }
  if (results.unnamed > 0) {
    out << "korvelan-meta: " << results.unnamed
        << " genes of the universe have no id: they take part in the runs and the q-values, "
           "without rows in results.tsv\n";
  }
  if (const std::string note = UniverseNote(results); !note.empty())
    out << "korvelan-meta: " << note << "\n";
}

int Interrupted(std::ostream& err) {
  err << kProgram << ": interrupted; nothing was written\n";
  return kInterrupted;
}

// The checks of the parsed arguments that need no file; the message of
// the first one that fails.
std::optional<std::string> ArgumentProblem(const CLI::App& app, const Settings& s) {
  if (app.get_option("--universe")->count() > 0 && s.universe.empty()) {
    return "--universe needs a number of genes or the name of a file of ids";
  }
  if (!s.pvalue.empty() && !s.statistic.empty())
    return "give at most one of --pvalue and --statistic";
  if (!s.sign_by.empty() && s.pvalue.empty()) return "--sign-by needs --pvalue";
  if (s.inputs.empty() == s.sheet.empty())
    return "give input files or --studies SHEET (one of the two)";
  if (!s.sheet.empty() && s.weights != "equal")
    return "with --studies, weights go in the sheet's weight column";
  return std::nullopt;
}

// The analysis with the progress bar (when shown) ended on every path; the
// meta layer's complaints about a study name its file.
MetaResults Analyse(const StudyInput& input, const MetaOptions& options,
                    const std::vector<std::filesystem::path>& files,
                    std::optional<ProgressBar>& bar) {
  try {
    MetaResults results = RunMeta(input.studies(), options);
    if (bar) bar->Finish();
    return results;
  } catch (const std::invalid_argument& error) {
    if (bar) bar->Finish();
    throw ToolError(WithFile(error.what(), input.studies(), files));
  } catch (...) {
    if (bar) bar->Finish();
    throw;
  }
}

// The files a run reads, which a replaced results directory must not hold.
std::vector<std::filesystem::path> FilesRead(const Settings& s, bool universe_is_size) {
  std::vector<std::filesystem::path> given = s.inputs;
  if (!s.sheet.empty()) given.push_back(s.sheet);
  if (!s.universe.empty() && !universe_is_size) given.push_back(s.universe);
  return given;
}

void WarnOfLeftovers(const StagedDirectory& directory, std::ostream& err) {
  for (const std::filesystem::path& left : directory.Leftovers()) {
    err << kProgram << ": warning: " << EscapedText(left.string())
        << " is left from a run that did not finish (or is still running); remove it when no run "
           "writes there\n";
  }
}

// run.json and the page hold the arguments (file names, options) as text.
void RefuseNonUtf8(std::span<const std::string> args) {
  for (std::size_t a = 0; a < args.size(); ++a) {
    if (const std::size_t bad = textio::FirstInvalidUtf8(args[a]); bad != std::string::npos) {
      throw ToolError("argument " + std::to_string(a + 1) + " (\"" + args[a] +
                          "\") is not UTF-8 text (byte " + std::to_string(bad + 1) + ")",
                      ErrorKind::kUsage);
    }
  }
}

// The parsed arguments judged and settled; throws ToolError (kUsage).
void SettleArguments(const CLI::App& app, Settings& s) {
  if (const auto problem = SettleShared(app, s)) throw ToolError(*problem, ErrorKind::kUsage);
  if (const auto problem = ArgumentProblem(app, s)) throw ToolError(*problem, ErrorKind::kUsage);
}

// The first lines on the screen, before the runs: what was read and how
// it will run.
void AnnounceRun(std::ostream& out, std::ostream& err, const StudyInput& input, const RunPlan& plan,
                 bool seed_drawn, bool quiet) {
  out << kProgram << ": " << input.studies().size() << " studies (" << input.format()
      << "), absent genes " << plan.absent << ", seed " << plan.options.seed
      << (seed_drawn ? " (drawn; --seed " + std::to_string(plan.options.seed) + " repeats this run)"
                     : "")
      << "; running " << plan.options.runs << " runs\n";
  if (!quiet) {
    for (const std::string& line : input.TableLines()) out << line << "\n";
  }
  out << std::flush;
  // Top-k lists share few ids by nature; tables of all measured genes
  // that share few point at ids of another kind.
  for (const std::string& warning : input.Warnings())
    err << kProgram << ": warning: " << warning << "\n";
}

struct Times {
  std::chrono::steady_clock::time_point started, read, analysed;
};

// results.tsv, report.html and run.json into the staged directory.
void WriteResults(StagedDirectory& directory, const StudyInput& input, const Settings& s,
                  const RunPlan& plan, const MetaResults& results, RunFacts& facts,
                  const Times& times) {
  // The two large files are built and written side by side (each from the
  // results alone, into its own string and file).
  engine::EachInOrder(2, plan.options.threads, [&](std::size_t k) {
    if (k == 0) {
      directory.Write("results.tsv", ResultsTsv(results, SortColumn(s)));
    } else {
      directory.Write("report.html", ReportPage(input, s, plan, results, facts));
    }
  });
  const auto written = std::chrono::steady_clock::now();
  facts.timings = {{"read", Seconds(times.read - times.started).count()},
                   {"analysis", Seconds(times.analysed - times.read).count()},
                   {"write", Seconds(written - times.analysed).count()}};
  directory.Write("run.json", RunJson(input, s, plan, results, facts));
}

void ShowDone(std::ostream& out, const MetaResults& results, const Settings& s) {
  const std::size_t classes = ClassCount(results);
  out << kProgram << ": " << results.genes.size() << " genes, " << results.genes_analysed
      << " analysed in " << classes
      << (classes == 1 ? " information class" : " information classes") << "; results in "
      << EscapedText(s.out.string()) << "\n";
  if (!s.quiet && s.top > 0) ShowTop(out, results, SortColumn(s), s.top);
}

// From the settled arguments to the results directory, committed whole.
void RunAndWrite(const Settings& s, std::span<const std::string> args, std::ostream& out,
                 std::ostream& err, const MetaTerminal& terminal, Times times) {
  // Refused before any work: the arguments that need no input, and an
  // output directory that cannot be used or must not be replaced.
  const std::optional<std::int32_t> universe_size =
      UniverseSize(s.universe, "--universe N", ErrorKind::kUsage);
  ParseWeightList(s.weights);
  StagedDirectory directory(s.out, s.force, FilesRead(s, universe_size.has_value()));
  WarnOfLeftovers(directory, err);
  const unsigned threads = s.threads > 0 ? s.threads : DefaultThreads();
  const StudyInput input = ReadStudies(s.inputs, s.sheet, s, threads);
  const bool seed_drawn = !s.seed.has_value();
  RunPlan plan =
      SettleOptions(input, s, seed_drawn ? DrawSeed() : static_cast<std::int32_t>(*s.seed), threads);
  plan.options.stop = terminal.stop;
  std::optional<ProgressBar> bar;
  if (terminal.progress_bar && !s.quiet) {
    bar.emplace(err);
    plan.options.progress = [&bar](std::int32_t done, std::int32_t total) {
      bar->Update(done, total);
    };
  }
  times.read = std::chrono::steady_clock::now();
  AnnounceRun(out, err, input, plan, seed_drawn, s.quiet);
  const MetaResults results = Analyse(input, plan.options, s.inputs, bar);
  ShowStudies(out, results, !s.quiet);
  times.analysed = std::chrono::steady_clock::now();
  RunFacts facts;
  facts.program = kProgram;
  facts.command_line.assign(args.begin(), args.end());
  facts.started_utc = UtcNow();
  facts.seed_drawn = seed_drawn;
  WriteResults(directory, input, s, plan, results, facts, times);
  if (terminal.stop.stop_requested()) throw Cancelled();
  directory.Commit();
  ShowDone(out, results, s);
}

// The one place korvelan-meta turns a failure into its exit status. A read
// that a signal broke off fails like any other: the signal is what to
// report.
int Failed(std::ostream& err, const std::exception& error, const MetaTerminal& terminal) {
  const auto* tool = dynamic_cast<const ToolError*>(&error);
  if (terminal.stop.stop_requested() || (tool != nullptr && tool->kind() == ErrorKind::kStopped)) {
    return Interrupted(err);
  }
  return ReportError(err, kProgram, error);
}

}  // namespace

int MetaMain(std::span<const std::string> args, std::ostream& out, std::ostream& err,
             const MetaTerminal& terminal) {
  const Times times{std::chrono::steady_clock::now(), {}, {}};
  CLI::App app{
      "Rank-based meta-analysis in one command: reads ranked gene lists or per-study tables, "
      "runs the Monte Carlo permutation analysis and writes results.tsv, report.html and "
      "run.json into the -o directory. Exit status: 0 done, 1 data or I/O error, 2 usage "
      "error, 128 + N stopped by signal N (130: Ctrl-C).",
      kProgram};
  Settings s;
  AddOptions(app, s);
  try {
    RefuseNonUtf8(args);
    if (const auto status = ParseCommandLine(app, kProgram, args, out, err)) return *status;
    SettleArguments(app, s);
    RunAndWrite(s, args, out, err, terminal, times);
  } catch (const Cancelled&) {
    return Interrupted(err);
  } catch (const std::exception& error) {
    return Failed(err, error, terminal);
  }
  return 0;
}

}  // namespace korvelan::tools
