// The interpreter part of the Vm: registers that are not descriptors.  The code base itself is
// a system descriptor (SD_CODE_BASE) so that regeneration relocates it.
#pragma once
#include <cstdint>

#include "storage/descr.h"

namespace pellux {

// A quick pre-test for the variable association lists (input and output), so that a fetch or an
// assignment of an unassociated variable costs a few loads instead of a pair-list search.
//
// `bits` has one bit per value of (order key mod 1024) of every variable that appears in the
// list; the order key is stored in the variable's own block and never changes, so the filter
// survives regeneration.  The filter is rebuilt whenever the list may have gained a pair: when
// the system descriptor of the list points to another block (the list was copied one pair
// longer, or moved by regeneration), or when the first empty pair seen at the last rebuild
// (`watch`) has been filled.  A set bit only means "search the list"; the search decides.
struct AssocFilter {
  uint64_t list = 0;              // address of the list block the filter was built from
  const Descr* watch = nullptr;   // first empty pair at that time (nullptr: the list was full)
  uint64_t bits[16] = {};
};

struct InterpState {
  uint64_t code_offset = 0;   // offset of the last fetched descriptor from the code base
  uint64_t fail_offset = 0;   // failure offset of the current statement
  int64_t level = 0;          // recursion depth of the interpreter loop
  const void* current_fd = nullptr;  // function descriptor of the procedure being invoked
  uint64_t current_nargs = 0;        // operand count of the instruction being invoked
  uintptr_t native_stack_limit = 0;  // native stack address below which error 21 is raised

  Descr* op_fds = nullptr;    // function descriptors of the built-in instructions (static area)
  bool goto_return = false;   // set by a goto to RETURN / FRETURN / NRETURN for the loop
  AssocFilter input_filter;
  AssocFilter output_filter;
  AssocFilter trace_filters[5];  // one per trace kind, in the order of the trace lists
};

}  // namespace pellux
