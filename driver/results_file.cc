#include "driver/results_file.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>
#include <vector>

#include "textio/fixed_output.h"
#include "engine/worker_pool.h"
#include "textio/list_output.h"

namespace korvelan::driver {

using engine::ExceedanceCounter;
using engine::kQ;
using engine::kRmean;
using engine::kRwmean;
using engine::SidedPValues;
using engine::Statistics;
using engine::WorkerPool;

namespace {

// Rows per chunk of the results: about 800 kB of text at a time.
constexpr std::int32_t kChunkRows = 4096;

}  // namespace

namespace {

// pvalue(statistic, right, row): the double P-value of a row.
template <class PValueOf>
void AppendRecords(std::string& out, const RankMatrix& ranks, std::int32_t line_column,
                   const Statistics& observed, const PValueOf& pvalue, std::int32_t first,
                   std::int32_t last) {
  if (last < first) return;
  std::vector<float> values;
  values.reserve(static_cast<std::size_t>(last - first + 1) * textio::kDataFields);
  // Each P-value is rounded to float once, for its field.
  const auto field = [&](int s, bool right, std::int32_t i) {
    return static_cast<float>(pvalue(s, right, i));
  };
  for (std::int32_t i = first; i <= last; ++i) {
    values.push_back(ranks.Get(i, line_column));
    values.push_back(observed.rmean.Get(i));
    values.push_back(field(kRmean, true, i));
    values.push_back(field(kRmean, false, i));
    values.push_back(field(kRwmean, true, i));
    values.push_back(field(kRwmean, false, i));
    values.push_back(observed.q.Get(i));
    values.push_back(field(kQ, true, i));
    values.push_back(field(kQ, false, i));
  }
  textio::AppendDataRecords(out, values);
}

template <class PValueOf>
void WriteAll(textio::ResultsFile& file, const RankMatrix& ranks, std::int32_t line_column,
              const Statistics& observed, const PValueOf& pvalue, std::int32_t probes,
              unsigned threads) {
  file.BeginWriting();
  file.Write(textio::LegendRecords());
  if (probes <= 0) {
    // The one formatted write with an empty list still ends one record.
    std::string chunk;
    textio::AppendDataRecords(chunk, std::span<const float>());
    file.Write(chunk);
  }
  // Every chunk holds whole groups of nine values, so its records are
  // exactly those the single write would give for the same rows. The
  // chunks of a batch are formatted on the pool's threads, each into its
  // own text, and written in order by this thread.
  WorkerPool pool(threads);
  const std::int32_t chunks = probes <= 0 ? 0 : (probes - 1) / kChunkRows + 1;
  const std::int32_t batch = 2 * static_cast<std::int32_t>(pool.size());
  std::vector<std::string> texts(static_cast<std::size_t>(std::min(batch, chunks)));
  for (std::int32_t c0 = 0; c0 < chunks; c0 += batch) {
    const std::int32_t n = std::min(batch, chunks - c0);
    pool.ForEach(static_cast<std::size_t>(n), [&](std::size_t i, unsigned) {
      const std::int32_t first = (c0 + static_cast<std::int32_t>(i)) * kChunkRows + 1;
      const std::int32_t last = std::min(probes, first + (kChunkRows - 1));
      std::string& text = texts[i];
      text.clear();
      AppendRecords(text, ranks, line_column, observed, pvalue, first, last);
    });
    for (std::int32_t i = 0; i < n; ++i) file.Write(texts[static_cast<std::size_t>(i)]);
  }
  file.EndAndClose();
}

auto FromArrays(const SidedPValues& p) {
  return [&p](int s, bool right, std::int32_t i) {
    return right ? p.right[s].Get(i) : p.left[s].Get(i);
  };
}

auto FromCounter(const ExceedanceCounter& c) {
  return [&c](int s, bool right, std::int32_t i) { return c.PValue(s, right, i); };
}

}  // namespace

void AppendResultRecords(std::string& out, const RankMatrix& ranks, std::int32_t line_column,
                         const Statistics& observed, const SidedPValues& p, std::int32_t first,
                         std::int32_t last) {
  AppendRecords(out, ranks, line_column, observed, FromArrays(p), first, last);
}

void WriteResultsFile(textio::ResultsFile& file, const RankMatrix& ranks, std::int32_t line_column,
                      const Statistics& observed, const SidedPValues& pvalues, std::int32_t probes,
                      unsigned threads) {
  WriteAll(file, ranks, line_column, observed, FromArrays(pvalues), probes, threads);
}

void WriteResultsFile(textio::ResultsFile& file, const RankMatrix& ranks, std::int32_t line_column,
                      const Statistics& observed, const ExceedanceCounter& counter,
                      std::int32_t probes, unsigned threads) {
  WriteAll(file, ranks, line_column, observed, FromCounter(counter), probes, threads);
}

}  // namespace korvelan::driver
