#include "numeric/report_layout.h"

#include <algorithm>
#include <array>

namespace korvelan::numeric {
namespace {

constexpr std::array<std::string_view, 7> kTypeWords = {"NOTE",     "ALERT",   "WARNING", "FATAL",
                                                        "TERMINAL", "WARNING", "FATAL"};

constexpr std::string_view kContinuation = " ***          ";
constexpr std::size_t kContinuationSpan = 64;
constexpr std::int64_t kFirstLineBudget = 59;
constexpr std::size_t kNameWidth = 32;

// Text positions below are 1-based, as the cutting rules count them:
// position p is text[p - 1].
char At(std::string_view text, std::size_t p) { return text[p - 1]; }

std::string_view Span(std::string_view text, std::size_t first, std::size_t last) {
  if (first > last) return {};
  return text.substr(first - 1, last - first + 1);
}

}  // namespace

std::string_view ErrorTypeWord(std::int32_t type) {
  if (type < 1 || type > 7) return {};
  return kTypeWords[static_cast<std::size_t>(type - 1)];
}

std::string RightJustified(std::int64_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() > width) return std::string(width, '*');
  return std::string(width - digits.size(), ' ') + digits;
}

std::vector<std::string> MessageLines(std::string_view type_word, std::int32_t code,
                                      std::string_view name, std::string_view text) {
  std::string word(type_word);
  word.resize(std::max<std::size_t>(word.size(), 8), ' ');
  // Built by appends: a chain of operator+ on temporaries here trips a
  // false -Wrestrict in g++ 12 at -O3.
  std::string part(" ");
  part.append(std::to_string(code)).append(" from ").append(name);
  std::string head(" *** ");
  head.append(word).append(" ERROR").append(part);

  std::vector<std::string> lines;
  const std::size_t len = text.size();
  // The budget only goes below 1 for names far longer than a stack entry
  // holds; one character per line still makes progress then.
  const std::size_t budget = static_cast<std::size_t>(
      std::max<std::int64_t>(1, kFirstLineBudget - static_cast<std::int64_t>(part.size())));
  if (len <= budget) {
    lines.push_back(head + std::string(text));
    return lines;
  }

  // First cut: the last blank among the first `budget` characters; the
  // blank itself is not printed. A text without one is cut hard.
  std::size_t cut = budget;
  std::size_t shown = budget;
  for (std::size_t p = budget; p >= 1; --p) {
    if (At(text, p) == ' ') {
      cut = p;
      shown = p - 1;
      break;
    }
  }
  lines.push_back(head + std::string(Span(text, 1, shown)));

  while (true) {
    std::size_t start = cut + 1;
    if (start <= len && At(text, start) == ' ') ++start;
    const std::size_t limit = cut + kContinuationSpan;
    if (len <= limit) {
      lines.push_back(std::string(kContinuation) + std::string(Span(text, start, len)));
      return lines;
    }
    // The closing blank is printed: it is the line's last character.
    std::size_t next = limit;
    for (std::size_t p = limit; p > start; --p) {
      if (At(text, p) == ' ') {
        next = p;
        break;
      }
    }
    lines.push_back(std::string(kContinuation) + std::string(Span(text, start, next)));
    cut = next;
  }
}

std::vector<std::string> TracebackLines(const std::vector<TracebackEntry>& levels) {
  std::vector<std::string> lines = {"     Here is a traceback of subprogram calls in reverse order:",
                                    "     Routine name                    Error type  Error code",
                                    "     ------------                    ----------  ----------"};
  for (std::size_t level = levels.size(); level >= 1; --level) {
    const TracebackEntry& entry = levels[level - 1];
    std::string name = entry.name.substr(0, std::min(entry.name.size(), kNameWidth));
    name.resize(kNameWidth, ' ');
    std::string line =
        "     " + name + RightJustified(entry.type, 6) + "      " + RightJustified(entry.code, 6);
    if (level > 2) line += "    (Called internally)";
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace korvelan::numeric
