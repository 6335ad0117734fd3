// Fuzzes the console answers: arbitrary bytes as standard input, read by
// one integer statement after another, as the dialogue does, until the
// first condition (which would end the run).
//
// Byte 0 picks the size of the pieces the source hands out (a terminal
// gives a line at a time, a pipe what it has); the rest is the input.
//
// Three readings must agree statement by statement: the reader on the whole
// input, the reader on the input in pieces, and the record-by-record model
// of list_model.h. Conditions other than 24, 59 and 64, other exceptions,
// crashes and sanitizer reports are findings.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/list_model.h"
#include "textio/list_input.h"
#include "textio/termination.h"

namespace {

using korvelan::textio::ByteSource;
using korvelan::textio::ListReader;
using korvelan::textio::StringSource;
using korvelan::textio::Termination;

// More statements than the dialogue ever asks; each one consumes a record,
// so the input runs out long before this on most inputs.
constexpr int kMaxStatements = 64;
constexpr std::int32_t kInitial = 12345;  // shows a target left alone

// What each statement left in the target, then the condition that ended
// the reading (0 when all statements succeeded).
struct Outcome {
  std::vector<std::int32_t> values;
  int condition = 0;
  bool operator==(const Outcome&) const = default;
};

Outcome ReadWithReader(std::unique_ptr<ByteSource> source) {
  Outcome o;
  ListReader reader(std::move(source), -4, "CONIN$");
  std::int32_t target = kInitial;
  try {
    for (int i = 0; i < kMaxStatements; ++i) {
      reader.ReadInteger(target);
      o.values.push_back(target);
    }
  } catch (const Termination& t) {
    o.condition = t.SevereNumber();
    if (t.ReportLine().find("unit -4, file CONIN$") == std::string::npos) std::abort();
  }
  return o;
}

Outcome ReadWithModel(std::string_view input) {
  Outcome o;
  korvelan::fuzzmodel::Reader reader(input);
  std::int32_t target = kInitial;
  try {
    for (int i = 0; i < kMaxStatements; ++i) {
      reader.Statement(1, korvelan::fuzzmodel::ToInteger,
                       [&target](std::size_t, std::int32_t v) { target = v; });
      o.values.push_back(target);
    }
  } catch (const korvelan::fuzzmodel::Failure& f) {
    o.condition = f.condition;
  }
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t step = data[0] % 16 + 1;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  const Outcome whole = ReadWithReader(StringSource(bytes));
  const Outcome pieces = ReadWithReader(StringSource(bytes, step));
  const Outcome model = ReadWithModel(bytes);
  if (!(whole == pieces) || !(whole == model)) std::abort();
  if (whole.condition != 0 && whole.condition != 24 && whole.condition != 59 &&
      whole.condition != 64) {
    std::abort();
  }
  return 0;
}
