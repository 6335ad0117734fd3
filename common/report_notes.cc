#include "common/report_notes.h"

namespace korvelan::tools {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t k = 0; k < names.size(); ++k) {
    if (k > 0) out += k + 1 == names.size() ? (names.size() > 2 ? ", and " : " and ") : ", ";
    out += names[k];
  }
  return out;
}

// What the rank-1 end and the other end stand for in this run.
std::pair<std::string, std::string> Ends(const RunDescription& run) {
  if (!run.directional)
    return {"the top of the studies' lists (rank 1)", "the bottom of the studies' lists"};
  return run.first_is_up ? std::pair<std::string, std::string>{"up", "down"}
                         : std::pair<std::string, std::string>{"down", "up"};
}

std::string RankingText(const RunDescription& run) {
  return run.ranking.empty() ? "by position in its list (the first gene rank 1)"
                             : "by " + run.ranking;
}

std::string AbsentText(const RunDescription& run) {
  const std::string universe = std::to_string(run.universe);
  if (run.absent == "below") {
    return "a gene a study did not list was ranked below its list, tied at the mean of the remaining "
           "places of a universe of " +
           universe + " genes";
  }
  if (run.absent == "per study") {
    return "genes a study did not rank were missing or ranked below its list as the study sheet says "
           "(universe of " +
           universe + " genes)";
  }
  return "a gene a study did not measure was left out of that study (missing), not ranked low";
}

void AddSignedEntries(const RunDescription& run, Entries& out) {
  if (run.directional) {
    const auto [left, right] = Ends(run);
    out.emplace_back("direction",
                     "up or down: the tail of the smaller R-mean P-value (p_Rmean_left stands for " +
                         left + ", p_Rmean_right for " + right + "); NA when they are equal or NA");
    out.emplace_back(
        "n_up, n_down",
        "the studies whose signed value (statistic or fold change) for the gene is positive, "
        "negative");
  }
  if (run.fold_changes) {
    out.emplace_back("logFC_<study>",
                     "the gene's log fold change in that study (NA where it has none)");
    out.emplace_back("logFC_mean",
                     "the mean log fold change over the studies that measured the gene");
  }
}

}  // namespace

std::vector<std::pair<std::string, std::string>> LegendEntries(const RunDescription& run) {
  const auto [left, right] = Ends(run);
  Entries out = {
      {"ranking", "each study ranked its genes " + RankingText(run)},
      {"absent genes", AbsentText(run)},
      {"universe", std::to_string(run.universe) + " genes"},
      {"gene", "the gene id as the studies give it"},
      {"class",
       "the gene's information class: the number of studies that measured it; its P-values come "
       "from permutations within that class"},
      {"studies (n_studies)", "the studies that ranked the gene"},
      {"rank_<study>", "the gene's rank in that study (1 = top; NA: not ranked)"},
      {"R_mean",
       "the mean of the gene's ranks put on one scale across studies (small: near rank 1)"},
      {"R_wmean",
       "the mean of those ranks weighted by the studies' weights (all equal unless given)"},
      {"Q", "heterogeneity of the gene's ranks across studies (NA for a gene ranked by one study)"},
      {"left, right", "_left P-values test a small statistic (for R-mean: " + left +
                          "), _right a large one (for R-mean: " + right + ")"},
  };
  if (run.directional) {
    out.emplace_back("up, down",
                     "the sign of a gene's statistic or fold change in a study: up positive, "
                     "down negative");
  }
  out.emplace_back("p_<statistic>_<side>",
                   "P-value from " + std::to_string(run.runs) + " Monte Carlo permutation runs: " +
                       (run.exact_pvalues ? "count / total" : "(count + 1) / (total + 1)") +
                       ", count the run values of the gene's class at least as extreme on that side, "
                       "total the runs x the genes of the class");
  out.emplace_back("q_<statistic>_<side>",
                   "q-value: the Benjamini-Hochberg false discovery rate of that P-value column");
  AddSignedEntries(run, out);
  out.emplace_back("excluded",
                   "genes measured by fewer than " + std::to_string(run.min_studies) +
                       " studies (--min-studies): listed with NA statistics, left out of the "
                       "runs and q-values");
  out.emplace_back("sorted by", run.sort_by + ", smallest first");
  return out;
}

std::string MethodsText(const RunDescription& run) {
  std::string text = "Ranked gene lists of " + std::to_string(run.studies.size()) + " studies (" +
                     Joined(run.studies) + ") were combined by rank with " + run.program_version +
                     ". ";
  text += "Each study ranked its genes " + RankingText(run) + "; " + AbsentText(run) + ". ";
  text += "Of " + std::to_string(run.genes) + " genes, " + std::to_string(run.genes_analysed) +
          " were analysed";
  if (run.min_studies > 1)
    text += " (genes measured by fewer than " + std::to_string(run.min_studies) +
            " studies were excluded)";
  text +=
      ". For each gene the mean rank (R-mean), the weighted mean rank and the heterogeneity Q of its "
      "ranks were compared with " +
      std::to_string(run.runs) +
      " Monte Carlo permutation runs within its information class (the number of studies that "
      "measured it), seed " +
      std::to_string(run.seed) + (run.seed_drawn ? " (drawn)" : "") + ". ";
  text +=
      std::string(run.exact_pvalues ? "P-values are count / total"
                                    : "P-values are (count + 1) / (total + 1)") +
      ", where count is the number of run values of the gene's class at least as extreme and total the "
      "number of runs times the genes of the class";
  text +=
      ", for each side (left: small values, right: large values); they were adjusted per column by "
      "the Benjamini-Hochberg procedure (q-values).";
  if (run.directional) {
    text += std::string(" A gene's direction is ") + (run.first_is_up ? "up" : "down") +
            " when its left R-mean P-value is the smaller, " + (run.first_is_up ? "down" : "up") +
            " when its right one is.";
  }
  return text;
}

}  // namespace korvelan::tools
