// The interpreter's whole state, one object created at start-up and passed by reference.
#pragma once

#include "compiler/state.h"
#include "interp/state.h"
#include "io/state.h"
#include "pattern/state.h"
#include "runtime/state.h"
#include "storage/state.h"

namespace pellux {

struct Vm {
  Storage st;
  IoState io;
  CompilerState cc;
  InterpState in;
  RuntimeState rt;
  PatternState pat;
};

// Exits of every procedure.  Operand evaluation: 1 failure, 2 name, 3 value, 4 name to
// dereference without input association.  From a goto: 4 FRETURN, 5 NRETURN, 6 RETURN.
using Exit = int;
inline constexpr Exit X_FAIL = 1;
inline constexpr Exit X_NAME = 2;
inline constexpr Exit X_VALUE = 3;
inline constexpr Exit X_NAME_NOINPUT = 4;
inline constexpr Exit X_FRETURN = 4;
inline constexpr Exit X_NRETURN = 5;
inline constexpr Exit X_RETURN = 6;
inline constexpr Exit X_ABORT = 7;

// A procedure: evaluates its own operands from the object code and returns its exit.
using Proc = Exit (*)(Vm&);

}  // namespace pellux
