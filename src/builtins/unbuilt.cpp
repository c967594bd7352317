// Built-in functions whose modules do not exist yet: each raises error 5, "Undefined function
// or operation", like any other undefined function.  A module that builds one of them removes
// its line here.
#include "builtins/table.h"
#include "interp/errors.h"

namespace pellux {

#define PELLUX_UNBUILT(NAME) \
  Exit bi_##NAME(Vm& vm) { return error_stmt(vm, 5); }

PELLUX_UNBUILT(STOPTR)
PELLUX_UNBUILT(TRACE)

#undef PELLUX_UNBUILT

}  // namespace pellux
