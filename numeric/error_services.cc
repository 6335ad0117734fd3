#include "numeric/error_services.h"

#include <array>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "numeric/report_layout.h"
#include "textio/channels.h"
#include "textio/termination.h"

namespace korvelan::numeric {
namespace {

constexpr std::size_t kMaxLevels = 50;
constexpr std::size_t kNameWidth = 32;
constexpr std::size_t kMaxMessage = 1024;
constexpr int kSubstitutions = 9;

constexpr std::array<std::int32_t, 3> kStartUnits = {5, 6, 6};
constexpr std::array<bool, 7> kStartPrint = {false, false, true, true, true, true, true};
constexpr std::array<bool, 7> kStartStop = {false, false, false, true, true, false, true};

struct Level {
  std::string name;  // blank-padded to 32
  std::int32_t type = 0;
  std::int32_t code = 0;
};

// The last composed report until it is printed.
struct Pending {
  bool present = false;
  std::string text;  // ".  " + substituted template
  std::string name;  // the reporting routine, trailing blanks removed
  std::size_t level = 0;
  std::int32_t type = 0;
  std::int32_t code = 0;
};

struct State {
  std::array<std::int32_t, 3> units = kStartUnits;
  bool started = false;  // switches and level 1 in place
  std::vector<Level> stack;
  std::array<bool, 7> print = kStartPrint;
  std::array<bool, 7> stop = kStartStop;
  Pending pending;
  std::array<std::int32_t, kSubstitutions> ints{};
  std::array<std::string, kSubstitutions> strings;
  ReportSink sink;
};

State& St() {
  static State state;
  return state;
}

std::string Padded(std::string_view name) {
  std::string s(name.substr(0, std::min(name.size(), kNameWidth)));
  s.resize(kNameWidth, ' ');
  return s;
}

std::string_view Trimmed(std::string_view s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : s.substr(0, end + 1);
}

void Start() {
  State& s = St();
  if (s.started) return;
  s.started = true;
  s.print = kStartPrint;
  s.stop = kStartStop;
  s.stack.clear();
  s.stack.reserve(kMaxLevels);
  s.stack.push_back(Level{Padded("USER"), 0, 0});
}

// Every report goes to the error unit, UMACH(3). Whatever number the table
// holds there, the only unit connected in this program is standard output.
void Emit(std::string_view line) {
  const State& s = St();
  if (s.sink) {
    s.sink(line);
  } else {
    textio::ConsoleFormatted(line);
  }
}

bool ValidType(std::int32_t type) { return type >= 1 && type <= 7; }
std::size_t TypeIndex(std::int32_t type) { return static_cast<std::size_t>(type - 1); }

void PrintPending() {
  State& s = St();
  if (!s.pending.present) return;
  const Pending report = std::move(s.pending);
  s.pending = Pending{};
  Emit("");
  for (const std::string& line :
       MessageLines(ErrorTypeWord(report.type), report.code, report.name, report.text)) {
    Emit(line);
  }
  if (report.level > 2) {
    std::vector<TracebackEntry> levels;
    for (const Level& level : s.stack) levels.push_back({level.name, level.type, level.code});
    for (const std::string& line : TracebackLines(levels)) Emit(line);
  }
}

// The terminal stop. The exception leaves every library routine, so the
// stack goes back to what a fresh start would show.
[[noreturn]] void StopRun() {
  State& s = St();
  s.stack.resize(1);
  s.stack.front().type = 0;
  s.stack.front().code = 0;
  s.pending = Pending{};
  throw textio::Termination::Stop(1);
}

// One pass over the template: a substituted value is never rescanned.
std::string Substitute(std::string_view tmpl) {
  const State& s = St();
  std::string out;
  out.reserve(tmpl.size());
  std::size_t i = 0;
  while (i < tmpl.size()) {
    if (i + 5 <= tmpl.size() && tmpl[i] == '%' && tmpl[i + 1] == '(' &&
        (tmpl[i + 2] == 'I' || tmpl[i + 2] == 'L') && tmpl[i + 3] >= '1' && tmpl[i + 3] <= '9' &&
        tmpl[i + 4] == ')') {
      const std::size_t k = static_cast<std::size_t>(tmpl[i + 3] - '1');
      out += tmpl[i + 2] == 'I' ? std::to_string(s.ints[k]) : s.strings[k];
      i += 5;
    } else {
      out += tmpl[i++];
    }
  }
  return out;
}

// A report of the services themselves: printed and stopped on at once,
// since the stack it would travel through is the thing that is broken.
[[noreturn]] void ServiceFailure(std::int32_t code, std::string_view message) {
  E1MES(5, code, message);
  PrintPending();
  StopRun();
}

}  // namespace

void UMACH(std::int32_t n, std::int32_t& iunit) {
  State& s = St();
  if (n >= 1 && n <= 3) {
    iunit = s.units[static_cast<std::size_t>(n - 1)];
    return;
  }
  if (n >= -3 && n <= -1) {
    s.units[static_cast<std::size_t>(-n - 1)] = iunit;
    return;
  }
  // |N| in 64 bits: the most negative N has no 32-bit absolute value.
  const std::int64_t magnitude = std::llabs(static_cast<long long>(n));
  Emit("");
  Emit(" *** TERMINAL ERROR 5 from UMACH.  The absolute");
  Emit(" ***          value of the index variable must be");
  Emit(" ***          1, 2, or 3.  IABS(N) = " + RightJustified(magnitude, 6) + ".");
  Emit("");
  StopRun();
}

void E1PSH(std::string_view name) {
  Start();
  State& s = St();
  if (s.stack.size() >= kMaxLevels) {
    E1STI(1, static_cast<std::int32_t>(kMaxLevels));
    ServiceFailure(1, "Error condition in E1PSH.  Push would cause stack level to exceed %(I1).");
  }
  s.stack.push_back(Level{Padded(name), 0, 0});
}

void E1POP(std::string_view name) {
  Start();
  State& s = St();
  if (s.stack.size() <= 1) {
    E1STL(1, Trimmed(name));
    ServiceFailure(1, "Error condition in E1POP.  Cannot pop from %(L1) because stack is empty.");
  }
  if (s.stack.back().name != Padded(name)) {
    E1STL(1, Trimmed(name));
    E1STL(2, Trimmed(s.stack.back().name));
    ServiceFailure(2,
                   "Error condition in E1POP.  %(L1) does not match the name %(L2) in the "
                   "stack.");
  }
  const Level top = s.stack.back();
  if (top.type >= 2 && top.type <= 7) {
    Level& caller = s.stack[s.stack.size() - 2];
    caller.type = top.type;
    caller.code = top.code;
  }
  if (s.pending.present && s.print[TypeIndex(s.pending.type)]) PrintPending();
  if (ValidType(top.type) && s.stop[TypeIndex(top.type)]) StopRun();
  s.stack.pop_back();
}

void E1MES(std::int32_t type, std::int32_t code, std::string_view message) {
  Start();
  State& s = St();
  Level& level = s.stack.back();
  level.type = type;
  level.code = code;
  std::string text = ".  " + Substitute(message);
  if (text.size() > kMaxMessage) text.resize(kMaxMessage);
  if (!ValidType(type)) return;
  s.pending =
      Pending{true, std::move(text), std::string(Trimmed(level.name)), s.stack.size(), type, code};
  if (type >= 5 && s.print[TypeIndex(type)]) PrintPending();
}

std::int32_t N1RCD(std::int32_t level_offset) {
  Start();
  const State& s = St();
  if (level_offset < 0 || static_cast<std::size_t>(level_offset) >= s.stack.size()) return 0;
  return s.stack[s.stack.size() - 1 - static_cast<std::size_t>(level_offset)].code;
}

void E1STI(std::int32_t k, std::int32_t value) {
  if (k < 1 || k > kSubstitutions) return;
  St().ints[static_cast<std::size_t>(k - 1)] = value;
}

void E1STL(std::int32_t k, std::string_view value) {
  if (k < 1 || k > kSubstitutions) return;
  St().strings[static_cast<std::size_t>(k - 1)] = std::string(value);
}

void SetReportSwitches(std::int32_t type, bool print, bool stop) {
  if (!ValidType(type)) return;
  Start();
  St().print[TypeIndex(type)] = print;
  St().stop[TypeIndex(type)] = stop;
}

void SetReportSinkForTesting(ReportSink sink) { St().sink = std::move(sink); }

void ResetErrorServicesForTesting() { St() = State{}; }

}  // namespace korvelan::numeric
