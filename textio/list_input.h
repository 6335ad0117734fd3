// List-directed input: the token reader behind every console answer and
// the whole contents of "data.txt" and "weights.txt".
//
// A statement starts at the beginning of a new record (whatever was left on
// the previous statement's line is skipped) and reads its first record as
// soon as it starts, even when its list is empty. Records end at LF; a CR
// immediately before the LF is dropped; a last line without LF is a record;
// records have no length limit. Separators: blanks, tabs, a comma, the end
// of a record. Values: numbers (optional sign, digits with at most one
// point, an optional exponent letter E, D or Q in either case followed by an
// optionally signed integer; at least one digit), r*value, r* (r nulls), a
// null value (an empty place between commas, or a comma with no value
// before it since the statement began), logical tokens (T or F, either case,
// optionally after a period, running to the next separator: true = -1,
// false = 0). A slash ends the statement: the rest of the list keeps its
// values. A null value leaves its target unchanged.
//
// Failures throw Termination::SevereIo with the reader's unit and name:
// 24 when the data ends before the list is filled (also for a statement
// with an empty list when no record is left), 59 for a token that is not a
// value (a word, "12abc", "1.0+5", "1e", a repeat count of 0 or with a
// sign), 64 for a value the target cannot hold (an integer beyond 32 bits,
// also through a point or exponent such as 3e9; a real whose nearest float
// is infinite, such as 1e39; a repeat count beyond 2147483647). Underflow
// is not an error: the correctly rounded value (a subnormal or a signed
// zero). Tokens after the last value a statement needs are not looked at.
#ifndef KORVELAN_TEXTIO_LIST_INPUT_H_
#define KORVELAN_TEXTIO_LIST_INPUT_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace korvelan::textio {

// Where the bytes come from. Read() fills up to `size` bytes and returns the
// count, 0 at the end of the data; it may return fewer bytes than asked for
// (a terminal gives a line at a time).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;
};

// Reads a descriptor it does not own (never closes it); retries after EINTR
// and waits on a non-blocking descriptor. A read error ends the data, so the
// statement fails with the end-of-file condition (24).
std::unique_ptr<ByteSource> FileDescriptorSource(int fd);
// The given bytes, for tests and in-memory data. Each Read() hands out at
// most `max_read` bytes (0 counts as 1), so tests and fuzzers can put the
// reader's chunk boundaries anywhere inside tokens and records.
std::unique_ptr<ByteSource> StringSource(std::string bytes, std::size_t max_read = SIZE_MAX);

class ListReader {
 public:
  // `unit` and `name` are what the reports show: the channel number and the
  // file's full path (FullPath), or kConsoleInputUnit and "CONIN$". Keep one
  // reader per channel for the whole run: it reads ahead in large chunks,
  // and bytes it has taken from the source belong to later statements.
  ListReader(std::unique_ptr<ByteSource> source, int unit, std::string name);
  ~ListReader();
  ListReader(ListReader&&) noexcept;
  ListReader& operator=(ListReader&&) noexcept;

  // One statement with one 32-bit integer target. A token without point or
  // exponent is an integer; one with either is converted as a double and
  // truncated toward zero; outside the 32-bit range it is condition 64.
  void ReadInteger(std::int32_t& target);

  // One statement filling `targets` in order, each converted to the nearest
  // float.
  void ReadReals(std::span<float> targets);

  // The same statement over `count` targets that are not in one array: each
  // value read is handed to sink.Put(index, value), index 0 .. count-1 in
  // list order; nulls and the slash skip their indices.
  class RealSink {
   public:
    virtual ~RealSink() = default;
    virtual void Put(std::size_t index, float value) = 0;
    // values[k] goes to index first + k. Only the ReadReals below with
    // more than one thread calls it, then from several threads at once for
    // disjoint ranges: a sink used there must allow that.
    virtual void PutRange(std::size_t first, std::span<const float> values) {
      for (std::size_t k = 0; k < values.size(); ++k) Put(first + k, values[k]);
    }
  };
  void ReadReals(std::size_t count, RealSink& sink);

  // The same statement for a long list, with the same values, reports and
  // position afterwards: runs of plain text (blanks, tabs, record ends and
  // plain numbers, see plain_reals.h) are read ahead in large blocks, each
  // cut at separators into `threads` pieces scanned side by side and
  // handed to sink.PutRange; from the first token that is not plain the
  // general reader goes on.
  void ReadReals(std::size_t count, RealSink& sink, unsigned threads);

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_LIST_INPUT_H_
