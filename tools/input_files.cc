#include "tools/input_files.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "tools/number_text.h"
#include "tools/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::int32_t kMissingMarker = -99;

std::string RankText(std::int32_t half_rank) {
  if (half_rank == kNotRanked) return std::to_string(kMissingMarker);
  return FormatHalfRank(half_rank);
}

}  // namespace

std::vector<float> ParseWeightList(std::string_view text) {
  if (TrimBlanks(text) == "equal") return {};
  std::vector<float> weights;
  // The analysis adds a gene's weights in single precision, in study order:
  // so here, so that a sum that overflows is refused before any work.
  float sum = 0.0f;
  for (std::size_t start = 0;;) {
    std::size_t comma = text.find(',', start);
    std::string_view item =
        TrimBlanks(text.substr(start, comma == std::string_view::npos ? text.npos : comma - start));
    CellValue parsed = ParseCell(item);
    if (!parsed.ok || !parsed.value || !std::isfinite(*parsed.value)) {
      throw ToolError("weight \"" + std::string(item) + "\" in --weights is not a number", ErrorKind::kUsage);
    }
    double value = *parsed.value;
    // Weights are held as floats: a value whose float is 0 or infinite
    // would make a study count for nothing or for everything.
    auto single = static_cast<float>(value);
    if (!(value > 0) || single == 0 || std::isinf(single)) {
      throw ToolError("weight " + std::string(item) +
                          " in --weights is not a positive number within the float range",
                      ErrorKind::kUsage);
    }
    sum = static_cast<float>(static_cast<double>(sum) + static_cast<double>(single));
    if (std::isinf(sum)) {
      throw ToolError("the weights in --weights add up to more than single precision holds "
                      "(about 3.4e38); scale them down",
                      ErrorKind::kUsage);
    }
    weights.push_back(single);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return weights;
}

std::vector<float> ParseWeights(std::string_view text, std::size_t studies) {
  std::vector<float> weights = ParseWeightList(text);
  if (weights.empty()) return std::vector<float>(studies, 1.0f);
  if (weights.size() != studies) {
    throw ToolError("--weights lists " + std::to_string(weights.size()) + " weights for " +
                        std::to_string(studies) + " studies",
                    ErrorKind::kUsage);
  }
  return weights;
}

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
    std::string klass = std::to_string(united.classes[g]);
    files.data += line;
    files.genes += line + "\t" + united.genes[g] + "\t" + klass;
    for (std::size_t s = 0; s < studies; ++s) {
      std::string rank = RankText(united.HalfRank(g, s));
      files.data += " " + rank;
      files.genes += "\t" + rank;
    }
    files.data += " " + klass + "\n";
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
