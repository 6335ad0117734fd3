// korvelan-meta's input files in their five shapes, read into studies for
// the meta-analysis layer (korvelan/meta.h):
//
//   tables   one differential-expression table per study; columns named
//            (--gene with --pvalue, --statistic or --pvalue --sign-by) or
//            recognised from the header (table_columns.h); study name =
//            file name without extension (and without .gz). Rows without a
//            usable id or ranking value are skipped and counted; each row
//            is ranked, then the ids of several rows (probes of one gene)
//            are merged by --duplicates, by default "mean": the mean of
//            their ranks (keeping the best of several probes would favour
//            genes measured by many, in every study on the same platform)
//   lists    one file per study: one id per line, best first; blank lines
//            and lines starting with # are skipped
//   columns  one table, one column per study: the header names the
//            studies, row r holds rank r; an empty cell ends a column's
//            list; a first column named "rank" is ignored
//   rows     one table, one row per study: the study's name, then its ids
//            best first (rows may differ in length); a first line whose
//            first field is "study" is a header
//   long     one table with columns study, gene and a value: "rank" (rank 1
//            best), or the column of --pvalue / --statistic
//
// Detection (kAuto): several files are tables when their first line has
// more than one field, lists otherwise; one file is long when its header
// has both a study and a gene column, rows when its first header field is
// "study", a list (refused: one study) when every line holds one field,
// columns otherwise.
//
// Inputs are read once each ("-" is standard input; gzip data are
// unpacked), so pipes and FIFOs work.
//
// Every error is a ToolError naming the file and, where one is at fault,
// the line: unreadable files, ids that are empty or hold a tab or double
// quote, an id listed twice in one study (both lines; only when duplicates
// are refused), a cell after the end of a column's list, a value that is
// not a number.
#ifndef KORVELAN_COMMON_META_INPUT_H_
#define KORVELAN_COMMON_META_INPUT_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "korvelan/meta.h"
#include "common/study.h"
#include "common/table.h"

namespace korvelan::tools {

enum class InputShape { kAuto, kTables, kLists, kColumns, kRows, kLong };

// "auto", "tables", "lists", "columns", "rows", "long".
std::optional<InputShape> InputShapeNamed(std::string_view name);
std::string_view InputShapeName(InputShape shape);

struct MetaReadOptions {
  InputShape shape = InputShape::kAuto;
  // tables: gene and value columns as korvelan-prepare takes them. long:
  // gene_column defaults to "gene", value_column to "rank" (kind kPValue:
  // smallest first; kStatistic: by `first`).
  RankingRule rule;
  bool value_given = false;            // --pvalue or --statistic was given
  std::string study_column = "study";  // long
  std::optional<char> delimiter;       // nullopt: detected
  // nullopt: kMean for tables, kRefuse for the other shapes.
  std::optional<Duplicates> duplicates;
  std::string split_ids;  // tables: split ids at this separator
  // Files unpacked, hashed and parsed on up to this many threads (one file
  // each); the same input on any count.
  unsigned threads = 1;
};

// What was read from one study table, for the screen and run.json.
struct TableFacts {
  std::string study;
  std::string columns;      // DescribeChoice
  std::string ranking;      // DescribeRanking
  std::string fold_change;  // the fold-change column, empty: none
  std::size_t rows = 0;
  std::size_t no_id = 0;  // skipped rows
  std::size_t no_value = 0;
  std::size_t split = 0;     // rows whose id was split
  std::size_t repeated = 0;  // ids merged into an earlier row's
  // Per id of the study, in its order: the signed value that ranked it
  // (none when a p-value alone did) and the row's log fold change (none
  // without a fold-change column), for the results' direction columns.
  StudyEffects effects;
};

struct MetaInput {
  InputShape shape = InputShape::kAuto;  // as detected
  std::vector<Study> studies;
  // Whether the inputs are lists of top genes rather than tables of every
  // gene measured: lists, columns and rows (the default of --absent).
  bool top_lists = false;
  std::vector<std::string> sha256;              // of each file's bytes as read
  Duplicates duplicates = Duplicates::kRefuse;  // as settled for the shape
  std::vector<TableFacts> tables;               // tables only, per study
};

// MetaOptions::effects for the studies: each table's by its study name;
// empty when no table is signed or has fold changes.
std::vector<StudyEffects> EffectsOf(const MetaInput& input);

// The screen's lines about the tables read: one per study (columns, rows,
// skipped, merged), then how repeated ids were merged.
std::vector<std::string> DescribeTables(const MetaInput& input);

// A warning for each study sharing fewer than a tenth of its ids with the
// union of the other studies (symbols against Ensembl ids, say). Meant for
// tables of all measured genes: top-k lists share few ids by nature.
std::vector<std::string> OverlapWarnings(const std::vector<Study>& studies);

// Reads and checks `files` (1 .. any; the meta layer checks the counts).
MetaInput ReadMetaInput(const std::vector<std::filesystem::path>& files,
                        const MetaReadOptions& options);

// Shape detection on the files' texts (file names for messages).
InputShape DetectShape(const std::vector<std::string>& texts,
                       const std::vector<std::string>& sources);

// Parsers of one text each (exposed for tests). A table's text is kept
// while it is read: given by value, it can be moved in.
Study ParseStudyTable(std::string text, const std::string& source, const std::string& name,
                      const MetaReadOptions& options, TableFacts& facts);
// A table already split into fields (a file's, or one held in memory):
// columns chosen, rows ranked and counted as ParseStudyTable does.
Study StudyOfTable(const Table& table, const std::string& name, const MetaReadOptions& options,
                   TableFacts& facts);
Study ParseList(std::string_view text, const std::string& source, const std::string& name,
                Duplicates duplicates);
std::vector<Study> ParseColumns(std::string_view text, const std::string& source,
                                std::optional<char> delimiter, Duplicates duplicates);
std::vector<Study> ParseRows(std::string_view text, const std::string& source,
                             std::optional<char> delimiter, Duplicates duplicates);
std::vector<Study> ParseLong(std::string_view text, const std::string& source,
                             const MetaReadOptions& options);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_META_INPUT_H_
