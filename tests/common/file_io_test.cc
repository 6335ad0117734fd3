#include "common/file_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/tools/test_support.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

using ::testing::HasSubstr;
using testing::ReadText;
using testing::ScratchDirectory;
using testing::WriteText;

std::size_t EntriesIn(const std::filesystem::path& directory) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++count;
  return count;
}

TEST(FileSet, ReplacesAllFilesOrNone) {
  ScratchDirectory scratch;
  WriteText(scratch.path() / "data.txt", "old data");
  {
    FileSet set;
    set.Stage(scratch.path() / "data.txt", "new data");
    // The second target's directory is missing: its write fails.
    EXPECT_THROW(set.Stage(scratch.path() / "missing" / "genes.tsv", "x"), ToolError);
  }
  EXPECT_EQ(ReadText(scratch.path() / "data.txt"), "old data");
  EXPECT_EQ(EntriesIn(scratch.path()), 1u) << "a temporary file was left behind";

  FileSet set;
  set.Stage(scratch.path() / "data.txt", "new data");
  set.Stage(scratch.path() / "genes.tsv", "genes");
  set.Commit();
  EXPECT_EQ(ReadText(scratch.path() / "data.txt"), "new data");
  EXPECT_EQ(ReadText(scratch.path() / "genes.tsv"), "genes");
  EXPECT_EQ(EntriesIn(scratch.path()), 2u);
}

TEST(FileIo, ReportsThePathAndTheReason) {
  ScratchDirectory scratch;
  try {
    ReadWholeFile(scratch.path() / "absent.tsv");
    ADD_FAILURE();
  } catch (const ToolError& error) {
    EXPECT_THAT(error.what(), HasSubstr("absent.tsv: No such file or directory"));
  }
  EXPECT_THROW(ReadWholeFile(scratch.path()), ToolError);  // a directory
  std::filesystem::create_directory(scratch.path() / "results.tsv");
  EXPECT_THROW(WriteFileAtomically(scratch.path() / "results.tsv", "x"), ToolError);
  EXPECT_EQ(EntriesIn(scratch.path()), 1u);
}

// Sized from the file's length, read through a pipe or a file whose length
// the system does not know (/proc): every byte, however the reads fall.
TEST(FileIo, ReadsEveryByte) {
  ScratchDirectory scratch;
  for (const std::size_t size : {0u, 1u, 65535u, 65536u, 65537u, 300001u}) {
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 7 + size) % 251);
    const std::filesystem::path file = scratch.path() / ("f" + std::to_string(size));
    WriteText(file, bytes);
    EXPECT_EQ(ReadWholeFile(file), bytes) << size << " bytes";
  }
  const std::string status = ReadWholeFile("/proc/self/status");
  EXPECT_THAT(status, HasSubstr("Name:"));
  EXPECT_EQ(status.back(), '\n');
}

}  // namespace
}  // namespace korvelan::tools
