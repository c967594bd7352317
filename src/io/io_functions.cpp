// The I/O functions that associate variables with units and control units: INPUT, OUTPUT,
// DETACH, ENDFILE, REWIND, BACKSPACE, SEEK and IO_FINDUNIT.
//
// An association is a pair (variable, association block) in the input or the output
// association list; the block holds the unit and the record length.  The fetch and the
// assignment of an associated variable (interp/associations.cpp) find the pair by the
// variable.
#include <cstring>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "io/io.h"
#include "io/units.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr int64_t MAX_UNIT = 999;

// The predefined association block of `unit` in a list, or nullptr.  The start-up blocks are
// the only ones in the static area; the pairs holding them may have been detached since.
Descr* predefined_block(Vm& vm, SysSlot list, int64_t unit) {
  Descr* l = pair_list(vm, list);
  for (uint64_t i = 0; i < pair_count(l); ++i) {
    const Descr& block = pair_at(l, i)[1];
    if (block.a == 0 || !block.has(FLAG_POINTER) || !in_static_area(vm, block.a)) continue;
    if (block.ptr()[1] == Descr::integer(unit)) return block.ptr();
  }
  return nullptr;
}

// INPUT and OUTPUT: (name, unit, length, file, attributes).
Exit associate(Vm& vm, Direction dir) {
  const SysSlot list = dir == Direction::Read ? SD_INPUT_ASSOC : SD_OUTPUT_ASSOC;
  StackMark mark(vm);
  Descr var, file, attrs;
  int64_t unit, length;
  if (variable_operand(vm, &var) != X_VALUE) return X_FAIL;
  sysstack_push(vm, var);
  if (integer_operand(vm, &unit) != X_VALUE) return X_FAIL;
  if (integer_operand(vm, &length) != X_VALUE) return X_FAIL;
  if (string_operand(vm, &file) != X_VALUE) return X_FAIL;
  sysstack_push(vm, file);
  if (string_operand(vm, &attrs) != X_VALUE) return X_FAIL;
  sysstack_push(vm, attrs);
  if (unit < 0 || unit > MAX_UNIT) return error_stmt(vm, 12);
  if (unit == 0) unit = dir == Direction::Read ? 5 : 6;
  const Descr* slots = mark.base();
  if (!is_null_string(slots[1])) {
    if (!bind_unit(vm, unit, dir, string_text(slots[1]), string_length(slots[1]),
                   string_text(slots[2]), string_length(slots[2])))
      return X_FAIL;
  }
  if (length < 0) return error_stmt(vm, 14);
  Descr block;
  Descr* predefined = length == 0 ? predefined_block(vm, list, unit) : nullptr;
  if (predefined != nullptr) {
    block = Descr::make(reinterpret_cast<uint64_t>(predefined), FLAG_POINTER, 0);
  } else {
    if (length == 0 && dir == Direction::Read) length = 80;
    block = allocate_block(vm, 32, 0);
    block.ptr()[1] = Descr::integer(unit);
    block.ptr()[2] = Descr::integer(length);
  }
  // Replace the block of the variable's pair, or add a pair.
  const Descr key = mark.base()[0];
  Descr* l = pair_list(vm, list);
  if (Descr* at = locate_pair(l, key)) {
    at[2] = block;
  } else {
    Pin held(vm, block);
    add_pair(vm, list, key, *held);
  }
  return succeed(vm, NULL_STRING);
}

// The unit argument of ENDFILE, REWIND and BACKSPACE: 1 to 999, else error 12.
Exit unit_operand(Vm& vm, int64_t* unit) {
  if (integer_operand(vm, unit) != X_VALUE) return X_FAIL;
  if (*unit < 1 || *unit > MAX_UNIT) return error_stmt(vm, 12);
  return X_VALUE;
}

// Moves the file position of a unit; false (nothing changed but the end-of-file state) when
// the unit was never used, is a directory, cannot be opened, the origin is not 0, 1 or 2, or
// the platform refuses.  Origin 1 counts from the next byte the program would read.
bool seek_unit(Vm& vm, int64_t unit, int64_t offset, int64_t origin, int64_t* position) {
  UnitRecord* u = vm.io.units[unit];
  if (u == nullptr || u->valid != UNIT_VALID || u->access == 0) return false;
  if (u->flags & UF_DIR) return false;
  if (u->open_mark != UNIT_OPEN) {
    if (u->access & ACCESS_READ) open_for_reading(vm, u);
    else open_for_writing(vm, u);
  }
  if (u->open_mark != UNIT_OPEN || u->handle == platform::NO_HANDLE) return false;
  // Reading may go on after an end of file was reported.
  u->eof_state = EOF_READING;
  if (origin < 0 || origin > 2) return false;
  UnitRecord* b = read_buffer_of(vm, u);
  if (origin == 1) {
    const int64_t unread = static_cast<int64_t>(b->blocke - b->place);
    if (__builtin_sub_overflow(offset, unread, &offset)) return false;
  }
  int64_t pos = 0;
  if (!platform::file_seek(u->handle, offset, static_cast<int>(origin), &pos)) {
    platform::diag_write("Windows SetFilePointerEx failed ####\r\n");
    platform::diag_last_error();
    return false;
  }
  b->place = b->blocke = 0;
  ++b->fills;
  b->vseek = pos;
  *position = pos;
  return true;
}

}  // namespace

Exit bi_SEEK(Vm& vm) {
  int64_t unit, offset, origin;
  if (integer_operand(vm, &unit) != X_VALUE) return X_FAIL;
  if (integer_operand(vm, &offset) != X_VALUE) return X_FAIL;
  if (integer_operand(vm, &origin) != X_VALUE) return X_FAIL;
  if (unit < 1 || unit > MAX_UNIT) return error_stmt(vm, 12);
  int64_t pos;
  if (!seek_unit(vm, unit, offset, origin, &pos)) return X_FAIL;
  return succeed(vm, Descr::integer(pos));
}

Exit bi_REWIND(Vm& vm) {
  int64_t unit;
  if (unit_operand(vm, &unit) != X_VALUE) return X_FAIL;
  int64_t pos;
  if (!seek_unit(vm, unit, 0, 0, &pos)) return error_stmt(vm, 11);
  return succeed(vm, NULL_STRING);
}

Exit bi_INPUT(Vm& vm) { return associate(vm, Direction::Read); }
Exit bi_OUTPUT(Vm& vm) { return associate(vm, Direction::Write); }

Exit bi_DETACH(Vm& vm) {
  Descr var;
  if (variable_operand(vm, &var) != X_VALUE) return X_FAIL;
  for (SysSlot list : {SD_INPUT_ASSOC, SD_OUTPUT_ASSOC}) {
    if (Descr* at = locate_pair(pair_list(vm, list), var)) at[2] = NULL_STRING;
  }
  return succeed(vm, NULL_STRING);
}

Exit bi_ENDFILE(Vm& vm) {
  int64_t unit;
  if (unit_operand(vm, &unit) != X_VALUE) return X_FAIL;
  close_unit(vm, unit);
  return succeed(vm, NULL_STRING);
}

Exit bi_BACKSPACE(Vm& vm) {
  int64_t unit;
  if (unit_operand(vm, &unit) != X_VALUE) return X_FAIL;
  return succeed(vm, NULL_STRING);
}

Exit bi_IO_FINDUNIT(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  for (int64_t u = MAX_UNIT; u >= 20; --u) {
    if (vm.io.units[u] == nullptr) return succeed(vm, Descr::integer(u));
  }
  return X_FAIL;
}

}  // namespace pellux
