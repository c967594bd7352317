// Input and output associations of variables: the hooks run by operand fetch and assignment.
#pragma once
#include "interp/state.h"
#include "storage/storage.h"
#include "vm.h"

namespace pellux {

// Rebuilds the filter from the list in system descriptor `slot`.
void rebuild_assoc_filter(Vm& vm, AssocFilter& f, SysSlot slot);

// True when the variable may have an association in the list (a false positive is possible,
// a false negative is not).  Costs a few loads.
inline bool assoc_candidate(Vm& vm, AssocFilter& f, SysSlot slot, Descr* var) {
  const Descr& list = sys(vm, slot);
  if (list.a != f.list || (f.watch != nullptr && (f.watch->a | f.watch->fv) != 0))
    rebuild_assoc_filter(vm, f, slot);
  uint64_t key = var_link(var).v() & 1023;
  return (f.bits[key >> 6] >> (key & 63)) & 1;
}

// The association block (title; body: unit, length) of the variable in the list, or nullptr
// when it has none or it was detached.
const Descr* find_association(Vm& vm, SysSlot slot, Descr* var);

inline const Descr* input_association(Vm& vm, Descr* var) {
  if (ukw_int(vm, K_INPUT) == 0) return nullptr;
  if (!assoc_candidate(vm, vm.in.input_filter, SD_INPUT_ASSOC, var)) return nullptr;
  return find_association(vm, SD_INPUT_ASSOC, var);
}
inline const Descr* output_association(Vm& vm, Descr* var) {
  if (ukw_int(vm, K_OUTPUT) == 0) return nullptr;
  if (!assoc_candidate(vm, vm.in.output_filter, SD_OUTPUT_ASSOC, var)) return nullptr;
  return find_association(vm, SD_OUTPUT_ASSOC, var);
}

// Reads the next record for the input-associated variable `var` (association block `assoc`):
// the variable's new value and result(vm).  Exits X_VALUE, X_FAIL at end of file, or the exit
// of error 11 / 15.  May allocate.
Exit input_fetch(Vm& vm, Descr* var, const Descr* assoc);
// Writes the string form of `value` to the unit of the association block.  A failed write does
// not fail the assignment.  May allocate (string form of a non-number, non-string value).
void output_write(Vm& vm, const Descr& value, const Descr* assoc);

}  // namespace pellux
