// The study sheet: tables and top-k lists with their own settings, read
// in-process into the studies the meta layer takes, and every refusal with
// the sheet's line.
#include "common/meta_sheet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "tests/tools/test_support.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using testing::ScratchDirectory;
using testing::WriteText;

const std::filesystem::path kData = KORVELAN_TOOLS_TEST_DATA;
const char* const kFive[] = {"GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"};

SheetDefaults TableDefaults() {
  SheetDefaults d;
  d.table.gene = "Symbol";
  d.table.pvalue = "pvalue";
  return d;
}

MetaOptions FewRuns() {
  MetaOptions o;
  o.runs = 2;
  o.seed = 3;
  return o;
}

TEST(MetaSheet, TablesWithOneCutToATopListKeepTheirGenesInTheirClasses) {
  // The five tables, and the same with the first cut to its top 200 (a
  // list below which the rest of its table's genes lie): a top-k study
  // measures its whole universe, so every gene keeps its class.
  ScratchDirectory dir;
  std::string all = "file\n", mixed = "file\tstudy\tabsent\tuniverse\tweight\n";
  for (const char* s : kFive) all += (kData / (std::string(s) + ".tsv")).string() + "\n";
  MetaReadOptions table;
  table.shape = InputShape::kTables;
  table.value_given = true;
  table.rule.gene_column = "Symbol";
  table.rule.value_column = "pvalue";
  const Study first = ReadMetaInput({kData / "GSE12050.tsv"}, table).studies.front();
  std::vector<std::size_t> order(first.ids.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return first.values[a] < first.values[b];  // NaN never first
  });
  std::string top, universe;
  for (std::size_t k = 0; k < 200; ++k) top += first.ids[order[k]] + "\n";
  for (const std::string& id : first.ids) universe += id + "\n";
  WriteText(dir.path() / "top200.txt", top);
  WriteText(dir.path() / "measured.txt", universe);
  mixed += "top200.txt\tcut\t\tmeasured.txt\t2\n";
  for (std::size_t j = 1; j < 5; ++j)
    mixed += (kData / (std::string(kFive[j]) + ".tsv")).string() + "\t\t\t\t\n";
  WriteText(dir.path() / "all.tsv", all);
  WriteText(dir.path() / "mixed.tsv", mixed);

  const SheetInput full = ReadStudySheet(dir.path() / "all.tsv", TableDefaults());
  const SheetInput cut = ReadStudySheet(dir.path() / "mixed.tsv", TableDefaults());
  ASSERT_EQ(cut.studies.size(), 5u);
  EXPECT_EQ(cut.studies[0].name, "cut");
  EXPECT_EQ(cut.studies[0].ids.size(), 200u);
  EXPECT_EQ(cut.settings[0].absent, Absent::kBelow);  // a list's default
  EXPECT_EQ(cut.settings[0].universe_ids.size(), first.ids.size());
  EXPECT_EQ(cut.rows[0].weight, 2.0);
  EXPECT_TRUE(cut.rows[0].list);
  EXPECT_EQ(cut.studies[1].name, "GSE24883");
  EXPECT_EQ(cut.settings[1].absent, Absent::kMissing);  // a table's default
  EXPECT_EQ(full.rows[0].weight, 1.0);

  MetaOptions with_settings = FewRuns();
  with_settings.study_settings = cut.settings;
  const MetaResults a = RunMeta(full.studies, FewRuns());
  const MetaResults b = RunMeta(cut.studies, with_settings);
  std::map<std::string, std::int32_t> info_class;
  for (std::size_t i = 0; i < a.genes.size(); ++i) info_class[a.genes[i]] = a.info_class[i];
  ASSERT_EQ(b.genes.size(), a.genes.size());
  for (std::size_t i = 0; i < b.genes.size(); ++i) {
    ASSERT_EQ(b.info_class[i], info_class.at(b.genes[i])) << b.genes[i];
  }
  EXPECT_EQ(b.genes_analysed, a.genes_analysed);
  EXPECT_EQ(b.study_facts[0].listed, 200);
  EXPECT_EQ(b.study_facts[0].universe, static_cast<std::int64_t>(first.ids.size()));
}

TEST(MetaSheet, RefusalsNameTheSheetLine) {
  ScratchDirectory dir;
  WriteText(dir.path() / "a.txt", "x\ny\nz\n");
  WriteText(dir.path() / "t.tsv", "Symbol\tpvalue\nx\t0.1\ny\t0.2\n");
  WriteText(dir.path() / "u.tsv", "probe\tvalue_x\nx\t0.1\ny\t0.2\n");
  WriteText(dir.path() / "twice.txt", "x\ny\n# note\nx\n");
  struct Case {
    const char* name;
    std::string sheet;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing file", "file\na.txt\nnone.txt\n",
       "sheet.tsv line 3: the file \"none.txt\" does not exist"},
      {"no file column", "study\nA\n", "the sheet needs a column \"file\""},
      {"unknown column", "file\tlogfc\na.txt\tlfc\n",
       "the column \"logfc\" is not one of file, study"},
      {"bad absent", "file\tabsent\na.txt\tabove\n",
       "line 2: absent must be missing or below, not \"above\""},
      {"universe of a table", "file\tpvalue\tuniverse\nt.tsv\tpvalue\t100\n",
       "line 2: a universe applies to absent below"},
      {"universe file twice", "file\tuniverse\na.txt\ttwice.txt\n",
       "twice.txt: the universe lists \"x\" twice, on lines 1 and 4"},
      {"universe file missing", "file\tuniverse\na.txt\tnone.txt\n",
       "the universe file \"none.txt\" does not exist"},
      {"universe too large", "file\tuniverse\na.txt\t99999999\n",
       "the universe must be a whole number from 1"},
      {"bad weight", "file\tweight\na.txt\t-2\n",
       "line 2: the weight \"-2\" is not a positive number"},
      {"table of no known columns", "file\tpvalue\nu.tsv\t\n", "sheet.tsv line 2: "},
      {"bad first", "file\tfirst\na.txt\tbest\n", "first must be largest or smallest"},
      {"no rows", "file\n", "the sheet lists no study"},
  };
  for (const Case& c : cases) {
    WriteText(dir.path() / "sheet.tsv", c.sheet);
    SheetDefaults d;
    d.table.gene = "Symbol";
    try {
      ReadStudySheet(dir.path() / "sheet.tsv", d);
      ADD_FAILURE() << c.name << ": accepted";
    } catch (const ToolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.name << ": " << e.what();
    }
  }
  // A list longer than its universe is the meta layer's to refuse.
  WriteText(dir.path() / "sheet.tsv", "file\tstudy\tuniverse\na.txt\tA\t2\na.txt\tB\t\n");
  const SheetInput s = ReadStudySheet(dir.path() / "sheet.tsv", SheetDefaults{});
  EXPECT_EQ(s.settings[0].universe_size, 2);
  MetaOptions o = FewRuns();
  o.study_settings = s.settings;
  try {
    RunMeta(s.studies, o);
    ADD_FAILURE() << "a list longer than its universe was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(
        std::string(e.what()).find("study \"A\" lists 3 ids, more than its universe of 2 genes"),
        std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace korvelan::tools
