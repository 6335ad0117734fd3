#include "textio/plain_reals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::textio {
namespace {

// The scan as the token rules state it, one token at a time through
// PlainReal: the oracle of ScanPlainReals's word-at-a-time integers.
PlainScan ReferenceScan(const char* begin, const char* end, std::size_t limit, float* out) {
  const char* p = begin;
  std::size_t n = 0;
  while (p != end && n < limit) {
    if (*p == ' ' || *p == '\t' || *p == '\n') {
      ++p;
      continue;
    }
    if (*p == '\r') {
      if (p[1] != '\n') return {n, p};
      p += 2;
      continue;
    }
    const char* t = p;
    while (p != end && std::string_view(" \t\n\r,/").find(*p) == std::string_view::npos) ++p;
    if (p == end || *p == ',' || *p == '/' || (*p == '\r' && p[1] != '\n') ||
        !PlainReal(t, p, out[n])) {
      return {n, t};
    }
    ++n;
  }
  return {n, p};
}

struct Outcome {
  std::vector<std::uint32_t> bits;
  std::size_t stop;  // offset of the stop
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  os << o.bits.size() << " values, stop at " << o.stop;
  if (!o.bits.empty()) os << ", last bits " << std::hex << o.bits.back() << std::dec;
  return os;
}

template <class Scan>
Outcome ScanWith(Scan scan, const std::string& text, std::size_t limit) {
  std::vector<float> out(text.size() / 2 + 1);
  const PlainScan s = scan(text.data(), text.data() + text.size(), limit, out.data());
  Outcome o{std::vector<std::uint32_t>(s.values), static_cast<std::size_t>(s.stop - text.data())};
  if (s.values > 0) std::memcpy(o.bits.data(), out.data(), s.values * sizeof(float));
  return o;
}

void ExpectAsReference(const std::string& text, std::size_t limit, const std::string& what) {
  ASSERT_EQ(ScanWith(ScanPlainReals, text, limit), ScanWith(ReferenceScan, text, limit))
      << what << ", limit " << limit;
}

// Every integer of up to seven digits as the number from_chars reads: the
// word-at-a-time conversion is exact. The sign is taken before the word,
// so signed tokens are sampled. Built in slices to keep the text small.
TEST(ScanPlainReals, EveryIntegerOfUpToSevenDigits) {
  constexpr std::uint32_t kSlice = 1 << 17;
  std::string text;
  std::vector<float> out;
  for (std::uint32_t first = 0; first < 10000000; first += kSlice) {
    const std::uint32_t last = std::min<std::uint32_t>(first + kSlice, 10000000);
    text.clear();
    for (std::uint32_t v = first; v < last; ++v) {
      if (v % 97 == 0) text += v % 2 == 0 ? '-' : '+';
      char digits[8];
      text.append(digits, std::to_chars(digits, digits + 8, v).ptr);
      text += v % 13 == 0 ? '\n' : ' ';
    }
    out.assign(text.size() / 2 + 1, 0.0f);
    const PlainScan r = ScanPlainReals(text.data(), text.data() + text.size(), SIZE_MAX, out.data());
    ASSERT_EQ(r.values, last - first) << "slice from " << first;
    for (std::uint32_t v = first; v < last; ++v) {
      const bool negative = v % 97 == 0 && v % 2 == 0;
      const float want = negative ? -static_cast<float>(v) : static_cast<float>(v);
      ASSERT_EQ(std::memcmp(&out[v - first], &want, sizeof want), 0)
          << "value " << v << " read as " << out[v - first];
    }
  }
}

// Digit patterns of every length up to nine, leading zeros included, with
// each separator and each odd byte after them, at every distance from the
// range's end (where the word would reach past it).
TEST(ScanPlainReals, DigitPatternsAndTheirEndsAsTheReference) {
  const std::vector<std::string> afters = {
      " ",  "\t", "\n",  "\r\n", "\r5 ", ",",  "/",
      "a ", ". ", ".5 ", "e5 ",  "*2 ",  "+ ", std::string(1, '\0') + " "};
  const std::vector<std::string> digits = {"0",        "7",        "00",        "09",
                                           "90",       "000",      "123",       "0000007",
                                           "9999999",  "1000000",  "0123456",   "16777216",
                                           "16777217", "99999999", "123456789", "000000001"};
  for (const std::string& d : digits) {
    for (const char* sign : {"", "-", "+"}) {
      for (const std::string& after : afters) {
        for (std::size_t pad = 0; pad < 10; ++pad) {
          // Tokens before it shift its place in the word; blanks after it
          // move the range's end.
          const std::string text =
              std::string("1 22 ") + sign + d + after + std::string(pad, ' ') + "\n";
          for (std::size_t limit : {2u, 3u, 4u, 100u}) {
            ExpectAsReference(text, limit,
                              std::string("'") + sign + d + "' then '" + after + "' pad " +
                                  std::to_string(pad));
          }
        }
      }
    }
  }
}

// Random mixes of the token shapes of real files and odd bytes, scanned
// from every start within the first record and with a limit that cuts
// anywhere.
TEST(ScanPlainReals, RandomDocumentsAsTheReference) {
  std::mt19937 rng(20261211);
  const std::vector<std::string> odd = {"1e5",
                                        "3*4",
                                        ",",
                                        "/",
                                        "T",
                                        "12abc",
                                        "\r",
                                        "-",
                                        ".",
                                        "1.2.3",
                                        "123456789012",
                                        "0.000000000000000000000000000000000000000000001"};
  const char* const seps[] = {" ", " ", " ", "\t", "\n", "\r\n", "  "};
  for (int trial = 0; trial < 3000; ++trial) {
    std::string text;
    const int tokens = 1 + static_cast<int>(rng() % 40);
    for (int k = 0; k < tokens; ++k) {
      const auto shape = rng() % 10;
      if (shape == 0 && trial % 2 == 0) {
        text += odd[rng() % odd.size()];
      } else if (shape < 3) {
        text += "-99";
      } else if (shape < 5) {
        text += std::to_string(rng() % 100000) + "." + std::to_string(rng() % 1000);
      } else {
        text += (rng() % 6 == 0 ? "-" : "") + std::to_string(rng() % (1u << (rng() % 28)));
      }
      text += seps[rng() % 7];
    }
    if (text.back() == '\r') text += '\n';
    for (std::size_t start = 0; start < 3 && start < text.size(); ++start) {
      const std::string piece = text.substr(start);
      if (piece.empty() || std::string_view(" \t\n").find(piece.back()) == std::string_view::npos)
        continue;
      ExpectAsReference(piece, rng() % 2 == 0 ? SIZE_MAX : rng() % 50,
                        "trial " + std::to_string(trial) + " from " + std::to_string(start));
    }
  }
}

}  // namespace
}  // namespace korvelan::textio
