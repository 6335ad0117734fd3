// korvelan-report's command line.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>

#include "tools/cli/cli_parse.h"
#include "tools/report/report_command.h"
#include "tools/cli/message_text.h"
#include "tools/report/report.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr const char* kProgram = "korvelan-report";

// The command line as given, before it is settled into ReportOptions.
struct Arguments {
  std::filesystem::path directory = ".";
  std::filesystem::path results_file;
  std::filesystem::path genes_file;
  std::filesystem::path table;
  std::filesystem::path svg;
  std::filesystem::path html;
  std::int64_t seed = 0;
  std::string sort_by = "p_Rmean_left";
  std::string pvalues = "exact";
  std::int64_t runs = 0;
};

void AddOptions(CLI::App& app, Arguments& a) {
  app.add_option("directory", a.directory,
                 "Directory holding output.txt and genes.tsv; results.tsv goes there too "
                 "(default: the current directory)");
  app.add_option("--output-txt", a.results_file, "The program's results file (DIR/output.txt)");
  app.add_option("--genes", a.genes_file, "The genes.tsv of korvelan-prepare (DIR/genes.tsv)");
  app.add_option("-o,--out", a.table, "The table to write (DIR/results.tsv)");
  app.add_option("--sort-by", a.sort_by,
                 "P-value column to sort by: p_Rmean_right, p_Rmean_left (default: small "
                 "mean ranks first), p_Rwmean_right, p_Rwmean_left, p_Q_right, p_Q_left");
  app.add_option("--svg", a.svg, "Also write a figure: P-value histograms and Q against R-mean");
  app.add_option("--pvalues", a.pvalues,
                 "exact: as output.txt holds them (default); plus-one: (count + 1) / (total + 1), "
                 "never 0, the counts recovered from the P-values and the runs")
      ->check(CLI::IsMember({"exact", "plus-one"}));
  app.add_option("--runs", a.runs,
                 "With --pvalues plus-one: the analysis's Monte Carlo runs (default: the last "
                 "answer of DIR/answers.txt)")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483647}));
  app.add_option("--html", a.html,
                 "Also write an interactive, self-contained HTML page: summary, gene table, "
                 "plots");
  app.add_option("--seed", a.seed,
                 "The seed the program ran with, for the HTML page's summary (it is not in "
                 "output.txt)")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483646}));
}

// korvelan-prepare's answers.txt ends with the number of runs; 0 when it
// holds none.
std::int64_t RunsAnswered(const std::filesystem::path& answers_file) {
  std::ifstream answers(answers_file);
  std::string line, last;
  while (std::getline(answers, line)) {
    if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
  }
  try {
    return std::max<std::int64_t>(0, std::stoll(last));
  } catch (const std::exception&) {
    return 0;
  }
}

// The runs of plus-one P-values: --runs, else the answers'; nullopt for
// exact ones. Throws ToolError (kUsage) when runs are missing or misplaced.
std::optional<std::int64_t> PlusOneRuns(const Arguments& a) {
  if (a.pvalues != "plus-one") {
    if (a.runs != 0) throw ToolError("--runs applies to --pvalues plus-one", ErrorKind::kUsage);
    return std::nullopt;
  }
  if (a.runs != 0) return a.runs;
  const std::filesystem::path answers = a.directory / "answers.txt";
  const std::int64_t runs = RunsAnswered(answers);
  if (runs < 1) {
    throw ToolError("--pvalues plus-one needs --runs (no runs in " + MessageLine(answers.string()) +
                        ")",
                    ErrorKind::kUsage);
  }
  return runs;
}

ReportOptions Settle(const Arguments& a) {
  const std::optional<PValueIndex> column = PValueColumn(a.sort_by);
  if (!column)
    throw ToolError("--sort-by " + a.sort_by + " is not a P-value column", ErrorKind::kUsage);
  ReportOptions options;
  options.results_file = a.results_file.empty() ? a.directory / "output.txt" : a.results_file;
  options.genes_file = a.genes_file.empty() ? a.directory / "genes.tsv" : a.genes_file;
  options.table = a.table.empty() ? a.directory / "results.tsv" : a.table;
  if (!a.svg.empty()) options.svg = a.svg;
  if (!a.html.empty()) options.html = a.html;
  // The answers korvelan-prepare wrote beside output.txt name the runs.
  options.answers = options.results_file.parent_path() / "answers.txt";
  if (a.seed != 0) options.seed = std::to_string(a.seed);
  options.sort_by = *column;
  options.plus_one_runs = PlusOneRuns(a);
  return options;
}

void ShowSummary(std::ostream& out, const std::vector<ReportRow>& rows,
                 const ReportOptions& options) {
  out << kProgram << ": " << rows.size() << " genes into " << options.table.string()
      << ", sorted by " << PValueColumnName(options.sort_by) << "\n";
  out << "  q < 0.05:";
  for (std::size_t c = 0; c < kPValueCount; ++c) {
    std::size_t count = 0;
    for (const ReportRow& row : rows) count += row.q_values[c] < 0.05;
    out << (c == 0 ? " " : ", ") << PValueColumnName(static_cast<PValueIndex>(c)).substr(2) << " "
        << count;
  }
  out << "\n";
  if (options.svg) out << "  figure: " << options.svg->string() << "\n";
  if (options.html) out << "  page: " << options.html->string() << "\n";
}

}  // namespace

int ReportMain(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Joins KORVELAN's output.txt with the genes.tsv of korvelan-prepare and writes "
      "results.tsv: one row per gene with its P-values and Benjamini-Hochberg q-values, "
      "sorted by one P-value column.",
      kProgram};
  Arguments arguments;
  AddOptions(app, arguments);
  if (const auto status = ParseCommandLine(app, kProgram, args, out, err)) return *status;
  try {
    const ReportOptions options = Settle(arguments);
    ShowSummary(out, Report(options), options);
  } catch (const std::exception& error) {
    return ReportError(err, kProgram, error);
  }
  return 0;
}

}  // namespace korvelan::tools
