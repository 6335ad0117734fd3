// The meta-analysis layer: lists to the rank matrix (positions, values,
// ties, duplicates, "below" ranks and universes), the gene exclusions and
// NA rules, plus-one against the exact counts, q-values, the table's order
// and numbers, and every refused input with its message.
#include "korvelan/meta.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace korvelan {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

MetaOptions Options(std::int32_t runs = 20, std::int32_t seed = 17) {
  MetaOptions o;
  o.runs = runs;
  o.seed = seed;
  return o;
}

// The rank study `s` gave gene `id` (NaN for none).
double RankOf(const MetaResults& r, const std::string& study, const std::string& id) {
  const auto j = static_cast<std::size_t>(std::find(r.studies.begin(), r.studies.end(), study) -
                                          r.studies.begin());
  const auto i =
      static_cast<std::size_t>(std::find(r.genes.begin(), r.genes.end(), id) - r.genes.begin());
  EXPECT_LT(i, r.genes.size()) << id;
  return r.ranks[j * r.genes.size() + i];
}

bool SameNumber(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

TEST(MetaRanks, PositionsValuesTiesAndBelow) {
  struct Case {
    const char* name;
    std::vector<Study> studies;
    Absent absent;
    std::int64_t universe_size;
    std::map<std::string, std::vector<double>> expected;  // gene -> rank per study
  };
  const std::vector<Case> cases = {
      {"plain lists, missing",
       {{"A", {"x", "y", "z"}, {}, Order::kSmallestFirst},
        {"B", {"y", "w"}, {}, Order::kSmallestFirst}},
       Absent::kMissing,
       0,
       {{"x", {1, kNaN}}, {"y", {2, 1}}, {"z", {3, kNaN}}, {"w", {kNaN, 2}}}},
      {"plain lists, below the union of 4",
       {{"A", {"x", "y", "z"}, {}, Order::kSmallestFirst},
        {"B", {"y", "w"}, {}, Order::kSmallestFirst}},
       Absent::kBelow,
       0,
       {{"x", {1, 3.5}}, {"y", {2, 1}}, {"z", {3, 3.5}}, {"w", {4, 2}}}},
      {"plain lists, below a universe of 10",
       {{"A", {"x", "y", "z"}, {}, Order::kSmallestFirst},
        {"B", {"y", "w"}, {}, Order::kSmallestFirst}},
       Absent::kBelow,
       10,
       {{"x", {1, 6.5}}, {"y", {2, 1}}, {"z", {3, 6.5}}, {"w", {7, 2}}}},
      {"values: ties averaged, NaN unranked, both directions",
       {{"A", {"x", "y", "z", "w"}, {0.5, 0.1, 0.5, kNaN}, Order::kSmallestFirst},
        {"B", {"x", "y", "z", "w"}, {3, 3, 3, 9}, Order::kLargestFirst}},
       Absent::kMissing,
       0,
       {{"x", {2.5, 3}}, {"y", {1, 3}}, {"z", {2.5, 3}}, {"w", {kNaN, 1}}}},
  };
  for (const Case& c : cases) {
    MetaOptions o = Options();
    o.absent = c.absent;
    o.universe_size = c.universe_size;
    const MetaResults r = RunMeta(c.studies, o);
    for (const auto& [gene, ranks] : c.expected) {
      for (std::size_t j = 0; j < ranks.size(); ++j) {
        EXPECT_TRUE(SameNumber(RankOf(r, r.studies[j], gene), ranks[j]))
            << c.name << ": " << gene << " in " << r.studies[j] << " is "
            << RankOf(r, r.studies[j], gene) << ", expected " << ranks[j];
      }
    }
  }
}

TEST(MetaRanks, DuplicatesResolvedAsAsked) {
  // "x" at positions 1 and 3 of A; in B with values 4 and 2.
  const std::vector<Study> studies = {
      {"A", {"x", "y", "x", "z"}, {}, Order::kSmallestFirst},
      {"B", {"x", "y", "x", "z"}, {4, 1, 2, 3}, Order::kSmallestFirst}};
  struct Case {
    Duplicates duplicates;
    double rank_a, rank_b;  // of x
  };
  for (const Case& c : {Case{Duplicates::kFirst, 1, 3}, Case{Duplicates::kBest, 1, 2},
                        // mean position 2 (a tie with y at 2), mean value 3 (a tie with z)
                        Case{Duplicates::kMean, 1.5, 2.5}}) {
    MetaOptions o = Options();
    o.duplicates = c.duplicates;
    const MetaResults r = RunMeta(studies, o);
    EXPECT_EQ(RankOf(r, "A", "x"), c.rank_a) << static_cast<int>(c.duplicates);
    EXPECT_EQ(RankOf(r, "B", "x"), c.rank_b) << static_cast<int>(c.duplicates);
  }
  try {
    RunMeta(studies, Options());
    ADD_FAILURE() << "duplicates were accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(),
                 "korvelan: study \"A\" lists \"x\" twice, at positions 1 and 3 (the "
                 "duplicates option chooses first, best or mean)");
  }
}

TEST(MetaResultsTable, NaRulesExclusionsAndPlusOne) {
  // g1..g6 in all three studies, "solo" in one only, "pair" in two.
  std::vector<Study> studies = {{"A", {"g1", "g2", "g3", "g4", "g5", "g6", "solo", "pair"}, {}, {}},
                                {"B", {"g2", "g1", "g4", "g3", "g6", "g5", "pair"}, {}, {}},
                                {"C", {"g1", "g3", "g2", "g5", "g4", "g6"}, {}, {}}};
  MetaOptions o = Options(50, 99);
  const MetaResults plus = RunMeta(studies, o);
  o.pvalues = PValues::kExact;
  const MetaResults exact = RunMeta(studies, o);
  const std::size_t solo = 6, pair = 7;
  EXPECT_EQ(plus.n_studies[solo], 1);
  EXPECT_TRUE(std::isnan(plus.q[solo]));
  EXPECT_TRUE(std::isnan(plus.p[kQRight][solo]) && std::isnan(plus.q_values[kQLeft][solo]));
  EXPECT_FALSE(std::isnan(plus.p[kRmeanLeft][solo]));
  EXPECT_FALSE(std::isnan(plus.q[pair]));
  for (std::size_t i = 0; i < plus.genes.size(); ++i) {
    for (std::size_t t = 0; t < kPValues; ++t) {
      if (std::isnan(plus.p[t][i])) continue;
      // Plus-one from the same counts the exact values come from.
      EXPECT_EQ(plus.p[t][i], (static_cast<double>(plus.count[t][i]) + 1) /
                                  (static_cast<double>(plus.total[i]) + 1));
      EXPECT_GT(plus.p[t][i], 0.0);
      EXPECT_EQ(exact.p[t][i],
                static_cast<double>(static_cast<float>(static_cast<double>(exact.count[t][i]) /
                                                       static_cast<double>(exact.total[i]))));
    }
  }
  // Q's adjustment counts 7 genes, R-mean's 8.
  EXPECT_EQ(std::count_if(plus.q_values[kQRight].begin(), plus.q_values[kQRight].end(),
                          [](double v) { return !std::isnan(v); }),
            7);

  o.min_studies = 2;
  const MetaResults two = RunMeta(studies, o);
  EXPECT_FALSE(two.analysed[solo]);
  EXPECT_EQ(two.genes_analysed, 7);
  EXPECT_EQ(two.info_class[solo], 0);
  for (std::size_t t = 0; t < kPValues; ++t) EXPECT_TRUE(std::isnan(two.p[t][solo]));
  EXPECT_TRUE(std::isnan(two.r_mean[solo]));
  EXPECT_EQ(two.ranks[solo], 7.0);  // its rank stays in the table
}

TEST(MetaResultsTable, InputOrderDoesNotChangeANumber) {
  std::mt19937 rng(5);
  std::vector<std::string> ids;
  for (int i = 0; i < 40; ++i) ids.push_back("gene" + std::to_string(i));
  std::vector<Study> studies;
  for (const char* name : {"s1", "s2", "s3"}) {
    Study s{name, ids, {}, Order::kLargestFirst};
    for (std::size_t i = 0; i < ids.size(); ++i) {
      s.values.push_back(i % 7 == 0 ? kNaN : std::uniform_int_distribution<int>(0, 20)(rng));
    }
    studies.push_back(s);
  }
  MetaOptions o = Options(30, 2024);
  o.threads = 2;
  const MetaResults a = RunMeta(studies, o);
  for (Study& s : studies) {  // the same pairs, reversed
    std::reverse(s.ids.begin(), s.ids.end());
    std::reverse(s.values.begin(), s.values.end());
  }
  o.threads = 1;
  const MetaResults b = RunMeta(studies, o);
  for (std::size_t i = 0; i < a.genes.size(); ++i) {
    const auto k = static_cast<std::size_t>(std::find(b.genes.begin(), b.genes.end(), a.genes[i]) -
                                            b.genes.begin());
    for (std::size_t t = 0; t < kPValues; ++t) {
      EXPECT_TRUE(SameNumber(a.p[t][i], b.p[t][k])) << a.genes[i];
    }
    EXPECT_TRUE(SameNumber(a.r_mean[i], b.r_mean[k]));
  }
}

TEST(MetaResultsTable, OrderNumbersAndColumns) {
  MetaResults r;
  r.studies = {"A", "B"};
  r.genes = {"b", "a", "c", "d"};
  r.n_studies = {2, 2, 1, 2};
  r.ranks = {1, 2, 3, kNaN, 2, 1, kNaN, 3};
  r.r_mean = {1.5, 1.5, 3, 2};
  r.r_wmean = r.r_mean;
  r.q = {0.25, 0.25, kNaN, 1};
  for (auto& column : r.p) column = {0.1, 0.1, kNaN, 0.1};
  for (auto& column : r.q_values) column = {0.1, 0.1, kNaN, 0.1};
  // Equal P: R-mean, then the id; NA last.
  const std::vector<std::size_t> order = ResultOrder(r, kRmeanLeft);
  EXPECT_EQ(order, (std::vector<std::size_t>{1, 0, 3, 2}));
  const std::vector<std::string> columns = ResultColumns(r);
  EXPECT_EQ(columns.size(), 2u + 2 + 3 + 12);
  EXPECT_EQ(columns[2], "rank_A");
  EXPECT_EQ(columns[7], "p_Rmean_right");
  EXPECT_EQ(columns.back(), "q_Q_left");
  const std::string tsv = ResultsTsv(r);
  EXPECT_EQ(
      tsv.substr(tsv.find('\n') + 1, tsv.find('\n', tsv.find('\n') + 1) - tsv.find('\n')),
      "a\t2\t2\t1\t1.5\t1.5\t0.25\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\t0.1\n");
  for (double v : {0.1, 1.0 / 3.0, 1e-300, 12345678.5, static_cast<double>(0.05f), 7.0}) {
    const std::string text = FormatNumber(v);
    double back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, v) << text;
  }
  EXPECT_EQ(FormatNumber(kNaN), "NA");
  EXPECT_EQ(FormatNumber(7.0), "7");
}

TEST(MetaResultsTable, SinglePrecisionValuesWrittenAsFloats) {
  // R_mean, R_wmean and Q are floats widened to double, as are exact
  // P-values; their text must read back to the float, without float noise.
  MetaResults r;
  r.studies = {"A"};
  r.genes = {"g"};
  r.n_studies = {1};
  r.ranks = {2};
  r.r_mean = {static_cast<double>(1.8f)};
  r.r_wmean = {static_cast<double>(0.1f)};
  r.q = {static_cast<double>(3.56f)};
  for (auto& column : r.p) column = {static_cast<double>(0.3f)};
  for (auto& column : r.q_values) column = {static_cast<double>(0.3f)};
  struct Case {
    PValues pvalues;
    const char* line;
  } cases[] = {
      {PValues::kPlusOne,
       "g\t1\t2\t1.8\t0.1\t3.56\t0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t"
       "0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t"
       "0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t"
       "0.30000001192092896\n"},
      {PValues::kExact,
       "g\t1\t2\t1.8\t0.1\t3.56\t0.3\t0.3\t0.3\t0.3\t0.3\t0.3\t0.30000001192092896\t"
       "0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t0.30000001192092896\t"
       "0.30000001192092896\n"},
  };
  for (const Case& c : cases) {
    r.pvalues = c.pvalues;
    const std::string tsv = ResultsTsv(r);
    EXPECT_EQ(tsv.substr(tsv.find('\n') + 1), c.line) << static_cast<int>(c.pvalues);
  }
  for (float v : {1.8f, 0.1f, 1e-30f, 16777215.0f, 3.4028235e38f, 1.17549435e-38f}) {
    const std::string text = FormatFloat(v);
    float back = 0;
    std::from_chars(text.data(), text.data() + text.size(), back);
    EXPECT_EQ(back, v) << text;
  }
  EXPECT_EQ(FormatFloat(std::numeric_limits<float>::quiet_NaN()), "NA");
  EXPECT_EQ(FormatFloat(-std::numeric_limits<float>::infinity()), "-Inf");
}

TEST(MetaResultsTable, BenjaminiHochbergOverTheGenesThatTookPart) {
  // Five genes in three studies; q by hand from the written P-values.
  const std::vector<Study> studies = {{"A", {"a", "b", "c", "d", "e"}, {}, {}},
                                      {"B", {"b", "a", "c", "e", "d"}, {}, {}},
                                      {"C", {"a", "c", "b", "d", "e"}, {}, {}}};
  const MetaResults r = RunMeta(studies, Options(40, 3));
  for (std::size_t t = 0; t < kPValues; ++t) {
    const std::vector<double>& p = r.p[t];
    for (std::size_t i = 0; i < p.size(); ++i) {
      double q = 1.0;
      for (std::size_t j = 0; j < p.size(); ++j) {
        if (p[j] < p[i]) continue;
        const auto rank = static_cast<double>(
            std::count_if(p.begin(), p.end(), [&](double v) { return v <= p[j]; }));
        q = std::min(q, 5.0 / rank * p[j]);
      }
      EXPECT_DOUBLE_EQ(r.q_values[t][i], q) << PValueName(static_cast<int>(t)) << " " << r.genes[i];
    }
  }
}

TEST(MetaRefusals, EachNamesWhatIsWrong) {
  const Study a{"A", {"x", "y", "z"}, {}, {}};
  const Study b{"B", {"y", "x"}, {}, {}};
  struct Case {
    const char* name;
    std::vector<Study> studies;
    MetaOptions options;
    const char* message;
  };
  auto with = [](auto change) {
    MetaOptions o = Options();
    change(o);
    return o;
  };
  const std::vector<Case> cases = {
      {"one study", {a}, Options(), "a meta-analysis takes 2 to 98 studies, not 1"},
      {"99 studies", std::vector<Study>(99, a), Options(), "takes 2 to 98 studies, not 99"},
      {"same name", {a, a}, Options(), "two studies are named \"A\""},
      {"empty list",
       {a, {"B", {}, {}, {}}},
       Options(),
       "study \"B\" ranks 0 ids; a study must rank at least 2"},
      {"one gene",
       {a, {"B", {"x"}, {}, {}}},
       Options(),
       "study \"B\" ranks 1 id; a study must rank at least 2"},
      {"all NaN", {a, {"B", {"x", "y"}, {kNaN, kNaN}, {}}}, Options(), "study \"B\" ranks 0 ids"},
      {"tab in id",
       {a, {"B", {"x", "p\tq"}, {}, {}}},
       Options(),
       "study \"B\", position 2: the id \"p\tq\" is empty or holds a tab"},
      {"quote in id", {a, {"B", {"x\"", "y"}, {}, {}}}, Options(), "study \"B\", position 1: the id"},
      {"empty id", {a, {"B", {"x", ""}, {}, {}}}, Options(), "position 2: the id \"\" is empty"},
      {"values length",
       {a, {"B", {"x", "y"}, {1}, {}}},
       Options(),
       "study \"B\" has 2 ids but 1 values"},
      {"bad name", {a, {"B\tC", {"x", "y"}, {}, {}}}, Options(), "the name of study 2"},
      {"weights",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {1, 2, 3};
       }),
       "3 weights for 2 studies"},
      {"zero weight",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {1, 0};
       }),
       "the weight of study \"B\" must be a positive number (single precision), not 0"},
      {"negative weight",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {-1, 1};
       }),
       "the weight of study \"A\" must be a positive number"},
      {"NaN weight",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {1, kNaN};
       }),
       "not NA"},
      {"weight beyond float",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {1e300, 1};
       }),
       "the weight of study \"A\""},
      {"weight zero in float",
       {a, b},
       with([](MetaOptions& o) {
         o.weights = {1, 1e-300};
       }),
       "the weight of study \"B\" must be a positive number (single precision)"},
      {"weights overflow their float sum",
       {a, b, {"C", {"x", "y"}, {}, {}}},
       with([](MetaOptions& o) {
         o.weights = {3e38, 3e38, 3e38};
       }),
       "the weights add up to more than"},
      {"id not UTF-8",
       {a, {"B", {"x", "y\xe9z"}, {}, {}}},
       Options(),
       "study \"B\", position 2: the id \"y\xe9z\" is not UTF-8 text (byte 2)"},
      {"name not UTF-8",
       {a, {"B\xff", {"x", "y"}, {}, {}}},
       Options(),
       "the name of study 2 (\"B\xff\") is not UTF-8"},
      {"universe id not UTF-8",
       {a, b},
       with([](MetaOptions& o) {
         o.universe_ids = {"x", "y", "z", "\xc0\x80"};
       }),
       "universe id 4 (\"\xc0\x80\") is not UTF-8 text (byte 1)"},
      {"min studies",
       {a, b},
       with([](MetaOptions& o) { o.min_studies = 3; }),
       "min_studies must be from 1 to the number of studies (2), not 3"},
      {"runs", {a, b}, with([](MetaOptions& o) { o.runs = 0; }), "runs must be at least 1, not 0"},
      {"no seed", {a, b}, with([](MetaOptions& o) { o.seed = 0; }), "the seed must be a whole number"},
      {"small universe",
       {a, b},
       with([](MetaOptions& o) { o.universe_size = 2; }),
       "the universe size 2 is smaller than the 3 genes"},
      {"id outside universe",
       {a, b},
       with([](MetaOptions& o) {
         o.universe_ids = {"x", "y"};
       }),
       "study \"A\" lists \"z\", which is not in the universe"},
      {"huge universe",
       {a, b},
       with([](MetaOptions& o) { o.universe_size = kMaxUniverse + 1; }),
       "the universe may hold at most 8388608 genes"},
      {"universe twice",
       {a, b},
       with([](MetaOptions& o) {
         o.universe_ids = {"x", "y", "z", "x"};
       }),
       "the universe lists \"x\" twice"},
  };
  for (const Case& c : cases) {
    try {
      RunMeta(c.studies, c.options);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  EXPECT_THROW(StudiesFromTable({{"x", "y"}, {"A"}, {1}, {}}), std::invalid_argument);
  EXPECT_THROW(StudiesFromLong({{"A"}, {"x", "y"}, {1}, {}}), std::invalid_argument);
}

// The studies are ranked side by side: of several faulty studies, the
// first is the one named, on any number of threads.
TEST(MetaRefusals, TheFirstFaultyStudyIsNamedOnEveryThreadCount) {
  std::vector<Study> studies;
  for (int j = 0; j < 9; ++j) {
    Study s{"S" + std::to_string(j), {}, {}, {}};
    for (int i = 0; i < 300; ++i) s.ids.push_back("g" + std::to_string(i));
    studies.push_back(s);
  }
  studies[3].ids[7] = "";                 // the first fault
  studies[6].ids[9] = studies[6].ids[8];  // a later one: an id twice
  studies[8].ids = {"x"};                 // and one too short
  for (const unsigned threads : {1u, 2u, 3u, 7u}) {
    MetaOptions o = Options();
    o.threads = threads;
    try {
      RunMeta(studies, o);
      ADD_FAILURE() << threads << " threads: no error";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("study \"S3\", position 8: the id \"\" is empty"),
                std::string::npos)
          << threads << " threads: " << e.what();
    }
  }
}

TEST(MetaShapes, TableAndLongTableGiveTheStudiesOfTheirColumns) {
  const std::vector<Study> t =
      StudiesFromTable({{"x", "y"}, {"A", "B"}, {1, 2, kNaN, 5}, Order::kLargestFirst});
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[1].name, "B");
  EXPECT_EQ(t[1].ids, (std::vector<std::string>{"x", "y"}));
  EXPECT_TRUE(std::isnan(t[1].values[0]));
  EXPECT_EQ(t[1].order, Order::kLargestFirst);
  const std::vector<Study> l = StudiesFromLong({{"B", "A", "B"}, {"x", "y", "z"}, {1, 2, 3}, {}});
  ASSERT_EQ(l.size(), 2u);
  EXPECT_EQ(l[0].name, "B");
  EXPECT_EQ(l[0].ids, (std::vector<std::string>{"x", "z"}));
  EXPECT_EQ(l[0].values, (std::vector<double>{1, 3}));
}

TEST(MetaRun, StopTokenCancels) {
  std::vector<std::string> ids;
  for (int i = 0; i < 200; ++i) ids.push_back("g" + std::to_string(i));
  std::vector<Study> studies = {{"A", ids, {}, {}}, {"B", ids, {}, {}}};
  std::reverse(studies[1].ids.begin(), studies[1].ids.end());
  std::stop_source stop;
  MetaOptions o = Options(100000, 1);
  o.stop = stop.get_token();
  o.progress = [&](std::int32_t done, std::int32_t) {
    if (done == 3) stop.request_stop();
  };
  EXPECT_THROW(RunMeta(studies, o), Cancelled);
}

}  // namespace
}  // namespace korvelan

namespace korvelan {
namespace {

// Three studies of 20 genes g00 .. g19 ranked in that order, with effects
// falling from +9.5 to -9.5 and fold changes a tenth of them.
struct SignedRun {
  std::vector<Study> studies;
  std::vector<StudyEffects> effects;
};

SignedRun ThreeSignedStudies() {
  SignedRun run;
  for (const char* name : {"A", "B", "C"}) {
    Study s{name, {}, {}, Order::kSmallestFirst};
    StudyEffects e;
    for (int g = 0; g < 20; ++g) {
      s.ids.push_back((g < 10 ? "g0" : "g1") + std::to_string(g % 10));
      e.effects.push_back(9.5 - g);
      e.fold_changes.push_back((9.5 - g) / 10);
    }
    run.studies.push_back(std::move(s));
    run.effects.push_back(std::move(e));
  }
  return run;
}

std::size_t GeneIndex(const MetaResults& r, const std::string& id) {
  return static_cast<std::size_t>(std::find(r.genes.begin(), r.genes.end(), id) - r.genes.begin());
}

TEST(MetaDirection, SignsTailsAndFoldChanges) {
  struct Case {
    const char* name;
    bool first_is_up;           // every study
    bool flip_study_c;          // C says the opposite of first_is_up
    std::string top_direction;  // of g00, ranked 1 everywhere
    std::string bottom_direction;
  };
  const std::vector<Case> cases = {
      {"rank 1 is up", true, false, "up", "down"},
      {"rank 1 is down", false, false, "down", "up"},
      {"studies disagree which end is up", true, true, "NA", "NA"},
  };
  for (const Case& c : cases) {
    SignedRun run = ThreeSignedStudies();
    for (std::size_t j = 0; j < 3; ++j)
      run.effects[j].first_is_up = c.first_is_up != (c.flip_study_c && j == 2);
    MetaOptions o = Options(200);
    o.effects = run.effects;
    const MetaResults r = RunMeta(run.studies, o);
    ASSERT_TRUE(r.directional) << c.name;
    ASSERT_TRUE(r.has_fold_changes) << c.name;
    const std::size_t top = GeneIndex(r, "g00"), bottom = GeneIndex(r, "g19");
    EXPECT_EQ(DirectionName(r.direction[top]), c.top_direction) << c.name;
    EXPECT_EQ(DirectionName(r.direction[bottom]), c.bottom_direction) << c.name;
    // Signs count as given, whichever end is up.
    EXPECT_EQ(r.n_up[top], 3) << c.name;
    EXPECT_EQ(r.n_down[top], 0) << c.name;
    EXPECT_EQ(r.n_up[bottom], 0) << c.name;
    EXPECT_EQ(r.n_down[bottom], 3) << c.name;
    EXPECT_EQ(r.fold_changes[1 * r.genes.size() + top], 0.95) << c.name;
    // The mean in double, study by study: not quite -0.95.
    const double bottom_fold = (9.5 - 19) / 10;
    EXPECT_EQ(r.fold_change_mean[bottom], (bottom_fold + bottom_fold + bottom_fold) / 3) << c.name;
  }
}

TEST(MetaDirection, RepeatedIdsMergeAsTheirRanks) {
  // "x" on rows 1 (value 3, effect -1, fold 0.5) and 3 (value 1, effect +2,
  // fold NaN): first takes row 1, best the better value (row 3), mean the
  // mean of what is there.
  struct Case {
    Duplicates duplicates;
    std::int32_t n_up, n_down;
    double fold;
  };
  const std::vector<Case> cases = {
      {Duplicates::kFirst, 0, 1, 0.5},
      {Duplicates::kBest, 1, 0, kNaN},
      {Duplicates::kMean, 1, 0, 0.5},  // effects (-1 + 2) / 2 > 0
  };
  for (const Case& c : cases) {
    const std::vector<Study> studies = {
        {"A", {"x", "y", "x", "z"}, {3, 2, 1, 4}, Order::kSmallestFirst},
        {"B", {"x", "y", "z"}, {}, Order::kSmallestFirst}};
    MetaOptions o = Options();
    o.duplicates = c.duplicates;
    o.effects = {{{-1, 1, 2, -3}, true, {0.5, 0.25, kNaN, 1}}, {}};
    const MetaResults r = RunMeta(studies, o);
    const std::size_t x = GeneIndex(r, "x");
    const auto name = "duplicates " + std::to_string(static_cast<int>(c.duplicates));
    EXPECT_EQ(r.n_up[x], c.n_up) << name;
    EXPECT_EQ(r.n_down[x], c.n_down) << name;
    EXPECT_TRUE(SameNumber(r.fold_changes[x], c.fold)) << name;
    // Study B has none: the mean is over the one study that measured it.
    EXPECT_TRUE(std::isnan(r.fold_changes[r.genes.size() + x])) << name;
    EXPECT_TRUE(SameNumber(r.fold_change_mean[x], c.fold)) << name;
  }
}

TEST(MetaDirection, ColumnsOnlyForSignedResults) {
  struct Case {
    const char* name;
    std::vector<StudyEffects> effects;
    std::vector<std::string> extra;  // columns after q_Q_left
  };
  const std::vector<Case> cases = {
      {"no effects", {}, {}},
      {"effects, no fold changes",
       {{{1, -1}, true, {}}, {{-2, 0}, true, {}}},
       {"direction", "n_up", "n_down"}},
      {"fold changes only", {{{}, true, {0.5, 1}}, {}}, {"logFC_A", "logFC_B", "logFC_mean"}},
      {"both",
       {{{1, -1}, true, {0.5, 1}}, {{-2, 0}, true, {}}},
       {"direction", "n_up", "n_down", "logFC_A", "logFC_B", "logFC_mean"}},
  };
  for (const Case& c : cases) {
    const std::vector<Study> studies = {{"A", {"x", "y"}, {}, Order::kSmallestFirst},
                                        {"B", {"y", "x"}, {}, Order::kSmallestFirst}};
    MetaOptions o = Options();
    o.effects = c.effects;
    const MetaResults r = RunMeta(studies, o);
    std::vector<std::string> columns = ResultColumns(r);
    const auto after = std::find(columns.begin(), columns.end(), "q_Q_left") + 1;
    EXPECT_EQ(std::vector<std::string>(after, columns.end()), c.extra) << c.name;
    // Every line of the table has a field per column.
    const std::string tsv = ResultsTsv(r);
    for (std::size_t start = 0; start < tsv.size();) {
      const std::size_t end = tsv.find('\n', start);
      EXPECT_EQ(static_cast<std::size_t>(std::count(tsv.begin() + static_cast<long>(start),
                                                    tsv.begin() + static_cast<long>(end), '\t')) +
                    1,
                columns.size())
          << c.name;
      start = end + 1;
    }
  }
}

TEST(MetaDirection, EffectsThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    std::vector<StudyEffects> effects;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"one study's effects for two studies", {{{1, 2}, true, {}}}, "effects for 1 studies, not 2"},
      {"effects short of the ids", {{{1}, true, {}}, {}}, "study \"A\" has 2 ids but 1 effects"},
      {"fold changes beyond the ids",
       {{}, {{}, true, {1, 2, 3}}},
       "study \"B\" has 2 ids but 3 fold changes"},
  };
  for (const Case& c : cases) {
    const std::vector<Study> studies = {{"A", {"x", "y"}, {}, Order::kSmallestFirst},
                                        {"B", {"y", "x"}, {}, Order::kSmallestFirst}};
    MetaOptions o = Options();
    o.effects = c.effects;
    try {
      RunMeta(studies, o);
      ADD_FAILURE() << c.name << ": not refused";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
}

}  // namespace
}  // namespace korvelan
