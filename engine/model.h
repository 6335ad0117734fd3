// The engine's data model: the parameters of an analysis (the console
// program takes them from its dialogue, the library from its caller), the
// rank matrix and the study weights. The console program loads its files
// into these; the library fills them from memory.
//
// The program's fixed capacities (500000 rows, 100 columns, 500000 classes)
// are kept as bounds, not as storage: memory grows with the data, while
// every observable effect of the capacities stays. Rows and columns beyond
// what is stored read as zero; an index outside the declared bounds is the
// array-bounds condition (161).
#ifndef KORVELAN_ENGINE_MODEL_H_
#define KORVELAN_ENGINE_MODEL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "engine/zero_floats.h"
#include "textio/termination.h"

namespace korvelan {

inline constexpr std::int32_t kMaxRows = 500000;     // probe rows
inline constexpr std::int32_t kMaxColumns = 100;     // rank-matrix columns
inline constexpr std::int32_t kMaxClasses = 500000;  // information classes
inline constexpr float kMissing = -99.0f;            // rank not given

// What one analysis is asked to do and on what shape of data; zero until
// set (by the console program's dialogue or by the library).
struct AnalysisParameters {
  std::int32_t analysis_type = 0;  // 1 main, 0 restricted, else neither
  std::int32_t studies = 0;        // S
  std::int32_t probes = 0;         // P
  std::int32_t classes = 0;        // M
  std::int32_t runs = 0;           // N
  std::int32_t gene_id = 0;        // G (restricted only)
  std::int32_t gene_class = 0;     // K (restricted only)
  std::int32_t limit = 0;          // restriction limit (restricted only)
  // The class column S + 1 as computed when the studies question was
  // answered; it stays 0 when no studies question is asked (analysis types
  // other than 0 and 1), and the class sort then refuses key column 0.
  std::int32_t class_column = 0;
};

[[noreturn]] inline void BoundsExceeded() {
  throw textio::Termination::SevereCondition(textio::Severe::kBounds);
}

// Declared bounds check, 1-based.
inline void CheckBounds(std::int64_t index, std::int64_t upper) {
  if (index < 1 || index > upper) BoundsExceeded();
}

// Study weights: entries 1 .. 100, all zero unless "weights.txt" was read.
class StudyWeights {
 public:
  float Get(std::int32_t j) const {
    CheckBounds(j, kMaxColumns);
    return w_[j - 1];
  }
  void Set(std::int32_t j, float v) {
    CheckBounds(j, kMaxColumns);
    w_[j - 1] = v;
  }
  const float* data() const { return w_.data(); }  // element 1
 private:
  std::array<float, kMaxColumns> w_{};
};

// The rank matrix: logically kMaxRows x kMaxColumns floats, zero outside the
// stored block of rows 1 .. rows() and columns 1 .. cols(), which is held
// column by column (leading dimension rows()).
class RankMatrix {
 public:
  RankMatrix() = default;
  // A zero block of rows x cols (negative counts store nothing). A failed
  // allocation is condition 41.
  RankMatrix(std::int32_t rows, std::int32_t cols);

  std::int32_t rows() const { return rows_; }
  std::int32_t cols() const { return cols_; }

  // Checked access: row outside 1 .. 500000 or column outside 1 .. 100 is
  // condition 161. Get() of an unstored cell gives 0; Set() of one is also
  // condition 161 (nothing in the program writes there legitimately).
  float Get(std::int32_t row, std::int32_t col) const {
    CheckBounds(row, kMaxRows);
    CheckBounds(col, kMaxColumns);
    if (row > rows_ || col > cols_) return 0.0f;
    return data_[Offset(row, col)];
  }
  void Set(std::int32_t row, std::int32_t col, float v) {
    CheckBounds(row, kMaxRows);
    CheckBounds(col, kMaxColumns);
    if (row > rows_ || col > cols_) BoundsExceeded();
    data_[Offset(row, col)] = v;
  }

  // Unchecked: element (1, col) of a stored column, rows() floats.
  float* column(std::int32_t col) { return data_.data() + Offset(1, col); }
  const float* column(std::int32_t col) const { return data_.data() + Offset(1, col); }

 private:
  std::size_t Offset(std::int32_t row, std::int32_t col) const {
    return static_cast<std::size_t>(col - 1) * static_cast<std::size_t>(rows_) +
           static_cast<std::size_t>(row - 1);
  }
  std::int32_t rows_ = 0;
  std::int32_t cols_ = 0;
  ZeroFloats data_;
};

inline RankMatrix::RankMatrix(std::int32_t rows, std::int32_t cols)
    : rows_(rows > 0 && cols > 0 ? rows : 0), cols_(rows > 0 && cols > 0 ? cols : 0) {
  try {
    data_ = ZeroFloats(static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_));
  } catch (const std::bad_alloc&) {
    throw textio::Termination::SevereCondition(textio::Severe::kNoMemory);
  }
}

}  // namespace korvelan

#endif  // KORVELAN_ENGINE_MODEL_H_
