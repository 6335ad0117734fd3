// Reading genes.tsv, the key that korvelan-prepare writes beside data.txt:
// a header "line gene class <study names...>", then one row per gene,
// lines 1, 2, 3, ... in order.
#ifndef KORVELAN_TOOLS_REPORT_GENES_FILE_H_
#define KORVELAN_TOOLS_REPORT_GENES_FILE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools {

struct GeneKey {
  std::vector<std::string> study_names;
  std::vector<std::string> genes;     // gene of line i + 1
  std::vector<std::int32_t> classes;  // its information class
  // Gene i's rank in study s at ranks[i * study_names.size() + s]: a whole
  // number or a half (ties share their average rank); NaN where the study
  // did not rank it (-99 in the file).
  std::vector<double> ranks;
};

// Throws ToolError naming `source` and the line for another header, a line
// number out of sequence, an empty gene id or a class that is not a whole
// number in 1 .. the number of studies, and for a rank that is neither -99
// nor a number of at least 1.
GeneKey ParseGenesFile(std::string_view text, const std::string& source);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_REPORT_GENES_FILE_H_
