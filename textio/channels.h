// The channels of the program: console output, the input files, the
// results file, and the registry of open files that every ending closes.
//
// Every console write here is complete and handed to the operating system
// when the call returns (no buffering in the process). A write or close that
// fails (full disk, file-size limit, closed standard output, broken pipe;
// short writes and EINTR are carried on) throws
// Termination::Message("KORVELAN: error writing unit 3, file PATH: REASON", 1)
// (or "KORVELAN: error writing standard output: REASON"), REASON being
// strerror(errno): a failed write is never a success.
//
// Writes hold the process-wide output lock, so that the interrupt thread
// never cuts a record in half, and never ends the process while the results
// file is being written (it waits until the file is complete and closed).
#ifndef KORVELAN_TEXTIO_CHANNELS_H_
#define KORVELAN_TEXTIO_CHANNELS_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

namespace korvelan::textio {

// The lock held by every writer and by the interrupt thread. Do not call the
// console writers while holding it yourself (they would lock it again);
// holding it through ResultsFile::BeginWriting is recognised and allowed.
std::mutex& OutputLock();

// One list-directed output statement on standard output: the records of
// ListRecords(...), each ended with CR LF, written and flushed.
void ConsoleWrite(std::string_view text);
void ConsoleWrite(std::string_view text, std::int32_t value);
void ConsoleWrite(std::string_view text, double value);
// One formatted record on standard output exactly as given, plus CR LF (the
// numerical library's reports; "" gives an empty line).
void ConsoleFormatted(std::string_view line);

// The full path shown in reports for a file of the working directory:
// working directory + "/" + name (the name itself when the working directory
// cannot be found).
std::string FullPath(std::string_view name);

// Opens an input file of the working directory for one list-directed read:
// read-write with create, retried read-only when refused. A directory of
// that name, or a refused retry, is condition 9; a missing path component
// 29; any other failure 30 (thrown as Termination::SevereIo with `unit` and
// the full path). A missing file that the read-only retry cannot find (the
// directory refuses the create) is 9 as well. The descriptor is registered
// and closed by every ending; the caller never closes it (FileDescriptorSource
// does not own it). It is never 0, 1 or 2, even when those are closed.
int OpenInputFile(std::string_view name, int unit);

namespace internal {
std::string CloseRegisteredFiles(bool checked);
}  // namespace internal

// The results file: opened without truncation (an existing file keeps its
// contents until it is written and ended), written from its start, then
// ended at the current position and closed.
class ResultsFile {
 public:
  // Opens (creating if missing) for writing. Refused: condition 9 (also a
  // directory of that name); missing path component 29; otherwise 30.
  ResultsFile(std::string_view name, int unit);
  ~ResultsFile();
  ResultsFile(const ResultsFile&) = delete;
  ResultsFile& operator=(const ResultsFile&) = delete;

  // Takes the output lock until Close() returns (or the object dies), so an
  // interrupt that arrives meanwhile takes effect once the file is closed.
  void BeginWriting();
  // Appends bytes (whole records, line ends included) to the file. Takes
  // the output lock first if BeginWriting() has not. Bytes are buffered up
  // to 1 MiB and handed over in large pieces; larger pieces go straight
  // through. A failed write throws the "error writing unit" message above
  // (status 1).
  void Write(std::string_view bytes);
  // Writes what is buffered, cuts the file at the current position, closes
  // it and releases the output lock.
  void EndAndClose();

  const std::string& path() const { return path_; }
  int unit() const { return unit_; }

  // "KORVELAN: error writing unit U, file PATH: " + strerror(err).
  std::string WriteErrorLine(int err) const;

 private:
  friend std::string internal::CloseRegisteredFiles(bool checked);
  void WriteOut(std::string_view bytes);
  void ReleaseLock();
  // Writes the buffered bytes (for the endings); returns 0 or the errno.
  int FlushForEnding();

  int fd_ = -1;
  int unit_;
  std::string path_;
  std::string buffer_;
  std::unique_lock<std::mutex> lock_;
  std::uint64_t written_ = 0;
};

// Closes every registered descriptor (input files, the results file), for
// the endings; a results file first writes out what it buffers. Errors are
// ignored here (NormalEnd checks them). Safe to call more than once.
void CloseAllFiles();

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_CHANNELS_H_
