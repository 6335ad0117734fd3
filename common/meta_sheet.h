// korvelan-meta's study sheet: one row per study, for analyses that mix
// full tables with top-k lists or give each study its own settings.
//
// A TSV with a header; blank lines are skipped. Columns (any order; only
// `file` is required; an empty cell takes the command line's value):
//   file       the study's file: a table when its first line holds more
//              than one field, a list of ids (best first) otherwise;
//              relative to the sheet's folder
//   study      the study's name (default: the file name without extension)
//   weight     a positive number
//   absent     missing or below (default: --absent, else below for a list
//              and missing for a table)
//   universe   with absent below: a number of genes, or a file of ids one
//              per line (relative to the sheet's folder)
//   gene, pvalue, statistic, sign_by, first   as the options of that name
// Errors name the sheet and its line.
#ifndef KORVELAN_COMMON_META_SHEET_H_
#define KORVELAN_COMMON_META_SHEET_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "korvelan/meta.h"
#include "common/meta_input.h"
#include "common/tool_error.h"

namespace korvelan::tools {

// How a study table is ranked, as the options of these names give it.
struct TableOptions {
  std::string gene, pvalue, statistic, sign_by, first = "largest";
};
// Sets options.rule and options.value_given (pvalue and statistic are not
// both given, and sign_by goes with pvalue: the caller checks).
void SetTableRule(MetaReadOptions& options, const TableOptions& table);

// The command line's settings that a sheet row may override.
struct SheetDefaults {
  TableOptions table;
  std::optional<char> delimiter;  // of the study tables
  std::optional<Absent> absent;
  std::optional<double> weight;          // nullopt: 1
  std::optional<Duplicates> duplicates;  // nullopt: by each file's shape
  std::string split_ids;                 // of the study tables
};

struct SheetStudy {
  std::filesystem::path file;
  std::string sha256;
  bool list = false;  // a list of ids, not a table
  double weight = 1.0;
  std::string universe;             // as written in the sheet ("" for none)
  std::string universe_sha256;      // of a universe file
  std::optional<TableFacts> table;  // what was read, for a study table
};

struct SheetInput {
  std::vector<Study> studies;
  std::vector<StudySettings> settings;  // one per study, absent always set
  std::vector<SheetStudy> rows;
  std::string sha256;  // of the sheet
};

SheetInput ReadStudySheet(const std::filesystem::path& sheet, const SheetDefaults& defaults);

// A universe of ids from a file: one id per line, blank lines and lines
// starting with # skipped. Throws ToolError naming the file and both lines
// of an id given twice.
std::vector<std::string> ReadUniverseIds(std::string_view text, const std::string& source);

// A universe given as text: a size 1 .. kMaxUniverse, or nullopt when the
// text names a file of ids. Text of digits and signs only is taken as meant
// to be a number, so "-5" is refused rather than looked for as a file; the
// refusal reads "<what> must be a whole number from 1 to ..., not "<text>""
// and carries `kind`.
std::optional<std::int32_t> UniverseSize(const std::string& text, const std::string& what,
                                         ErrorKind kind);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_META_SHEET_H_
