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
#include <vector>

namespace korvelan::tools {

// Whole numbers from -1 up, -1 for null.
std::string PackedColumn(std::span<const std::int64_t> values);

// Numbers as JSON texts (see JsonNumber), plain or as distinct values.
std::string TextColumn(const std::vector<std::string>& texts);

// Doubles: halves packed when every value allows it, else TextColumn of
// JsonNumber.
std::string HalvesColumn(std::span<const double> values);

// The numerators of `values` over `denominators` (one per value, 0: none),
// when every value that is not NaN is such a fraction exactly.
std::optional<std::string> FractionColumn(std::span<const double> values,
                                          std::span<const double> denominators);

}  // namespace korvelan::tools

#endif  // KORVELAN_COMMON_PAGE_COLUMNS_H_
