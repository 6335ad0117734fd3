// The union of the studies' genes: one line per gene, in the order the
// input files of the program will list them, with each study's rank or
// none, and the gene's information class (the number of studies that
// ranked it).
//
// A gene that some study lists but no study ranks (all its values missing)
// would have information class 0, which the program cannot place; it is
// left out and counted.
#ifndef KORVELAN_TOOLS_PREPARE_GENE_UNION_H_
#define KORVELAN_TOOLS_PREPARE_GENE_UNION_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "common/study.h"

namespace korvelan::tools {

// The program holds 500000 rows of 100 columns: S ranks, the class and the
// line number must fit (S + 2 <= 100), and the probe count must stay below
// 500000.
inline constexpr std::size_t kMinStudies = 2;
inline constexpr std::size_t kMaxStudies = 98;
inline constexpr std::size_t kMaxGenes = 499999;

enum class GeneOrder {
  kSorted,     // by gene id, byte by byte (the C locale's order)
  kFirstSeen,  // as first met, study by study in the order given
};

struct UnitedGenes {
  std::vector<std::string> study_names;
  std::vector<std::string> genes;        // line i + 1 of the input files
  std::vector<std::int32_t> classes;     // per gene, 1 .. number of studies
  std::vector<std::int32_t> half_ranks;  // genes x studies, row by row
  std::size_t unranked = 0;              // genes left out: ranked nowhere

  std::size_t StudyCount() const { return study_names.size(); }
  std::int32_t HalfRank(std::size_t gene, std::size_t study) const {
    return half_ranks[gene * study_names.size() + study];
  }
  // How many genes each class holds, index 0 = class 1.
  std::vector<std::size_t> ClassSizes() const;
};

// Throws ToolError for fewer than 2 or more than 98 studies, two studies of
// the same name or a name that cannot head a column, and more than 499999
// ranked genes.
UnitedGenes UniteStudies(std::span<const StudyRanks> studies, GeneOrder order);

// The study-count check alone, for callers that want it before reading.
void CheckStudyCount(std::size_t count);

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_PREPARE_GENE_UNION_H_
