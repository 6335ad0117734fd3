// The numerical library's shared services: the unit table (UMACH) and the
// error-report mechanism (routine stack, E1MES reports, print and stop
// switches) through which the library routines report bad arguments.
//
// A terminal (type 5) report is printed at once on the error unit, as
// formatted records each ended with CR LF; when the reporting routine leaves
// (E1POP) the run stops: nothing more is printed and
// textio::Termination::Stop(1) is thrown. Every routine of the library
// therefore lets that exception pass.
//
// Process-wide state, main thread only.
#ifndef KORVELAN_NUMERIC_ERROR_SERVICES_H_
#define KORVELAN_NUMERIC_ERROR_SERVICES_H_

#include <cstdint>
#include <string_view>

namespace korvelan::numeric {

// N = 1, 2, 3: IUNIT receives entry N of the unit table (initially 5, 6, 6:
// standard input, standard output, the error-report unit). N = -1 .. -3:
// entry -N is set to IUNIT. Any other N: terminal report "UMACH ... IABS(N)"
// and stop. Unit 6 is standard output; reports sent to any other unit number
// go to standard output too (no other unit is connected in this program).
void UMACH(std::int32_t n, std::int32_t& iunit);

// Enter / leave a routine. E1POP of a routine whose level holds a terminal
// error prints what is pending and stops the run (throws).
void E1PSH(std::string_view name);
void E1POP(std::string_view name);

// Report an error of `type` (1 .. 7) and `code` at the current level with a
// message template; %(Ik) and %(Lk) are replaced by the values set with
// E1STI / E1STL. Types 5 .. 7 with their print switch on are printed now.
void E1MES(std::int32_t type, std::int32_t code, std::string_view message);

// The error code recorded at the current level (0 if none).
std::int32_t N1RCD(std::int32_t level_offset);

// Substitution values for %(Ik) and %(Lk), k = 1 .. 9.
void E1STI(std::int32_t k, std::int32_t value);
void E1STL(std::int32_t k, std::string_view value);

// Clears the unit table, stack and switches back to their start values.
// For tests only: the program itself never resets them.
void ResetErrorServicesForTesting();

}  // namespace korvelan::numeric

#endif  // KORVELAN_NUMERIC_ERROR_SERVICES_H_
