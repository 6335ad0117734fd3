// Termination: how a run of KORVELAN ends, and the one exception type by
// which every early ending travels up to the main program.
//
// Parsers, loaders and engine phases never print reports or call exit():
// they throw a Termination. The main program catches it and hands it to
// Exit(), the one place that writes the report, closes every open file and
// picks the exit status. This keeps every phase testable in-process.
//
// Every line this program writes ends with carriage return and line feed,
// reports on standard error included.
#ifndef KORVELAN_TEXTIO_TERMINATION_H_
#define KORVELAN_TEXTIO_TERMINATION_H_

#include <exception>
#include <string>
#include <string_view>

namespace korvelan::textio {

// Unit numbers under which the channels are connected. They appear in the
// run-time reports ("unit 10, file ...") and nowhere else.
inline constexpr int kConsoleInputUnit = -4;
inline constexpr int kDataUnit = 10;
inline constexpr int kWeightsUnit = 18;
inline constexpr int kOutputUnit = 3;
inline constexpr std::string_view kConsoleInputName = "CONIN$";

// Message numbers of the severe run-time conditions this program can meet.
enum class Severe : int {
  kPermission = 9,          // "permission to access file denied, unit %d, file %s"
  kEndOfFile = 24,          // "end-of-file during read, unit %d, file %s"
  kFileNotFound = 29,       // "file not found, unit %d, file %s"
  kOpenFailure = 30,        // "open failure, unit %d, file %s"
  kNoMemory = 41,           // "insufficient virtual memory"
  kSyntax = 59,             // "list-directed I/O syntax error, unit %d, file %s"
  kConversion = 64,         // "input conversion error, unit %d, file %s"
  kAlreadyAllocated = 151,  // "allocatable array is already allocated"
  kNotAllocated = 153,      // "allocatable array or pointer is not allocated"
  kBounds = 161,            // "Program Exception - array bounds exceeded"
};

class Termination : public std::exception {
 public:
  // A severe condition without a channel (41, 151, 153, 161).
  static Termination SevereCondition(Severe number);
  // A severe I/O condition on a channel: unit number and the name shown in
  // the report (a file's full path, or "CONIN$").
  static Termination SevereIo(Severe number, int unit, std::string name);
  // A stop that writes nothing more and ends with `status` (the restricted
  // analysis's limit stop and the numerical library's terminal stop: 1).
  static Termination Stop(int status);
  // One line of the program's own on standard error (without the line end),
  // then exit with `status`: refused classes, failed writes, usage errors.
  static Termination Message(std::string line, int status);

  // The report line without its line end: "forrtl: severe (24): end-of-file
  // during read, unit 10, file /work/data.txt" for severe conditions, the
  // message for Message(), empty for Stop().
  std::string ReportLine() const;
  // Whether the call-stack listing follows the report (severe conditions).
  bool HasStackListing() const { return kind_ == Kind::kSevere; }
  // The call-stack listing (see StackListing()) as it stood when this
  // condition was raised; empty unless HasStackListing(). Recorded at
  // construction because the scopes are unwound by the time the main
  // program catches the exception.
  const std::string& StackText() const { return stack_; }
  // The process exit status: the low byte of 0xC0000000 + number for severe
  // conditions (24, 59, 161, ...), otherwise the status given.
  int ExitStatus() const;
  int SevereNumber() const { return number_; }  // 0 unless severe

  const char* what() const noexcept override { return "korvelan termination"; }

 private:
  enum class Kind { kSevere, kStop, kMessage };
  Termination(Kind kind, int number, int unit, std::string text, int status);
  Kind kind_;
  int number_;  // severe message number
  int unit_;    // channel, when has_unit_
  bool has_unit_ = false;
  std::string text_;  // channel name (severe) or the message line
  int status_;
  std::string stack_;  // listing recorded at construction (severe only)
};

// The text of a severe condition with its placeholders filled, e.g.
// "end-of-file during read, unit 10, file /work/data.txt".
std::string SevereText(Severe number, int unit, std::string_view name);

// Names of the active routines, for the call-stack listing after a severe
// report. A PhaseScope pushes on construction and pops on destruction; the
// listing shows the innermost first. The stack is process-wide (guarded, so
// a worker thread's scopes cannot corrupt it) and is meant for the main
// thread's routines; `name` must outlive the scope (a string literal).
// The main program itself is the implicit outermost routine: it does not
// push a scope of its own.
class PhaseScope {
 public:
  explicit PhaseScope(const char* name);
  ~PhaseScope();
  PhaseScope(const PhaseScope&) = delete;
  PhaseScope& operator=(const PhaseScope&) = delete;
};

// The call-stack listing: "Call stack (innermost first):" and then one line
// per active routine, "  in NAME", innermost first, and always last the main
// program, "  in KORVELAN"; every line ends with CR LF. With no scope active
// the listing is the heading and "  in KORVELAN". Deterministic: no
// addresses, so golden files can hold it.
std::string StackListing();

// Starts the process-wide handling of endings: ignores SIGPIPE and SIGXFSZ so
// that failed writes come back as errors; blocks SIGINT, SIGQUIT and SIGHUP
// in every thread and starts the interrupt thread, which on such a signal
// waits until no output record or results file is being written, writes
// "forrtl: error (200): program aborting due to control-C event" (control-
// BREAK for SIGQUIT, window-CLOSE for SIGHUP), closes every open file and
// ends the process with 128 + the signal number. A console record that has
// not gone out after a second (standard output a pipe nobody reads) is not
// waited for any longer; a results file being written always is, and one
// not yet begun is then never begun. When no thread can be started (a
// process limit), the signals are left to their default action instead.
// Call once, first thing in main, before any other thread exists (later
// calls do nothing). The signals must come to the process (kill), not to
// one thread: raise() in a thread that blocks them leaves them pending on
// that thread.
void InstallInterruptHandling();

// Writes the report of `t` (report line, stack listing) on standard error,
// closes every open file and ends the process with t.ExitStatus().
// Never takes the output lock, so it may be called by a thread that holds it
// (a failed write to the results file); an ending already under way (an
// interrupt, another Exit) wins and this call waits for the process to end.
// Buffered results bytes are written out where possible before the close;
// errors met while ending are not reported. No destructor runs (_exit).
[[noreturn]] void Exit(const Termination& t);

// The normal end: flushes and closes every open file and standard output; a
// failure there is a failed write (exit 1 with its message line); otherwise
// ends the process with status 0.
[[noreturn]] void NormalEnd();

}  // namespace korvelan::textio

#endif  // KORVELAN_TEXTIO_TERMINATION_H_
