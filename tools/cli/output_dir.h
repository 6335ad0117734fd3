// An output directory that appears whole or not at all: files are written
// into a temporary sibling directory (same parent, so the final rename
// stays on one file system; missing parents are created), which replaces the target only in Commit().
// An object destroyed without Commit() (an error, an interrupt) removes
// the temporary directory and leaves the target as it was.
//
// Replacing is for results directories only: a target that holds anything
// but the files this program writes (kOwnFiles), or holds one of the
// files the run reads, is refused before any work, so that no user file
// is ever removed with it.
#ifndef KORVELAN_TOOLS_CLI_OUTPUT_DIR_H_
#define KORVELAN_TOOLS_CLI_OUTPUT_DIR_H_

#include <array>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

namespace korvelan::tools {

inline constexpr std::array<std::string_view, 3> kOwnFiles = {"results.tsv", "report.html",
                                                              "run.json"};

class StagedDirectory {
 public:
  // Throws ToolError (kind kUsage) when `target` is empty, is the working
  // directory or one of its parents, exists and `replace` is false (checked
  // again at Commit), is not a directory, or with `replace` holds anything
  // but kOwnFiles or one of `inputs`; kData when the temporary directory
  // cannot be made.
  StagedDirectory(const std::filesystem::path& target, bool replace,
                  std::span<const std::filesystem::path> inputs = {});
  ~StagedDirectory();
  StagedDirectory(const StagedDirectory&) = delete;
  StagedDirectory& operator=(const StagedDirectory&) = delete;

  // Writes one file into the temporary directory. Throws ToolError. Files
  // of different names may be written from different threads at once.
  void Write(std::string_view name, std::string_view contents);
  // Moves the directory into place. With `replace`, an existing target is
  // checked again, renamed aside and removed only after the new one is in
  // place.
  void Commit();
  const std::filesystem::path& staging() const { return staging_; }

  // Temporary siblings of the target left by earlier runs that were killed
  // (or are still running): named in a warning, never removed here.
  std::vector<std::filesystem::path> Leftovers() const;

 private:
  std::filesystem::path target_;
  std::filesystem::path staging_;
  bool replace_;
  bool committed_ = false;
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_CLI_OUTPUT_DIR_H_
