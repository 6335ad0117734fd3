// The results table as text: column names, row order and numbers.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "korvelan/meta.h"

namespace korvelan {

namespace {

constexpr std::array<std::string_view, kPValues> kNames = {
    "p_Rmean_right", "p_Rmean_left", "p_Rwmean_right", "p_Rwmean_left", "p_Q_right", "p_Q_left"};

// Ascending with NaN after every number; 0 when equal or both NaN.
int CompareWithNaNLast(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) == std::isnan(b) ? 0 : (std::isnan(a) ? 1 : -1);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace

std::string_view PValueName(int index) { return kNames.at(static_cast<std::size_t>(index)); }

std::vector<std::string> ResultColumns(const MetaResults& results) {
  std::vector<std::string> columns = {"gene", "n_studies"};
  for (const std::string& s : results.studies) columns.push_back("rank_" + s);
  for (const char* c : {"R_mean", "R_wmean", "Q"}) columns.emplace_back(c);
  for (std::string_view n : kNames) columns.emplace_back(n);
  for (std::string_view n : kNames) columns.push_back("q" + std::string(n.substr(1)));
  if (results.directional) {
    for (const char* c : {"direction", "n_up", "n_down"}) columns.emplace_back(c);
  }
  if (results.has_fold_changes) {
    for (const std::string& s : results.studies) columns.push_back("logFC_" + s);
    columns.emplace_back("logFC_mean");
  }
  return columns;
}

std::vector<std::size_t> ResultOrder(const MetaResults& results, int sort_by) {
  const std::vector<double>& p = results.p.at(static_cast<std::size_t>(sort_by));
  std::vector<std::size_t> order(results.genes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    if (int c = CompareWithNaNLast(p[a], p[b]); c != 0) return c < 0;
    if (int c = CompareWithNaNLast(results.r_mean[a], results.r_mean[b]); c != 0) return c < 0;
    return results.genes[a] < results.genes[b];
  });
  return order;
}

namespace {

// to_chars without a format is the shortest text that reads back to the
// value in the value's own type. Appended in place: a string of 16 or more
// characters (most P-values) would cost an allocation per cell.
template <typename Real>
void AppendShortest(std::string& out, Real value) {
  if (std::isnan(value)) {
    out += "NA";
  } else if (std::isinf(value)) {
    out += value > 0 ? "Inf" : "-Inf";
  } else {
    std::array<char, 32> buffer{};
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    out.append(buffer.data(), end);
  }
}

template <typename Real>
std::string Shortest(Real value) {
  std::string text;
  AppendShortest(text, value);
  return text;
}

void AppendWhole(std::string& out, std::int64_t value) {
  std::array<char, 24> buffer{};
  const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
  out.append(buffer.data(), end);
}

// The columns of signed results, after every other (see ResultColumns).
void AppendDirection(const MetaResults& results, std::size_t i, std::string& out) {
  if (results.directional) {
    out += '\t';
    out += DirectionName(results.direction[i]);
    out += '\t';
    AppendWhole(out, results.n_up[i]);
    out += '\t';
    AppendWhole(out, results.n_down[i]);
  }
  if (!results.has_fold_changes) return;
  const std::size_t genes = results.genes.size();
  for (std::size_t j = 0; j < results.studies.size(); ++j) {
    out += '\t';
    AppendShortest(out, results.fold_changes[j * genes + i]);
  }
  out += '\t';
  AppendShortest(out, results.fold_change_mean[i]);
}

}  // namespace

std::string FormatNumber(double value) { return Shortest(value); }

std::string FormatFloat(float value) { return Shortest(value); }

std::string ResultsTsv(const MetaResults& results, int sort_by) {
  std::string out;
  const std::vector<std::string> columns = ResultColumns(results);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    out += columns[c];
    out += c + 1 < columns.size() ? '\t' : '\n';
  }
  const std::size_t genes = results.genes.size();
  out.reserve(out.size() + genes * (columns.size() * 12 + 8));
  // Exact P-values are the console program's single-precision count / total.
  const bool exact_p = results.pvalues == PValues::kExact;
  for (std::size_t i : ResultOrder(results, sort_by)) {
    out += results.genes[i];
    out += '\t';
    AppendWhole(out, results.n_studies[i]);
    for (std::size_t j = 0; j < results.studies.size(); ++j) {
      out += '\t';
      AppendShortest(out, results.ranks[j * genes + i]);
    }
    // The statistics are held in single precision: their shortest float
    // text (1.8) reads back to the value held, where the widened double
    // would print float noise (1.7999999523162842).
    for (double v : {results.r_mean[i], results.r_wmean[i], results.q[i]}) {
      out += '\t';
      AppendShortest(out, static_cast<float>(v));
    }
    for (const std::vector<double>& values : results.p) {
      out += '\t';
      if (exact_p) {
        AppendShortest(out, static_cast<float>(values[i]));
      } else {
        AppendShortest(out, values[i]);
      }
    }
    for (const std::vector<double>& values : results.q_values) {
      out += '\t';
      AppendShortest(out, values[i]);
    }
    AppendDirection(results, i, out);
    out += '\n';
  }
  return out;
}

}  // namespace korvelan
