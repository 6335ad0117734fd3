#include "tools/report/report.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "korvelan/meta.h"
#include "korvelan/version.h"
#include "common/file_io.h"
#include "common/number_text.h"
#include "tools/report/svg_figure.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::array<std::string_view, kPValueCount> kPNames = {
    "p_Rmean_right", "p_Rmean_left", "p_Rwmean_right", "p_Rwmean_left", "p_Q_right", "p_Q_left",
};

}  // namespace

std::optional<PValueIndex> PValueColumn(std::string_view name) {
  for (std::size_t i = 0; i < kPNames.size(); ++i) {
    if (name == kPNames[i] || name == kPNames[i].substr(2)) return static_cast<PValueIndex>(i);
  }
  return std::nullopt;
}

std::string_view PValueColumnName(PValueIndex index) { return kPNames[index]; }

std::vector<ReportRow> JoinResults(const std::vector<ResultRecord>& records, const GeneKey& key,
                                   const std::string& results_source,
                                   const std::string& genes_source) {
  if (records.size() != key.genes.size()) {
    throw ToolError(results_source + " holds " + std::to_string(records.size()) + " results but " +
                    genes_source + " lists " + std::to_string(key.genes.size()) +
                    " genes: they do not come from the same data.txt");
  }
  std::vector<ReportRow> rows;
  rows.reserve(records.size());
  std::int32_t previous_class = 0;
  for (std::size_t r = 0; r < records.size(); ++r) {
    const ResultRecord& record = records[r];
    if (record.line > key.genes.size()) {
      throw ToolError(results_source + ": result " + std::to_string(r + 1) + " is for line " +
                      std::to_string(record.line) + ", beyond the " +
                      std::to_string(key.genes.size()) + " genes of " + genes_source);
    }
    ReportRow row;
    row.gene = key.genes[record.line - 1];
    row.line = record.line;
    row.info_class = key.classes[record.line - 1];
    // The program writes its results highest class first; another order
    // means the genes.tsv belongs to other data.
    if (r > 0 && row.info_class > previous_class) {
      throw ToolError(results_source + ": result " + std::to_string(r + 1) + " (line " +
                      std::to_string(record.line) + ", class " + std::to_string(row.info_class) +
                      ") follows a result of class " + std::to_string(previous_class) +
                      ", which the program never does: " + genes_source +
                      " does not describe the data.txt of these results");
    }
    previous_class = row.info_class;
    row.r_mean = record.r_mean;
    row.q = record.q;
    row.p = record.p;
    rows.push_back(std::move(row));
  }
  AddQValues(rows);
  return rows;
}

void AddQValues(std::vector<ReportRow>& rows) {
  std::vector<double> column(rows.size());
  for (std::size_t c = 0; c < kPValueCount; ++c) {
    for (std::size_t r = 0; r < rows.size(); ++r) column[r] = rows[r].p[c];
    std::vector<double> adjusted = korvelan::BenjaminiHochberg(column);
    for (std::size_t r = 0; r < rows.size(); ++r) rows[r].q_values[c] = adjusted[r];
  }
}

void PlusOnePValues(std::vector<ReportRow>& rows, std::int64_t runs, const std::string& source) {
  std::map<std::int32_t, std::int64_t> class_size;
  for (const ReportRow& row : rows) ++class_size[row.info_class];
  for (ReportRow& row : rows) {
    const std::int64_t total = runs * class_size[row.info_class];
    const auto totals = static_cast<double>(total);
    for (double& p : row.p) {
      if (std::isnan(p)) continue;
      // The program wrote float(count / total); the count is the nearest
      // whole number to p x total, provided no neighbour gives that float
      // too (totals beyond about 2^24 can make neighbours collide).
      const auto written = static_cast<float>(p);
      const auto count = static_cast<std::int64_t>(std::llround(p * totals));
      auto as_written = [&](std::int64_t c) {
        return c >= 0 && c <= total &&
               static_cast<float>(static_cast<double>(c) / totals) == written;
      };
      if (!as_written(count) || as_written(count - 1) || as_written(count + 1)) {
        throw ToolError(source + ": the P-value " + FormatShortest(p) + " of line " +
                        std::to_string(row.line) + " is not count / " + std::to_string(total) +
                        " for one whole count (" + std::to_string(runs) + " runs x " +
                        std::to_string(class_size[row.info_class]) +
                        " genes of its class): give the analysis's --runs, or use --pvalues exact");
      }
      p = (static_cast<double>(count) + 1.0) / (totals + 1.0);
    }
  }
}

void SortRows(std::vector<ReportRow>& rows, PValueIndex by) {
  std::sort(rows.begin(), rows.end(), [by](const ReportRow& a, const ReportRow& b) {
    bool a_missing = std::isnan(a.p[by]);
    bool b_missing = std::isnan(b.p[by]);
    if (a_missing != b_missing) return b_missing;
    if (!a_missing && a.p[by] != b.p[by]) return a.p[by] < b.p[by];
    // Equal P-values: the smaller mean rank first (NaN last), then line.
    const bool a_nan = std::isnan(a.r_mean);
    const bool b_nan = std::isnan(b.r_mean);
    if (a_nan != b_nan) return b_nan;
    if (!a_nan && a.r_mean != b.r_mean) return a.r_mean < b.r_mean;
    return a.line < b.line;
  });
}

std::string ResultsTable(const std::vector<ReportRow>& rows) {
  // Appended piece by piece: cheaper than temporaries, and g++ 12 at -O3
  // misreads "\t" + string as an overlapping copy (-Wrestrict).
  std::string text = "gene\tline\tclass\tR_mean\tQ";
  for (std::string_view name : kPNames) {
    text += '\t';
    text += name;
  }
  for (std::string_view name : kPNames) {
    text += "\tq_";
    text += name.substr(2);
  }
  text += '\n';
  auto field = [&text](const std::string& value) {
    text += '\t';
    text += value;
  };
  for (const ReportRow& row : rows) {
    text += row.gene;
    field(std::to_string(row.line));
    field(std::to_string(row.info_class));
    field(FormatShortest(row.r_mean));
    field(FormatShortest(row.q));
    for (double p : row.p) field(FormatShortest(p));
    for (double q : row.q_values) field(FormatShortest(q));
    text += '\n';
  }
  return text;
}

HtmlReportData PageData(const std::vector<ReportRow>& rows, const GeneKey& key,
                        std::vector<std::pair<std::string, std::string>> facts) {
  HtmlReportData data;
  data.title = "KORVELAN results";
  data.facts = std::move(facts);
  data.studies = key.study_names;
  const std::size_t studies = key.study_names.size();
  data.study_sizes.assign(studies, 0);
  data.genes.reserve(rows.size());
  for (const ReportRow& row : rows) {
    HtmlReportGene gene;
    gene.gene = row.gene;
    gene.info_class = row.info_class;
    const std::size_t first = (row.line - 1) * studies;
    if (first + studies <= key.ranks.size()) {
      gene.ranks.assign(key.ranks.begin() + static_cast<std::ptrdiff_t>(first),
                        key.ranks.begin() + static_cast<std::ptrdiff_t>(first + studies));
    } else {
      gene.ranks.assign(studies, std::nan(""));
    }
    for (std::size_t s = 0; s < studies; ++s) {
      if (std::isnan(gene.ranks[s])) continue;
      ++gene.n_studies;
      ++data.study_sizes[s];
    }
    gene.r_mean = row.r_mean;
    gene.r_wmean = std::nan("");
    gene.q = row.q;
    gene.p = row.p;
    gene.q_values = row.q_values;
    data.genes.push_back(std::move(gene));
  }
  return data;
}

namespace {

// The runs of a main analysis: the last answer of korvelan-prepare's
// answers.txt. Empty when the file is absent or is not such a file.
std::string RunsFromAnswers(const std::filesystem::path& answers) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(answers, error)) return "";
  std::string text;
  try {
    text = ReadWholeFile(answers);
  } catch (const ToolError&) {
    return "";  // only a fact for the page: an unreadable file does not stop the report
  }
  std::vector<std::string_view> lines;
  std::string_view rest = text;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    std::string_view line = TrimBlanks(rest.substr(0, end));
    if (!line.empty()) lines.push_back(line);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  }
  if (lines.size() != 5 || lines[0] != "1") return "";
  return std::string(lines[4]);
}

}  // namespace

std::vector<ReportRow> Report(const ReportOptions& options) {
  const std::string results_source = options.results_file.string();
  const std::string genes_source = options.genes_file.string();
  std::vector<ResultRecord> records =
      ParseResultsFile(ReadWholeFile(options.results_file), results_source);
  GeneKey key = ParseGenesFile(ReadWholeFile(options.genes_file), genes_source);
  std::vector<ReportRow> rows = JoinResults(records, key, results_source, genes_source);
  if (options.plus_one_runs) {
    PlusOnePValues(rows, *options.plus_one_runs, results_source);
    AddQValues(rows);
  }
  SortRows(rows, options.sort_by);
  // The table, figure and page describe one analysis: all of them are
  // replaced, or none (a full disk while writing the page keeps the old set).
  FileSet files;
  files.Stage(options.table, ResultsTable(rows));
  if (options.svg) files.Stage(*options.svg, SvgFigure(rows));
  if (options.html) {
    std::vector<std::pair<std::string, std::string>> facts = {{"results file", results_source},
                                                              {"genes file", genes_source}};
    std::string runs = options.answers ? RunsFromAnswers(*options.answers) : "";
    facts.emplace_back("runs", runs.empty() ? "not recorded" : runs);
    facts.emplace_back("seed", options.seed.empty() ? "not recorded" : options.seed);
    facts.emplace_back("sorted by", std::string(PValueColumnName(options.sort_by)));
    facts.emplace_back("version", std::string("korvelan-report ") + kVersion);
    HtmlReportData page = PageData(rows, key, std::move(facts));
    page.sort_by = static_cast<int>(options.sort_by);
    files.Stage(*options.html, HtmlReport(page));
  }
  files.Commit();
  return rows;
}

}  // namespace korvelan::tools
