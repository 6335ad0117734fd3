#include "tools/report/results_file.h"

#include <cmath>
#include <optional>
#include <unordered_set>

#include "textio/results_legend.h"
#include "common/number_text.h"
#include "common/tool_error.h"

namespace korvelan::tools {
namespace {

constexpr std::array<std::size_t, 9> kWidths = {7, 24, 24, 24, 24, 24, 24, 24, 24};
constexpr std::array<std::string_view, 9> kFieldNames = {
    "line number",
    "R-mean",
    "right-sided P-value for R-mean",
    "left-sided P-value for R-mean",
    "right-sided P-value for R-weighted mean",
    "left-sided P-value for R-weighted mean",
    "Q",
    "right-sided P-value for Q",
    "left-sided P-value for Q",
};

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

// The records of the text: split at LF, a CR just before the LF dropped.
std::vector<std::string_view> Records(std::string_view text) {
  std::vector<std::string_view> records;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    std::string_view record =
        text.substr(start, end == std::string_view::npos ? text.npos : end - start);
    if (!record.empty() && record.back() == '\r' && end != std::string_view::npos) {
      record.remove_suffix(1);
    }
    records.push_back(record);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return records;
}

// The legend's records, compared without their trailing blanks.
void CheckLegend(const std::vector<std::string_view>& records, const std::string& source) {
  for (std::size_t i = 0; i < kLegendRecords; ++i) {
    // Built by appending: g++ 12 at -O3 misreads " " + string as an
    // overlapping copy (-Wrestrict).
    std::string expected(1, ' ');
    expected += textio::kLegend[i];
    if (i >= records.size() || TrimRight(records[i]) != TrimRight(expected)) {
      throw ToolError(source + " line " + std::to_string(i + 1) +
                      ": not the column legend of a KORVELAN results file (expected \"" +
                      std::string(TrimRight(expected)) + "\")");
    }
  }
}

// The nine fields of one record at their fixed widths; `where` names the
// file and line for the message.
std::array<double, 9> RecordFields(std::string_view record, const std::string& where) {
  std::array<double, 9> values{};
  std::size_t column = 0;
  for (std::size_t f = 0; f < kWidths.size(); ++f) {
    std::string_view field = record.substr(column, kWidths[f]);
    column += kWidths[f];
    std::string_view content = TrimBlanks(field);
    if (!content.empty() && content.find_first_not_of('*') == std::string_view::npos) {
      throw ToolError(where + ": the " + std::string(kFieldNames[f]) +
                      " is asterisks (the value did not fit its field), so it is unknown");
    }
    std::optional<double> value = ParseDecimal(content);
    if (!value) {
      throw ToolError(where + ": the " + std::string(kFieldNames[f]) + " field \"" +
                      std::string(field) + "\" is not a number");
    }
    bool is_p_value = f != 0 && f != 1 && f != 6;
    if (is_p_value && !std::isnan(*value) && !(*value >= 0 && *value <= 1)) {
      throw ToolError(where + ": the " + std::string(kFieldNames[f]) + " " + std::string(content) +
                      " is not a P-value (0 .. 1)");
    }
    values[f] = *value;
  }
  return values;
}

}  // namespace

std::vector<ResultRecord> ParseResultsFile(std::string_view text, const std::string& source) {
  std::vector<std::string_view> records = Records(text);
  CheckLegend(records, source);
  // With no probe the program writes one empty record.
  if (records.size() == kLegendRecords + 1 && records.back().empty()) return {};

  std::vector<ResultRecord> results;
  std::unordered_set<std::size_t> lines_seen;
  for (std::size_t r = kLegendRecords; r < records.size(); ++r) {
    std::string where = source + " line " + std::to_string(r + 1);
    std::string_view record = records[r];
    if (record.size() != kRecordWidth) {
      throw ToolError(where + ": a results record has " + std::to_string(kRecordWidth) +
                      " characters, this one " + std::to_string(record.size()));
    }
    std::array<double, 9> values = RecordFields(record, where);
    double line = values[0];
    if (!(line >= 1 && line <= 499999) || line != std::floor(line)) {
      throw ToolError(where + ": line number " + std::string(TrimBlanks(record.substr(0, 7))) +
                      " is not a line of data.txt (1 .. 499999)");
    }
    ResultRecord result;
    result.line = static_cast<std::size_t>(line);
    if (!lines_seen.insert(result.line).second) {
      throw ToolError(where + ": line number " + std::to_string(result.line) +
                      " appears a second time");
    }
    result.r_mean = values[1];
    result.p = {values[2], values[3], values[4], values[5], values[7], values[8]};
    result.q = values[6];
    results.push_back(result);
  }
  return results;
}

}  // namespace korvelan::tools
