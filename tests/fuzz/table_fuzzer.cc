// Fuzzes the table reader against the reader it replaced (libcsv, a string
// per field: tests/common/table_oracle.h): for any text and delimiter both
// must give the same columns, the same rows with the same lines and
// fields, or the same message. Any difference is a finding.
//
// Layout of the input: byte 0 picks the delimiter (low 2 bits: detected,
// tab, comma, semicolon); the rest is the table's text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "common/table.h"
#include "common/tool_error.h"
#include "tests/common/table_oracle.h"

namespace {

namespace tools = korvelan::tools;
using tools::oracle::Outcome;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  static const char kDelimiters[] = {'\0', '\t', ',', ';'};
  std::optional<char> delimiter;
  if (const int d = data[0] & 3; d != 0) delimiter = kDelimiters[d];
  std::string mine;
  std::string theirs;
  try {
    mine = Outcome(tools::ParseTable(text, "t", delimiter));
  } catch (const tools::ToolError& e) {
    mine = std::string("error: ") + e.what();
  }
  try {
    theirs = Outcome(tools::oracle::ParseTableByCsvLibrary(text, "t", delimiter));
  } catch (const tools::ToolError& e) {
    theirs = std::string("error: ") + e.what();
  }
  if (mine != theirs) std::abort();
  return 0;
}
