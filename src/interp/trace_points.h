// The places where traces fire.  Each place makes its one check of &TRACE (tracing()) and then
// calls trace_point, which looks the subject up in the kind's association list (through a
// filter, so that an untraced name costs a few loads) and runs the trace procedure.
#pragma once
#include "storage/storage.h"
#include "vm.h"

namespace pellux {

enum class TracePoint {
  StCount,   // after &STCOUNT is incremented (keyword trace on STCOUNT)
  StFCount,  // after &STFCOUNT is incremented (keyword trace on STFCOUNT)
  ErrType,   // after &ERRTYPE is set (keyword trace on ERRTYPE)
  Label,     // a goto to a label (LABEL trace on the label's name)
  Value,     // an assignment to a variable (VALUE trace on the variable)
  Call,      // a defined function entered (CALL trace on the function's name)
  Return,    // a defined function left (RETURN trace on the function's name)
  FncLevel,  // after &FNCLEVEL changed (keyword trace on FNCLEVEL)
};

inline bool tracing(Vm& vm) { return ukw_int(vm, K_TRACE) > 0; }

// Fires the trace of the subject, if it has one: for Value a NAME, for Label, Call and Return
// the STRING of the name; keyword points ignore it.  Runs user code, so it may allocate and
// move anything the caller holds outside a root.
void trace_point(Vm& vm, TracePoint point, const Descr& subject);

// The function trace of &FTRACE, called while &FTRACE > 0 on entry to and return from a defined
// function: counts &FTRACE down and writes the call or return line.  May allocate.
void function_trace(Vm& vm, bool returning, const Descr& function_name);

}  // namespace pellux
