#include "driver/loading.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "engine/scaling.h"
#include "textio/termination.h"

namespace korvelan::driver {
namespace {

constexpr const char* kDataName = "data.txt";
constexpr const char* kWeightsName = "weights.txt";
constexpr const char* kOutputName = "output.txt";

textio::ListReader OpenForReading(const char* name, int unit) {
  const int fd = textio::OpenInputFile(name, unit);
  return textio::ListReader(textio::FileDescriptorSource(fd), unit, textio::FullPath(name));
}

// Values arrive probe after probe but are stored column by column; a
// record of `width` values is one row. Values nearly always come one index
// after the other (only nulls and the slash skip some), so the cell is
// stepped along instead of divided out for each value. With `rotated`,
// value k of a record goes to column k - 1 and the first value to the last
// column.
class MatrixSink final : public textio::ListReader::RealSink {
 public:
  MatrixSink(RankMatrix& m, std::size_t width, bool rotated)
      : base_(m.rows() > 0 ? m.column(1) : nullptr), width_(width), offset_(width) {
    // Where each value of a record starts its column.
    const auto rows = static_cast<std::size_t>(m.rows());
    for (std::size_t col = 0; col < width; ++col) {
      const std::size_t to = !rotated ? col : col == 0 ? width - 1 : col - 1;
      offset_[col] = to * rows;
    }
  }
  void Put(std::size_t index, float value) override {
    if (index != next_) {
      row_ = index / width_;
      col_ = index % width_;
    }
    base_[offset_[col_] + row_] = value;
    next_ = index + 1;
    if (++col_ == width_) {
      col_ = 0;
      ++row_;
    }
  }
  // Touches no member that changes: ranges may be stored side by side.
  void PutRange(std::size_t first, std::span<const float> values) override {
    std::size_t row = first / width_;
    std::size_t col = first % width_;
    const std::size_t* offset = offset_.data();
    for (const float v : values) {
      base_[offset[col] + row] = v;
      if (++col == width_) {
        col = 0;
        ++row;
      }
    }
  }

 private:
  float* base_;  // element (1, 1); the columns follow each other
  std::size_t width_;
  std::vector<std::size_t> offset_;
  std::size_t next_ = 0;  // the index that (row_, col_) stands for
  std::size_t row_ = 0;
  std::size_t col_ = 0;
};

class WeightsSink final : public textio::ListReader::RealSink {
 public:
  explicit WeightsSink(StudyWeights& w) : w_(w) {}
  void Put(std::size_t index, float value) override {
    w_.Set(static_cast<std::int32_t>(index) + 1, value);
  }

 private:
  StudyWeights& w_;
};

}  // namespace

namespace {

RankMatrix ReadRecords(textio::ListReader& data, std::int32_t probes, std::int32_t studies,
                       unsigned threads, bool rotated) {
  // The record loop runs for i = 1 .. P and k = 1 .. S + 2; when either
  // range is empty nothing is read (two negative counts make no product).
  const std::int64_t width = static_cast<std::int64_t>(studies) + 2;
  const bool any = probes > 0 && width > 0;
  RankMatrix ranks(any ? probes : 0, any ? static_cast<std::int32_t>(width) : 0);
  const std::int64_t count = any ? static_cast<std::int64_t>(probes) * width : 0;
  MatrixSink sink(ranks, any ? static_cast<std::size_t>(width) : 1, rotated);
  data.ReadReals(static_cast<std::size_t>(count), sink, threads);
  return ranks;
}

}  // namespace

RankMatrix ReadRankMatrix(textio::ListReader& data, std::int32_t probes, std::int32_t studies,
                          unsigned threads) {
  return ReadRecords(data, probes, studies, threads, false);
}

RankMatrix ReadRankRecords(textio::ListReader& data, std::int32_t probes, std::int32_t studies,
                           unsigned threads) {
  return ReadRecords(data, probes, studies, threads, true);
}

void MoveColumnsLeft(RankMatrix& ranks, std::int32_t probes, std::int32_t studies) {
  if (probes <= 0) return;
  for (std::int32_t k = 1; k <= studies + 1; ++k) {
    const float* next = ranks.column(k + 1);
    std::copy(next, next + probes, ranks.column(k));
  }
}

void ReadStudyWeights(textio::ListReader& weights_file, std::int32_t studies,
                      StudyWeights& weights) {
  WeightsSink sink(weights);
  weights_file.ReadReals(studies > 0 ? static_cast<std::size_t>(studies) : 0, sink);
}

void StoreLineNumbers(RankMatrix& ranks, std::int32_t probes, std::int32_t studies) {
  const std::int64_t col = static_cast<std::int64_t>(studies) + 2;
  for (std::int32_t i = 1; i <= probes; ++i) {
    if (col < 1 || col > kMaxColumns) BoundsExceeded();
    ranks.Set(i, static_cast<std::int32_t>(col), static_cast<float>(i));
  }
}

LoadedInputs LoadInputs(const AnalysisParameters& params, unsigned threads) {
  textio::PhaseScope scope("Loading");
  const std::int32_t p = params.probes;
  const std::int32_t s = params.studies;
  LoadedInputs in;
  {
    textio::ListReader data = OpenForReading(kDataName, textio::kDataUnit);
    // Read straight into the places the column move would give (the
    // dropped first values wait in column S + 2 for the line numbers).
    in.ranks = ReadRankRecords(data, p, s, threads);
  }
  if (params.analysis_type == 1) {
    textio::ListReader weights = OpenForReading(kWeightsName, textio::kWeightsUnit);
    ReadStudyWeights(weights, s, in.weights);
  }
  {
    engine::WorkerPool pool(threads);
    engine::ScaleStudies(in.ranks, p, s, pool);
  }
  if (params.analysis_type == 1) {
    in.results = std::make_unique<textio::ResultsFile>(kOutputName, textio::kOutputUnit);
  }
  StoreLineNumbers(in.ranks, p, s);
  return in;
}

}  // namespace korvelan::driver
