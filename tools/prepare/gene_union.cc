#include "tools/prepare/gene_union.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "common/tool_error.h"

namespace korvelan::tools {

std::vector<std::size_t> UnitedGenes::ClassSizes() const {
  std::vector<std::size_t> sizes(study_names.size(), 0);
  for (std::int32_t c : classes) ++sizes[static_cast<std::size_t>(c - 1)];
  return sizes;
}

void CheckStudyCount(std::size_t count) {
  if (count < kMinStudies) {
    throw ToolError("a meta-analysis needs at least " + std::to_string(kMinStudies) +
                    " study tables, " + std::to_string(count) + " given");
  }
  if (count > kMaxStudies) {
    throw ToolError(std::to_string(count) + " study tables given; KORVELAN takes at most " +
                    std::to_string(kMaxStudies) + " studies");
  }
}

namespace {

// The studies' names, each fit to head a column of genes.tsv and none twice.
std::vector<std::string> StudyNames(std::span<const StudyRanks> studies) {
  std::vector<std::string> names;
  std::set<std::string> seen;
  for (const StudyRanks& study : studies) {
    if (!IsUsableIdentifier(study.name)) {
      throw ToolError("study name \"" + study.name +
                      "\" cannot head a column (empty, or holds a tab, line end or quote)");
    }
    if (!seen.insert(study.name).second) {
      throw ToolError("two studies are named \"" + study.name +
                      "\"; give distinct names with --names");
    }
    names.push_back(study.name);
  }
  return names;
}

}  // namespace

UnitedGenes UniteStudies(std::span<const StudyRanks> studies, GeneOrder order) {
  CheckStudyCount(studies.size());
  UnitedGenes united;
  united.study_names = StudyNames(studies);

  // Genes ranked by at least one study, in first-seen order.
  std::unordered_map<std::string, std::size_t> index;
  std::vector<std::string> genes;
  std::size_t listed = 0;
  {
    std::unordered_map<std::string, bool> seen;  // gene -> ranked somewhere
    for (const StudyRanks& study : studies) {
      for (std::size_t g = 0; g < study.genes.size(); ++g) {
        bool ranked = study.half_ranks[g] != kNotRanked;
        auto [it, inserted] = seen.emplace(study.genes[g], ranked);
        if (inserted) ++listed;
        if (ranked && index.find(study.genes[g]) == index.end()) {
          index.emplace(study.genes[g], genes.size());
          genes.push_back(study.genes[g]);
        }
      }
    }
  }
  united.unranked = listed - genes.size();
  if (genes.size() > kMaxGenes) {
    throw ToolError("the studies rank " + std::to_string(genes.size()) +
                    " distinct genes; KORVELAN takes at most " + std::to_string(kMaxGenes));
  }
  if (order == GeneOrder::kSorted) {
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned values: the C locale's order, whatever the user's locale.
    std::sort(genes.begin(), genes.end());
    for (std::size_t i = 0; i < genes.size(); ++i) index[genes[i]] = i;
  }

  const std::size_t width = studies.size();
  united.half_ranks.assign(genes.size() * width, static_cast<std::int32_t>(kNotRanked));
  united.classes.assign(genes.size(), 0);
  for (std::size_t s = 0; s < width; ++s) {
    const StudyRanks& study = studies[s];
    for (std::size_t g = 0; g < study.genes.size(); ++g) {
      if (study.half_ranks[g] == kNotRanked) continue;
      std::size_t line = index.at(study.genes[g]);
      united.half_ranks[line * width + s] = static_cast<std::int32_t>(study.half_ranks[g]);
      ++united.classes[line];
    }
  }
  united.genes = std::move(genes);
  return united;
}

}  // namespace korvelan::tools
