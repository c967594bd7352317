// The interpreter part of the Vm: registers that are not descriptors.  The code base itself is
// a system descriptor (SD_CODE_BASE) so that regeneration relocates it.
#pragma once
#include <cstdint>

namespace pellux {

struct InterpState {
  uint64_t code_offset = 0;   // offset of the last fetched descriptor from the code base
  uint64_t fail_offset = 0;   // failure offset of the current statement
  int64_t level = 0;          // recursion depth of the interpreter loop
  const void* current_fd = nullptr;  // function descriptor of the procedure being invoked
  uint64_t current_nargs = 0;        // operand count of the instruction being invoked
  uintptr_t native_stack_limit = 0;  // native stack address below which error 21 is raised
};

}  // namespace pellux
