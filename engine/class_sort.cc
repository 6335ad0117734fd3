#include "engine/class_sort.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "numeric/row_sort.h"
#include "textio/termination.h"

namespace korvelan::engine {

namespace {

// Class values are floats whose integer part (truncation) is the class
// index. The comparisons are made on the float itself so that NaN and
// values beyond the 32-bit range never reach a conversion.
constexpr double kFirstInvalidAbove = static_cast<double>(kMaxClasses) + 1.0;

bool IntegerPartWithin(float v, std::int64_t low) {
  return static_cast<double>(v) >= static_cast<double>(low) &&
         static_cast<double>(v) < kFirstInvalidAbove;
}

}  // namespace

void CheckClassesWithinLimit(const AnalysisParameters& params, const RankMatrix& ranks) {
  const std::int32_t column = params.class_column;
  if (column < 1 || column > kMaxColumns) return;
  const std::int64_t low = std::max<std::int64_t>(std::int64_t{params.classes} + 1, 1);
  for (std::int32_t i = 1; i <= params.probes; ++i) {
    const float v = ranks.Get(i, column);
    if (IntegerPartWithin(v, low)) {
      const auto c = static_cast<std::int32_t>(v);
      throw textio::Termination::Message(
          "KORVELAN: record " + std::to_string(i) + " of data.txt has information class " +
              std::to_string(c) + ", above the number of information classes " +
              std::to_string(params.classes),
          1);
    }
  }
}

std::vector<std::int32_t> ClassSortOrder(std::int32_t class_column, const RankMatrix& ranks,
                                         SortChecks checks) {
  std::vector<std::int32_t> iperm = ZeroedBuffer<std::int32_t>(kMaxRows);
  // The groups of equal keys are not wanted (IRET 2: the same IPERM, the
  // same checks); their room is never written, so its pages are never
  // touched.
  constexpr std::int32_t kNoGroups = 2;
  const std::unique_ptr<std::int32_t[]> ngsize(new std::int32_t[kMaxRows]);
  std::vector<float> key;
  std::int32_t ngrp = 0;
  std::int32_t nnan = 0;
  const std::int32_t indkey[1] = {class_column};
  // Called only once the arguments have passed the sort's checks.
  const auto key_column = [&](std::int32_t c) -> const float* {
    key = ZeroedBuffer<float>(kMaxRows);
    if (c <= ranks.cols()) {
      const std::int32_t stored = std::min(ranks.rows(), kMaxRows);
      std::copy_n(ranks.column(c), stored, key.begin());
    }
    return key.data();
  };
  if (checks == SortChecks::kReported) {
    numeric::SROWR_ORDER(kMaxRows, kMaxColumns, kMaxRows, /*icomp=*/0, /*iordr=*/1, kNoGroups,
                         /*nkey=*/1, indkey, key_column, iperm.data(), ngrp, ngsize.get(), nnan);
    return iperm;
  }
  if (class_column < 1 || class_column > kMaxColumns) {
    throw std::logic_error("class column outside the rank matrix");
  }
  try {
    numeric::ROW_ORDER(kMaxRows, kMaxColumns, /*icomp=*/0, /*iordr=*/1, kNoGroups,
                       /*nkey=*/1, indkey, key_column, iperm.data(), ngrp, ngsize.get(), nnan);
  } catch (const std::bad_alloc&) {
    throw textio::Termination::SevereCondition(textio::Severe::kNoMemory);
  }
  return iperm;
}

void ClassSort(std::int32_t class_column, RankMatrix& ranks, SortChecks checks, WorkerPool* pool) {
  const std::vector<std::int32_t> iperm = ClassSortOrder(class_column, ranks, checks);
  const std::int32_t rows = ranks.rows();
  WorkerPool one(1);
  WorkerPool& threads = pool != nullptr ? *pool : one;
  // One column at a time per thread, each through a buffer of its own.
  std::vector<std::vector<float>> moved(threads.size());
  for (auto& m : moved) m = ZeroedBuffer<float>(static_cast<std::size_t>(rows));
  const auto move = [&](std::size_t c, unsigned worker) {
    float* col = ranks.column(static_cast<std::int32_t>(c) + 1);
    std::vector<float>& out = moved[worker];
    for (std::int32_t i = 0; i < rows; ++i) {
      const std::int32_t from = iperm[static_cast<std::size_t>(i)];
      out[static_cast<std::size_t>(i)] =
          from <= rows ? col[static_cast<std::size_t>(from - 1)] : 0.0f;
    }
    std::copy(out.begin(), out.end(), col);
  };
  threads.ForEach(static_cast<std::size_t>(ranks.cols() > 0 ? ranks.cols() : 0), move);
}

void ClassSort(const AnalysisParameters& params, RankMatrix& ranks) {
  ClassSort(params.class_column, ranks, SortChecks::kReported, nullptr);
}

ClassRanges ComputeClassRanges(const AnalysisParameters& params, const RankMatrix& ranks) {
  const std::int32_t m = params.classes;
  ClassRanges ranges{RowArray<std::int32_t>(m, kMaxClasses), RowArray<std::int32_t>(m, kMaxClasses)};
  std::vector<std::int32_t> count =
      ZeroedBuffer<std::int32_t>(m > 0 ? static_cast<std::size_t>(m) : 0);
  for (std::int32_t i = 1; i <= params.probes; ++i) {
    const float v = ranks.Get(i, params.class_column);
    if (!IntegerPartWithin(v, 1)) BoundsExceeded();
    const auto k = static_cast<std::int32_t>(v);
    // Classes above M are refused before the sort; were one to get here it
    // would be counted where no range is ever built, as the fixed array did.
    if (k <= m) ++count[static_cast<std::size_t>(k - 1)];
  }
  // Whole numbers up to 500000: exact whether held as floats or integers.
  std::int32_t total = 0;
  for (std::int32_t k = m; k >= 1; --k) {
    total += count[static_cast<std::size_t>(k - 1)];
    ranges.last.Set(k, total);
    ranges.first.Set(k, total - count[static_cast<std::size_t>(k - 1)] + 1);
  }
  return ranges;
}

}  // namespace korvelan::engine
