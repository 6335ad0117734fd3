// Fuzzes korvelan-meta's readers and the meta layer: arbitrary bytes as one
// input file in every shape, and whatever studies come out through a short
// analysis. A ToolError or std::invalid_argument is the expected outcome of
// bad input, and its message must come out of MessageLine as one line of
// bounded length with no control byte and well-formed UTF-8; a crash, a
// hang, a sanitizer report, any other exception or an unsafe message is a
// finding.
//
// Layout of the input: byte 0 picks the shape (low 3 bits: detected, list,
// columns, rows, long, a study table, a universe file of ids, a study
// sheet) and the delimiter (next 2 bits: detected, tab, comma, semicolon);
// byte 1 the duplicates rule (low 2 bits), --absent below (bit 2) and the
// weights (bit 3: 1, 2, 3, ...). The rest is the file. A sheet is written
// to a scratch folder beside a list a.txt and a table t.tsv that its rows
// may name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "korvelan/meta.h"
#include "textio/utf8.h"
#include "tools/cli/message_text.h"
#include "common/meta_input.h"
#include "common/meta_sheet.h"
#include "common/tool_error.h"

namespace {

using korvelan::Duplicates;
namespace tools = korvelan::tools;

void CheckMessage(const char* what) {
  const std::string line = tools::MessageLine(what);
  if (line.size() > tools::kMessageLimit + 4) std::abort();
  for (unsigned char c : line) {
    if (c < 0x20 || c == 0x7F) std::abort();
  }
  if (korvelan::textio::FirstInvalidUtf8(line) != std::string_view::npos) std::abort();
}

// A scratch folder, made once, holding the files a sheet's rows may name.
const std::filesystem::path& SheetFolder() {
  static const std::filesystem::path folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "meta-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    std::ofstream(std::filesystem::path(pattern) / "a.txt") << "x\ny\nz\n";
    std::ofstream(std::filesystem::path(pattern) / "t.tsv")
        << "gene\tlogFC\tP.Value\nx\t1.5\t0.01\ny\t-2\t0.2\n";
    return std::filesystem::path(pattern);
  }();
  return folder;
}

std::vector<korvelan::Study> ReadSheet(std::string_view text, std::optional<char> delimiter,
                                       Duplicates duplicates) {
  const std::filesystem::path sheet = SheetFolder() / "sheet.tsv";
  std::ofstream(sheet, std::ios::binary | std::ios::trunc) << text;
  tools::SheetDefaults defaults;
  defaults.delimiter = delimiter;
  defaults.duplicates = duplicates;
  return tools::ReadStudySheet(sheet, defaults).studies;
}

// A study table's effects go to `effects`, so that the analysis gives its
// direction columns too.
std::vector<korvelan::Study> Read(std::string_view text, std::uint8_t shape_byte,
                                  Duplicates duplicates,
                                  std::vector<korvelan::StudyEffects>& effects) {
  static const char kDelimiters[] = {'\0', '\t', ',', ';'};
  std::optional<char> delimiter;
  if (const int d = (shape_byte >> 3) & 3; d != 0) delimiter = kDelimiters[d];
  const std::string source = "in.txt";
  switch (shape_byte & 7) {
    case 1: {
      std::vector<korvelan::Study> studies{tools::ParseList(text, source, "a", duplicates)};
      studies.push_back(studies.front());
      studies.back().name = "b";
      return studies;
    }
    case 2: return tools::ParseColumns(text, source, delimiter, duplicates);
    case 3: return tools::ParseRows(text, source, delimiter, duplicates);
    case 4: {
      tools::MetaReadOptions options;
      options.shape = tools::InputShape::kLong;
      options.delimiter = delimiter;
      options.duplicates = duplicates;
      return tools::ParseLong(text, source, options);
    }
    case 5: {
      // Columns found from the header, as when no column option is given.
      tools::MetaReadOptions options;
      options.shape = tools::InputShape::kTables;
      options.delimiter = delimiter;
      options.duplicates = duplicates;
      tools::TableFacts facts;
      std::vector<korvelan::Study> studies{
          tools::ParseStudyTable(std::string(text), source, "a", options, facts)};
      const std::size_t ids = studies.front().ids.size();
      for (const std::vector<double>* per_id :
           {&facts.effects.effects, &facts.effects.fold_changes}) {
        if (!per_id->empty() && per_id->size() != ids) std::abort();
      }
      studies.push_back(studies.front());
      studies.back().name = "b";
      effects = {facts.effects, facts.effects};
      return studies;
    }
    case 6: {
      const std::vector<std::string> ids = tools::ReadUniverseIds(text, source);
      return {korvelan::Study{"a", ids, {}}, korvelan::Study{"b", ids, {}}};
    }
    case 7: return ReadSheet(text, delimiter, duplicates);
    default: {
      const std::vector<std::string> texts{std::string(text), std::string(text)};
      const std::vector<std::string> sources{"a.txt", "b.txt"};
      (void)tools::DetectShape(texts, sources);
      return tools::ParseColumns(text, source, delimiter, duplicates);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  const auto duplicates = static_cast<Duplicates>(data[1] & 3);
  try {
    korvelan::MetaOptions options;
    const std::vector<korvelan::Study> studies = Read(text, data[0], duplicates, options.effects);
    options.duplicates = duplicates;
    options.absent = (data[1] & 4) != 0 ? korvelan::Absent::kBelow : korvelan::Absent::kMissing;
    if ((data[1] & 8) != 0) {
      for (std::size_t j = 0; j < studies.size(); ++j)
        options.weights.push_back(static_cast<double>(j + 1));
    }
    options.runs = 3;
    options.seed = 1;
    (void)korvelan::RunMeta(studies, options);
  } catch (const tools::ToolError& error) {
    CheckMessage(error.what());
  } catch (const std::invalid_argument& error) {
    CheckMessage(error.what());
  }
  return 0;
}
