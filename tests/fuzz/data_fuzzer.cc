// Fuzzes the loading phase on arbitrary "data.txt" and "weights.txt"
// contents, step by step as the program runs it: the rank matrix, the
// column move, the weights (main analysis), the present counts, the rank
// scaling and the line numbers.
//
// Layout of the input: byte 0 gives P (-3 .. 12), byte 1 gives S (-3 .. 8),
// byte 2 the size of the pieces the data source hands out and, in its top
// bit, the analysis type (1: the weights are read), byte 3 how many of the
// last bytes are "weights.txt". The rest is "data.txt". The piece size also
// picks the number of threads that read "data.txt" (1 .. 3).
//
// Every step is checked against a plain recomputation from the values the
// model of list_model.h reads from the same bytes (strtof, whole records):
// the matrix cell by cell, the moved columns, the counts, every scaled rank
// bit for bit, the line numbers. The run may end only with the conditions
// the loading can raise (24, 59, 64 while reading; 161 when the line-number
// column lies outside the matrix), and the model must end the same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/loading.h"
#include "engine/model.h"
#include "engine/scaling.h"
#include "tests/fuzz/list_model.h"
#include "textio/list_input.h"
#include "textio/termination.h"

namespace {

using korvelan::RankMatrix;
using korvelan::StudyWeights;
using korvelan::textio::ByteSource;
using korvelan::textio::ListReader;
using korvelan::textio::Termination;
namespace driver = korvelan::driver;
namespace model = korvelan::fuzzmodel;

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void Check(bool ok) {
  if (!ok) std::abort();
}

// The model's reading of one file: `count` values into zero targets, or
// the condition the statement ends with.
struct ModelRead {
  std::vector<float> values;
  int condition = 0;
};

ModelRead ReadModel(const std::string& bytes, std::size_t count) {
  ModelRead m;
  m.values.assign(count, 0.0f);
  try {
    model::Reader reader(bytes);
    reader.Statement(count, model::ToReal, [&m](std::size_t i, float v) { m.values[i] = v; });
  } catch (const model::Failure& f) {
    m.condition = f.condition;
  }
  return m;
}

// Runs the loading steps; returns the condition that ended them (0: none).
int Load(const std::string& data_bytes, const std::string& weights_bytes, std::int32_t p,
         std::int32_t s, bool main_analysis, std::size_t step) {
  const std::int64_t width = static_cast<std::int64_t>(s) + 2;
  const bool any = p > 0 && width > 0;
  const std::size_t count = any ? static_cast<std::size_t>(p * width) : 0;

  // 1. The rank matrix: value k of record i in cell (i, k).
  const ModelRead data = ReadModel(data_bytes, count);
  RankMatrix ranks;
  try {
    ListReader reader(korvelan::textio::StringSource(data_bytes, step), 10, "/fuzz/data.txt");
    // The plain-text path on 1 .. 3 threads, chosen by the piece size.
    ranks = driver::ReadRankMatrix(reader, p, s, static_cast<unsigned>(1 + step % 3));
  } catch (const Termination& t) {
    Check(t.SevereNumber() == data.condition && data.condition != 0);
    return data.condition;
  }
  Check(data.condition == 0);
  Check(ranks.rows() == (any ? p : 0) && ranks.cols() == (any ? width : 0));
  for (std::int32_t i = 1; i <= ranks.rows(); ++i) {
    for (std::int32_t k = 1; k <= ranks.cols(); ++k) {
      Check(SameBits(ranks.Get(i, k),
                     data.values[static_cast<std::size_t>((i - 1) * width + k - 1)]));
    }
  }

  // 2. Columns 1 .. S + 1 take the next column's value. Read straight into
  // those places, column S + 2 holds each record's first value instead.
  const RankMatrix read = ranks;
  driver::MoveColumnsLeft(ranks, p, s);
  ListReader again(korvelan::textio::StringSource(data_bytes, step), 10, "/fuzz/data.txt");
  const RankMatrix records =
      driver::ReadRankRecords(again, p, s, static_cast<unsigned>(1 + (step + 1) % 3));
  Check(records.rows() == ranks.rows() && records.cols() == ranks.cols());
  for (std::int32_t i = 1; i <= ranks.rows(); ++i) {
    for (std::int32_t k = 1; k <= ranks.cols(); ++k) {
      const float expected = k <= s + 1 ? read.Get(i, k + 1) : read.Get(i, k);
      Check(SameBits(ranks.Get(i, k), expected));
      Check(SameBits(records.Get(i, k), k <= s + 1 ? expected : read.Get(i, 1)));
    }
  }

  // 3. The weights, main analysis only.
  if (main_analysis) {
    const std::size_t n = s > 0 ? static_cast<std::size_t>(s) : 0;
    const ModelRead w = ReadModel(weights_bytes, n);
    StudyWeights weights;
    try {
      ListReader reader(korvelan::textio::StringSource(weights_bytes), 18, "/fuzz/weights.txt");
      driver::ReadStudyWeights(reader, s, weights);
    } catch (const Termination& t) {
      Check(t.SevereNumber() == w.condition && w.condition != 0);
      return w.condition;
    }
    Check(w.condition == 0);
    for (std::size_t j = 0; j < n; ++j) {
      Check(SameBits(weights.Get(static_cast<std::int32_t>(j) + 1), w.values[j]));
    }
  }

  // 4. Present counts and 5. scaling.
  const std::vector<float> present = korvelan::engine::CountPresent(ranks, p, s);
  Check(present.size() == static_cast<std::size_t>(s > 0 ? s : 0));
  const RankMatrix moved = ranks;
  korvelan::engine::ScaleRanks(ranks, p, s, present);
  // Counted and scaled study by study on a pool: the same bits.
  RankMatrix side_by_side = moved;
  korvelan::engine::WorkerPool pool(static_cast<unsigned>(1 + step % 3));
  korvelan::engine::ScaleStudies(side_by_side, p, s, pool);
  for (std::int32_t i = 1; i <= ranks.rows(); ++i) {
    for (std::int32_t k = 1; k <= ranks.cols(); ++k) {
      Check(SameBits(side_by_side.Get(i, k), ranks.Get(i, k)));
    }
  }
  for (std::int32_t j = 1; j <= s; ++j) {
    std::int64_t n = 0;
    for (std::int32_t i = 1; i <= p; ++i) n += moved.Get(i, j) != -99.0f;
    Check(present[static_cast<std::size_t>(j - 1)] == static_cast<float>(n));
    for (std::int32_t i = 1; i <= p; ++i) {
      const float r = moved.Get(i, j);
      const float expected =
          r == -99.0f ? r
                      : static_cast<float>(static_cast<double>(p) / static_cast<double>(n) *
                                           static_cast<double>(r));
      Check(SameBits(ranks.Get(i, j), expected));
    }
  }

  // 7. Line numbers in column S + 2, which must lie within the matrix.
  try {
    driver::StoreLineNumbers(ranks, p, s);
  } catch (const Termination& t) {
    Check(t.SevereNumber() == 161 && p > 0 && (width < 1 || width > 100));
    return 161;
  }
  for (std::int32_t i = 1; i <= p; ++i) {
    Check(ranks.Get(i, static_cast<std::int32_t>(width)) == static_cast<float>(i));
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::int32_t p = data[0] % 16 - 3;
  const std::int32_t s = data[1] % 12 - 3;
  const std::size_t step = (data[2] & 0x7F) % 16 + 1;
  const bool main_analysis = (data[2] & 0x80) != 0;
  const std::size_t rest = size - 4;
  const std::size_t weights_size = data[3] < rest ? data[3] : rest;
  const char* bytes = reinterpret_cast<const char*>(data) + 4;
  const std::string data_bytes(bytes, rest - weights_size);
  const std::string weights_bytes(bytes + rest - weights_size, weights_size);
  try {
    Load(data_bytes, weights_bytes, p, s, main_analysis, step);
  } catch (const Termination&) {
    std::abort();  // a condition outside the ones the steps may raise
  }
  return 0;
}
