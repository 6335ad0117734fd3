#include "common/weights.h"

#include <cmath>

#include "common/number_text.h"
#include "common/tool_error.h"

namespace korvelan::tools {

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
      throw ToolError("weight \"" + std::string(item) + "\" in --weights is not a number",
                      ErrorKind::kUsage);
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
      throw ToolError(
          "the weights in --weights add up to more than single precision holds "
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

}  // namespace korvelan::tools
