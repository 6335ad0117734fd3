// The layout of the numerical library's error reports, as pure functions of
// what the report says, so that the cutting rules can be checked without
// the process-wide error state.
//
// A report is a sequence of formatted records (no leading blank of their
// own; the caller ends each with CR LF):
//   ""                                     an empty record
//   " *** TERMINAL ERROR 9 from S2OWR.  INDKEY(1) = 0 ..."   first line
//   " ***          ..."                    continuation lines
//   traceback block                        only for internally called routines
#ifndef KORVELAN_NUMERIC_REPORT_LAYOUT_H_
#define KORVELAN_NUMERIC_REPORT_LAYOUT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvelan::numeric {

// The type words of error types 1 .. 7; "" for any other type.
std::string_view ErrorTypeWord(std::int32_t type);

// The first line and the continuation lines of one message.
//
// `text` is the composed message (it begins with ".  "); `name` is the
// reporting routine's name with its trailing blanks already removed.
// With part = " " + code + " from " + name, the first line holds at most
// K = 59 - length(part) characters of the text, cut before the last blank
// among them; each continuation line covers text positions up to 64 past
// the previous cut, ending on (and printing) its last blank, or cut hard at
// 64 when it has none. A continuation that would start on a blank starts one
// position later, which is how the two blanks after a sentence vanish at a
// line start.
std::vector<std::string> MessageLines(std::string_view type_word, std::int32_t code,
                                      std::string_view name, std::string_view text);

// One level of the routine stack as the traceback shows it.
struct TracebackEntry {
  std::string name;  // as stored (blank-padded or not; cut to 32 characters)
  std::int32_t type = 0;
  std::int32_t code = 0;
};

// The three heading lines and one line per level, `levels` given from level
// 1 upward; printed from the top level down. Levels above 2 are marked
// "(Called internally)".
std::vector<std::string> TracebackLines(const std::vector<TracebackEntry>& levels);

// An integer right-justified in a field of `width` characters; a value too
// wide for the field fills it with asterisks, as every formatted field does.
std::string RightJustified(std::int64_t value, std::size_t width);

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_REPORT_LAYOUT_H_
