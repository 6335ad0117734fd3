// korvelan-prepare's work, callable in-process: read the study tables,
// rank each study, unite the genes and write data.txt, weights.txt,
// genes.tsv and answers.txt into one directory.
//
// The directory is created when missing. It must not hold an output.txt:
// that file would belong to an earlier analysis, and a report joining it
// with the new genes.tsv would put the wrong names on the results.
#ifndef KORVELAN_TOOLS_PREPARE_PREPARE_H_
#define KORVELAN_TOOLS_PREPARE_PREPARE_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/prepare/gene_union.h"
#include "common/study.h"

namespace korvelan::tools {

struct PrepareOptions {
  std::vector<std::filesystem::path> tables;
  std::vector<std::string> names;  // one per table; empty: the file names' stems
  RankingRule rule;
  std::optional<char> delimiter;  // nullopt: detected per table
  std::string weights = "equal";  // see ParseWeights
  std::int64_t runs = 1000;
  GeneOrder order = GeneOrder::kSorted;
  std::filesystem::path directory;
};

struct PrepareSummary {
  std::vector<std::string> study_names;
  std::vector<std::size_t> listed;  // per study: genes in its table
  std::vector<std::size_t> ranked;  // per study: genes with a rank
  std::size_t genes = 0;
  std::size_t unranked = 0;  // listed somewhere, ranked nowhere: left out
  std::vector<std::size_t> class_sizes;
};

// Throws ToolError for every failure; writes nothing unless all tables are
// read and ranked.
PrepareSummary Prepare(const PrepareOptions& options);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_PREPARE_PREPARE_H_
