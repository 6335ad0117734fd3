// One study's table turned into ranks: which column names the gene, which
// column orders the genes, and in which direction.
//
// Missing values (see number_text.h) mean "this study did not rank the
// gene": the gene stays in the study's list without a rank. A study's
// table must name every gene once; a repeated gene is an error, because
// the study would rank it twice.
#ifndef KORVELAN_COMMON_STUDY_H_
#define KORVELAN_COMMON_STUDY_H_

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "common/ranking.h"
#include "common/table.h"

namespace korvelan::tools {

struct RankingRule {
  enum class Kind {
    kPValue,        // value column: p-values, rank 1 = smallest
    kStatistic,     // value column: a signed statistic, direction `first`
    kSignedPValue,  // value column: p-values, signed by the sign column
  };
  Kind kind = Kind::kPValue;
  std::string gene_column;
  std::string value_column;
  std::string sign_column;                // kSignedPValue only
  RankFirst first = RankFirst::kLargest;  // kStatistic and kSignedPValue
};

inline constexpr std::int64_t kNotRanked = -1;

struct StudyRanks {
  std::string name;
  std::vector<std::string> genes;        // every gene of the table, file order
  std::vector<std::int64_t> half_ranks;  // 2 x rank, or kNotRanked
  std::size_t ranked = 0;                // genes with a rank
};

// Whether `id` can stand in genes.tsv and results.tsv as one field: not
// empty, and free of tabs, line ends and double quotes.
bool IsUsableIdentifier(std::string_view id);

// Ranks the table's genes by `rule`. Throws ToolError, naming the file and
// the line, for: a missing column, an unusable gene id, a gene listed
// twice (both lines), a value that is neither a number nor a missing
// marker, a p-value outside 0 .. 1, and a table in which no gene has a
// value.
StudyRanks RankStudy(const Table& table, std::string name, const RankingRule& rule);

// How forgiving RankTableRows is with the rows of tables as researchers
// have them (the defaults are RankStudy's strict reading).
struct RowRules {
  // Rows without a usable id (empty, a missing marker, GEO's "---") or
  // without a ranking value are skipped and counted, not refused and not
  // kept unranked.
  bool skip_incomplete = false;
  // An id on several rows (probes of one gene) is kept on each; false:
  // refused, naming both lines.
  bool repeats = false;
  // Not empty: an id joining several genes ("A///B") is split at this
  // separator, each gene taking the row's rank.
  std::string split;
  // Not empty: a column whose value is kept per row (NaN where missing).
  std::string fold_change;
};

struct RankedRow {
  std::string_view id;                  // into the table's text: valid while the table is
  std::int64_t half_rank = kNotRanked;  // ranked among the rows, not the ids
  double fold_change = 0;
  std::size_t line = 0;
  // Its sign says up or down: the statistic (kStatistic) or the sign
  // column (kSignedPValue); NaN for a p-value alone, or without a value.
  double effect = std::numeric_limits<double>::quiet_NaN();
};

struct RankedRows {
  std::vector<RankedRow> rows;  // file order, split ids one row each
  std::size_t table_rows = 0;
  std::size_t no_id = 0;     // skipped: no usable id
  std::size_t no_value = 0;  // skipped: no ranking value
  std::size_t split = 0;     // rows whose id named several genes
  std::size_t repeated = 0;  // ids (split ones each) an earlier row had
};

// Each row's rank by `rule`, every row of the table one measurement: ties
// share the average rank; a split row gives all its genes the same rank.
// Throws ToolError as RankStudy does (within `rules`).
RankedRows RankTableRows(const Table& table, const RankingRule& rule, const RowRules& rules);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_STUDY_H_
