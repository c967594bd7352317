// Defined functions: the definition records made by DEFINE, the call protocol, and the
// built-ins that work on function definitions and labels (APPLY ARG LOCAL OPSYN LABEL LOAD
// UNLOAD).
#pragma once
#include <cstdint>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// The procedure behind every defined function's descriptor (any argument count; V = number of
// parameters; the cell's second descriptor points to the definition block).  May allocate.
Exit call_defined(Vm& vm);
// The procedure behind a function declared by LOAD.  May allocate.
Exit call_loaded(Vm& vm);

// Definition block: title, then the entry label's variable, the function name's variable, the
// parameters in order, then the locals in order.
inline constexpr uint64_t DEF_ENTRY = 1, DEF_NAME = 2, DEF_FIRST_PARAM = 3;
inline bool is_defined_function(const Descr* cell) {
  return cell != nullptr && cell->a == reinterpret_cast<uint64_t>(&call_defined);
}

}  // namespace pellux
