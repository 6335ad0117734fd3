#include "tools/prepare/prepare.h"

#include <system_error>

#include "common/file_io.h"
#include "tools/prepare/input_files.h"
#include "common/input_text.h"
#include "common/table.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

void MakeDirectory(const std::filesystem::path& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    throw ToolError("cannot create directory " + directory.string() + ": " + error.message());
  }
  if (!std::filesystem::is_directory(directory)) {
    throw ToolError(directory.string() + " is not a directory");
  }
}

}  // namespace

PrepareSummary Prepare(const PrepareOptions& options) {
  CheckStudyCount(options.tables.size());
  if (!options.names.empty() && options.names.size() != options.tables.size()) {
    throw ToolError("--names gives " + std::to_string(options.names.size()) + " names for " +
                    std::to_string(options.tables.size()) + " study tables");
  }
  std::vector<float> weights = ParseWeights(options.weights, options.tables.size());
  CheckRuns(options.runs);
  if (std::filesystem::exists(options.directory / "output.txt")) {
    throw ToolError((options.directory / "output.txt").string() +
                    " exists: it holds the results of an earlier analysis; prepare into a new "
                    "directory or remove that file first");
  }

  std::vector<StudyRanks> studies;
  PrepareSummary summary;
  for (std::size_t i = 0; i < options.tables.size(); ++i) {
    const std::filesystem::path& path = options.tables[i];
    std::string name = options.names.empty() ? StudyNameOf(path) : options.names[i];
    Table table = ReadTableFile(path, options.delimiter);
    studies.push_back(RankStudy(table, std::move(name), options.rule));
    summary.study_names.push_back(studies.back().name);
    summary.listed.push_back(studies.back().genes.size());
    summary.ranked.push_back(studies.back().ranked);
  }
  UnitedGenes united = UniteStudies(studies, options.order);
  studies.clear();
  InputFiles files = ComposeInputFiles(united, weights, options.runs);

  MakeDirectory(options.directory);
  FileSet output;
  output.Stage(options.directory / "data.txt", files.data);
  output.Stage(options.directory / "weights.txt", files.weights);
  output.Stage(options.directory / "genes.tsv", files.genes);
  output.Stage(options.directory / "answers.txt", files.answers);
  output.Commit();

  summary.genes = united.genes.size();
  summary.unranked = united.unranked;
  summary.class_sizes = united.ClassSizes();
  return summary;
}

}  // namespace korvelan::tools
