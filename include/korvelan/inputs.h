// Study inputs and a run's record, shared by every front end: the files
// korvelan-meta reads (ranked lists, differential-expression tables, one
// table of all studies, the study sheet, universe files), the same tables
// held in memory (a data frame of R or pandas), and what a run writes
// besides results.tsv: run.json and report.html.
//
// A table goes through one path whether it comes from a file or from
// memory: its header picks the gene column and the ranking (the layouts of
// limma, DESeq2, edgeR, Seurat, scanpy and simple tables are recognised;
// named columns win), its rows are ranked by p-value, statistic or signed
// p-value, incomplete rows are skipped and counted, joined ids split, and
// ids on several rows merged by `duplicates`. So a data frame and the TSV
// of it give the same study, and a run of the same studies, options and
// seed the same numbers, run.json (but its clock and command line) and
// page in every front end.
//
// Settings are text, as korvelan-meta's command line takes them; a value
// outside its choices is refused with InputError of kind kUsage. Every
// function here throws InputError (kind kData: the inputs or the file
// system, with a message naming the file and line, or the study and row;
// kUsage: a setting) and nothing else but std::bad_alloc. Nothing prints,
// exits or keeps state between calls.
#ifndef KORVELAN_INPUTS_H_
#define KORVELAN_INPUTS_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvelan/input_error.h"
#include "korvelan/meta.h"

namespace korvelan {

// korvelan-meta's settings, as its options of these names take them
// (docs/korvelan-meta.md); empty strings where the option was not given.
struct RunSettings {
  std::string input_format = "auto";             // auto, tables, lists, columns, rows, long
  std::string gene, pvalue, statistic, sign_by;  // pvalue and statistic not both
  std::string first = "largest";                 // largest, smallest
  std::string delimiter = "auto";                // auto, tab, comma, semicolon
  std::string study_column = "study";
  std::string absent;      // "", missing, below
  std::string universe;    // "", a size, or a file of ids
  std::string duplicates;  // "", refuse, first, best, mean ("": by the input)
  std::string split_ids;
  std::int32_t min_studies = 1;
  std::string pvalues = "plus-one";  // plus-one, exact
  std::int32_t runs = 1000;
  std::string weights = "equal";  // equal, or w1,w2,... one per study
  std::string sort_by = "p_Rmean_left";
};

// Sets the setting of that option's name (korvelan-meta's "min-studies" or
// a host's "min_studies") from its text, so that every front end fills
// RunSettings from the same names; false, and nothing set, for a name it
// does not hold. min-studies and runs must be whole numbers in decimal
// (judged before, by OptionProblem).
bool SetRunSetting(RunSettings& settings, std::string_view name, const std::string& text);

// A table in memory: named columns of equal length, each of text (a
// missing cell is "" or "NA") or of numbers (NaN: missing). Read as the
// file whose header holds these names and whose cells are the numbers'
// shortest exact decimals; a data frame's row names go in as a first
// column named "row.names", as R writes them.
struct TableColumn {
  std::string name;
  bool numeric = false;
  std::vector<std::string> text;  // !numeric
  std::vector<double> numbers;    // numeric
};
struct MemoryTable {
  std::string study;  // the study's name, as a file name gives it
  std::vector<TableColumn> columns;
};

// What was read: the studies and everything the analysis, the screen and
// run.json need to know of how. Cheap to copy (shared, immutable).
class StudyInput {
 public:
  struct Parts;
  explicit StudyInput(std::shared_ptr<const Parts> parts) : parts_(std::move(parts)) {}

  const std::vector<Study>& studies() const;
  // "tables", "lists", "columns", "rows", "long", "sheet", or the name a
  // front end gave its in-memory studies.
  const std::string& format() const;
  // Whether the studies are top-k lists (lists, columns, rows): absent
  // genes are then "below" unless said otherwise.
  bool top_lists() const;
  // One line per study table (columns chosen, rows skipped and merged),
  // then how repeated ids were merged; empty without tables.
  std::vector<std::string> TableLines() const;
  // Studies that share few ids with the others (tables of measured genes
  // only; top-k lists share few by nature).
  std::vector<std::string> Warnings() const;

  const Parts& parts() const { return *parts_; }

 private:
  std::shared_ptr<const Parts> parts_;
};

// korvelan-meta's inputs: `files` (1 or more; "-" is standard input,
// gzip data are unpacked) in input_format's shape, or, when `sheet` is not
// empty (and `files` is), the study sheet with the settings as its
// defaults. The files are read in turn on the calling thread, then
// unpacked and parsed on up to `threads` threads, one file each; any count
// gives the same studies and the same failure. Throws InputError naming
// the file and line at fault.
StudyInput ReadStudies(const std::vector<std::filesystem::path>& files,
                       const std::filesystem::path& sheet, const RunSettings& settings,
                       unsigned threads = 1);

// Differential-expression tables in memory, one per study (at least one;
// study names unique and not empty), read as files of that shape with the
// same settings. Throws InputError naming the study and the row (1-based,
// as the line of a file with its header would be one more).
StudyInput ReadStudyTables(const std::vector<MemoryTable>& tables, const RunSettings& settings);

// Studies a front end built itself (lists, a genes x studies table),
// recorded as `format` in run.json and on the page; format "lists" makes
// them top-k lists (top_lists()), as list files are.
StudyInput GivenStudies(std::vector<Study> studies, std::string format);

// The analysis options: settings.absent (else below for top-k lists,
// missing otherwise; "per study" for a sheet), the universe (a size or a
// file of ids, read here), the sheet's per-study settings and weights or
// settings.weights, the tables' effects (direction columns), duplicates
// as settled for the input, min_studies, pvalues, runs, and the caller's
// seed (1 .. kMaxSeed) and threads (at least 1). Throws InputError (kUsage
// for a setting that does not fit the input, e.g. a universe with absent
// missing or weights of the wrong count; kData for the universe file).
struct RunPlan {
  MetaOptions options;
  std::string absent;           // below, missing, or "per study"
  std::string universe_sha256;  // of a universe file; empty without one
};
RunPlan SettleOptions(const StudyInput& input, const RunSettings& settings, std::int32_t seed,
                      unsigned threads);

// A run as it was asked for, besides the settings and options: for
// run.json and the page.
struct RunFacts {
  std::string program = "korvelan-meta";  // with the version, names the software
  std::vector<std::string> command_line;  // the arguments after the program
  std::string started_utc;                // ISO 8601, e.g. 2026-01-02T03:04:05Z
  bool seed_drawn = false;
  // Seconds per step (read, analysis, write), run.json's last entry.
  std::vector<std::pair<std::string, double>> timings;
};

// The system clock's time now, in RunFacts::started_utc's form.
std::string UtcNow();

// The P column that orders results.tsv and the page: settings.sort_by.
int SortColumn(const RunSettings& settings);

// run.json's text (two-space indented, ending in a line end).
std::string RunJson(const StudyInput& input, const RunSettings& settings, const RunPlan& plan,
                    const MetaResults& results, const RunFacts& facts);

// report.html: the self-contained page of the results, in the order of
// results.tsv. Depends on neither the clock nor the command line, so the
// same run gives the same page in every front end with the same program
// name.
std::string ReportPage(const StudyInput& input, const RunSettings& settings, const RunPlan& plan,
                       const MetaResults& results, const RunFacts& facts);

// A finished run: everything run.json and report.html are made of, for a
// front end that keeps the run to write them later (or never).
struct RunRecord {
  StudyInput input;
  RunSettings settings;
  RunPlan plan;
  MetaResults results;
  RunFacts facts;

  std::string Json() const { return RunJson(input, settings, plan, results, facts); }
  std::string Page() const { return ReportPage(input, settings, plan, results, facts); }
};

}  // namespace korvelan

#endif  // KORVELAN_INPUTS_H_
