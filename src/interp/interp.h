// The statement interpreter: the object-code loop, operand evaluation and the built-in
// instructions.
#pragma once
#include "interp/associations.h"
#include "storage/descr.h"
#include "storage/storage.h"
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

// One activation of the interpreter loop from the current code base, code offset 0 (the caller
// sets both).  Returns only when a goto leaves it: FRETURN -> X_FAIL, NRETURN -> X_NAME,
// RETURN -> X_VALUE.  Used by the call of defined functions.  May allocate.
Exit run_loop(Vm& vm);

// Operand evaluation for procedures: advances the code offset past the next operand and
// evaluates it.  Result in result(vm).  May allocate.
inline Exit eval_value(Vm& vm);   // exits: X_FAIL or X_VALUE
Exit eval_name(Vm& vm);           // exits: X_FAIL or X_NAME (a value where a name is needed: error 8)
// The next operand evaluated and converted as a built-in's string argument (a number becomes
// its text, another type is error 1) or integer argument (see integer_argument).  Exits
// X_VALUE with *out set, or X_FAIL.  May allocate.
Exit string_operand(Vm& vm, Descr* out);
Exit integer_operand(Vm& vm, int64_t* out);
// The natural variable the next operand names, as a STRING descriptor: a NAME of a variable,
// or a string or number giving the variable's text.  The null string is error 4; anything else
// (a keyword name, the name of an element, another type) is error 1.  May allocate.
Exit variable_operand(Vm& vm, Descr* out);
// A procedure's success with a value.
inline Exit succeed(Vm& vm, const Descr& value) {
  result(vm) = value;
  return X_VALUE;
}
// The part of eval_value for an operand that is an instruction (kept out of line so that the
// common plain operands cost no call frame).
Exit eval_instruction_value(Vm& vm, const Descr& ins);
// Skips the operand that starts after the current code offset without evaluating it.
void skip_operand(Vm& vm);
// Evaluates the next operand without dereferencing a name: a natural variable gives its NAME,
// an instruction whatever it returns (X_NAME for a name, X_VALUE for a value).  Exits X_FAIL,
// X_NAME or X_VALUE.  May allocate.
Exit eval_name_or_value(Vm& vm);
// Evaluates an unevaluated expression (an EXPRESSION value) where it stands in its code: the
// code base, code offset and failure offset are saved and restored around it.  With `as_name`
// the result is left as eval_name_or_value leaves it; otherwise it is a value (input
// association applied to a variable).  May allocate.
Exit eval_expression(Vm& vm, const Descr& expression, bool as_name);

// The value of a NAME or keyword NAME into result(vm).  With `input`, a natural variable with
// an input association (while &INPUT is non-zero) reads its next record.  Exits X_FAIL (end of
// file, or an error that was survived) or X_VALUE.  May allocate.
Exit deref_name(Vm& vm, const Descr& name, bool input);
// Assignment to a NAME or keyword NAME, as the assignment statement does it: a keyword takes
// the value as an integer (error 1 for a value that does not convert; a real that does not fit
// fails); a variable stores the value and performs its output association (while &OUTPUT is
// non-zero).  Exits X_FAIL or X_VALUE (result(vm) = the value stored).  May allocate.
Exit assign_name(Vm& vm, const Descr& name, const Descr& value);

// Raises fatal error 21 when the native or the system stack passes its limit.
void check_depth(Vm& vm);
// The native half of check_depth, for the invocation of every instruction (the system stack
// is checked by every push).
[[noreturn]] void native_stack_overflow(Vm& vm);
inline void check_native_depth(Vm& vm) {
  char here;
  if (reinterpret_cast<uintptr_t>(&here) < vm.in.native_stack_limit) native_stack_overflow(vm);
}

// The code base (the address the code offset counts from).
inline Descr* code_base(Vm& vm) { return sys(vm, SD_CODE_BASE).ptr(); }

// Instruction procedures (their function descriptors are made by interp_prepare).
Exit op_rebase(Vm& vm);
Exit op_statement(Vm& vm);
Exit op_literal(Vm& vm);
Exit op_jump(Vm& vm);
Exit op_goto_label(Vm& vm);
Exit op_goto_code(Vm& vm);
Exit op_assign(Vm& vm);
Exit op_match(Vm& vm);
Exit op_match_replace(Vm& vm);
Exit op_end(Vm& vm);
Exit op_error(Vm& vm);

// Fetches the value of a natural variable into result(vm), honouring its input association.
// May allocate (an input record).
inline Exit fetch_variable(Vm& vm, Descr* var) {
  if (const Descr* assoc = input_association(vm, var)) return input_fetch(vm, var, assoc);
  result(vm) = var_value(var);
  return X_VALUE;
}

inline Exit eval_value(Vm& vm) {
  vm.in.code_offset += 16;
  const Descr d = *reinterpret_cast<const Descr*>(sys(vm, SD_CODE_BASE).a + vm.in.code_offset);
  if (d.has(FLAG_FUNCTION)) {
    // A constant needs no procedure call.
    if (d.a == reinterpret_cast<uint64_t>(vm.in.op_fds + 2 * OP_LITERAL)) {
      vm.in.code_offset += 16;
      result(vm) = *reinterpret_cast<const Descr*>(sys(vm, SD_CODE_BASE).a + vm.in.code_offset);
      return X_VALUE;
    }
    return eval_instruction_value(vm, d);
  }
  // A natural variable (fetched, honouring an input association) or a constant.
  if (d.v() == T_STRING && d.a != 0 && d.has(FLAG_POINTER)) return fetch_variable(vm, d.ptr());
  result(vm) = d;
  return X_VALUE;
}

}  // namespace pellux
