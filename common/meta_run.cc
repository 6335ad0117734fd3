// korvelan/inputs.h's writing half: a run's record (run.json) and its page
// (report.html), from what was read, the settings, the settled options and
// the results.
#include <algorithm>
#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

#include "korvelan/options.h"

#include "common/html_report.h"
#include "common/meta_input.h"
#include "common/report_notes.h"
#include "common/study_input.h"

namespace korvelan {
namespace {

using Json = nlohmann::ordered_json;
using tools::HtmlReportData;
using tools::HtmlReportGene;
using tools::TableFacts;

// run.json's account of each study table: columns chosen, rows skipped,
// ids split and merged.
Json TablesJson(const tools::MetaInput& input) {
  Json tables = Json::array();
  for (const TableFacts& t : input.tables) {
    tables.push_back({{"study", t.study},
                      {"columns", t.columns},
                      {"fold_change", t.fold_change},
                      {"rows", t.rows},
                      {"skipped_without_id", t.no_id},
                      {"skipped_without_value", t.no_value},
                      {"ids_split", t.split},
                      {"rows_merged", t.repeated}});
  }
  return tables;
}

HtmlReportGene PageGene(const MetaResults& r, std::size_t i) {
  const std::size_t genes = r.genes.size();
  const std::size_t studies = r.studies.size();
  HtmlReportGene g;
  g.gene = r.genes[i];
  g.info_class = r.info_class[i];
  g.n_studies = r.n_studies[i];
  g.ranks.reserve(studies);
  for (std::size_t j = 0; j < studies; ++j) g.ranks.push_back(r.ranks[j * genes + i]);
  g.r_mean = r.r_mean[i];
  g.r_wmean = r.r_wmean[i];
  g.q = r.q[i];
  for (std::size_t t = 0; t < g.p.size(); ++t) {
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
    g.fold_changes.reserve(studies);
    for (std::size_t j = 0; j < studies; ++j)
      g.fold_changes.push_back(r.fold_changes[j * genes + i]);
    g.fold_change_mean = r.fold_change_mean[i];
  }
  return g;
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
    for (std::size_t i = 0; i < genes; ++i)
      data.study_sizes[j] += !std::isnan(r.ranks[j * genes + i]);
  }
  data.genes.reserve(genes);
  for (std::size_t i : ResultOrder(r, sort_by)) data.genes.push_back(PageGene(r, i));
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
std::string RankingOf(const tools::MetaInput& input) {
  if (input.tables.empty()) return "";
  const std::string& first = input.tables.front().ranking;
  for (const TableFacts& t : input.tables) {
    if (t.ranking != first) return "the rule of each table (see run.json, \"tables\")";
  }
  return first;
}

tools::RunDescription Described(const StudyInput& input, const RunSettings& s, const RunPlan& plan,
                                const MetaResults& results, const RunFacts& facts) {
  tools::RunDescription about;
  about.program_version = facts.program + " " + results.version;
  about.studies = results.studies;
  about.genes = results.genes.size();
  about.genes_analysed = results.genes_analysed;
  about.ranking = RankingOf(input.parts().read.input);
  about.directional = results.directional;
  about.first_is_up =
      std::all_of(plan.options.effects.begin(), plan.options.effects.end(),
                  [](const StudyEffects& e) { return e.effects.empty() || e.first_is_up; });
  about.fold_changes = results.has_fold_changes;
  about.absent = plan.absent;
  about.universe = results.universe;
  about.runs = results.runs;
  about.seed = results.seed;
  about.seed_drawn = facts.seed_drawn;
  about.exact_pvalues = results.pvalues == PValues::kExact;
  about.min_studies = s.min_studies;
  about.sort_by = std::string(PValueName(SortColumn(s)));
  return about;
}

Json OptionsJson(const StudyInput& input, const RunSettings& s, const RunPlan& plan,
                 const MetaResults& results, const RunFacts& facts) {
  const MetaOptions& options = plan.options;
  const tools::MetaInput& read = input.parts().read.input;
  Json o;
  o["input_format"] = input.format();
  o["gene"] = s.gene;
  o["pvalue"] = s.pvalue;
  o["statistic"] = s.statistic;
  o["sign_by"] = s.sign_by;
  o["first"] = s.first;
  o["delimiter"] = s.delimiter;
  o["study_column"] = s.study_column;
  o["absent"] = plan.absent;
  if (!plan.universe_sha256.empty()) {
    o["universe"] = {{"file", s.universe},
                     {"sha256", plan.universe_sha256},
                     {"ids", options.universe_ids.size()}};
  } else {
    o["universe"] = results.universe;
  }
  o["duplicates"] = WordOf(options.duplicates);
  o["split_ids"] = s.split_ids;
  o["min_studies"] = s.min_studies;
  o["pvalues"] = s.pvalues;
  o["runs"] = s.runs;
  o["seed"] = options.seed;
  o["seed_drawn"] = facts.seed_drawn;
  o["threads"] = options.threads;
  Json weights = Json::array();
  for (std::size_t j = 0; j < read.studies.size(); ++j) {
    weights.push_back(options.weights.empty() ? 1.0 : options.weights[j]);
  }
  o["weights"] = weights;
  o["sort_by"] = s.sort_by;
  return o;
}

}  // namespace

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

int SortColumn(const RunSettings& settings) {
  const OptionSpec& option = SharedOption("sort-by");
  if (const std::string problem = OptionProblem(option, settings.sort_by); !problem.empty()) {
    throw tools::ToolError(HostName(option.name) + " " + problem, tools::ErrorKind::kUsage);
  }
  return SortColumnFromWord(settings.sort_by);
}

std::string ReportPage(const StudyInput& input, const RunSettings& settings, const RunPlan& plan,
                       const MetaResults& results, const RunFacts& facts) {
  const int sort_by = SortColumn(settings);
  std::string inputs;
  for (const auto& f : input.parts().read.files)
    inputs += (inputs.empty() ? "" : ", ") + f.filename().string();
  std::vector<std::pair<std::string, std::string>> page_facts = {
      {"inputs", inputs},
      {"input format", input.format()},
      {"absent genes", plan.absent},
      {"universe", std::to_string(results.universe)},
      {"runs", std::to_string(results.runs)},
      {"seed", std::to_string(results.seed) + (facts.seed_drawn ? " (drawn)" : "")},
      {"P-values", settings.pvalues},
      {"min studies", std::to_string(settings.min_studies)},
      {"genes analysed", std::to_string(results.genes_analysed)},
      {"sorted by", std::string(PValueName(sort_by))},
      {"version", facts.program + " " + results.version},
  };
  const tools::RunDescription about = Described(input, settings, plan, results, facts);
  HtmlReportData page = PageData(results, sort_by, std::move(page_facts));
  page.legend = tools::LegendEntries(about);
  page.methods = tools::MethodsText(about);
  return tools::HtmlReport(page);
}

std::string RunJson(const StudyInput& input, const RunSettings& settings, const RunPlan& plan,
                    const MetaResults& results, const RunFacts& facts) {
  const tools::StudiesRead& read = input.parts().read;
  Json json;
  json["program"] = facts.program;
  json["version"] = results.version;
  Json command = Json::array({facts.program});
  for (const std::string& a : facts.command_line) command.push_back(a);
  json["command_line"] = command;
  json["started_utc"] = facts.started_utc;
  Json files = Json::array();
  for (std::size_t f = 0; f < read.files.size(); ++f) {
    files.push_back({{"file", read.files[f].string()}, {"sha256", read.input.sha256[f]}});
  }
  json["inputs"] = files;
  if (read.sheet)
    json["sheet"] = {{"file", input.parts().sheet.string()}, {"sha256", read.sheet->sha256}};
  json["options"] = OptionsJson(input, settings, plan, results, facts);
  json["seed"] = plan.options.seed;
  Json studies = Json::array();
  for (const Study& study : read.input.studies) studies.push_back(study.name);
  json["studies"] = studies;
  json["study_universes"] = tools::StudyUniversesJson(results, read);
  if (const std::string note = tools::UniverseNote(results); !note.empty())
    json["universe_note"] = note;
  if (!read.input.tables.empty()) json["tables"] = TablesJson(read.input);
  json["warnings"] = input.Warnings();
  json["counts"] = {{"studies", results.studies.size()},
                    {"genes", results.genes.size()},
                    {"genes_analysed", results.genes_analysed},
                    {"classes", results.classes},
                    {"universe", results.universe},
                    {"genes_without_ids", results.unnamed}};
  if (!facts.timings.empty()) {
    Json timings;
    for (const auto& [step, seconds] : facts.timings) timings[step] = seconds;
    json["timings_seconds"] = timings;
  }
  return json.dump(2) + "\n";
}

}  // namespace korvelan
