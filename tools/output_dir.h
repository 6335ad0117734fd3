// An output directory that appears whole or not at all: files are written
// into a temporary sibling directory (same parent, so the final rename
// stays on one file system; missing parents are created), which replaces the target only in Commit().
// An object destroyed without Commit() (an error, an interrupt) removes
// the temporary directory and leaves the target as it was.
#ifndef KORVELAN_TOOLS_OUTPUT_DIR_H_
#define KORVELAN_TOOLS_OUTPUT_DIR_H_

#include <filesystem>
#include <string_view>

namespace korvelan::tools {

class StagedDirectory {
 public:
  // Throws ToolError when `target` exists and `replace` is false (checked
  // again at Commit), or when the temporary directory cannot be made.
  StagedDirectory(std::filesystem::path target, bool replace);
  ~StagedDirectory();
  StagedDirectory(const StagedDirectory&) = delete;
  StagedDirectory& operator=(const StagedDirectory&) = delete;

  // Writes one file into the temporary directory. Throws ToolError.
  void Write(std::string_view name, std::string_view contents);
  // Moves the directory into place. With `replace`, an existing target is
  // first renamed aside and removed only after the new one is in place.
  void Commit();
  const std::filesystem::path& staging() const { return staging_; }

 private:
  std::filesystem::path target_;
  std::filesystem::path staging_;
  bool replace_;
  bool committed_ = false;
};

}  // namespace korvelan::tools

#endif  // KORVELAN_TOOLS_OUTPUT_DIR_H_
