// The error table and the common error procedure.
#include "interp/errors.h"

#include "interp/trace_points.h"
#include "runtime/termination.h"
#include "storage/storage.h"

namespace pellux {

namespace {

const char* const MESSAGES[ERROR_COUNT + 1] = {
    "",
    "Illegal data type",
    "Error in arithmetic operation",
    "Erroneous array or table reference",
    "Null string in illegal context",
    "Undefined function or operation",
    "Erroneous prototype",
    "Unknown keyword",
    "Variable not present where required",
    "Entry point of function not label",
    "Illegal argument to primitive function",
    "Reading beyond end of file or nonexistent file",
    "Illegal I/O unit",
    "Limit on defined data types exceeded",
    "Negative number in illegal context",
    "String overflow",
    "Overflow during pattern matching",
    "Error in PELLUX system",
    "Return from level zero",
    "Failure during goto evaluation",
    "Insufficient storage to continue",
    "Stack overflow",
    "Limit on statement execution exceeded",
    "Object exceeds size limit",
    "Undefined or erroneous goto",
    "Incorrect number of arguments",
    "Limit on compilation errors exceeded",
    "Erroneous end statement",
    "Execution of statement with compilation error",
    "NAN used in illegal context",
    "Error during write",
};

// Records the error number in &ERRTYPE (when the keyword cells exist yet).
void set_errtype(Vm& vm, int n) {
  if (vm.st.pkw) pkw(vm, P_ERRTYPE) = Descr::integer(n);
}

// The keyword trace on ERRTYPE.  The caller returns the failure right after it, so the trace
// function may run here.
void trace_errtype_keyword(Vm& vm) {
  if (tracing(vm)) trace_point(vm, TracePoint::ErrType, NULL_STRING);
}

}  // namespace

const char* error_message(int n) {
  if (n < 1 || n > ERROR_COUNT) return "";
  return MESSAGES[n];
}

Exit error_stmt(Vm& vm, int n) {
  set_errtype(vm, n);
  if (!vm.st.ukw || ukw_int(vm, K_ERRLIMIT) <= 0) terminate_on_error(vm);
  ukw(vm, K_ERRLIMIT) = Descr::integer(ukw_int(vm, K_ERRLIMIT) - 1);
  trace_errtype_keyword(vm);
  return X_FAIL;
}

void error_fatal(Vm& vm, int n) {
  set_errtype(vm, n);
  terminate_on_error(vm);
}

}  // namespace pellux
