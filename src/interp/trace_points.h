// The places where the trace procedure is called.  Tracing itself (TRACE, STOPTR and the trace
// lists) is not built yet: each place makes its one check of &TRACE and calls trace_point, which
// does nothing so far.  When tracing exists, trace_point looks up the trace for the subject and
// calls the trace procedure.
#pragma once
#include "storage/storage.h"
#include "vm.h"

namespace pellux {

enum class TracePoint {
  StCount,   // after &STCOUNT is incremented (keyword trace on STCOUNT)
  StFCount,  // after &STFCOUNT is incremented (keyword trace on STFCOUNT)
  Label,     // a goto to a label (LABEL trace on the label's name)
  Value,     // an assignment to a variable (VALUE trace on the variable)
  Call,      // a defined function entered (CALL trace on the function's name)
  Return,    // a defined function left (RETURN trace on the function's name)
  FncLevel,  // after &FNCLEVEL changed (keyword trace on FNCLEVEL)
};

inline bool tracing(Vm& vm) { return ukw_int(vm, K_TRACE) > 0; }
inline void trace_point(Vm&, TracePoint, const Descr&) {}

// The function trace of &FTRACE, called while &FTRACE > 0 on entry to and return from a defined
// function.  Writing the trace line and counting &FTRACE down belong together: until the trace
// lines exist, neither happens.
inline void function_trace(Vm&, bool /*returning*/, const Descr& /*function name*/) {}

}  // namespace pellux
