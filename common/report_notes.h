// The words around a results table: a legend for each of its columns and
// terms, and a methods paragraph for a paper, both written from the run's
// own facts so that they say what this run did (its ranking rule, its
// treatment of absent genes, its runs and seed) rather than the defaults.
#ifndef KORVELAN_COMMON_REPORT_NOTES_H_
#define KORVELAN_COMMON_REPORT_NOTES_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace korvelan::tools {

struct RunDescription {
  std::string program_version;  // "korvelan-meta 1.2.0"
  std::vector<std::string> studies;
  std::size_t genes = 0;
  std::int64_t genes_analysed = 0;
  // How each study ranked its genes, e.g. `sign(Log2FC) x -log10(pvalue),
  // largest first`; empty: by position in its list.
  std::string ranking;
  bool directional = false;   // ranked by a signed value
  bool first_is_up = true;    // rank 1 is the most up gene
  bool fold_changes = false;  // logFC columns present
  std::string absent;         // "missing", "below" or "per study"
  std::int64_t universe = 0;
  std::int32_t runs = 0;
  std::int64_t seed = 0;
  bool seed_drawn = false;
  bool exact_pvalues = false;  // count / total rather than (count + 1) / (total + 1)
  std::int32_t min_studies = 1;
  std::string sort_by = "p_Rmean_left";
};

// (term, meaning) for every column of the results and the terms they use:
// left and right, up and down where the ranking is signed, P and q.
std::vector<std::pair<std::string, std::string>> LegendEntries(const RunDescription& run);

// One paragraph: studies (named in full), genes, ranking, absent genes,
// statistics, runs and seed, P-value rule, exclusions and adjustment.
std::string MethodsText(const RunDescription& run);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_REPORT_NOTES_H_
