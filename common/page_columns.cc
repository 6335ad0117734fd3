#include "common/page_columns.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

#include "common/html_report.h"
#include "textio/id_map.h"

namespace korvelan::tools {
namespace {

constexpr std::string_view kDigits =
    "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-_";

// Below 2^53 every whole number is exact in the page's doubles; ranks,
// counts and indices stay far below.
constexpr double kLargestWhole = 9007199254740991.0;

std::string Plain(const std::vector<std::string_view>& texts) {
  std::string out = "[";
  for (std::size_t k = 0; k < texts.size(); ++k) {
    if (k > 0) out += ',';
    out += texts[k];
  }
  out += ']';
  return out;
}

}  // namespace

JsonTexts::JsonTexts(std::size_t count) {
  // Most texts of a page's numbers are short; the P-values' run to 20.
  bytes_.reserve(count * 8);
  ends_.reserve(count);
}

void JsonTexts::AddNumber(double value) {
  Separate();
  AppendJsonNumber(bytes_, value);
  Ended();
}

void JsonTexts::AddFloat(double value) {
  Separate();
  AppendJsonFloat(bytes_, value);
  Ended();
}

void JsonTexts::AddWhole(std::int64_t value) {
  Separate();
  char buffer[24];
  bytes_.append(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
  Ended();
}

std::string_view JsonTexts::operator[](std::size_t k) const {
  const std::size_t begin = k == 0 ? 0 : ends_[k - 1] + 1;
  return std::string_view(bytes_).substr(begin, ends_[k] - begin);
}

std::string PackedColumn(std::span<const std::int64_t> values) {
  std::int64_t largest = 0;
  for (std::int64_t v : values) largest = std::max(largest, v + 1);
  std::size_t width = 1;
  for (std::int64_t room = 64; room <= largest; room *= 64) ++width;
  std::string out = "{\"w\":" + std::to_string(width) + ",\"s\":\"";
  out.reserve(out.size() + values.size() * width + 2);
  for (std::int64_t v : values) {
    const auto stored = static_cast<std::uint64_t>(v + 1);
    for (std::size_t d = width; d-- > 0;) out += kDigits[(stored >> (6 * d)) & 63];
  }
  out += "\"}";
  return out;
}

std::string TextColumn(const JsonTexts& texts) {
  std::string plain;
  plain.reserve(texts.Joined().size() + 2);
  plain += '[';
  plain += texts.Joined();
  plain += ']';
  // The distinct values are counted only while they are at most half the
  // texts; past that the column is the plain array, however short the
  // coded form would be.
  // Room for a few thousand at first: a long column (every study's rank
  // of every gene) may hold few distinct values, and a map sized for half
  // its texts would touch a bucket array of that size.
  textio::IdMap<std::int64_t> slot(std::min<std::size_t>(texts.size() / 2 + 1, 4096));
  std::vector<std::string_view> distinct;
  std::vector<std::int64_t> index;
  index.reserve(texts.size());
  for (std::size_t k = 0; k < texts.size(); ++k) {
    const auto [it, added] = slot->emplace(texts[k], static_cast<std::int64_t>(distinct.size()));
    if (added) {
      distinct.push_back(texts[k]);
      if (distinct.size() * 2 > texts.size()) return plain;
    }
    index.push_back(it->second);
  }
  std::string coded = "{\"v\":" + Plain(distinct) + ",\"i\":" + PackedColumn(index) + "}";
  return coded.size() < plain.size() ? coded : plain;
}

std::string HalvesColumn(std::span<const double> values) {
  std::vector<std::int64_t> halves;
  halves.reserve(values.size());
  JsonTexts texts(values.size());
  bool packable = true;
  for (double v : values) {
    texts.AddNumber(v);
    const double twice = 2 * v;
    if (std::isnan(v)) {
      halves.push_back(-1);
    } else if (v >= 0 && twice <= kLargestWhole && twice == std::floor(twice)) {
      halves.push_back(static_cast<std::int64_t>(twice));
    } else {
      packable = false;
    }
  }
  std::string plain = TextColumn(texts);
  if (!packable) return plain;
  std::string packed = "{\"half\":" + PackedColumn(halves) + "}";
  return packed.size() < plain.size() ? packed : plain;
}

std::optional<std::string> FractionColumn(std::span<const double> values,
                                          std::span<const double> denominators) {
  std::vector<std::int64_t> numerators;
  numerators.reserve(values.size());
  for (std::size_t k = 0; k < values.size(); ++k) {
    const double v = values[k];
    if (std::isnan(v)) {
      numerators.push_back(-1);
      continue;
    }
    const double d = k < denominators.size() ? denominators[k] : 0;
    if (!(d >= 1 && d <= kLargestWhole && v >= 0 && v <= 1)) return std::nullopt;
    const double n = std::nearbyint(v * d);
    // The page divides in double as here: only a value that comes back
    // exactly is written as its numerator.
    if (n / d != v) return std::nullopt;
    numerators.push_back(static_cast<std::int64_t>(n));
  }
  return "{\"num\":" + PackedColumn(numerators) + "}";
}

}  // namespace korvelan::tools
