#include "common/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

std::string Reason(int error) { return std::generic_category().message(error); }

// Closes the descriptor on every path out of the writer.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now and reports the close's own failure (NFS and full disks can
  // report a lost write only here).
  int Close() {
    int result = ::close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

}  // namespace

std::string ReadWholeFile(const std::filesystem::path& path) {
  // No retry on EINTR: only a handler installed without SA_RESTART makes
  // open() or read() fail so, and that is a program asking a read that may
  // never end (a FIFO without a writer) to give up.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == EINTR)
      throw ToolError("opening " + path.string() + " was interrupted", ErrorKind::kStopped);
    throw ToolError("cannot open " + path.string() + ": " + Reason(errno));
  }
  // Read straight into the string, sized from the file's length (one byte
  // more, so that the read that sees the end needs no growth); pipes and
  // files that grow meanwhile double it. Appending from a small buffer cost
  // a copy and a reallocation (with fresh pages) per doubling.
  struct stat info {};
  std::size_t size = std::size_t{1} << 16;
  if (::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
    size = static_cast<std::size_t>(info.st_size) + 1;
  std::string bytes(size, '\0');
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) bytes.resize(bytes.size() * 2);
    ssize_t got = ::read(fd.get(), bytes.data() + used, bytes.size() - used);
    if (got < 0) {
      if (errno == EINTR)
        throw ToolError("reading " + path.string() + " was interrupted", ErrorKind::kStopped);
      throw ToolError("cannot read " + path.string() + ": " + Reason(errno));
    }
    if (got == 0) break;
    used += static_cast<std::size_t>(got);
  }
  bytes.resize(used);
  return bytes;
}

FileSet::~FileSet() {
  for (const Staged& file : staged_) ::unlink(file.temporary.c_str());
}

void FileSet::Commit() {
  while (!staged_.empty()) {
    const Staged& file = staged_.front();
    if (::rename(file.temporary.c_str(), file.target.c_str()) != 0) {
      throw ToolError("cannot write " + file.target.string() + ": " + Reason(errno));
    }
    staged_.erase(staged_.begin());
  }
}

void WriteFileAtomically(const std::filesystem::path& path, std::string_view contents) {
  FileSet file;
  file.Stage(path, contents);
  file.Commit();
}

void FileSet::Stage(const std::filesystem::path& path, std::string_view contents) {
  std::string temporary = path.string();
  temporary += ".partial-XXXXXX";
  std::vector<char> name(temporary.begin(), temporary.end());
  name.push_back('\0');
  Descriptor fd(::mkstemp(name.data()));
  if (fd.get() < 0) {
    throw ToolError("cannot write " + path.string() + ": " + Reason(errno));
  }
  auto fail = [&](int error) {
    ::unlink(name.data());
    throw ToolError("cannot write " + path.string() + ": " + Reason(error));
  };
  // mkstemp creates the file 0600; the results are ordinary user files.
  mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(fd.get(), 0666 & ~mask) != 0) fail(errno);
  const char* next = contents.data();
  std::size_t left = contents.size();
  while (left > 0) {
    ssize_t done = ::write(fd.get(), next, left);
    if (done < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    next += done;
    left -= static_cast<std::size_t>(done);
  }
  if (::fsync(fd.get()) != 0 && errno != EINVAL) fail(errno);
  if (fd.Close() != 0) fail(errno);
  staged_.push_back({path, std::string(name.data())});
}

}  // namespace korvelan::tools
