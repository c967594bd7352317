// Arrays, tables and programmer-defined data types.
//
// Array block:  title (V = body bytes), prototype string, dimension count n (in A), n dimension
//   descriptors last dimension first (A = lower bound, V = extent), then the elements with the
//   first subscript varying fastest.
// Table block:  title (V = 32 x (slots + 1)), slots as (value, key) pairs (a key that is all
//   zero marks an empty slot), then the trailer: extension size in bytes (A) and the link
//   (A = 1 at the end of the chain, else a pointer to the next block of the same layout).
// Data object:  a block of the type's code holding its fields in order.
#pragma once
#include <cstdint>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// --- Array layout ---------------------------------------------------------------------------------
inline constexpr uint64_t ARRAY_PROTO = 1, ARRAY_DIMS = 2, ARRAY_FIRST_DIM = 3;
inline uint64_t array_dims(const Descr* array) { return array[ARRAY_DIMS].a; }
// Dimension k (1 = first of the prototype) of an array of n dimensions.
inline const Descr& array_dim(const Descr* array, uint64_t k) {
  return array[ARRAY_FIRST_DIM + array_dims(array) - k];
}
inline Descr* array_elements(Descr* array) { return array + ARRAY_FIRST_DIM + array_dims(array); }

// --- Table layout ---------------------------------------------------------------------------------
inline uint64_t table_slots(const Descr* block) { return block->v() / 32 - 1; }
inline Descr* table_trailer(Descr* block) { return block + 1 + 2 * table_slots(block); }
// The next block of the chain, or nullptr at its end.
inline Descr* table_next(Descr* block) {
  const Descr& link = table_trailer(block)[1];
  return link.has(FLAG_POINTER) ? link.ptr() : nullptr;
}

// A new table of `slots` slots whose extensions have `extension` (at least 1) slots.  Sizes must be
// already checked against the block limit.  May allocate.
Descr make_table(Vm& vm, uint64_t slots, uint64_t extension);
// The NAME of the entry for *key in the table *table, creating it when absent (both must be
// held where regeneration updates them: pins or system-stack slots).  May allocate.
Descr table_lookup(Vm& vm, const Descr* table, const Descr* key);

// CONVERT between tables and arrays; result in result(vm).  Exits X_VALUE or X_FAIL.  The
// argument is a pinned slot.  May allocate.
Exit convert_table_to_array(Vm& vm, const Descr* table);
Exit convert_array_to_table(Vm& vm, const Descr* array);

// DATA with the prototype string given (the type DirEnt is made this way at start-up): result
// in result(vm).  Exits X_VALUE, or X_FAIL after an error.  May allocate.
Exit define_data_type(Vm& vm, const Descr& prototype);
// A new object of the data type `code` holding `count` field values taken from `values`
// (system-stack slots).  May allocate.
Descr make_data_object(Vm& vm, uint64_t code, const Descr* values, uint64_t count);

// Procedures behind data constructors and field functions (also VALUE).
Exit data_constructor(Vm& vm);
Exit field_access(Vm& vm);

// SORT's key order (exposed for the unit tests): negative, zero or positive as x sorts before,
// with or after y in ascending order.
int sort_compare(const Descr& x, const Descr& y);

}  // namespace pellux
