// The numerical library's shared services: the unit table (UMACH) and the
// error-report mechanism (routine stack, E1MES reports, print and stop
// switches) through which the library routines report bad arguments.
//
// A routine that checks its arguments brackets its work with E1PSH(name) /
// E1POP(name); between them it sets substitution values (E1STI, E1STL),
// reports each failed check with E1MES, and after a group of checks skips
// its work when N1RCD(0) is not 0.
//
// A terminal (type 5) report is printed at once on the error unit, as
// formatted records (no leading blank of their own) each ended with CR LF;
// when the reporting routine leaves (E1POP) the run stops: nothing more is
// printed and textio::Termination::Stop(1) is thrown. Every routine of the
// library therefore lets that exception pass. Before the throw the routine
// stack is unwound to level 1 ("USER", type and code 0), as the exception
// leaves every library routine on its way out.
//
// Report layout (see report_layout.h): an empty line; " *** " + type word in
// 8 + " ERROR " + code + " from " + routine + the text ".  message", cut at
// blanks onto " ***          " continuation lines; and, for a routine deeper
// than level 2 (called internally by another library routine), the
// traceback of every level from the top down to "USER".
//
// Error types: 1 NOTE, 2 ALERT, 3 WARNING, 4 FATAL, 5 TERMINAL, 6 WARNING
// (with fix), 7 FATAL (with fix). Print switches start as off, off, on, on,
// on, on, on; stop switches as off, off, off, on, on, off, on.
//
// Process-wide state, main thread only.
#ifndef KORVELAN_NUMERIC_ERROR_SERVICES_H_
#define KORVELAN_NUMERIC_ERROR_SERVICES_H_

#include <cstdint>
#include <functional>
#include <string_view>

namespace korvelan::numeric {

// N = 1, 2, 3: IUNIT receives entry N of the unit table (initially 5, 6, 6:
// standard input, standard output, the error-report unit). N = -1 .. -3:
// entry -N is set to IUNIT. Any other N: the report "TERMINAL ERROR 5 from
// UMACH ... IABS(N) = " with |N| in a 6-character field (asterisks when it
// does not fit) between two empty lines, and stop. Unit 6 is standard
// output; reports sent to any other unit number go to standard output too
// (no other unit is connected in this program).
void UMACH(std::int32_t n, std::int32_t& iunit);

// Enter a routine: push its name (blank-padded, cut to 32 characters) with
// type and code 0. A push beyond 50 levels is reported (type 5, code 1,
// "Error condition in E1PSH ...") and stops.
void E1PSH(std::string_view name);

// Leave a routine. The name must match the top of the stack (compared as
// stored, trailing blanks ignored); otherwise, or at level 1, a type 5
// report from E1POP (code 1 "... because stack is empty.", code 2 "... does
// not match the name ... in the stack.") and a stop.
// A level holding type 2 .. 7 passes its type and code to the calling
// level; a report still pending (types 1 .. 4) is then printed if its print
// switch is on; if the type's stop switch is on the run stops (throws).
// Otherwise the level is removed.
void E1POP(std::string_view name);

// Report an error of `type` (1 .. 7) and `code` at the current level. Every
// %(Ik) and %(Lk) (k = 1 .. 9) in `message` is replaced, in one pass, by the
// value set with E1STI / E1STL; the pending text is ".  " + the result, cut
// to 1024 characters. Types 5 .. 7 with their print switch on are printed
// now (and no longer pending). A type outside 1 .. 7 is recorded but never
// printed or stopped on.
void E1MES(std::int32_t type, std::int32_t code, std::string_view message);

// The error code recorded at the current level (level_offset 0), or at the
// level level_offset below it; 0 if none or no such level.
std::int32_t N1RCD(std::int32_t level_offset);

// Substitution values for %(Ik) and %(Lk), k = 1 .. 9 (other k ignored).
// Integers are written without blanks, with a minus sign when negative;
// strings exactly as given. Values stay set until replaced.
void E1STI(std::int32_t k, std::int32_t value);
void E1STL(std::int32_t k, std::string_view value);

// Sets the print and stop switches of error type 1 .. 7 (other types
// ignored). The program itself keeps the start values.
void SetReportSwitches(std::int32_t type, bool print, bool stop);

// Where report lines go: by default textio::ConsoleFormatted (standard
// output, CR LF added). A test may capture them instead; an empty function
// restores the default.
using ReportSink = std::function<void(std::string_view line)>;
void SetReportSinkForTesting(ReportSink sink);

// Clears the unit table, stack and switches back to their start values and
// restores the default report sink. For tests only: the program itself
// never resets them.
void ResetErrorServicesForTesting();

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_ERROR_SERVICES_H_
