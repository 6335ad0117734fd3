// The staged output directory: it appears whole or not at all.
#include "tools/cli/output_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/tool_error.h"
#include "tests/tools/test_support.h"

namespace korvelan::tools {
namespace {

using testing::ReadText;
using testing::ScratchDirectory;

TEST(StagedDirectory, AppearsWholeOrNotAtAll) {
  ScratchDirectory dir;
  const auto target = dir.path() / "out";
  {
    StagedDirectory staged(target, false);
    staged.Write("results.tsv", "one");
    EXPECT_FALSE(std::filesystem::exists(target));
  }  // not committed: nothing left behind
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  {
    StagedDirectory staged(target, false);
    staged.Write("results.tsv", "one");
    staged.Write("run.json", "{}");
    staged.Commit();
  }
  EXPECT_EQ(ReadText(target / "results.tsv"), "one");
  EXPECT_THROW(StagedDirectory(target, false), ToolError);
  {
    StagedDirectory staged(target, true);
    staged.Write("results.tsv", "two");
    staged.Commit();
  }
  EXPECT_FALSE(std::filesystem::exists(target / "run.json"));
  EXPECT_EQ(ReadText(target / "results.tsv"), "two");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 1u);
  // A file of someone else's in the directory stops the replacement.
  { std::ofstream(target / "notes.txt") << "mine"; }
  EXPECT_THROW(StagedDirectory(target, true), ToolError);
  EXPECT_EQ(ReadText(target / "notes.txt"), "mine");
}

}  // namespace
}  // namespace korvelan::tools
