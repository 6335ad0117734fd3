// Study weights as --weights gives them: "equal", or one positive number
// per study, comma-separated (sample sizes, say), held in single precision
// as the analysis holds them.
#ifndef KORVELAN_COMMON_WEIGHTS_H_
#define KORVELAN_COMMON_WEIGHTS_H_

#include <cstddef>
#include <string_view>
#include <vector>

namespace korvelan::tools {

// Per-study weights from "equal" (all 1) or a comma-separated list of one
// positive number per study, such as sample sizes. Throws ToolError for a
// count that differs from `studies`, a value that is not a number, not
// above zero, or beyond the float range (the program holds weights as
// floats), or a list whose float sum overflows. The errors are of kind
// kUsage: --weights is an argument.
std::vector<float> ParseWeights(std::string_view text, std::size_t studies);

// The same for the list alone, before the number of studies is known:
// empty for "equal".
std::vector<float> ParseWeightList(std::string_view text);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_WEIGHTS_H_
