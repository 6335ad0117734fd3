#include "textio/channels.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "textio/fd_io.h"
#include "textio/list_output.h"
#include "textio/termination.h"

namespace korvelan::textio {
namespace {

// Results bytes are handed to the system in pieces of at least this size.
constexpr std::size_t kResultsBuffer = 1 << 20;

thread_local bool t_holds_output_lock = false;

// The handshake between a results file that starts to be written and an
// interrupt that ends the process without the output lock. Both sides store
// their own flag, then read the other's (sequentially consistent), so at
// least one of them sees the other: either the interrupt waits for the file,
// or the file is never begun.
std::atomic<bool> g_results_writing{false};
std::atomic<bool> g_interrupt_ending{false};

// The registry of open descriptors. A results file is listed with its
// object, so that an ending can write out what it still buffers.
struct OpenFile {
  int fd;
  ResultsFile* results;  // null for input files
};

std::mutex& RegistryMutex() {
  static std::mutex m;
  return m;
}
std::vector<OpenFile>& Registry() {
  static std::vector<OpenFile> r;
  return r;
}

void Register(int fd, ResultsFile* results) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  Registry().push_back({fd, results});
}

// Removes `fd` from the registry; false when it was not there (an ending
// has closed it already).
bool Unregister(int fd) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& r = Registry();
  auto it = std::find_if(r.begin(), r.end(), [fd](const OpenFile& f) { return f.fd == fd; });
  if (it == r.end()) return false;
  r.erase(it);
  return true;
}

// Keeps descriptors 0, 1 and 2 free: when standard output is closed, a file
// opened now would otherwise take its number and receive the console lines.
int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > 2) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
  const int saved = errno;
  close(fd);
  errno = saved;
  return moved;
}

std::string StandardOutputError(int err) {
  return "KORVELAN: error writing standard output: " + std::string(std::strerror(err));
}

void WriteConsole(const std::vector<std::string>& records) {
  std::string bytes;
  for (const std::string& r : records) {
    bytes += r;
    bytes += "\r\n";
  }
  int err;
  if (t_holds_output_lock) {
    err = internal::WriteAll(STDOUT_FILENO, bytes);
  } else {
    std::lock_guard<std::mutex> lock(OutputLock());
    err = internal::WriteAll(STDOUT_FILENO, bytes);
  }
  if (err != 0) throw Termination::Message(StandardOutputError(err), 1);
}

bool IsRefusal(int err) {
  return err == EACCES || err == EPERM || err == EROFS || err == EISDIR || err == ETXTBSY;
}

}  // namespace

namespace internal {

int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return EIO;  // no progress and no reason given
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return 0;
}

bool ThisThreadHoldsOutputLock() { return t_holds_output_lock; }

bool StopResultsForInterrupt() {
  g_interrupt_ending.store(true);
  return g_results_writing.load();
}

std::string CloseRegisteredFiles(bool checked) {
  std::vector<OpenFile> files;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    files.swap(Registry());
  }
  std::string first_error;
  for (const OpenFile& f : files) {
    int err = 0;
    if (f.results != nullptr) err = f.results->FlushForEnding();
    const int closed = ::close(f.fd);
    if (err == 0 && closed != 0 && errno != EINTR) err = errno;
    if (checked && err != 0 && f.results != nullptr && first_error.empty()) {
      first_error = f.results->WriteErrorLine(err);
    }
  }
  return first_error;
}

}  // namespace internal

std::mutex& OutputLock() {
  static std::mutex m;
  return m;
}

void ConsoleWrite(std::string_view text) { WriteConsole(ListRecords(text)); }

void ConsoleWrite(std::string_view text, std::int32_t value) {
  WriteConsole(ListRecords(text, value));
}

void ConsoleWrite(std::string_view text, double value) { WriteConsole(ListRecords(text, value)); }

void ConsoleFormatted(std::string_view line) {
  WriteConsole(std::vector<std::string>{std::string(line)});
}

std::string FullPath(std::string_view name) {
  std::vector<char> buf(4096);
  for (;;) {
    if (::getcwd(buf.data(), buf.size()) != nullptr) {
      std::string path(buf.data());
      if (path.empty() || path.back() != '/') path += '/';
      path += name;
      return path;
    }
    if (errno != ERANGE || buf.size() > (1u << 20)) return std::string(name);
    buf.resize(buf.size() * 2);
  }
}

int OpenInputFile(std::string_view name, int unit) {
  const std::string file(name);
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0 && IsRefusal(errno) && errno != EISDIR) {
    fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      // The retry can only fail because the first attempt was refused: a
      // missing file that may not be created is a refusal too.
      const Severe n = errno == ENOTDIR                        ? Severe::kFileNotFound
                       : (IsRefusal(errno) || errno == ENOENT) ? Severe::kPermission
                                                               : Severe::kOpenFailure;
      throw Termination::SevereIo(n, unit, FullPath(name));
    }
  }
  if (fd < 0) {
    const Severe n = errno == EISDIR                         ? Severe::kPermission
                     : (errno == ENOENT || errno == ENOTDIR) ? Severe::kFileNotFound
                                                             : Severe::kOpenFailure;
    throw Termination::SevereIo(n, unit, FullPath(name));
  }
  fd = AboveStandardStreams(fd);
  if (fd < 0) throw Termination::SevereIo(Severe::kOpenFailure, unit, FullPath(name));
  Register(fd, nullptr);
  return fd;
}

ResultsFile::ResultsFile(std::string_view name, int unit) : unit_(unit), path_(FullPath(name)) {
  const std::string file(name);
  // No O_TRUNC: an old file stays whole until the new results are ended.
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    const Severe n = IsRefusal(errno)                        ? Severe::kPermission
                     : (errno == ENOENT || errno == ENOTDIR) ? Severe::kFileNotFound
                                                             : Severe::kOpenFailure;
    throw Termination::SevereIo(n, unit_, path_);
  }
  fd = AboveStandardStreams(fd);
  if (fd < 0) throw Termination::SevereIo(Severe::kOpenFailure, unit_, path_);
  fd_ = fd;
  Register(fd_, this);
}

ResultsFile::~ResultsFile() {
  if (fd_ >= 0) {
    std::unique_lock<std::mutex> lock;
    if (!t_holds_output_lock) lock = std::unique_lock<std::mutex>(OutputLock());
    if (Unregister(fd_)) {
      FlushForEnding();
      ::close(fd_);
    }
    fd_ = -1;
  }
  ReleaseLock();
}

void ResultsFile::BeginWriting() {
  if (lock_.owns_lock()) return;
  lock_ = std::unique_lock<std::mutex>(OutputLock());
  g_results_writing.store(true);
  if (g_interrupt_ending.load()) {
    // An interrupt is ending the process without the output lock: leave the
    // file as it was and let the interrupt finish (it may be waiting for
    // this lock, having seen the flag above).
    g_results_writing.store(false);
    lock_.unlock();
    for (;;) ::pause();
  }
  t_holds_output_lock = true;
}

void ResultsFile::ReleaseLock() {
  if (lock_.owns_lock()) {
    t_holds_output_lock = false;
    g_results_writing.store(false);
    lock_.unlock();
  }
}

void ResultsFile::Write(std::string_view bytes) {
  BeginWriting();
  if (fd_ < 0) throw Termination::Message(WriteErrorLine(EBADF), 1);
  if (buffer_.size() + bytes.size() <= kResultsBuffer) {
    buffer_ += bytes;
    return;
  }
  WriteOut(buffer_);
  buffer_.clear();
  if (bytes.size() >= kResultsBuffer) {
    WriteOut(bytes);
  } else {
    buffer_ += bytes;
  }
}

void ResultsFile::WriteOut(std::string_view bytes) {
  const int err = internal::WriteAll(fd_, bytes);
  if (err != 0) throw Termination::Message(WriteErrorLine(err), 1);
  written_ += bytes.size();
}

void ResultsFile::EndAndClose() {
  BeginWriting();
  if (fd_ < 0) throw Termination::Message(WriteErrorLine(EBADF), 1);
  WriteOut(buffer_);
  buffer_.clear();
  int err = 0;
  // Cut off whatever an earlier, longer file held beyond the new contents.
  // Only a regular file has a length to cut: a pipe or a device standing in
  // for the results file is not a failed write.
  struct stat st {};
  const bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  while (regular && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
    if (errno != EINTR) {
      err = errno;
      break;
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (Unregister(fd) && ::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
  if (err != 0) throw Termination::Message(WriteErrorLine(err), 1);
  ReleaseLock();
}

int ResultsFile::FlushForEnding() {
  if (buffer_.empty()) return 0;
  const int err = internal::WriteAll(fd_, buffer_);
  if (err == 0) written_ += buffer_.size();
  buffer_.clear();
  return err;
}

std::string ResultsFile::WriteErrorLine(int err) const {
  return "KORVELAN: error writing unit " + std::to_string(unit_) + ", file " + path_ + ": " +
         std::strerror(err);
}

void CloseAllFiles() { internal::CloseRegisteredFiles(false); }

}  // namespace korvelan::textio
