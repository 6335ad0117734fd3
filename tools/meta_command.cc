// korvelan-meta's command line: options to the readers and the meta layer,
// the seed, the progress bar, and the staged output directory.
#include "tools/meta_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iomanip>
#include <map>
#include <random>

#include <nlohmann/json.hpp>

#include "korvelan/meta.h"
#include "korvelan/options.h"
#include "tools/cli_parse.h"
#include "tools/file_io.h"
#include "tools/input_files.h"
#include "tools/meta_input.h"
#include "tools/meta_sheet.h"
#include "tools/meta_studies.h"
#include "tools/message_text.h"
#include "tools/meta_progress.h"
#include "tools/output_dir.h"
#include "tools/report.h"
#include "tools/sha256.h"
#include "tools/html_report.h"
#include "tools/report_notes.h"
#include "tools/tool_error.h"
#include "textio/utf8.h"

namespace korvelan::tools {
namespace {

constexpr const char* kProgram = "korvelan-meta";
using Json = nlohmann::ordered_json;
using Seconds = std::chrono::duration<double>;

// Everything read from the command line, before defaults that depend on
// the input (--absent) are settled.
struct Settings {
  std::vector<std::filesystem::path> inputs;
  std::filesystem::path sheet;  // --studies
  std::filesystem::path out;
  std::string shape = "auto";
  std::string gene, pvalue, statistic, sign_by, first = "largest", delimiter = "auto";
  std::string study_column = "study";
  std::string absent;  // empty: by the input's shape
  std::string universe;
  std::string duplicates;  // empty: by the input's shape
  std::string split_ids;
  std::int32_t min_studies = 1;
  std::string pvalues = "plus-one";
  std::int32_t runs = 1000;
  std::optional<std::int64_t> seed;
  unsigned threads = 0;
  std::string weights = "equal";
  std::string sort_by = "p_Rmean_left";
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
  const auto whole = [&s](std::string_view name) { return std::stoll(s.shared.find(name)->second); };
  s.sheet = s.shared.at("studies");
  if (!s.shared.at("weights").empty()) s.weights = s.shared.at("weights");
  s.first = s.shared.at("first");
  s.absent = s.shared.at("absent");
  s.universe = s.shared.at("universe");
  s.duplicates = s.shared.at("duplicates");
  s.min_studies = static_cast<std::int32_t>(whole("min-studies"));
  s.pvalues = s.shared.at("pvalues");
  s.runs = static_cast<std::int32_t>(whole("runs"));
  if (!s.shared.at("seed").empty()) s.seed = whole("seed");
  if (!s.shared.at("threads").empty()) s.threads = static_cast<unsigned>(whole("threads"));
  s.sort_by = s.shared.at("sort-by");
  return std::nullopt;
}

void AddOptions(CLI::App& app, Settings& s) {
  app.add_option("inputs", s.inputs, "Input files: study tables, lists, or one table of all studies");
  AddShared(app, s, "studies");
  app.add_option("-o,--out", s.out, "Results directory (created; refused if it exists unless --force)")
      ->required();
  app.add_option("--input-format", s.shape, "auto, tables, lists, columns, rows or long")
      ->check(CLI::IsMember({"auto", "tables", "lists", "columns", "rows", "long"}));
  app.add_option("--gene", s.gene, "tables: column with the gene id; long: default \"gene\"");
  app.add_option("--pvalue", s.pvalue, "tables and long: rank by this p-value column, smallest first");
  app.add_option("--statistic", s.statistic, "tables and long: rank by this statistic (see --first)");
  app.add_option("--sign-by", s.sign_by,
                 "tables, with --pvalue: rank by sign(COLUMN) x -log10(p) (see --first)");
  AddShared(app, s, "first");
  app.add_option("--delimiter", s.delimiter, "auto, tab, comma or semicolon")
      ->check(CLI::IsMember({"auto", "tab", "comma", "semicolon"}));
  app.add_option("--study-column", s.study_column, "long: the study column (default study)");
  AddShared(app, s, "absent");
  AddShared(app, s, "universe")->type_name("N|FILE");
  AddShared(app, s, "duplicates");
  app.add_option("--split-ids", s.split_ids, "tables: split ids joining several genes at SEP (e.g. ///)");
  AddShared(app, s, "min-studies");
  AddShared(app, s, "pvalues");
  AddShared(app, s, "runs");
  AddShared(app, s, "seed");
  AddShared(app, s, "threads");
  AddShared(app, s, "weights");
  AddShared(app, s, "sort-by");
  app.add_option("--top", s.top, "Genes shown on screen (default 10; 0: none)")->check(CLI::Range(0, 1000000));
  app.add_flag("-q,--quiet", s.quiet, "No progress bar, per-study lines or table on screen");
  app.add_flag("--force", s.force, "Replace an existing results directory");
}

MetaReadOptions ReadOptions(const Settings& s) {
  MetaReadOptions r;
  r.shape = *InputShapeNamed(s.shape);
  SetTableRule(r, {s.gene, s.pvalue, s.statistic, s.sign_by, s.first});
  static const std::map<std::string, char> kDelimiters{{"tab", '\t'}, {"comma", ','}, {"semicolon", ';'}};
  if (s.delimiter != "auto") r.delimiter = kDelimiters.at(s.delimiter);
  r.study_column = s.study_column;
  if (!s.duplicates.empty()) r.duplicates = DuplicatesFromWord(s.duplicates);
  r.split_ids = s.split_ids;
  return r;
}

SheetDefaults Defaults(const Settings& s) {
  SheetDefaults d;
  d.table = {s.gene, s.pvalue, s.statistic, s.sign_by, s.first};
  const MetaReadOptions read = ReadOptions(s);
  d.delimiter = read.delimiter;
  if (!s.absent.empty()) d.absent = AbsentFromWord(s.absent);
  d.duplicates = read.duplicates;
  d.split_ids = read.split_ids;
  return d;
}

// run.json's account of each study table: columns chosen, rows skipped,
// ids split and merged.
Json TablesJson(const MetaInput& input) {
  Json tables = Json::array();
  for (const TableFacts& t : input.tables) {
    tables.push_back({{"study", t.study}, {"columns", t.columns}, {"fold_change", t.fold_change},
                      {"rows", t.rows}, {"skipped_without_id", t.no_id},
                      {"skipped_without_value", t.no_value}, {"ids_split", t.split},
                      {"rows_merged", t.repeated}});
  }
  return tables;
}

// The seed when none is given: from the system's entropy source, never
// from the clock, so that two runs started together differ.
std::int32_t DrawSeed() {
  std::random_device device;
  std::uniform_int_distribution<std::int32_t> pick(1, kMaxSeed);
  return pick(device);
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The interactive page: every gene of results.tsv in its order, with the
// run's facts. The numbers are the results' own, so the page's export
// gives the values of results.tsv.
HtmlReportData PageData(const MetaResults& r, int sort_by,
                        std::vector<std::pair<std::string, std::string>> facts) {
  HtmlReportData data;
  data.title = "KORVELAN meta-analysis";
  data.facts = std::move(facts);
  data.studies = r.studies;
  const std::size_t genes = r.genes.size();
  const std::size_t studies = r.studies.size();
  data.study_sizes.assign(studies, 0);
  for (std::size_t j = 0; j < studies; ++j) {
    for (std::size_t i = 0; i < genes; ++i) data.study_sizes[j] += !std::isnan(r.ranks[j * genes + i]);
  }
  for (std::size_t i : ResultOrder(r, sort_by)) {
    HtmlReportGene g;
    g.gene = r.genes[i];
    g.klass = r.klass[i];
    g.n_studies = r.n_studies[i];
    for (std::size_t j = 0; j < studies; ++j) g.ranks.push_back(r.ranks[j * genes + i]);
    g.r_mean = r.r_mean[i];
    g.r_wmean = r.r_wmean[i];
    g.q = r.q[i];
    for (std::size_t t = 0; t < kPValueCount; ++t) {
      g.p[t] = r.p[t][i];
      g.q_values[t] = r.q_values[t][i];
    }
    g.excluded = !r.analysed[i];
    // Plus-one P-values are (count + 1) / (total + 1): the page carries
    // the numerators, far shorter than their decimals.
    if (r.pvalues == PValues::kPlusOne) g.p_denominator = static_cast<double>(r.total[i] + 1);
    if (r.directional) {
      g.direction = r.direction[i];
      g.n_up = r.n_up[i];
      g.n_down = r.n_down[i];
    }
    if (r.has_fold_changes) {
      for (std::size_t j = 0; j < studies; ++j) g.fold_changes.push_back(r.fold_changes[j * genes + i]);
      g.fold_change_mean = r.fold_change_mean[i];
    }
    data.genes.push_back(std::move(g));
  }
  data.sort_by = sort_by;
  // The statistics (and exact P-values) are floats: the page shows and
  // exports the text results.tsv has.
  data.float_statistics = true;
  data.float_pvalues = r.pvalues == PValues::kExact;
  data.directional = r.directional;
  data.fold_changes = r.has_fold_changes;
  return data;
}

// How the studies were ranked, as the screen says it; tables that differ
// are described per study on screen and in run.json.
std::string RankingOf(const MetaInput& input) {
  if (input.tables.empty()) return "";
  const std::string& first = input.tables.front().ranking;
  for (const TableFacts& t : input.tables) {
    if (t.ranking != first) return "the rule of each table (see run.json, \"tables\")";
  }
  return first;
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
  out << std::left << std::setw(static_cast<int>(width + 2)) << "gene" << std::setw(11) << "n_studies"
      << std::setw(12) << "R_mean" << std::setw(16) << p;
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
    if (r.analysed[i] && std::find(seen.begin(), seen.end(), r.klass[i]) == seen.end()) seen.push_back(r.klass[i]);
  }
  return seen.size();
}

// The meta layer names the study at fault; the file it came from goes in
// front: the study's own file when each file is one study, else the one file.
std::string WithFile(std::string_view what, const MetaInput& input,
                     const std::vector<std::filesystem::path>& files) {
  const std::string message = MessageLine(what);
  if (files.size() == 1) return files.front().string() + ": " + message;
  if (files.size() != input.studies.size()) return message;
  for (std::size_t j = 0; j < files.size(); ++j) {
    if (message.find("study \"" + input.studies[j].name + "\"") != std::string::npos) {
      return files[j].string() + ": " + message;
    }
  }
  return message;
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
  if (!s.pvalue.empty() && !s.statistic.empty()) return "give at most one of --pvalue and --statistic";
  if (!s.sign_by.empty() && s.pvalue.empty()) return "--sign-by needs --pvalue";
  if (s.inputs.empty() == s.sheet.empty()) return "give input files or --studies SHEET (one of the two)";
  if (!s.sheet.empty() && s.weights != "equal") return "with --studies, weights go in the sheet's weight column";
  return std::nullopt;
}

// One run as it was asked for and settled: what run.json, the page and the
// screen report.
struct Run {
  Run(const Settings& s, std::span<const std::string> a, StudiesRead r)
      : settings(s), args(a), read(std::move(r)) {}
  const Settings& settings;
  std::span<const std::string> args;
  StudiesRead read;
  std::string format;  // the input's shape, or "sheet"
  std::string absent;  // below, missing, or "per study"
  std::string universe_sha;  // of a universe file
  MetaOptions options;
  bool seed_drawn = false;
};

// The analysis options from the settings and what was read; --universe's
// size is settled already (nullopt: a file of ids).
void SettleOptions(Run& run, std::optional<std::int32_t> universe_size) {
  const Settings& s = run.settings;
  const MetaInput& input = run.read.input;
  const bool sheet = run.read.sheet.has_value();
  MetaOptions& options = run.options;
  run.absent = sheet ? (s.absent.empty() ? "per study" : s.absent)
               : !s.absent.empty() ? s.absent
                                   : (input.top_lists ? "below" : "missing");
  options.absent = run.absent == "per study" ? Absent::kMissing : AbsentFromWord(run.absent);
  if (!s.universe.empty()) {
    if (options.absent != Absent::kBelow && !sheet) {
      throw ToolError("--universe applies to --absent below", ErrorKind::kUsage);
    }
    if (universe_size) {
      options.universe_size = *universe_size;
    } else {
      const std::string text = ReadWholeFile(s.universe);
      run.universe_sha = Sha256Hex(text);
      options.universe_ids = ReadUniverseIds(text, s.universe);
    }
  }
  if (sheet) options.study_settings = run.read.sheet->settings;
  options.duplicates = input.duplicates;
  options.effects = EffectsOf(input);
  options.min_studies = s.min_studies;
  options.pvalues = PValuesFromWord(s.pvalues);
  if (sheet) {
    for (const SheetStudy& row : run.read.sheet->rows) options.weights.push_back(row.weight);
  } else if (s.weights != "equal") {
    for (float w : ParseWeights(s.weights, input.studies.size())) options.weights.push_back(w);
  }
  options.runs = s.runs;
  run.seed_drawn = !s.seed.has_value();
  options.seed = run.seed_drawn ? DrawSeed() : static_cast<std::int32_t>(*s.seed);
  options.threads = s.threads > 0 ? s.threads : DefaultThreads();
}

// The analysis with the progress bar (when shown) ended on every path; the
// meta layer's complaints about a study name its file.
MetaResults Analyse(const Run& run, std::optional<ProgressBar>& bar) {
  try {
    MetaResults results = RunMeta(run.read.input.studies, run.options);
    if (bar) bar->Finish();
    return results;
  } catch (const std::invalid_argument& error) {
    if (bar) bar->Finish();
    throw ToolError(WithFile(error.what(), run.read.input, run.settings.inputs));
  } catch (...) {
    if (bar) bar->Finish();
    throw;
  }
}

std::string PageHtml(const Run& run, const MetaResults& results, int sort_by) {
  const Settings& s = run.settings;
  std::string inputs;
  for (const auto& f : run.read.files) inputs += (inputs.empty() ? "" : ", ") + f.filename().string();
  std::vector<std::pair<std::string, std::string>> facts = {
      {"inputs", inputs},
      {"input format", run.format},
      {"absent genes", run.absent},
      {"universe", std::to_string(results.universe)},
      {"runs", std::to_string(results.runs)},
      {"seed", std::to_string(results.seed) + (run.seed_drawn ? " (drawn)" : "")},
      {"P-values", s.pvalues},
      {"min studies", std::to_string(s.min_studies)},
      {"genes analysed", std::to_string(results.genes_analysed)},
      {"sorted by", std::string(PValueName(sort_by))},
      {"version", std::string(kProgram) + " " + results.version},
  };
  RunDescription about;
  about.program_version = std::string(kProgram) + " " + results.version;
  about.studies = results.studies;
  about.genes = results.genes.size();
  about.genes_analysed = results.genes_analysed;
  about.ranking = RankingOf(run.read.input);
  about.directional = results.directional;
  about.first_is_up = std::all_of(run.options.effects.begin(), run.options.effects.end(),
                                  [](const StudyEffects& e) { return e.effects.empty() || e.first_is_up; });
  about.fold_changes = results.has_fold_changes;
  about.absent = run.absent;
  about.universe = results.universe;
  about.runs = results.runs;
  about.seed = results.seed;
  about.seed_drawn = run.seed_drawn;
  about.exact_pvalues = results.pvalues == PValues::kExact;
  about.min_studies = s.min_studies;
  about.sort_by = std::string(PValueName(sort_by));
  HtmlReportData page = PageData(results, sort_by, std::move(facts));
  page.legend = LegendEntries(about);
  page.methods = MethodsText(about);
  return HtmlReport(page);
}

Json OptionsJson(const Run& run, const MetaResults& results) {
  const Settings& s = run.settings;
  const MetaOptions& options = run.options;
  Json o;
  o["input_format"] = run.format;
  o["gene"] = s.gene;
  o["pvalue"] = s.pvalue;
  o["statistic"] = s.statistic;
  o["sign_by"] = s.sign_by;
  o["first"] = s.first;
  o["delimiter"] = s.delimiter;
  o["study_column"] = s.study_column;
  o["absent"] = run.absent;
  if (!run.universe_sha.empty()) {
    o["universe"] = {{"file", s.universe}, {"sha256", run.universe_sha}, {"ids", options.universe_ids.size()}};
  } else {
    o["universe"] = results.universe;
  }
  o["duplicates"] = DuplicatesName(run.read.input.duplicates);
  o["split_ids"] = s.split_ids;
  o["min_studies"] = s.min_studies;
  o["pvalues"] = s.pvalues;
  o["runs"] = s.runs;
  o["seed"] = options.seed;
  o["seed_drawn"] = run.seed_drawn;
  o["threads"] = options.threads;
  Json weights = Json::array();
  for (std::size_t j = 0; j < run.read.input.studies.size(); ++j) {
    weights.push_back(options.weights.empty() ? 1.0 : options.weights[j]);
  }
  o["weights"] = weights;
  o["sort_by"] = s.sort_by;
  return o;
}

// run.json but its timings (the caller adds them last).
Json RunJson(const Run& run, const MetaResults& results, const std::vector<std::string>& warnings) {
  const MetaInput& input = run.read.input;
  Json json;
  json["program"] = kProgram;
  json["version"] = results.version;
  Json command = Json::array({kProgram});
  for (const std::string& a : run.args) command.push_back(a);
  json["command_line"] = command;
  json["started_utc"] = UtcNow();
  Json files = Json::array();
  for (std::size_t f = 0; f < run.read.files.size(); ++f) {
    files.push_back({{"file", run.read.files[f].string()}, {"sha256", input.sha256[f]}});
  }
  json["inputs"] = files;
  if (run.read.sheet) json["sheet"] = {{"file", run.settings.sheet.string()}, {"sha256", run.read.sheet->sha256}};
  json["options"] = OptionsJson(run, results);
  json["seed"] = run.options.seed;
  Json studies = Json::array();
  for (const Study& study : input.studies) studies.push_back(study.name);
  json["studies"] = studies;
  json["study_universes"] = StudyUniversesJson(results, run.read);
  if (const std::string note = UniverseNote(results); !note.empty()) json["universe_note"] = note;
  if (!input.tables.empty()) json["tables"] = TablesJson(input);
  json["warnings"] = warnings;
  json["counts"] = {{"studies", results.studies.size()},
                    {"genes", results.genes.size()},
                    {"genes_analysed", results.genes_analysed},
                    {"classes", results.classes},
                    {"universe", results.universe},
                    {"genes_without_ids", results.unnamed}};
  return json;
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
      throw ToolError("argument " + std::to_string(a + 1) + " (\"" + args[a] + "\") is not UTF-8 text (byte " +
                          std::to_string(bad + 1) + ")",
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
void AnnounceRun(std::ostream& out, std::ostream& err, const Run& run, const std::vector<std::string>& warnings) {
  const MetaInput& input = run.read.input;
  out << kProgram << ": " << input.studies.size() << " studies (" << run.format << "), absent genes "
      << run.absent << ", seed " << run.options.seed
      << (run.seed_drawn ? " (drawn; --seed " + std::to_string(run.options.seed) + " repeats this run)" : "")
      << "; running " << run.options.runs << " runs\n";
  if (!run.settings.quiet) {
    for (const std::string& line : DescribeTables(input)) out << line << "\n";
  }
  out << std::flush;
  for (const std::string& warning : warnings) err << kProgram << ": warning: " << warning << "\n";
}

struct Times {
  std::chrono::steady_clock::time_point started, read, analysed;
};

// results.tsv, report.html and run.json into the staged directory.
void WriteResults(StagedDirectory& directory, const Run& run, const MetaResults& results, int sort_by,
                  const std::vector<std::string>& warnings, const Times& times) {
  directory.Write("results.tsv", ResultsTsv(results, sort_by));
  directory.Write("report.html", PageHtml(run, results, sort_by));
  Json json = RunJson(run, results, warnings);
  const auto written = std::chrono::steady_clock::now();
  json["timings_seconds"] = {{"read", Seconds(times.read - times.started).count()},
                             {"analysis", Seconds(times.analysed - times.read).count()},
                             {"write", Seconds(written - times.analysed).count()}};
  directory.Write("run.json", json.dump(2) + "\n");
}

void ShowDone(std::ostream& out, const MetaResults& results, const Settings& s, int sort_by) {
  const std::size_t classes = ClassCount(results);
  out << kProgram << ": " << results.genes.size() << " genes, " << results.genes_analysed << " analysed in "
      << classes << (classes == 1 ? " information class" : " information classes") << "; results in "
      << EscapedText(s.out.string()) << "\n";
  if (!s.quiet && s.top > 0) ShowTop(out, results, sort_by, s.top);
}

// From the settled arguments to the results directory, committed whole.
void RunAndWrite(const Settings& s, std::span<const std::string> args, std::ostream& out, std::ostream& err,
                 const MetaTerminal& terminal, Times times) {
  // Refused before any work: the arguments that need no input, and an
  // output directory that cannot be used or must not be replaced.
  const std::optional<std::int32_t> universe_size = UniverseSize(s.universe, "--universe N", ErrorKind::kUsage);
  ParseWeightList(s.weights);
  StagedDirectory directory(s.out, s.force, FilesRead(s, universe_size.has_value()));
  WarnOfLeftovers(directory, err);
  Run run(s, args, ReadStudies(s.inputs, ReadOptions(s), s.sheet, Defaults(s)));
  const MetaInput& input = run.read.input;
  run.format = run.read.sheet ? "sheet" : std::string(InputShapeName(input.shape));
  // Top-k lists share few ids by nature; tables of all measured genes
  // that share few point at ids of another kind.
  const std::vector<std::string> warnings =
      input.top_lists ? std::vector<std::string>{} : OverlapWarnings(input.studies);
  SettleOptions(run, universe_size);
  run.options.stop = terminal.stop;
  std::optional<ProgressBar> bar;
  if (terminal.progress_bar && !s.quiet) {
    bar.emplace(err);
    run.options.progress = [&bar](std::int32_t done, std::int32_t total) { bar->Update(done, total); };
  }
  times.read = std::chrono::steady_clock::now();
  AnnounceRun(out, err, run, warnings);
  const MetaResults results = Analyse(run, bar);
  ShowStudies(out, results, !s.quiet);
  times.analysed = std::chrono::steady_clock::now();
  const int sort_by = SortColumnFromWord(s.sort_by);
  WriteResults(directory, run, results, sort_by, warnings, times);
  if (terminal.stop.stop_requested()) throw Cancelled();
  directory.Commit();
  ShowDone(out, results, s, sort_by);
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
