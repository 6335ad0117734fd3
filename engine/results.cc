#include "engine/results.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "textio/fixed_output.h"
#include "textio/list_output.h"

namespace korvelan::engine {

namespace {

// Rows per chunk of the results: about 800 kB of text at a time.
constexpr std::int32_t kChunkRows = 4096;

}  // namespace

std::string LegendRecords() {
  std::string out;
  for (std::string_view text : kLegend) {
    for (const std::string& record : textio::ListRecords(text)) {
      out += record;
      out += "\r\n";
    }
  }
  return out;
}

void AppendResultRecords(std::string& out, const RankMatrix& ranks,
                         std::int32_t line_column, const Statistics& observed,
                         const PValues& p, std::int32_t first, std::int32_t last) {
  if (last < first) return;
  std::vector<float> values;
  values.reserve(static_cast<std::size_t>(last - first + 1) * textio::kDataFields);
  const auto pvalue = [](const RowArray<double>& a, std::int32_t i) {
    return static_cast<float>(a.Get(i));
  };
  for (std::int32_t i = first; i <= last; ++i) {
    values.push_back(ranks.Get(i, line_column));
    values.push_back(observed.rmean.Get(i));
    values.push_back(pvalue(p.right[kRmean], i));
    values.push_back(pvalue(p.left[kRmean], i));
    values.push_back(pvalue(p.right[kRwmean], i));
    values.push_back(pvalue(p.left[kRwmean], i));
    values.push_back(observed.q.Get(i));
    values.push_back(pvalue(p.right[kQ], i));
    values.push_back(pvalue(p.left[kQ], i));
  }
  textio::AppendDataRecords(out, values);
}

void WriteResultsFile(textio::ResultsFile& file, const RankMatrix& ranks,
                      std::int32_t line_column, const Statistics& observed,
                      const PValues& pvalues, std::int32_t probes) {
  file.BeginWriting();
  file.Write(LegendRecords());
  std::string chunk;
  if (probes <= 0) {
    // The one formatted write with an empty list still ends one record.
    textio::AppendDataRecords(chunk, std::span<const float>());
    file.Write(chunk);
  }
  // Every chunk holds whole groups of nine values, so its records are
  // exactly those the single write would give for the same rows.
  for (std::int32_t first = 1; first <= probes; first += kChunkRows) {
    const std::int32_t last = std::min(probes, first + (kChunkRows - 1));
    chunk.clear();
    AppendResultRecords(chunk, ranks, line_column, observed, pvalues, first, last);
    file.Write(chunk);
  }
  file.EndAndClose();
}

}  // namespace korvelan::engine
