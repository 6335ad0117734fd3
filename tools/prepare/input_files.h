// The four files korvelan-prepare writes for one analysis:
//
//   data.txt     one line per gene: the line number (the label the program
//                reads and drops), the rank in each study or -99, and the
//                information class; blanks between, no header
//   weights.txt  one weight per study, on one line
//   genes.tsv    the key back from line numbers to genes: a header
//                "line gene class <study names...>", then one row per gene
//                with the same ranks as data.txt
//   answers.txt  the console answers of a main analysis, one per line:
//                1, S studies, P genes, M = S information classes, N runs
//
// Lines end with LF (the program's reader also takes CR LF). Every number
// is written so that the program's list-directed reader gets exactly the
// intended float: ranks as whole numbers or halves, weights as the
// shortest decimal of their float.
#ifndef KORVELAN_TOOLS_PREPARE_INPUT_FILES_H_
#define KORVELAN_TOOLS_PREPARE_INPUT_FILES_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/weights.h"
#include "tools/prepare/gene_union.h"

namespace korvelan::tools {

// The text of each file korvelan-prepare writes, named after the file.
struct InputFiles {
  std::string data;     // data.txt: line, each study's rank, class
  std::string weights;  // weights.txt: one weight per study
  std::string genes;    // genes.tsv: line, gene, class, each study's rank
  std::string answers;  // answers.txt: the answers to the console dialogue
};

// Throws ToolError unless 1 <= runs <= 2147483647 (the answer is a 32-bit
// integer, and no run gives no P-value).
void CheckRuns(std::int64_t runs);

// Throws ToolError for a bad run count (CheckRuns) or weight count.
InputFiles ComposeInputFiles(const UnitedGenes& united, std::span<const float> weights,
                             std::int64_t runs);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_PREPARE_INPUT_FILES_H_
