// Fuzzes the list-directed reader: arbitrary bytes as the data of a few
// input statements. A Termination is the expected outcome of bad input;
// a crash, a hang, a sanitizer report or any other exception is a finding.
//
// Layout of the input: byte 0 picks the number of integer statements (0-3),
// byte 1 the length of the real statement (0-255), byte 2 the size of the
// pieces the source hands out (0: all at once). The rest is the data.
//
// Every input is read three times, whole and in pieces, and in pieces with
// the plain-text path (1 .. 4 threads, from the top bits of byte 0) for the
// sink's statement: the readings must end the same way with the same
// values, whatever the refill boundaries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "textio/list_input.h"
#include "textio/termination.h"

namespace {

using korvelan::textio::ByteSource;
using korvelan::textio::ListReader;
using korvelan::textio::StringSource;
using korvelan::textio::Termination;

class Sink : public ListReader::RealSink {
 public:
  explicit Sink(std::vector<std::uint32_t>& out) : out_(out) {}
  void Put(std::size_t index, float value) override {
    if (index >= out_.size()) std::abort();
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    out_[index] = bits;
  }

 private:
  std::vector<std::uint32_t>& out_;
};

// Everything observable about one reading: the values (as bits, so that
// NaN-free comparisons are exact) and the report of the ending.
struct Outcome {
  std::vector<std::uint32_t> values;
  std::string report;
  bool operator==(const Outcome&) const = default;
};

// threads > 0: the sink's statement goes through the plain-text path on
// that many threads.
Outcome ReadAll(std::unique_ptr<ByteSource> source, int integers, std::size_t reals,
                unsigned threads = 0) {
  Outcome o;
  ListReader reader(std::move(source), 10, "/fuzz/data.txt");
  try {
    for (int i = 0; i < integers; ++i) {
      std::int32_t v = 7;
      reader.ReadInteger(v);
      o.values.push_back(static_cast<std::uint32_t>(v));
    }
    std::vector<float> targets(reals, 1.0f);
    reader.ReadReals(targets);
    for (float f : targets) {
      std::uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      o.values.push_back(bits);
    }
    std::vector<std::uint32_t> sunk(reals / 2 + 1, 0);
    Sink sink(sunk);
    if (threads > 0) {
      reader.ReadReals(sunk.size(), sink, threads);
    } else {
      reader.ReadReals(sunk.size(), sink);
    }
    o.values.insert(o.values.end(), sunk.begin(), sunk.end());
    std::int32_t last = 0;
    reader.ReadInteger(last);
    o.values.push_back(static_cast<std::uint32_t>(last));
  } catch (const Termination& t) {
    const int n = t.SevereNumber();
    if (n != 24 && n != 59 && n != 64) std::abort();
    o.report = t.ReportLine();
  }
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int integers = data[0] % 4;
  const std::size_t reals = data[1];
  const std::size_t step = data[2] % 16;
  const std::string bytes(reinterpret_cast<const char*>(data) + 3, size - 3);

  const Outcome whole = ReadAll(StringSource(bytes), integers, reals);
  const Outcome pieces = ReadAll(StringSource(bytes, step), integers, reals);
  if (!(whole == pieces)) std::abort();
  const Outcome plain = ReadAll(StringSource(bytes, step), integers, reals,
                                static_cast<unsigned>(1 + data[0] / 4 % 4));
  if (!(whole == plain)) std::abort();
  return 0;
}
