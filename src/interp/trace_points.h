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
};

inline bool tracing(Vm& vm) { return ukw_int(vm, K_TRACE) > 0; }
inline void trace_point(Vm&, TracePoint, const Descr&) {}

}  // namespace pellux
