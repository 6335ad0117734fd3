// Numbers of the report page's data, column by column, in few bytes and
// exactly: what the page's script reads back is the double given, bit for
// bit. The forms (JSON), each read by the page's column():
//
//   [1.5, null, ...]           plain: shortest round-trip decimals
//   {"w": W, "s": "..."}       packed whole numbers >= 0: W characters each
//                              of 0-9 A-Z a-z - _ (base 64, most significant
//                              first), holding value + 1; 0 is null
//   {"v": [...], "i": C}       few distinct values: the values, and C the
//                              index of each entry's value (itself packed)
//   {"half": C}                values that are whole numbers or halves (ranks
//                              with ties): C holds 2 x value
//   {"num": C}                 fractions k / d (Monte Carlo P-values): C holds
//                              k, and the column "pden" each entry's d; used
//                              only when k / d in double gives the value back
//                              exactly for every entry, as it does in the page
//
// A form is used only where it is shorter than the plain array.
#ifndef KORVELAN_COMMON_PAGE_COLUMNS_H_
#define KORVELAN_COMMON_PAGE_COLUMNS_H_

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::tools {

// Whole numbers from -1 up, -1 for null.
std::string PackedColumn(std::span<const std::int64_t> values);

// A column's numbers as JSON texts (see JsonNumber), kept one after
// another behind commas, the plain array's inside, rather than as a string
// each: a page holds a dozen such columns per gene.
class JsonTexts {
 public:
  explicit JsonTexts(std::size_t count);
  void AddNumber(double value);  // as JsonNumber
  void AddFloat(double value);   // as JsonFloat
  void AddWhole(std::int64_t value);

  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t k) const;
  // Every text, comma-separated.
  std::string_view Joined() const { return bytes_; }

 private:
  void Ended() { ends_.push_back(bytes_.size()); }
  void Separate() {
    if (!ends_.empty()) bytes_ += ',';
  }

  std::string bytes_;
  std::vector<std::size_t> ends_;  // of each text in bytes_
};

// The texts as a plain array or as distinct values, whichever is shorter.
std::string TextColumn(const JsonTexts& texts);

// Doubles: halves packed when every value allows it, else TextColumn of
// JsonNumber.
std::string HalvesColumn(std::span<const double> values);

// The numerators of `values` over `denominators` (one per value, 0: none),
// when every value that is not NaN is such a fraction exactly.
std::optional<std::string> FractionColumn(std::span<const double> values,
                                          std::span<const double> denominators);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_PAGE_COLUMNS_H_
