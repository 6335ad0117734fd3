// Top-k lists over a universe: every gene of a study's universe takes part
// in the runs (also the genes no id names), classes count the studies that
// measured a gene, full tables and top-k lists mix, and the P-values are
// calibrated under no signal and small for a gene every list puts on top.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "korvelan/meta.h"

namespace korvelan {
namespace {

MetaOptions Options(std::int32_t runs, std::int32_t seed) {
  MetaOptions o;
  o.runs = runs;
  o.seed = seed;
  o.absent = Absent::kBelow;
  return o;
}

std::size_t IndexOf(const MetaResults& r, const std::string& id) {
  const auto at = std::find(r.genes.begin(), r.genes.end(), id);
  EXPECT_NE(at, r.genes.end()) << id;
  return static_cast<std::size_t>(at - r.genes.begin());
}

// `k` ids of "g0" .. "g<n-1>" in a random order, "g0" first when `signal`.
std::vector<std::string> TopList(std::mt19937& rng, int n, int k, bool signal) {
  std::vector<int> order(static_cast<std::size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::shuffle(order.begin(), order.end(), rng);
  if (signal) std::iter_swap(order.begin(), std::find(order.begin(), order.end(), 0));
  std::vector<std::string> ids;
  for (int i = 0; i < k; ++i)
    ids.push_back("g" + std::to_string(order[static_cast<std::size_t>(i)]));
  return ids;
}

TEST(MetaUniverse, GenesWithoutIdsGiveTheNumbersOfTheSameGenesNamed) {
  // A universe of 60 as a size, and as the named genes plus fillers whose
  // ids sort after every listed id (so that the rows line up): every
  // number of the named genes, q-values included, must agree.
  const std::vector<Study> studies = {{"A", {"b", "a", "c", "d"}, {}, {}},
                                      {"B", {"a", "e", "b"}, {}, {}},
                                      {"C", {"c", "a", "f", "b", "g"}, {}, {}}};
  MetaOptions sized = Options(30, 77);
  sized.universe_size = 60;
  const MetaResults r = RunMeta(studies, sized);
  EXPECT_EQ(r.genes.size(), 7u);
  EXPECT_EQ(r.unnamed, 53);
  EXPECT_EQ(r.genes_analysed, 60);
  MetaOptions named = Options(30, 77);
  named.universe_ids = r.genes;
  for (int u = 0; u < 53; ++u) named.universe_ids.push_back("~" + std::to_string(100 + u));
  const MetaResults full = RunMeta(studies, named);
  EXPECT_EQ(full.genes_analysed, 60);
  for (std::size_t i = 0; i < r.genes.size(); ++i) {
    ASSERT_EQ(full.genes[i], r.genes[i]);
    EXPECT_EQ(r.info_class[i], 3);
    EXPECT_EQ(r.r_mean[i], full.r_mean[i]) << r.genes[i];
    for (std::size_t t = 0; t < kPValues; ++t) {
      EXPECT_EQ(r.count[t][i], full.count[t][i])
          << r.genes[i] << " " << PValueName(static_cast<int>(t));
      EXPECT_EQ(r.p[t][i], full.p[t][i]) << r.genes[i];
      EXPECT_EQ(r.q_values[t][i], full.q_values[t][i])
          << r.genes[i] << " " << PValueName(static_cast<int>(t));
    }
  }
  // The fillers have rows there and took part: each is below all lists.
  const std::size_t filler = IndexOf(full, "~100");
  EXPECT_TRUE(full.analysed[filler]);
  EXPECT_EQ(full.n_studies[filler], 0);
  EXPECT_EQ(full.info_class[filler], 3);
  EXPECT_EQ(full.total[filler], 30 * 60);
}

TEST(MetaUniverse, ClassesCountTheStudiesThatMeasuredAGene) {
  // T is a full table (a gene it lacks is not measured); L a top-3 list of
  // the universe {a .. f}; M a top-2 list of a universe of 9 (every named
  // gene and 12 - 9 = 3 without an id).
  const std::vector<Study> studies = {
      {"T", {"a", "b", "c", "x", "y"}, {0.1, 0.2, 0.3, 0.4, 0.5}, {}},
      {"L", {"c", "a", "b"}, {}, {}},
      {"M", {"b", "z"}, {}, {}}};
  MetaOptions o = Options(10, 5);
  o.absent = Absent::kMissing;  // the studies' own settings win
  o.study_settings.resize(3);
  o.study_settings[0].absent = Absent::kMissing;
  o.study_settings[1].absent = Absent::kBelow;
  o.study_settings[1].universe_ids = {"a", "b", "c", "d", "e", "f"};
  o.study_settings[2].absent = Absent::kBelow;
  o.study_settings[2].universe_size = 12;
  const MetaResults r = RunMeta(studies, o);
  struct Expect {
    const char* gene;
    int info_class;
    double rank_l, rank_m;
  };
  // L ranks 3 of 6: below at (4 + 6) / 2; M ranks 2 of 12: (3 + 12) / 2.
  for (const Expect& e : {Expect{"a", 3, 2, 7.5}, Expect{"d", 2, 5, 7.5}, Expect{"x", 2, NAN, 7.5},
                          Expect{"z", 1, NAN, 2}}) {
    const std::size_t i = IndexOf(r, e.gene);
    EXPECT_EQ(r.info_class[i], e.info_class) << e.gene;
    const double l = r.ranks[1 * r.genes.size() + i], m = r.ranks[2 * r.genes.size() + i];
    EXPECT_TRUE(std::isnan(e.rank_l) ? std::isnan(l) : l == e.rank_l) << e.gene << " in L: " << l;
    EXPECT_EQ(m, e.rank_m) << e.gene;
  }
  EXPECT_EQ(r.genes.size(), 9u);  // a b c x y z d e f
  EXPECT_EQ(r.unnamed, 3);
  ASSERT_EQ(r.study_facts.size(), 3u);
  EXPECT_EQ(r.study_facts[0].universe, 5);
  EXPECT_EQ(r.study_facts[0].absent, Absent::kMissing);
  EXPECT_EQ(r.study_facts[1].universe, 6);
  EXPECT_EQ(r.study_facts[2].universe, 12);
  EXPECT_EQ(r.study_facts[2].listed, 2);
  EXPECT_TRUE(r.study_facts[2].universe_given);

  // min_studies counts measurements, not listings: 3 keeps a, b, c only.
  o.min_studies = 3;
  const MetaResults three = RunMeta(studies, o);
  EXPECT_EQ(three.genes_analysed, 3);
  EXPECT_EQ(three.unnamed, 0);
  EXPECT_FALSE(three.analysed[IndexOf(three, "d")]);
}

TEST(MetaUniverse, WithAbsentMissingNothingChanges) {
  // The universe options play no part for tables: the same numbers as
  // without them, bit for bit.
  const std::vector<Study> studies = {{"A", {"a", "b", "c", "d", "e"}, {}, {}},
                                      {"B", {"b", "a", "e", "f"}, {}, {}},
                                      {"C", {"c", "a", "b"}, {}, {}}};
  MetaOptions plain = Options(40, 9);
  plain.absent = Absent::kMissing;
  MetaOptions universe = plain;
  universe.universe_size = 1000;
  const MetaResults a = RunMeta(studies, plain), b = RunMeta(studies, universe);
  EXPECT_EQ(b.unnamed, 0);
  EXPECT_EQ(a.genes_analysed, b.genes_analysed);
  for (std::size_t t = 0; t < kPValues; ++t) {
    for (std::size_t i = 0; i < a.genes.size(); ++i) {
      EXPECT_TRUE((std::isnan(a.p[t][i]) && std::isnan(b.p[t][i])) || a.p[t][i] == b.p[t][i]);
    }
  }
}

TEST(MetaUniverse, NoSignalGivesCalibratedPValuesAndSignalGivesPower) {
  // 100 independent analyses of 3 top-20 lists from a universe of 300; one
  // fixed gene per analysis, so its P-values are independent draws. Under
  // no signal P(p <= a) must not exceed a (beyond binomial noise) and must
  // come near it; with g0 first in every list it must be tiny.
  std::mt19937 rng(2024);
  int at_05 = 0, at_20 = 0, strong = 0;
  const int analyses = 100;
  for (int a = 0; a < analyses; ++a) {
    for (bool signal : {false, true}) {
      if (signal && a % 10 != 0) continue;
      std::vector<Study> studies;
      for (const char* name : {"A", "B", "C"})
        studies.push_back({name, TopList(rng, 300, 20, signal), {}, {}});
      MetaOptions o = Options(40, 1 + a);
      o.universe_size = 300;
      const MetaResults r = RunMeta(studies, o);
      // g0 may be in no list: then it has no row, and it is below every
      // list, the worst place; its P-value is then that of any such gene.
      const auto at = std::find(r.genes.begin(), r.genes.end(), "g0");
      const double p = at == r.genes.end()
                           ? 1.0
                           : r.p[kRmeanLeft][static_cast<std::size_t>(at - r.genes.begin())];
      if (signal) {
        strong += p < 1e-3;
        continue;
      }
      at_05 += p <= 0.05;
      at_20 += p <= 0.20;
    }
  }
  // Binomial(100, a): mean 5 and 20; sd 2.2 and 4.
  EXPECT_LE(at_05, 12) << "anti-conservative at 0.05";
  EXPECT_LE(at_20, 32) << "anti-conservative at 0.20";
  EXPECT_GE(at_20, 8) << "far too conservative at 0.20";
  EXPECT_EQ(strong, analyses / 10);
}

TEST(MetaUniverse, RefusalsNameTheStudyAndTheUniverse) {
  const std::vector<Study> studies = {{"A", {"x", "y", "z"}, {}, {}}, {"B", {"y", "x"}, {}, {}}};
  struct Case {
    const char* name;
    std::size_t study;  // whose settings change
    void (*change)(StudySettings&);
    const char* message;
  };
  const std::vector<Case> cases = {
      {"list longer than its universe", 0, [](StudySettings& s) { s.universe_size = 2; },
       "study \"A\" lists 3 ids, more than its universe of 2 genes"},
      {"universe size below the named genes", 1, [](StudySettings& s) { s.universe_size = 2; },
       "the universe size of study \"B\" 2 is smaller than the 3 genes"},
      {"id outside its universe", 1,
       [](StudySettings& s) {
         s.universe_ids = {"x", "q"};
       },
       "study \"B\" lists \"y\", which is not in its universe"},
      {"universe id twice", 1,
       [](StudySettings& s) {
         s.universe_ids = {"x", "y", "x"};
       },
       "the universe of study \"B\" lists \"x\" twice"},
      {"universe of a table", 0,
       [](StudySettings& s) {
         s.absent = Absent::kMissing;
         s.universe_size = 9;
       },
       "study \"A\" gives a universe, which applies only to genes absent below the list"},
      {"size and ids", 0,
       [](StudySettings& s) {
         s.universe_size = 9;
         s.universe_ids = {"x"};
       },
       "give the universe of study \"A\" as a size or as a list of ids, not both"},
      {"beyond the rows of the analysis", 0, [](StudySettings& s) { s.universe_size = 600000; },
       "600000 genes take part (3 with ids, 599997 more of a universe); at most 499999"},
  };
  for (const Case& c : cases) {
    MetaOptions o = Options(5, 1);
    o.study_settings.resize(2);
    c.change(o.study_settings[c.study]);
    try {
      RunMeta(studies, o);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  MetaOptions o = Options(5, 1);
  o.study_settings.resize(3);
  EXPECT_THROW(RunMeta(studies, o), std::invalid_argument);
}

}  // namespace
}  // namespace korvelan
