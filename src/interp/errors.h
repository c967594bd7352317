// The error table and the error procedure.
#pragma once
#include "vm.h"

namespace pellux {

inline constexpr int ERROR_COUNT = 30;
// Message of error n (1..30).
const char* error_message(int n);

// Raises a statement-class error: when the program survives it (&ERRLIMIT > 0) returns X_FAIL
// for the raising procedure to return; otherwise ends the run through error termination.
Exit error_stmt(Vm& vm, int n);
// Raises a fatal error: always ends the run.
[[noreturn]] void error_fatal(Vm& vm, int n);

}  // namespace pellux
