// The statement interpreter: the object-code loop, operand evaluation and the built-in
// instructions.
#pragma once
#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Creates the function descriptors of the built-in instructions (op_statement, ...) in the
// static area.  Called once after storage_prepare.
void interp_prepare(Vm& vm);

// Function descriptors of the built-in instructions, for the compiler to point at.
enum OpCode : int {
  OP_REBASE, OP_STATEMENT, OP_LITERAL, OP_JUMP, OP_GOTO_LABEL, OP_GOTO_CODE, OP_ASSIGN,
  OP_MATCH, OP_MATCH_REPLACE, OP_END, OP_ERROR, OP_UNDEFINED, OP_COUNT
};
Descr* op_descriptor(Vm& vm, OpCode op);
// An instruction descriptor for a function descriptor with `nargs` operands following.
inline Descr instruction(const Descr* fd, uint64_t nargs) {
  return Descr::make(reinterpret_cast<uint64_t>(fd), FLAG_FUNCTION, nargs);
}

// Runs the program from the code position in SD_START_CODE until it ends.
[[noreturn]] void interpret(Vm& vm);

// Operand evaluation for procedures: advances the code offset past the next operand and
// evaluates it.  Result in result(vm).  May allocate.
Exit eval_value(Vm& vm);   // exits: X_FAIL or X_VALUE
Exit eval_name(Vm& vm);    // exits: X_FAIL or X_NAME (a value where a name is needed: error 8)
void skip_operand(Vm& vm);

// Raises fatal error 21 when the native or the system stack passes its limit.
void check_depth(Vm& vm);

}  // namespace pellux
