// Whole-file reading and crash-safe writing for the companion tools.
//
// Written files never appear half-done: the bytes go to a temporary file in
// the same directory, which is flushed, closed and only then renamed over
// the target. A failed write (full disk, no permission) removes the
// temporary files and throws, leaving earlier versions of the targets as
// they were. Files that only make sense together (data.txt and the
// genes.tsv that names its lines) are staged as one set and renamed only
// when every one of them has been written.
#ifndef KORVELAN_COMMON_FILE_IO_H_
#define KORVELAN_COMMON_FILE_IO_H_

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools {

// The bytes of a regular file. Throws ToolError naming the path and the
// system's reason when it cannot be opened or read, or is a directory.
std::string ReadWholeFile(const std::filesystem::path& path);

// A set of files replaced together. Stage() writes each one's temporary
// file; Commit() renames them all into place. Temporaries that are not
// committed are removed when the set goes.
class FileSet {
 public:
  FileSet() = default;
  ~FileSet();
  FileSet(const FileSet&) = delete;
  FileSet& operator=(const FileSet&) = delete;

  // Throws ToolError naming `path` and the system's reason.
  void Stage(const std::filesystem::path& path, std::string_view contents);
  // Throws ToolError at the first rename that fails.
  void Commit();

 private:
  struct Staged {
    std::filesystem::path target;
    std::string temporary;
  };
  std::vector<Staged> staged_;
};

// Replaces `path` by `contents` as described above. Throws ToolError.
void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_FILE_IO_H_
