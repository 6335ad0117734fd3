#include "textio/plain_reals.h"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace korvelan::textio {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Powers of ten that are exact in a float (5^10 < 2^24).
constexpr float kPow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

bool EndsToken(const char* p) {
  return *p == ' ' || *p == '\t' || *p == '\n' || (*p == '\r' && p[1] == '\n');
}

// Eight bytes read as one word, the first byte lowest.
std::uint64_t Word(const char* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  if constexpr (std::endian::native == std::endian::big) x = __builtin_bswap64(x);
  return x;
}

constexpr std::uint64_t kEach = 0x0101010101010101;

// How many of the word's bytes, from the first, are digits (0 .. 8). A
// byte is one when its high nibble is 3 and stays 3 with 6 added; the
// carry out of a byte of F0 or more reaches only bytes after the first
// non-digit, which do not count.
int LeadingDigits(std::uint64_t x) {
  const std::uint64_t high = x & (0xF0 * kEach);
  const std::uint64_t high6 = (x + 0x06 * kEach) & (0xF0 * kEach);
  const std::uint64_t other = (high ^ (0x30 * kEach)) | (high6 ^ (0x30 * kEach));
  return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// The value of the word's first n digits, 1 <= n <= 8: shifted so that the
// bytes after them fall off and zeros lead, then pairs, fours and the eight
// combined by three multiplications. Bytes past the digits may borrow from
// the subtraction; the borrow only runs toward the bytes shifted out.
std::uint32_t DigitsValue(std::uint64_t x, int n) {
  std::uint64_t v = (x - 0x30 * kEach) << (8 * (8 - n));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FF) * (100 + (1000000ULL << 32))) +
       (((v >> 16) & 0x000000FF000000FF) * (1 + (10000ULL << 32)))) >>
      32;
  return static_cast<std::uint32_t>(v);
}

// Bit i set when byte p[i] is a blank, tab or LF, for i < 64.
std::uint64_t Separators(const char* p) {
#if defined(__SSE2__)
  std::uint64_t mask = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    const __m128i sep = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t'))),
        _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    mask |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(sep))} << (16 * k);
  }
  return mask;
#else
  std::uint64_t mask = 0;
  for (int i = 0; i < 64; ++i) {
    mask |= std::uint64_t{p[i] == ' ' || p[i] == '\t' || p[i] == '\n'} << i;
  }
  return mask;
#endif
}

// The window needs 64 bytes for the separators and 8 past the last token
// start for its word.
constexpr std::ptrdiff_t kWindow = 64 + 8;

// The tokens of the 64 bytes from p (a token's first byte) that are an
// optional minus and one to seven digits ending at a blank, tab or LF
// within the window, converted in a row until one is not or the limit is
// reached. Token bounds come from the separators' bits, so that finding the
// next token never waits on the conversion of the last one. Returns where
// the scan goes on: after the last token converted (p itself if none was).
const char* WindowOfIntegers(const char* p, std::size_t& n, std::size_t limit, float* out) {
  const std::uint64_t sep = Separators(p);
  std::uint64_t starts = ~sep & ((sep << 1) | 1);
  const std::uint64_t ends = ~sep & (sep >> 1);
  const char* next = p;
  while (starts != 0 && n < limit) {
    const int s = std::countr_zero(starts);
    const std::uint64_t after = ends >> s;
    if (after == 0) break;  // runs past the window
    const int length = std::countr_zero(after) + 1;
    const char* t = p + s;
    const bool negative = *t == '-';
    const int digits = length - static_cast<int>(negative);
    const std::uint64_t x = Word(t + static_cast<int>(negative));
    if (static_cast<unsigned>(digits - 1) >= 7 || LeadingDigits(x) != digits) break;
    const auto f = static_cast<float>(DigitsValue(x, digits));
    out[n++] = negative ? -f : f;
    next = t + length;
    starts &= starts - 1;
  }
  return next;
}

}  // namespace

bool PlainReal(const char* b, const char* e, float& out) {
  const char* p = b;
  bool negative = false;
  if (p != e && (*p == '+' || *p == '-')) negative = *p++ == '-';
  const char* number = p;
  std::uint64_t m = 0;
  int digits = 0;
  int fraction = -1;  // digits after the point; -1: no point
  for (; p != e; ++p) {
    if (IsDigit(*p)) {
      if (digits < 19) m = m * 10 + static_cast<std::uint64_t>(*p - '0');
      ++digits;
      if (fraction >= 0) ++fraction;
    } else if (*p == '.' && fraction < 0) {
      fraction = 0;
    } else {
      return false;
    }
  }
  if (digits == 0) return false;
  // An integer below 2^24 and a power of ten up to 10^10 are exact floats,
  // and one correctly rounded division of them is the nearest float to the
  // decimal: the conversion of the general reader, without its cost.
  const int scale = fraction < 0 ? 0 : fraction;
  if (digits <= 19 && m <= (std::uint64_t{1} << 24) && scale <= 10) {
    const float f = static_cast<float>(m) / kPow10[scale];
    out = negative ? -f : f;
    return true;
  }
  // from_chars takes the sign but not '+'. Out of range (overflow, or an
  // underflow whose rounding strtof settles) is left to the general reader.
  float f = 0;
  const auto r = std::from_chars(negative ? number - 1 : number, e, f);
  if (r.ec != std::errc() || r.ptr != e) return false;
  out = f;
  return true;
}

PlainScan ScanPlainReals(const char* begin, const char* end, std::size_t limit, float* out) {
  const char* p = begin;
  std::size_t n = 0;
  while (p != end && n < limit) {
    const char c = *p;
    if (c == ' ' || c == '\t' || c == '\n') {
      ++p;
      continue;
    }
    if (c == '\r') {
      // Only a CR right before LF ends a record; the LF is in the range,
      // as `end` follows a separator.
      if (p[1] != '\n') return {n, p};
      p += 2;
      continue;
    }
    // A token, read as it is scanned: the common short number is converted
    // on the way; anything longer or odder goes through PlainReal, and a
    // token that ends in something other than a blank, tab or record end
    // (a comma, slash, letter, a CR inside a record) is not plain.
    if (end - p >= kWindow) {
      const char* next = WindowOfIntegers(p, n, limit, out);
      if (next != p) {
        p = next;
        continue;
      }
    }
    const char* t = p;
    const bool negative = c == '-';
    if (c == '-' || c == '+') ++p;
    if (end - p >= 8) {
      // The integer of up to seven digits, most tokens, in one word: no
      // branch on its length. Anything else goes on below from `p`.
      const std::uint64_t x = Word(p);
      const int digits = LeadingDigits(x);
      if (digits > 0 && digits < 8 && EndsToken(p + digits)) {
        const auto f = static_cast<float>(DigitsValue(x, digits));
        out[n++] = negative ? -f : f;
        p += digits;
        continue;
      }
    }
    std::uint32_t m = 0;
    int digits = 0;
    while (IsDigit(*p) && digits < 7) {
      m = m * 10 + static_cast<std::uint32_t>(*p - '0');
      ++digits;
      ++p;
    }
    int scale = 0;
    if (*p == '.') {
      ++p;
      while (IsDigit(*p) && digits < 7) {
        m = m * 10 + static_cast<std::uint32_t>(*p - '0');
        ++digits;
        ++scale;
        ++p;
      }
    }
    const char after = *p;
    if (digits > 0 &&
        (after == ' ' || after == '\t' || after == '\n' || (after == '\r' && p[1] == '\n'))) {
      // At most 7 digits: below 2^24, exact, like the power of ten.
      const float f = scale == 0 ? static_cast<float>(m) : static_cast<float>(m) / kPow10[scale];
      out[n++] = negative ? -f : f;
      continue;
    }
    // The long way: to the token's end, then the full conversion.
    while (p != end && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != ',' &&
           *p != '/') {
      ++p;
    }
    if (p == end || *p == ',' || *p == '/' || (*p == '\r' && p[1] != '\n') ||
        !PlainReal(t, p, out[n])) {
      return {n, t};
    }
    ++n;
  }
  return {n, p};
}

}  // namespace korvelan::textio
