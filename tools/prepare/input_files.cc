#include "tools/prepare/input_files.h"

#include <cmath>
#include <limits>

#include "common/number_text.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::int32_t kMissingMarker = -99;

std::string RankText(std::int32_t half_rank) {
  if (half_rank == kNotRanked) return std::to_string(kMissingMarker);
  return FormatHalfRank(half_rank);
}

}  // namespace

void CheckRuns(std::int64_t runs) {
  if (runs < 1 || runs > std::numeric_limits<std::int32_t>::max()) {
    throw ToolError("the number of runs must be 1 .. 2147483647, not " + std::to_string(runs));
  }
}

InputFiles ComposeInputFiles(const UnitedGenes& united, std::span<const float> weights,
                             std::int64_t runs) {
  CheckRuns(runs);
  const std::size_t studies = united.StudyCount();
  if (weights.size() != studies) {
    throw ToolError(std::to_string(weights.size()) + " weights for " + std::to_string(studies) +
                    " studies");
  }
  InputFiles files;
  files.genes = "line\tgene\tclass";
  for (const std::string& name : united.study_names) files.genes += "\t" + name;
  files.genes += "\n";
  for (std::size_t g = 0; g < united.genes.size(); ++g) {
    std::string line = std::to_string(g + 1);
    std::string info_class = std::to_string(united.classes[g]);
    files.data += line;
    files.genes += line + "\t" + united.genes[g] + "\t" + info_class;
    for (std::size_t s = 0; s < studies; ++s) {
      std::string rank = RankText(united.HalfRank(g, s));
      files.data += " " + rank;
      files.genes += "\t" + rank;
    }
    files.data += " " + info_class + "\n";
    files.genes += "\n";
  }
  for (std::size_t s = 0; s < studies; ++s) {
    files.weights += (s == 0 ? "" : " ") + FormatWeight(weights[s]);
  }
  files.weights += "\n";
  files.answers = "1\n" + std::to_string(studies) + "\n" + std::to_string(united.genes.size()) +
                  "\n" + std::to_string(studies) + "\n" + std::to_string(runs) + "\n";
  return files;
}

}  // namespace korvelan::tools
