// korvelan-prepare's command line.
#include <map>

#include "tools/cli/cli_parse.h"
#include "tools/prepare/prepare_command.h"
#include "tools/cli/message_text.h"
#include "tools/prepare/prepare.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr const char* kProgram = "korvelan-prepare";

// The command line as given, before it is settled into PrepareOptions.
struct Arguments {
  PrepareOptions options;
  std::string pvalue_column;
  std::string statistic_column;
  std::string delimiter = "auto";
  std::string first = "largest";
  std::string gene_order = "sorted";
  std::string names;
  CLI::Option* pvalue = nullptr;
  CLI::Option* statistic = nullptr;
  CLI::Option* sign_by = nullptr;
  CLI::Option* first_option = nullptr;
};

void AddOptions(CLI::App& app, Arguments& a) {
  app.add_option("tables", a.options.tables, "Study tables, one per study (2 to 98)")
      ->required()
      ->check(CLI::ExistingFile);
  app.add_option("-o,--out", a.options.directory, "Directory for the four files (created)")
      ->required();
  app.add_option("--gene", a.options.rule.gene_column, "Column with the gene id")->required();
  a.pvalue = app.add_option("--pvalue", a.pvalue_column,
                            "Rank by this p-value column, rank 1 = smallest p");
  a.statistic = app.add_option("--statistic", a.statistic_column,
                               "Rank by this signed statistic column (see --first)");
  a.sign_by = app.add_option(
      "--sign-by", a.options.rule.sign_column,
      "With --pvalue: rank by signed significance sign(COLUMN) x -log10(p), e.g. COLUMN = "
      "log fold change (see --first)");
  a.first_option = app.add_option(
      "--first", a.first,
      "With --statistic or --sign-by: which end gets rank 1, largest (most up) or smallest");
  a.first_option->check(CLI::IsMember({"largest", "smallest"}));
  a.pvalue->excludes(a.statistic);
  a.sign_by->needs(a.pvalue);
  app.add_option("--delimiter", a.delimiter, "auto (from the header), tab, comma or semicolon")
      ->check(CLI::IsMember({"auto", "tab", "comma", "semicolon"}));
  // One argument split here: a list option of CLI11 would also swallow the
  // table names that follow it.
  app.add_option("--names", a.names,
                 "Study names, comma-separated, in table order (default: file names without "
                 "extension)");
  app.add_option("--weights", a.options.weights,
                 "equal, or one positive weight per study, comma-separated (e.g. sample sizes)");
  app.add_option("--runs", a.options.runs, "Monte Carlo runs written to answers.txt")
      ->default_val(1000)
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{2147483647}));
  app.add_option("--gene-order", a.gene_order,
                 "Line order: sorted (by gene id, byte order) or first-seen")
      ->check(CLI::IsMember({"sorted", "first-seen"}));
}

std::vector<std::string> SplitNames(const std::string& names) {
  std::vector<std::string> out;
  for (std::size_t start = 0; !names.empty();) {
    std::size_t comma = names.find(',', start);
    out.push_back(names.substr(start, comma == std::string::npos ? names.npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

// The options of the work; throws ToolError (kUsage) for a combination the
// parser cannot refuse by itself.
PrepareOptions Settle(const Arguments& a) {
  if (a.pvalue_column.empty() == a.statistic_column.empty()) {
    throw ToolError("give exactly one of --pvalue and --statistic", ErrorKind::kUsage);
  }
  if (a.first_option->count() > 0 && a.sign_by->count() == 0 && a.statistic->count() == 0) {
    throw ToolError("--first applies to --statistic and --sign-by only", ErrorKind::kUsage);
  }
  PrepareOptions options = a.options;
  options.names = SplitNames(a.names);
  options.rule.value_column = a.statistic_column.empty() ? a.pvalue_column : a.statistic_column;
  options.rule.kind = !a.statistic_column.empty()         ? RankingRule::Kind::kStatistic
                      : !options.rule.sign_column.empty() ? RankingRule::Kind::kSignedPValue
                                                          : RankingRule::Kind::kPValue;
  options.rule.first = a.first == "largest" ? RankFirst::kLargest : RankFirst::kSmallest;
  static const std::map<std::string, char> kDelimiters{
      {"tab", '\t'}, {"comma", ','}, {"semicolon", ';'}};
  if (a.delimiter != "auto") options.delimiter = kDelimiters.at(a.delimiter);
  options.order = a.gene_order == "sorted" ? GeneOrder::kSorted : GeneOrder::kFirstSeen;
  return options;
}

void ShowSummary(std::ostream& out, const PrepareSummary& summary, const PrepareOptions& options) {
  out << kProgram << ": " << summary.study_names.size() << " studies, " << summary.genes
      << " genes into " << options.directory.string() << "\n";
  for (std::size_t s = 0; s < summary.study_names.size(); ++s) {
    out << "  " << summary.study_names[s] << ": " << summary.ranked[s] << " of "
        << summary.listed[s] << " genes ranked\n";
  }
  out << "  information classes:";
  for (std::size_t k = 0; k < summary.class_sizes.size(); ++k) {
    out << (k == 0 ? " " : ", ") << k + 1 << ": " << summary.class_sizes[k];
  }
  out << "\n";
  if (summary.unranked > 0) {
    out << "  left out: " << summary.unranked << " genes without a value in any study\n";
  }
}

}  // namespace

int PrepareMain(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  CLI::App app{
      "Turns per-study result tables (TSV or CSV with a header) into the input files of a "
      "KORVELAN main analysis: data.txt, weights.txt, genes.tsv (line number -> gene) and "
      "answers.txt (the console answers).",
      kProgram};
  Arguments arguments;
  AddOptions(app, arguments);
  if (const auto status = ParseCommandLine(app, kProgram, args, out, err)) return *status;
  try {
    const PrepareOptions options = Settle(arguments);
    ShowSummary(out, Prepare(options), options);
  } catch (const std::exception& error) {
    // Besides ToolError: a file system refusal (std::filesystem) or memory.
    return ReportError(err, kProgram, error);
  }
  return 0;
}

}  // namespace korvelan::tools
