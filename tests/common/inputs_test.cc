// korvelan/inputs.h: a table held in memory is the study of the file with
// its header (columns detected, rows ranked, skipped and merged the same),
// and the settings and tables it refuses are named.
#include "korvelan/inputs.h"
#include "korvelan/options.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/number_text.h"
#include "tests/tools/test_support.h"

namespace korvelan {
namespace {

using tools::testing::ScratchDirectory;
using tools::testing::WriteText;

// A column of text or of numbers (NaN: missing), and its cells as a file
// holds them.
struct Column {
  std::string name;
  std::vector<std::string> text;
  std::vector<double> numbers;
};

std::string FileOf(const std::vector<Column>& columns) {
  std::string file;
  for (std::size_t c = 0; c < columns.size(); ++c) file += (c ? "\t" : "") + columns[c].name;
  file += "\n";
  const std::size_t rows =
      columns[0].text.empty() ? columns[0].numbers.size() : columns[0].text.size();
  for (std::size_t r = 0; r < rows; ++r) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      file += c ? "\t" : "";
      file += columns[c].text.empty() ? FormatNumber(columns[c].numbers[r]) : columns[c].text[r];
    }
    file += "\n";
  }
  return file;
}

MemoryTable MemoryOf(const std::string& study, const std::vector<Column>& columns) {
  MemoryTable table{study, {}};
  for (const Column& c : columns)
    table.columns.push_back({c.name, c.text.empty(), c.text, c.numbers});
  return table;
}

constexpr double kNaN = std::nan("");

struct Case {
  const char* name;
  std::vector<Column> columns;
  RunSettings settings;
};

std::vector<Case> Cases() {
  const std::vector<std::string> ids = {"A", "B", "B", "C", "", "D", "E///F"};
  const std::vector<double> lfc = {1.5, -0.25, 0.5, 2, 1, kNaN, -1};
  const std::vector<double> p = {0.01, 0.2, 0.03, 1e-300, 0.5, 0.04, 0.3};
  RunSettings split;
  split.split_ids = "///";
  RunSettings first;
  first.pvalue = "P.Value";
  first.duplicates = "first";
  return {
      {"limma topTable with row names",
       {{"row.names", ids, {}},
        {"logFC", {}, lfc},
        {"AveExpr", {}, p},
        {"t", {}, lfc},
        {"P.Value", {}, p},
        {"adj.P.Val", {}, p},
        {"B", {}, p}},
       split},
      {"limma ranked by p-value alone, first of repeats",
       {{"ID", ids, {}},
        {"logFC", {}, lfc},
        {"AveExpr", {}, p},
        {"t", {}, lfc},
        {"P.Value", {}, p},
        {"adj.P.Val", {}, p},
        {"B", {}, p}},
       first},
      {"edgeR topTags signed p-values",
       {{"gene", ids, {}}, {"logFC", {}, lfc}, {"logCPM", {}, p}, {"PValue", {}, p}, {"FDR", {}, p}},
       {}},
      {"scanpy markers",
       {{"names", ids, {}},
        {"scores", {}, lfc},
        {"logfoldchanges", {}, lfc},
        {"pvals", {}, p},
        {"pvals_adj", {}, p}},
       {}},
  };
}

TEST(InputsTest, AMemoryTableIsTheStudyOfItsFile) {
  for (const Case& c : Cases()) {
    ScratchDirectory dir;
    const auto file = dir.path() / "S1.tsv";
    WriteText(file, FileOf(c.columns));
    // One file alone would be detected as a table of studies.
    RunSettings as_table = c.settings;
    as_table.input_format = "tables";
    const StudyInput from_file = ReadStudies({file}, {}, as_table);
    const StudyInput from_memory = ReadStudyTables({MemoryOf("S1", c.columns)}, c.settings);
    ASSERT_EQ(from_memory.studies().size(), 1u) << c.name;
    const Study& a = from_file.studies()[0];
    const Study& b = from_memory.studies()[0];
    EXPECT_EQ(a.name, b.name) << c.name;
    EXPECT_EQ(a.ids, b.ids) << c.name;
    EXPECT_EQ(a.values, b.values) << c.name;
    EXPECT_EQ(from_file.TableLines(), from_memory.TableLines()) << c.name;
    const RunPlan pa = SettleOptions(from_file, c.settings, 5, 1);
    const RunPlan pb = SettleOptions(from_memory, c.settings, 5, 1);
    ASSERT_EQ(pa.options.effects.size(), pb.options.effects.size()) << c.name;
    for (std::size_t j = 0; j < pa.options.effects.size(); ++j) {
      const auto& ea = pa.options.effects[j];
      const auto& eb = pb.options.effects[j];
      ASSERT_EQ(ea.effects.size(), eb.effects.size()) << c.name;
      for (std::size_t k = 0; k < ea.effects.size(); ++k) {
        EXPECT_TRUE(ea.effects[k] == eb.effects[k] ||
                    (std::isnan(ea.effects[k]) && std::isnan(eb.effects[k])))
            << c.name << " effect " << k;
      }
      EXPECT_EQ(ea.first_is_up, eb.first_is_up) << c.name;
    }
    EXPECT_EQ(pa.options.duplicates, pb.options.duplicates) << c.name;
  }
}

// Every front end fills RunSettings by name: every shared option the run
// settings hold must be found under both spellings, or a front end would
// silently drop it.
TEST(InputsTest, EverySharedRunSettingIsSetByName) {
  for (const OptionSpec& option : SharedOptions()) {
    const std::string name(option.name);
    if (name == "studies" || name == "seed" || name == "threads") continue;  // not run settings
    const std::string text = option.kind == OptionKind::kWhole ? "7" : "x";
    RunSettings by_name, by_host_name;
    EXPECT_TRUE(SetRunSetting(by_name, name, text)) << name;
    EXPECT_TRUE(SetRunSetting(by_host_name, HostName(name), text)) << name;
  }
  RunSettings s;
  ASSERT_TRUE(SetRunSetting(s, "min_studies", "7"));
  ASSERT_TRUE(SetRunSetting(s, "sort-by", "p_Q_left"));
  ASSERT_TRUE(SetRunSetting(s, "split_ids", "///"));
  EXPECT_EQ(s.min_studies, 7);
  EXPECT_EQ(s.sort_by, "p_Q_left");
  EXPECT_EQ(s.split_ids, "///");
  EXPECT_EQ(s.runs, RunSettings{}.runs);
  EXPECT_FALSE(SetRunSetting(s, "top", "3"));
}

TEST(InputsTest, RefusalsNameWhatIsWrong) {
  const std::vector<Column> good = {{"gene", {"A", "B", "C"}, {}}, {"pvalue", {}, {0.1, 0.2, 0.3}}};
  std::vector<Column> short_column = good;
  short_column[1].numbers.pop_back();
  RunSettings both;
  both.pvalue = "pvalue";
  both.statistic = "pvalue";
  RunSettings bad_first;
  bad_first.first = "up";
  struct Refusal {
    const char* name;
    std::vector<MemoryTable> tables;
    RunSettings settings;
    InputErrorKind kind;
    const char* message;
  };
  const std::vector<Refusal> refusals = {
      {"columns of unequal length",
       {MemoryOf("S", short_column)},
       {},
       InputErrorKind::kData,
       "table \"S\": column \"pvalue\" has 2 rows, not 3"},
      {"two tables of one name",
       {MemoryOf("S", good), MemoryOf("S", good)},
       {},
       InputErrorKind::kData,
       "two study tables are named \"S\""},
      {"no tables", {}, {}, InputErrorKind::kUsage, "no study tables"},
      {"p-value and statistic",
       {MemoryOf("S", good)},
       both,
       InputErrorKind::kUsage,
       "at most one of pvalue"},
      {"first neither end",
       {MemoryOf("S", good)},
       bad_first,
       InputErrorKind::kUsage,
       "first must be \"largest\" or \"smallest\", not \"up\""},
      {"no ranking column",
       {MemoryOf("S", {good[0]})},
       {},
       InputErrorKind::kData,
       "table \"S\": cannot tell"},
  };
  for (const Refusal& r : refusals) {
    try {
      ReadStudyTables(r.tables, r.settings);
      ADD_FAILURE() << r.name << ": not refused";
    } catch (const InputError& error) {
      EXPECT_EQ(error.kind(), r.kind) << r.name;
      EXPECT_NE(std::string(error.what()).find(r.message), std::string::npos)
          << r.name << ": " << error.what();
    }
  }
}

TEST(InputsTest, SettingsThatDoNotFitTheInputAreUsageErrors) {
  const StudyInput tables =
      ReadStudyTables({MemoryOf("S1", {{"gene", {"A", "B"}, {}}, {"pvalue", {}, {0.1, 0.2}}}),
                       MemoryOf("S2", {{"gene", {"A", "B"}, {}}, {"pvalue", {}, {0.3, 0.2}}})},
                      {});
  RunSettings universe;
  universe.universe = "100";  // tables: absent genes missing
  RunSettings weights;
  weights.weights = "1,2,3";
  RunSettings sort;
  sort.sort_by = "p_R";
  for (const RunSettings& s : {universe, weights}) {
    try {
      SettleOptions(tables, s, 1, 1);
      ADD_FAILURE() << "settled " << s.universe << s.weights;
    } catch (const InputError& error) {
      EXPECT_EQ(error.kind(), InputErrorKind::kUsage) << error.what();
    }
  }
  EXPECT_THROW(SortColumn(sort), InputError);
  EXPECT_EQ(SortColumn(RunSettings{}), kRmeanLeft);
}

// Ranked lists a front end gives are top-k lists, as list files are: no
// warning that they share few ids (which top-k lists do by nature), so
// run.json says what korvelan-meta's says of the same lists. A table of
// the same ids is warned about.
TEST(InputsTest, GivenListsAreTopListsWithoutOverlapWarnings) {
  std::vector<Study> studies(2);
  for (int k = 1; k <= 20; ++k) {
    studies[0].ids.push_back("a" + std::to_string(k));
    studies[1].ids.push_back("b" + std::to_string(k));
  }
  studies[0].name = "A";
  studies[1].name = "B";
  const StudyInput lists = GivenStudies(studies, "lists");
  EXPECT_TRUE(lists.top_lists());
  EXPECT_TRUE(lists.Warnings().empty());
  const StudyInput table = GivenStudies(studies, "table");
  EXPECT_FALSE(table.top_lists());
  EXPECT_EQ(table.Warnings().size(), 2u);
}

}  // namespace
}  // namespace korvelan
