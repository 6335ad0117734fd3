// korvelan-report's command line.
#include <CLI/CLI.hpp>

#include <cmath>
#include <fstream>

#include "tools/cli_parse.h"
#include "tools/command_line.h"
#include "tools/message_text.h"
#include "tools/report.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr const char* kProgram = "korvelan-report";

}  // namespace

int ReportMain(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Joins KORVELAN's output.txt with the genes.tsv of korvelan-prepare and writes "
      "results.tsv: one row per gene with its P-values and Benjamini-Hochberg q-values, "
      "sorted by one P-value column.",
      kProgram};
  std::filesystem::path directory = ".";
  std::filesystem::path results_file;
  std::filesystem::path genes_file;
  std::filesystem::path table;
  std::filesystem::path svg;
  std::filesystem::path html;
  std::int64_t seed = 0;
  std::string sort_by = "p_Rmean_left";
  app.add_option("directory", directory,
                 "Directory holding output.txt and genes.tsv; results.tsv goes there too "
                 "(default: the current directory)");
  app.add_option("--output-txt", results_file, "The program's results file (DIR/output.txt)");
  app.add_option("--genes", genes_file, "The genes.tsv of korvelan-prepare (DIR/genes.tsv)");
  app.add_option("-o,--out", table, "The table to write (DIR/results.tsv)");
  app.add_option("--sort-by", sort_by,
                 "P-value column to sort by: p_Rmean_right, p_Rmean_left (default: small "
                 "mean ranks first), p_Rwmean_right, p_Rwmean_left, p_Q_right, p_Q_left");
  app.add_option("--svg", svg, "Also write a figure: P-value histograms and Q against R-mean");
  std::string pvalues = "exact";
  std::int64_t runs = 0;
  app.add_option("--pvalues", pvalues,
                 "exact: as output.txt holds them (default); plus-one: (count + 1) / (total + 1), "
                 "never 0, the counts recovered from the P-values and the runs")
      ->check(CLI::IsMember({"exact", "plus-one"}));
  app.add_option("--runs", runs,
                 "With --pvalues plus-one: the analysis's Monte Carlo runs (default: the last "
                 "answer of DIR/answers.txt)")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483647}));

  app.add_option("--html", html,
                 "Also write an interactive, self-contained HTML page: summary, gene table, "
                 "plots");
  app.add_option("--seed", seed,
                 "The seed the program ran with, for the HTML page's summary (it is not in "
                 "output.txt)")
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483646}));

  if (const auto status = ParseCommandLine(app, kProgram, args, out, err)) return *status;
  std::optional<PValueIndex> column = PValueColumn(sort_by);
  if (!column) {
    err << kProgram << ": --sort-by " << sort_by << " is not a P-value column (see " << kProgram
        << " --help)\n";
    return 2;
  }
  ReportOptions options;
  options.results_file = results_file.empty() ? directory / "output.txt" : results_file;
  options.genes_file = genes_file.empty() ? directory / "genes.tsv" : genes_file;
  options.table = table.empty() ? directory / "results.tsv" : table;
  if (!svg.empty()) options.svg = svg;
  if (!html.empty()) options.html = html;
  // The answers korvelan-prepare wrote beside output.txt name the runs.
  options.answers = options.results_file.parent_path() / "answers.txt";
  if (seed != 0) options.seed = std::to_string(seed);
  options.sort_by = *column;
  if (pvalues == "plus-one") {
    if (runs == 0) {
      // korvelan-prepare's answers.txt ends with the number of runs.
      std::ifstream answers(directory / "answers.txt");
      std::string line, last;
      while (std::getline(answers, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) last = line;
      }
      try {
        runs = std::stoll(last);
      } catch (const std::exception&) {
        runs = 0;
      }
      if (runs < 1) {
        err << kProgram << ": --pvalues plus-one needs --runs (no runs in "
            << MessageLine((directory / "answers.txt").string()) << ") (see " << kProgram << " --help)\n";
        return 2;
      }
    }
    options.plus_one_runs = runs;
  } else if (runs != 0) {
    err << kProgram << ": --runs applies to --pvalues plus-one (see " << kProgram << " --help)\n";
    return 2;
  }

  try {
    std::vector<ReportRow> rows = Report(options);
    out << kProgram << ": " << rows.size() << " genes into " << options.table.string()
        << ", sorted by " << PValueColumnName(*column) << "\n";
    out << "  q < 0.05:";
    for (std::size_t c = 0; c < kPValueCount; ++c) {
      std::size_t count = 0;
      for (const ReportRow& row : rows) count += row.q_values[c] < 0.05;
      out << (c == 0 ? " " : ", ") << PValueColumnName(static_cast<PValueIndex>(c)).substr(2)
          << " " << count;
    }
    out << "\n";
    if (options.svg) out << "  figure: " << options.svg->string() << "\n";
    if (options.html) out << "  page: " << options.html->string() << "\n";
  } catch (const std::exception& error) {
    return ReportError(err, kProgram, error);
  }
  return 0;
}

}  // namespace korvelan::tools
