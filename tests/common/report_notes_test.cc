#include "common/report_notes.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace korvelan::tools {
namespace {

RunDescription FiveTables() {
  RunDescription run;
  run.program_version = "korvelan-meta 9.9";
  run.studies = {"GSE12050", "GSE24883", "a study with a long name that a plot would clip"};
  run.genes = 7894;
  run.genes_analysed = 7000;
  run.ranking = "sign(Log2FC) x -log10(pvalue), largest first";
  run.directional = true;
  run.fold_changes = true;
  run.absent = "missing";
  run.universe = 7894;
  run.runs = 400;
  run.seed = 4711;
  run.min_studies = 2;
  return run;
}

TEST(ReportNotes, LegendSaysWhatThisRunsTermsMean) {
  struct Case {
    const char* name;
    RunDescription run;
    std::map<std::string, std::string> contains;  // term -> part of its meaning
    std::vector<std::string> absent_terms;
  };
  RunDescription down_first = FiveTables();
  down_first.first_is_up = false;
  RunDescription lists = FiveTables();
  lists.ranking.clear();
  lists.directional = lists.fold_changes = false;
  lists.absent = "below";
  lists.universe = 20000;
  lists.exact_pvalues = true;
  const std::vector<Case> cases = {
      {"signed tables",
       FiveTables(),
       {{"left, right", "R-mean: up), _right a large one (for R-mean: down)"},
        {"direction", "p_Rmean_left stands for up, p_Rmean_right for down"},
        {"ranking", "by sign(Log2FC) x -log10(pvalue), largest first"},
        {"absent genes", "left out of that study"},
        {"p_<statistic>_<side>", "400 Monte Carlo permutation runs: (count + 1) / (total + 1)"},
        {"excluded", "fewer than 2 studies"},
        {"logFC_mean", "mean log fold change"}},
       {}},
      {"signed, rank 1 the most down",
       down_first,
       {{"left, right", "R-mean: down), _right a large one (for R-mean: up)"},
        {"direction", "p_Rmean_left stands for down, p_Rmean_right for up"}},
       {}},
      {"top lists below a universe",
       lists,
       {{"left, right", "top of the studies' lists"},
        {"ranking", "by position in its list"},
        {"absent genes", "universe of 20000 genes"},
        {"p_<statistic>_<side>", "runs: count / total, count the run values"}},
       {"direction", "n_up, n_down", "up, down", "logFC_mean"}},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> legend;
    for (const auto& [term, meaning] : LegendEntries(c.run)) {
      EXPECT_TRUE(legend.emplace(term, meaning).second) << c.name << ": " << term << " twice";
    }
    for (const auto& [term, part] : c.contains) {
      ASSERT_EQ(legend.count(term), 1u) << c.name << ": no " << term;
      EXPECT_NE(legend[term].find(part), std::string::npos)
          << c.name << ": " << term << ": " << legend[term];
    }
    for (const std::string& term : c.absent_terms)
      EXPECT_EQ(legend.count(term), 0u) << c.name << ": " << term;
    for (const char* column :
         {"gene", "class", "R_mean", "R_wmean", "Q", "q_<statistic>_<side>", "sorted by"}) {
      EXPECT_EQ(legend.count(column), 1u) << c.name << ": " << column;
    }
  }
}

TEST(ReportNotes, MethodsNameTheRunsFacts) {
  RunDescription run = FiveTables();
  run.seed_drawn = true;
  const std::string text = MethodsText(run);
  for (const char* part :
       {"3 studies (GSE12050, GSE24883, and a study with a long name that a plot would clip)",
        "korvelan-meta 9.9", "by sign(Log2FC) x -log10(pvalue), largest first",
        "Of 7894 genes, 7000 were analysed", "fewer than 2 studies were excluded",
        "400 Monte Carlo permutation runs", "seed 4711 (drawn)", "(count + 1) / (total + 1)",
        "Benjamini-Hochberg", "direction is up when its left R-mean P-value"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part << "\n" << text;
  }
  run.min_studies = 1;
  run.directional = false;
  run.exact_pvalues = true;
  const std::string plain = MethodsText(run);
  EXPECT_EQ(plain.find("excluded"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("direction"), std::string::npos) << plain;
  EXPECT_NE(plain.find("P-values are count / total"), std::string::npos) << plain;
}

}  // namespace
}  // namespace korvelan::tools
