// korvelan/inputs.h's reading half: files, sheets and tables in memory
// into studies, and the analysis options settled from the settings.
#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "korvelan/options.h"

#include "common/file_io.h"
#include "common/meta_input.h"
#include "common/meta_sheet.h"
#include "common/number_text.h"
#include "common/sha256.h"
#include "common/study_input.h"
#include "common/table.h"
#include "common/tool_error.h"
#include "common/weights.h"
#include "textio/utf8.h"

namespace korvelan {
namespace {

using tools::ErrorKind;
using tools::ToolError;

// A word of a shared option, judged in the words every front end uses;
// "" (not given) passes where the option may be left out.
const std::string& Shared(const std::string& value, std::string_view name, bool optional = true) {
  if (value.empty() && optional) return value;
  if (const std::string problem = OptionProblem(SharedOption(name), value); !problem.empty()) {
    throw ToolError(HostName(name) + " " + problem, ErrorKind::kUsage);
  }
  return value;
}

tools::MetaReadOptions ReadOptionsOf(const RunSettings& s) {
  tools::MetaReadOptions r;
  r.shape = *tools::InputShapeNamed(Shared(s.input_format, "input-format", false));
  Shared(s.first, "first");
  if (!s.pvalue.empty() && !s.statistic.empty()) {
    throw ToolError("give at most one of pvalue and statistic", ErrorKind::kUsage);
  }
  if (!s.sign_by.empty() && s.pvalue.empty())
    throw ToolError("sign_by needs pvalue", ErrorKind::kUsage);
  tools::SetTableRule(r, {s.gene, s.pvalue, s.statistic, s.sign_by, s.first});
  static const std::map<std::string, char> kDelimiters{
      {"tab", '\t'}, {"comma", ','}, {"semicolon", ';'}};
  if (Shared(s.delimiter, "delimiter", false) != "auto") {
    r.delimiter = kDelimiters.at(s.delimiter);
  }
  r.study_column = s.study_column;
  if (!s.duplicates.empty()) {
    r.duplicates = DuplicatesFromWord(Shared(s.duplicates, "duplicates"));
  }
  r.split_ids = s.split_ids;
  return r;
}

tools::SheetDefaults DefaultsOf(const RunSettings& s) {
  tools::SheetDefaults d;
  d.table = {s.gene, s.pvalue, s.statistic, s.sign_by, s.first};
  const tools::MetaReadOptions read = ReadOptionsOf(s);
  d.delimiter = read.delimiter;
  if (!Shared(s.absent, "absent").empty()) d.absent = AbsentFromWord(s.absent);
  d.duplicates = read.duplicates;
  d.split_ids = read.split_ids;
  return d;
}

StudyInput Made(tools::StudiesRead read, std::string format, std::filesystem::path sheet = {}) {
  auto parts = std::make_shared<StudyInput::Parts>();
  parts->read = std::move(read);
  parts->format = std::move(format);
  parts->sheet = std::move(sheet);
  if (!parts->read.input.top_lists)
    parts->warnings = tools::OverlapWarnings(parts->read.input.studies);
  return StudyInput(std::move(parts));
}

// The cells of one column as a file would hold them: numbers as their
// shortest exact decimals (read back as the same doubles), NaN as "NA".
std::string Cell(const TableColumn& column, std::size_t row) {
  if (!column.numeric) return column.text[row];
  return FormatNumber(column.numbers[row]);
}

tools::Table TableOf(const MemoryTable& memory) {
  std::string source = "table \"" + memory.study + "\"";
  const std::size_t rows = memory.columns.empty()
                               ? 0
                               : (memory.columns[0].numeric ? memory.columns[0].numbers.size()
                                                            : memory.columns[0].text.size());
  std::vector<std::string> names;
  for (const TableColumn& column : memory.columns) {
    const std::size_t size = column.numeric ? column.numbers.size() : column.text.size();
    if (size != rows) {
      throw ToolError(source + ": column \"" + column.name + "\" has " + std::to_string(size) +
                      " rows, not " + std::to_string(rows) + " as the first");
    }
    names.push_back(column.name);
  }
  if (rows == 0) throw ToolError(source + ": the table has no rows");
  std::vector<std::string> cells;
  cells.reserve(rows * names.size());
  for (std::size_t r = 0; r < rows; ++r) {
    for (const TableColumn& column : memory.columns) cells.push_back(Cell(column, r));
  }
  return tools::TableOfCells(std::move(source), std::move(names), std::move(cells));
}

}  // namespace

const std::vector<Study>& StudyInput::studies() const { return parts_->read.input.studies; }
const std::string& StudyInput::format() const { return parts_->format; }
bool StudyInput::top_lists() const { return parts_->read.input.top_lists; }
std::vector<std::string> StudyInput::TableLines() const {
  return tools::DescribeTables(parts_->read.input);
}
std::vector<std::string> StudyInput::Warnings() const { return parts_->warnings; }

StudyInput ReadStudies(const std::vector<std::filesystem::path>& files,
                       const std::filesystem::path& sheet, const RunSettings& settings,
                       unsigned threads) {
  if (files.empty() == sheet.empty()) {
    throw ToolError("give input files or a study sheet (one of the two)", ErrorKind::kUsage);
  }
  tools::MetaReadOptions options = ReadOptionsOf(settings);
  options.threads = std::max(threads, 1u);
  tools::StudiesRead read = tools::ReadStudies(files, options, sheet, DefaultsOf(settings));
  std::string format = read.sheet ? "sheet" : std::string(tools::InputShapeName(read.input.shape));
  return Made(std::move(read), std::move(format), sheet);
}

StudyInput ReadStudyTables(const std::vector<MemoryTable>& tables, const RunSettings& settings) {
  if (tables.empty()) throw ToolError("no study tables were given", ErrorKind::kUsage);
  tools::MetaReadOptions options = ReadOptionsOf(settings);
  tools::StudiesRead read;
  tools::MetaInput& input = read.input;
  input.shape = tools::InputShape::kTables;
  for (const MemoryTable& memory : tables) {
    if (memory.study.empty()) throw ToolError("a study table has no name", ErrorKind::kUsage);
    for (const Study& study : input.studies) {
      if (study.name == memory.study)
        throw ToolError("two study tables are named \"" + memory.study + "\"");
    }
    tools::TableFacts facts;
    input.studies.push_back(tools::StudyOfTable(TableOf(memory), memory.study, options, facts));
    input.tables.push_back(std::move(facts));
  }
  input.duplicates = options.duplicates.value_or(Duplicates::kMean);
  return Made(std::move(read), "tables");
}

StudyInput GivenStudies(std::vector<Study> studies, std::string format) {
  tools::StudiesRead read;
  read.input.studies = std::move(studies);
  // Lists given in memory are the top-k lists a list file holds.
  read.input.top_lists = format == "lists";
  return Made(std::move(read), std::move(format));
}

bool SetRunSetting(RunSettings& settings, std::string_view name, const std::string& text) {
  static const std::array<std::pair<std::string_view, std::string RunSettings::*>, 14> kTexts = {{
      {"input-format", &RunSettings::input_format},
      {"gene", &RunSettings::gene},
      {"pvalue", &RunSettings::pvalue},
      {"statistic", &RunSettings::statistic},
      {"sign-by", &RunSettings::sign_by},
      {"first", &RunSettings::first},
      {"delimiter", &RunSettings::delimiter},
      {"study-column", &RunSettings::study_column},
      {"absent", &RunSettings::absent},
      {"universe", &RunSettings::universe},
      {"duplicates", &RunSettings::duplicates},
      {"split-ids", &RunSettings::split_ids},
      {"pvalues", &RunSettings::pvalues},
      {"sort-by", &RunSettings::sort_by},
  }};
  std::string spelled(name);
  std::replace(spelled.begin(), spelled.end(), '_', '-');
  for (const auto& [option, member] : kTexts) {
    if (option == spelled) {
      settings.*member = text;
      return true;
    }
  }
  if (spelled == "weights") {
    settings.weights = text;
  } else if (spelled == "min-studies") {
    settings.min_studies = static_cast<std::int32_t>(std::stoll(text));
  } else if (spelled == "runs") {
    settings.runs = static_cast<std::int32_t>(std::stoll(text));
  } else {
    return false;
  }
  return true;
}

RunPlan SettleOptions(const StudyInput& input, const RunSettings& settings, std::int32_t seed,
                      unsigned threads) {
  const tools::StudiesRead& read = input.parts().read;
  const bool sheet = read.sheet.has_value();
  const std::string absent = Shared(settings.absent, "absent");
  RunPlan plan;
  plan.absent = sheet             ? (absent.empty() ? "per study" : absent)
                : !absent.empty() ? absent
                                  : (read.input.top_lists ? "below" : "missing");
  MetaOptions& options = plan.options;
  options.absent = plan.absent == "per study" ? Absent::kMissing : AbsentFromWord(plan.absent);
  if (!settings.universe.empty()) {
    if (options.absent != Absent::kBelow && !sheet) {
      throw ToolError("--universe applies to --absent below", ErrorKind::kUsage);
    }
    if (const auto size =
            tools::UniverseSize(settings.universe, "the universe", ErrorKind::kUsage)) {
      options.universe_size = *size;
    } else {
      const std::string text = tools::ReadWholeFile(settings.universe);
      plan.universe_sha256 = tools::Sha256Hex(text);
      options.universe_ids = tools::ReadUniverseIds(text, settings.universe);
    }
  }
  if (sheet) options.study_settings = read.sheet->settings;
  options.duplicates = settings.duplicates.empty()
                           ? read.input.duplicates
                           : DuplicatesFromWord(Shared(settings.duplicates, "duplicates"));
  options.effects = tools::EffectsOf(read.input);
  options.min_studies = settings.min_studies;
  options.pvalues = PValuesFromWord(Shared(settings.pvalues, "pvalues", false));
  if (sheet) {
    if (settings.weights != "equal") {
      throw ToolError("with --studies, weights go in the sheet's weight column", ErrorKind::kUsage);
    }
    for (const tools::SheetStudy& row : read.sheet->rows) options.weights.push_back(row.weight);
  } else if (settings.weights != "equal") {
    for (float w : tools::ParseWeights(settings.weights, read.input.studies.size()))
      options.weights.push_back(w);
  }
  options.runs = settings.runs;
  options.seed = seed;
  options.threads = threads;
  return plan;
}

}  // namespace korvelan
