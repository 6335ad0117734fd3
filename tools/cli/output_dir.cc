#include "tools/cli/output_dir.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

#include "common/tool_error.h"

namespace korvelan::tools {
namespace fs = std::filesystem;

namespace {

[[noreturn]] void Refuse(const std::string& message) {
  throw ToolError(message, ErrorKind::kUsage);
}

void RefuseExisting(const fs::path& target) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(target, ec))) {
    Refuse(target.string() +
           " already exists; choose another -o directory or add --force to replace it");
  }
}

// Whether `inner` is `outer` or lies below it (both canonical).
bool Within(const fs::path& inner, const fs::path& outer) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

fs::path Canonical(const fs::path& path) {
  std::error_code ec;
  fs::path canonical = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::absolute(path).lexically_normal() : canonical;
}

// The name the directory is renamed to: "out/" and "a/b/.." are "out" and
// "a"; ".", ".." and "/" have no name of their own and stand for their
// full path (which the working-directory check then refuses).
fs::path TargetPath(const fs::path& given) {
  fs::path target = given.lexically_normal();
  if (!target.has_filename()) target = target.parent_path();
  if (target.empty() || target.filename() == "." || target.filename() == ".." ||
      target == target.root_path()) {
    return Canonical(given);
  }
  return target;
}

// The refusals of a replacement: anything but this program's own files,
// and any file the run reads.
void CheckReplaceable(const fs::path& target, std::span<const fs::path> inputs) {
  const fs::path where = Canonical(target);
  for (const fs::path& input : inputs) {
    if (Within(Canonical(input), where)) {
      Refuse("-o " + target.string() + " holds the input " + input.string() +
             "; write the results to another directory");
    }
  }
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(target, ec)) {
    const std::string name = entry.path().filename().string();
    const bool own = std::find(kOwnFiles.begin(), kOwnFiles.end(), name) != kOwnFiles.end();
    if (!own || !fs::is_regular_file(entry.symlink_status(ec))) {
      Refuse("--force replaces only a results directory, and " + target.string() + " holds " +
             name + "; choose another -o directory");
    }
  }
  if (ec) Refuse("cannot list " + target.string() + ": " + ec.message());
}

fs::path Sibling(const fs::path& target, const char* kind) {
  fs::path parent = target.parent_path();
  if (parent.empty()) parent = ".";
  std::string pattern =
      (parent / ("." + target.filename().string() + "." + kind + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw ToolError("cannot create a directory beside " + target.string() + ": " +
                    std::strerror(errno));
  }
  return pattern;
}

}  // namespace

StagedDirectory::StagedDirectory(const fs::path& target, bool replace,
                                 std::span<const fs::path> inputs)
    : replace_(replace) {
  if (target.empty()) Refuse("-o needs a directory name");
  target_ = TargetPath(target);
  if (Within(Canonical(fs::current_path()), Canonical(target_))) {
    Refuse("-o " + target.string() +
           " is the working directory or holds it; name a directory below it");
  }
  if (!replace_) RefuseExisting(target_);
  std::error_code ec;
  if (fs::exists(target_, ec)) {
    if (!fs::is_directory(target_, ec)) Refuse(target_.string() + " exists and is not a directory");
    CheckReplaceable(target_, inputs);
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

std::vector<fs::path> StagedDirectory::Leftovers() const {
  std::vector<fs::path> found;
  const std::string stem = "." + target_.filename().string() + ".";
  fs::path parent = target_.parent_path();
  if (parent.empty()) parent = ".";
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(parent, ec)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(stem) || entry.path() == staging_) continue;
    const std::string_view kind = std::string_view(name).substr(stem.size());
    if ((kind.starts_with("partial-") || kind.starts_with("old-")) &&
        kind.find('-') + 7 == kind.size()) {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
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
  fs::permissions(staging_,
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec,
                  ec);
  if (!replace_ || !fs::exists(target_, ec)) {
    if (!replace_) RefuseExisting(target_);
    if (::rename(staging_.c_str(), target_.c_str()) != 0) {
      throw ToolError("cannot move the results into " + target_.string() + ": " +
                      std::strerror(errno));
    }
    committed_ = true;
    return;
  }
  // Files may have come into the directory while the analysis ran.
  CheckReplaceable(target_, {});
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
    throw ToolError("cannot move the results into " + target_.string() + ": " +
                    std::strerror(error));
  }
  committed_ = true;
  // Only this program's files go; anything that came in since the check
  // keeps the old directory, which the next run then names as a leftover.
  // A target that was a symbolic link went aside as the link: only the link
  // goes, the directory it names is left alone.
  if (!fs::is_symlink(fs::symlink_status(aside, ec))) {
    for (std::string_view name : kOwnFiles) fs::remove(aside / name, ec);
  }
  fs::remove(aside, ec);
}

}  // namespace korvelan::tools
