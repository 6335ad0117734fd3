#include "tools/output_dir.h"

#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/tool_error.h"

namespace korvelan::tools {
namespace fs = std::filesystem;

namespace {

void RefuseExisting(const fs::path& target) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(target, ec))) {
    throw ToolError(target.string() + " already exists; choose another -o directory or add --force "
                    "to replace it");
  }
}

fs::path Sibling(const fs::path& target, const char* kind) {
  fs::path parent = target.parent_path();
  if (parent.empty()) parent = ".";
  std::string pattern = (parent / ("." + target.filename().string() + "." + kind + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw ToolError("cannot create a directory beside " + target.string() + ": " +
                    std::strerror(errno));
  }
  return pattern;
}

}  // namespace

StagedDirectory::StagedDirectory(fs::path target, bool replace)
    : target_(std::move(target)), replace_(replace) {
  // "out/" names the directory "out": without the empty last part.
  if (!target_.has_filename()) target_ = target_.parent_path();
  if (!replace_) RefuseExisting(target_);
  std::error_code ec;
  if (fs::exists(target_, ec) && !fs::is_directory(target_, ec)) {
    throw ToolError(target_.string() + " exists and is not a directory");
  }
  // Missing parents are made, as mkdir -p would (they stay after a failure).
  if (target_.has_parent_path()) fs::create_directories(target_.parent_path(), ec);
  staging_ = Sibling(target_, "partial");
}

StagedDirectory::~StagedDirectory() {
  if (committed_) return;
  std::error_code ignored;
  fs::remove_all(staging_, ignored);
}

void StagedDirectory::Write(std::string_view name, std::string_view contents) {
  const fs::path path = staging_ / name;
  std::ofstream file(path, std::ios::binary);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  file.close();
  if (!file) throw ToolError("cannot write " + path.string() + ": " + std::strerror(errno));
}

void StagedDirectory::Commit() {
  std::error_code ec;
  fs::permissions(staging_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec, ec);
  if (!replace_ || !fs::exists(target_, ec)) {
    if (!replace_) RefuseExisting(target_);
    if (::rename(staging_.c_str(), target_.c_str()) != 0) {
      throw ToolError("cannot move the results into " + target_.string() + ": " + std::strerror(errno));
    }
    committed_ = true;
    return;
  }
  // The old directory goes aside first, so that a failure leaves one of
  // the two complete in place.
  const fs::path aside = Sibling(target_, "old");
  fs::remove(aside, ec);
  if (::rename(target_.c_str(), aside.c_str()) != 0) {
    throw ToolError("cannot move " + target_.string() + " aside: " + std::strerror(errno));
  }
  if (::rename(staging_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    ::rename(aside.c_str(), target_.c_str());
    throw ToolError("cannot move the results into " + target_.string() + ": " + std::strerror(error));
  }
  committed_ = true;
  fs::remove_all(aside, ec);
}

}  // namespace korvelan::tools
