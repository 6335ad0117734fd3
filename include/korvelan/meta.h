// Rank-based meta-analysis from ranked gene lists, in memory: studies as
// lists of gene ids (best first, or with a value per id), turned into one
// rank matrix, analysed by korvelan::Analyze, and returned as one results
// table with q-values, in the columns every front end (korvelan-meta, the R
// and Python packages) writes. Every statistic of the table is computed
// here; front ends only read files, draw seeds and print.
//
// From studies to the rank matrix, in order:
//   1. Each study's ids are checked (not empty, no tab, line end or double
//      quote) and duplicates are resolved by MetaOptions::duplicates.
//   2. Each study ranks its ids: without values, by position (the first id
//      rank 1); with values, by value (rank 1 to the smallest, or to the
//      largest with Order::kLargestFirst; a NaN value means "not ranked").
//      Equal values share the average of the ranks they span. A study must
//      rank at least 2 ids.
//   3. The genes are the union of all studies' ids and of the universe
//      lists' ids. A study with Absent::kMissing (a table of the genes it
//      measured) ranks only its ids. A study with Absent::kBelow (a top-k
//      list) ranks its whole universe: its ids at their places, every other
//      gene of the universe tied at the average of the remaining places,
//      (n + 1 + N) / 2 for a study ranking n of N genes. Its universe is a
//      list of ids; or a size N, which holds every named gene and N - named
//      genes that no id names; or, without either, the named genes.
//   4. A gene measured (ranked, listed or below) by fewer than min_studies
//      studies gets NA statistics and takes no part in the runs or the
//      adjustment; a top-k study measures its whole universe, so its runs
//      permute its ranks over all of it. The genes that take part enter
//      korvelan::Analyze in byte order of their ids, the order
//      korvelan-prepare writes data.txt in, then the genes without ids, so
//      that the same data in any order give the same numbers, and
//      `korvelan --seed S` on korvelan-prepare's files gives the same
//      P-values as PValues::kExact with seed S. A gene's information class
//      is the number of studies that measured it.
//   5. The genes without ids take part in the runs, the counts and the
//      q-values' number of tests, but have no row in the results: they are
//      the unlisted rest of a universe, alike within a class.
//
// After the runs:
//   - P-values: kPlusOne (count + 1) / (total + 1) from the exact counts,
//     never 0; kExact the console program's count / total (single
//     precision, widened to double).
//   - Q of a gene with a rank in fewer than 2 studies is 0 by construction:
//     it and its two Q P-values are NA and take no part in Q's adjustment.
//   - q-values: Benjamini-Hochberg per P-value column over the genes with a
//     P-value in that column (step-up, m / rank x p in double, as R's
//     p.adjust(p, "BH")).
//
// Nothing here reads files, draws seeds, prints or handles signals.
#ifndef KORVELAN_META_H_
#define KORVELAN_META_H_

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "korvelan/analysis.h"

namespace korvelan {

// Which end of a study's values is best.
enum class Order { kSmallestFirst, kLargestFirst };

// What a study says of a gene it did not rank: nothing (a table of the
// genes it measured), or that it ranks below its list (a top-k list).
enum class Absent { kMissing, kBelow };

// One study. Without values, `ids` is its list, best first. With values
// (one per id, same length), ids may come in any order and the values rank
// them (see Order; ranks given as 1, 2, 2, 4 become 1, 2.5, 2.5, 4).
struct Study {
  std::string name;  // not empty, unique; no tab, line end or double quote
  std::vector<std::string> ids;
  std::vector<double> values;  // empty, or one per id; NaN: not ranked
  Order order = Order::kSmallestFirst;
};

// What a study says of its genes beyond their ranks, per id of the Study
// (same length as its ids). Effects: a signed statistic, or the fold
// change that signed a p-value, whose sign says the study found the gene
// up (> 0) or down (< 0); NaN or 0: neither; empty: the study gives no
// direction. Fold changes: log fold changes, NaN none; empty: none known.
struct StudyEffects {
  std::vector<double> effects;
  // Whether rank 1 is the most up gene (largest effect first) rather than
  // the most down one.
  bool first_is_up = true;
  std::vector<double> fold_changes;
};

// One study's own settings, for analyses that mix full tables with top-k
// lists; unset, MetaOptions' hold. A universe (a size or a list of ids, as
// in MetaOptions) needs absent genes below the list.
struct StudySettings {
  std::optional<Absent> absent;
  std::int64_t universe_size = 0;
  std::vector<std::string> universe_ids;
};

// A genes x studies table, column-major (the value of gene i in study j is
// values[j * genes.size() + i]); NaN: not ranked. One Study per column.
struct GeneTable {
  std::vector<std::string> genes;
  std::vector<std::string> studies;
  std::vector<double> values;
  Order order = Order::kSmallestFirst;
};

// A long table: row k says study[k] gives gene[k] the value value[k].
// Studies come out in order of first appearance, ids in row order.
struct LongTable {
  std::vector<std::string> study;
  std::vector<std::string> gene;
  std::vector<double> value;
  Order order = Order::kSmallestFirst;
};

// Throw std::invalid_argument for columns of unequal length.
std::vector<Study> StudiesFromTable(const GeneTable& table);
std::vector<Study> StudiesFromLong(const LongTable& table);

// The largest universe: every "below" rank (a whole number or a half up to
// N) stays exact in single precision, where the analysis holds ranks.
inline constexpr std::int64_t kMaxUniverse = 8388608;  // 2^23

enum class Duplicates {
  kRefuse,  // an id twice in one study is an error
  kFirst,   // the first occurrence counts, the others are dropped
  kBest,    // the best rank (or value) counts
  kMean,    // the mean of the ranks (or values) counts
};
enum class PValues { kPlusOne, kExact };

struct MetaOptions {
  // Front ends choose: kMissing for tables of all measured genes, kBelow
  // for top-k lists.
  Absent absent = Absent::kMissing;
  // The universe of every kBelow study without its own: a size N (at least
  // the number of named genes; the rest are genes without ids), or a list
  // of ids (every id such a study ranks must be in it; ids of no study are
  // genes it places below its list). Both empty/0: the named genes. At most
  // kMaxUniverse.
  std::int64_t universe_size = 0;
  std::vector<std::string> universe_ids;
  // Empty, or one per study (in the order of the studies).
  std::vector<StudySettings> study_settings;
  // Empty, or one per study: signed studies' effects and fold changes.
  std::vector<StudyEffects> effects;
  Duplicates duplicates = Duplicates::kRefuse;
  std::int32_t min_studies = 1;  // 1 .. number of studies
  PValues pvalues = PValues::kPlusOne;
  std::vector<double> weights;  // one per study, or empty for equal weights
  std::int32_t runs = 1000;
  std::int32_t seed = 0;  // 1 .. kMaxSeed, always given by the caller
  // As in RunOptions (0: 1); the studies' ranking and the q-values use
  // them too. No thread count changes a result.
  unsigned threads = 1;
  // As in RunOptions: after each run, on the calling thread.
  std::function<void(std::int32_t done, std::int32_t total)> progress;
  std::stop_token stop;
};

// The results table. Per-gene vectors are in the order of the genes (first
// seen across the studies in order, then universe ids no study listed).
// NA is NaN (and 0 in the integer columns class and count/total).
struct MetaResults {
  std::vector<std::string> studies;
  std::vector<std::string> genes;
  std::vector<std::int32_t> n_studies;  // studies that listed the gene
  // genes x studies, column-major: the rank each study gave the gene
  // (including the "below" rank), before the analysis puts ranks on one
  // scale; NaN where it has none.
  std::vector<double> ranks;
  std::vector<bool> analysed;  // took part in the runs (min_studies)
  std::vector<std::int32_t> info_class;
  std::vector<double> r_mean, r_wmean, q;              // observed, single precision widened
  std::array<std::vector<double>, kPValues> p;         // PValueIndex order
  std::array<std::vector<double>, kPValues> q_values;  // BH of each p column
  std::array<std::vector<std::int64_t>, kPValues> count;
  std::vector<std::int64_t> total;
  // Run facts.
  std::int32_t runs = 0;
  std::int32_t seed = 0;
  std::int64_t universe = 0;  // N of the "below" rank (the union's size without one)
  std::int32_t genes_analysed = 0;
  std::int32_t classes = 0;  // the largest information class
  PValues pvalues = PValues::kPlusOne;
  std::string version;  // kVersion
  // Genes without ids that took part (included in genes_analysed).
  std::int64_t unnamed = 0;
  // Per study: ids it lists, genes it ranks (its universe; for kMissing its
  // ranked ids) and how its absent genes were taken.
  struct StudyFacts {
    std::int64_t listed = 0;
    std::int64_t universe = 0;
    Absent absent = Absent::kMissing;
    bool universe_given = false;  // a size or ids; otherwise the named genes
  };
  std::vector<StudyFacts> study_facts;
  // With a study that has effects (MetaOptions::effects): per gene the studies whose effect is
  // positive and negative, and the tail of its smaller R-mean P-value
  // (kUp, kDown; kNoDirection when the two are equal or NA, or when the
  // studies disagree on which end of their ranking is up). Repeated ids
  // of a study merge their effects and fold changes as their ranks
  // (Duplicates): the first row's, the best-ranked row's, or the mean.
  bool directional = false;
  std::vector<std::int32_t> n_up, n_down;
  std::vector<std::int8_t> direction;
  // With a study that has fold changes: genes x studies as `ranks` (NaN:
  // none), and per gene their mean over the studies that have one.
  bool has_fold_changes = false;
  std::vector<double> fold_changes, fold_change_mean;
};

inline constexpr std::int8_t kUp = 1;
inline constexpr std::int8_t kDown = -1;
inline constexpr std::int8_t kNoDirection = 0;
// "up", "down", "NA".
std::string_view DirectionName(std::int8_t direction);

// The analysis. Throws std::invalid_argument (naming the study and the id
// or position at fault) for bad studies or options, Error / Cancelled as
// Analyze does.
MetaResults RunMeta(const std::vector<Study>& studies, const MetaOptions& options);

// Benjamini-Hochberg q-values (false discovery rates) of P-values, the
// step-up procedure: q(i) = min over j with p(j) >= p(i) of
// min(1, m / rank(j) x p(j)), rank the position in ascending order and m
// the number of P-values that take part. NaN P-values take no part (they
// do not count in m) and get NaN. The arithmetic is m / rank, then times
// p, in double, so the values agree bit for bit with R's p.adjust(p, "BH").
std::vector<double> BenjaminiHochberg(std::span<const double> p_values);

// "p_Rmean_right" ... "p_Q_left" (index in PValueIndex order); the q-value
// column is the same with "q_" in front.
std::string_view PValueName(int index);
// The column names of results.tsv: gene, n_studies, rank_<study>..., R_mean,
// R_wmean, Q, the six p_ and the six q_ columns; then, when directional,
// direction, n_up, n_down, and with fold changes logFC_<study>...,
// logFC_mean (after every column of unsigned results, whose tables thus
// stay as they were).
std::vector<std::string> ResultColumns(const MetaResults& results);
// The row order of results.tsv: ascending by P column `sort_by`, ties by
// R-mean, then by gene id (bytes); NA after numbers in both keys.
std::vector<std::size_t> ResultOrder(const MetaResults& results, int sort_by);
// The shortest decimal that reads back as exactly `value` ("NA" for NaN).
std::string FormatNumber(double value);
// The same for a single-precision value: the shortest decimal whose nearest
// float is `value` ("1.8", where FormatNumber of the widened value gives
// "1.7999999523162842").
std::string FormatFloat(float value);
// results.tsv: header and one line per gene in ResultOrder, tab-separated,
// "\n" line ends. Values held in single precision (R_mean, R_wmean, Q, and
// the P-values of PValues::kExact) by FormatFloat, the others (ranks,
// plus-one P-values, q-values) by FormatNumber.
std::string ResultsTsv(const MetaResults& results, int sort_by = kRmeanLeft);

}  // namespace korvelan

#endif  // KORVELAN_META_H_
