// korvelan/inputs.h's ReadStudies on 1, 2, 3 and 7 threads: the same
// studies, hashes and table lines as one, and the same first failure.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/study_input.h"
#include "korvelan/inputs.h"
#include "tests/tools/test_support.h"

namespace korvelan {
namespace {

using tools::testing::ScratchDirectory;
using tools::testing::WriteText;
namespace fs = std::filesystem;

// Everything ReadStudies gives that a thread could have put in the wrong
// place, as one text.
std::string Printed(const StudyInput& input) {
  std::string text = input.format() + "\n";
  for (const std::string& hash : input.parts().read.input.sha256) text += hash + "\n";
  for (const std::string& line : input.TableLines()) text += line + "\n";
  for (const Study& study : input.studies()) {
    text += study.name + " " + std::to_string(static_cast<int>(study.order)) + "\n";
    for (std::size_t k = 0; k < study.ids.size(); ++k) {
      text += study.ids[k];
      if (!study.values.empty()) text += " " + std::to_string(study.values[k]);
      text += "\n";
    }
  }
  return text;
}

std::string Failure(const std::vector<fs::path>& files, const RunSettings& settings,
                    unsigned threads) {
  try {
    ReadStudies(files, {}, settings, threads);
  } catch (const InputError& error) {
    return error.what();
  }
  return "(read)";
}

TEST(ReadStudiesThreads, TablesAndListsAsOnOneThread) {
  const fs::path data = KORVELAN_TOOLS_TEST_DATA;
  std::vector<fs::path> tables;
  for (const char* name : {"GSE12050", "GSE24883", "GSE25401", "GSE27949", "GSE29718"})
    tables.push_back(data / (std::string(name) + ".tsv"));
  RunSettings by_pvalue;
  by_pvalue.gene = "Symbol";
  by_pvalue.pvalue = "pvalue";
  ScratchDirectory scratch;
  std::vector<fs::path> lists;
  for (int j = 0; j < 6; ++j) {
    std::string list;
    for (int g = 0; g < 50; ++g) list += "G" + std::to_string((g * (j + 3)) % 97) + "\n";
    lists.push_back(scratch.path() / ("list" + std::to_string(j) + ".txt"));
    WriteText(lists.back(), list);
  }
  RunSettings as_lists;
  as_lists.input_format = "lists";
  const std::string one_tables = Printed(ReadStudies(tables, {}, by_pvalue, 1));
  const std::string one_lists = Printed(ReadStudies(lists, {}, as_lists, 1));
  ASSERT_GT(one_tables.size(), 100000u);
  for (const unsigned threads : {2u, 3u, 7u}) {
    EXPECT_EQ(Printed(ReadStudies(tables, {}, by_pvalue, threads)), one_tables)
        << "tables, " << threads << " threads";
    EXPECT_EQ(Printed(ReadStudies(lists, {}, as_lists, threads)), one_lists)
        << "lists, " << threads << " threads";
  }
}

TEST(ReadStudiesThreads, FailsAtTheFirstBadFile) {
  ScratchDirectory scratch;
  auto file = [&](const std::string& name, const std::string& text) {
    WriteText(scratch.path() / name, text);
    return scratch.path() / name;
  };
  const fs::path good1 = file("a.txt", "A\nB\nC\n");
  const fs::path good2 = file("b.txt", "C\nD\nE\n");
  const fs::path repeated1 = file("r1.txt", "A\nA\n");
  const fs::path repeated2 = file("r2.txt", "B\nB\n");
  const fs::path broken_gzip = file("z.txt.gz", std::string("\x1f\x8b\x08\x00garbage", 12));
  const fs::path missing = scratch.path() / "missing.txt";
  struct Case {
    const char* name;
    std::vector<fs::path> files;
    fs::path named;  // the file the message must name
  };
  const std::vector<Case> cases = {
      {"two bad lists", {good1, repeated1, good2, repeated2}, repeated1},
      {"a missing file after a bad list", {good1, repeated1, good2, missing}, missing},
      {"a broken gzip before a missing file", {good1, broken_gzip, good2, missing}, broken_gzip},
      {"a missing file before a broken gzip", {good1, missing, broken_gzip}, missing},
  };
  RunSettings as_lists;
  as_lists.input_format = "lists";
  for (const Case& c : cases) {
    const std::string one = Failure(c.files, as_lists, 1);
    EXPECT_NE(one.find(c.named.filename().string()), std::string::npos) << c.name << ": " << one;
    for (const unsigned threads : {2u, 3u, 7u})
      EXPECT_EQ(Failure(c.files, as_lists, threads), one) << c.name << ", " << threads;
  }
}

}  // namespace
}  // namespace korvelan
