// The statement interpreter: the fetch-and-invoke loop, operand evaluation and the built-in
// instructions that the compiler writes around every statement.
//
// The code base is the system descriptor SD_CODE_BASE (regeneration relocates it, since code
// blocks move like any other block); the code offset counts bytes from it and designates the
// last descriptor fetched.  Raw pointers into code are re-derived after every call that may
// allocate.
#include "interp/interp.h"

#include "interp/associations.h"
#include "interp/errors.h"
#include "interp/operators.h"
#include "interp/trace_points.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// The descriptor at the current code offset.
inline const Descr& at_offset(Vm& vm) {
  return *reinterpret_cast<const Descr*>(sys(vm, SD_CODE_BASE).a + vm.in.code_offset);
}

// Advances to the next descriptor of the code and returns it (a copy: the code may move once
// the caller evaluates anything).
inline Descr next_descr(Vm& vm) {
  vm.in.code_offset += 16;
  return at_offset(vm);
}

inline void set_code_base(Vm& vm, uint64_t addr) {
  sys(vm, SD_CODE_BASE) = Descr::make(addr, FLAG_POINTER, T_CODE);
  vm.in.code_offset = 0;
}

// A plain descriptor of the code that names a natural variable.
inline bool is_variable_operand(const Descr& d) {
  return d.v() == T_STRING && d.a != 0 && d.has(FLAG_POINTER);
}

// A NAME whose target is the value slot of a natural variable (A = the variable block).
inline Descr* named_variable(const Descr& name) {
  if (name.v() != T_NAME || name.a == 0) return nullptr;
  Descr* t = name.ptr();
  return t->has(FLAG_STRING) ? t : nullptr;
}

// Invokes an instruction: the argument-count check, then the procedure.
inline Exit invoke(Vm& vm, const Descr& ins) {
  const Descr* fd = reinterpret_cast<const Descr*>(ins.a);
  uint64_t nargs = ins.v();
  if (fd->v() != nargs && !fd->has(FLAG_FUNCTION)) error_fatal(vm, 25);
  check_native_depth(vm);
  if (fd->a == 0) return error_stmt(vm, 5);  // an empty function cell: nothing to call
  vm.in.current_fd = fd;
  vm.in.current_nargs = nargs;
  return reinterpret_cast<Proc>(fd->a)(vm);
}

}  // namespace

// --- Function descriptors of the built-in instructions ------------------------------------------

void interp_prepare(Vm& vm) {
  struct Def {
    OpCode op;
    Proc proc;
    uint64_t nargs;
    uint8_t flags;
  };
  static const Def defs[OP_COUNT] = {
      {OP_REBASE, op_rebase, 0, 0},
      {OP_STATEMENT, op_statement, 1, 0},
      {OP_LITERAL, op_literal, 1, 0},
      {OP_JUMP, op_jump, 1, 0},
      {OP_GOTO_LABEL, op_goto_label, 1, 0},
      {OP_GOTO_CODE, op_goto_code, 1, 0},
      {OP_ASSIGN, op_assign, 2, 0},
      {OP_MATCH, op_match, 2, 0},
      {OP_MATCH_REPLACE, op_match_replace, 3, 0},
      {OP_END, op_end, 0, 0},
      {OP_ERROR, op_error, 1, 0},
      {OP_UNDEFINED, op_undefined, 0, FLAG_FUNCTION},  // any argument count reaches error 5
  };
  Descr* fds = static_alloc(vm, 2 * OP_COUNT);
  for (const Def& d : defs) {
    fds[2 * d.op] = Descr::make(reinterpret_cast<uint64_t>(d.proc), d.flags, d.nargs);
    fds[2 * d.op + 1] = ZERO_DESCR;
  }
  vm.in.op_fds = fds;
}

Descr* op_descriptor(Vm& vm, OpCode op) { return vm.in.op_fds + 2 * op; }

// --- The loop --------------------------------------------------------------------------------------

Exit run_loop(Vm& vm) {
  vm.in.level += 1;
  for (;;) {
    const Descr d = next_descr(vm);
    if (!d.has(FLAG_FUNCTION)) continue;  // plain descriptors between instructions
    Exit x = invoke(vm, d);
    if (x == X_VALUE || x == X_NAME) continue;
    if (x == X_FAIL || x == X_ABORT) {
      vm.in.code_offset = vm.in.fail_offset;
      pkw(vm, P_STFCOUNT).a += 1;
      if (tracing(vm)) trace_point(vm, TracePoint::StFCount, pkw(vm, P_STFCOUNT));
      continue;
    }
    // Exits 4, 5 and 6 leave the loop only when a goto took them (RETURN and its kinds);
    // exit 4 from the body expression of a statement is a name result, so the statement goes on.
    if (vm.in.goto_return) {
      vm.in.goto_return = false;
      vm.in.level -= 1;
      return x - 3;  // FRETURN -> 1, NRETURN -> 2, RETURN -> 3
    }
  }
}

void interpret(Vm& vm) {
  if (!vm.rt.exec_started) {
    vm.rt.exec_start = read_timer();
    vm.rt.exec_started = true;
  }
  const Descr& start = sys(vm, SD_START_CODE);
  if (start.a == 0) error_fatal(vm, 17);  // translation left nothing to run
  set_code_base(vm, start.a);
  run_loop(vm);
  // The outermost activation has no caller to return to.
  error_fatal(vm, 18);
}

// --- Operand evaluation ------------------------------------------------------------------------------

Exit deref_name(Vm& vm, const Descr& name, bool input) {
  if (name.a == 0) return error_stmt(vm, 8);
  if (input) {
    if (Descr* var = named_variable(name)) return fetch_variable(vm, var);
  }
  result(vm) = name.ptr()[1];
  return X_VALUE;
}

Exit eval_instruction_value(Vm& vm, const Descr& d) {
  Exit x = invoke(vm, d);
  switch (x) {
    case X_VALUE:
      return X_VALUE;
    case X_NAME:
      return deref_name(vm, result(vm), true);
    case X_NAME_NOINPUT:
      return deref_name(vm, result(vm), false);
    default:
      return X_FAIL;
  }
}

Exit string_operand(Vm& vm, Descr* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  return string_argument(vm, result(vm), out);
}

Exit integer_operand(Vm& vm, int64_t* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  return integer_argument(vm, result(vm), out);
}

Exit variable_operand(Vm& vm, Descr* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr v = result(vm);
  if (v.v() == T_NAME) {
    if (v.a == 0 || !v.ptr()->has(FLAG_STRING)) return error_stmt(vm, 1);
    *out = Descr::pointer(v.ptr(), T_STRING);
    return X_VALUE;
  }
  if (v.v() == T_INTEGER || v.v() == T_REAL) v = string_form(vm, v);
  if (!is_string(v)) return error_stmt(vm, 1);
  if (v.a == 0) return error_stmt(vm, 4);
  *out = v;
  return X_VALUE;
}

Exit eval_name(Vm& vm) {
  const Descr d = next_descr(vm);
  if (!d.has(FLAG_FUNCTION)) {
    if (is_variable_operand(d)) {
      result(vm) = Descr::make(d.a, FLAG_POINTER, T_NAME);
      return X_NAME;
    }
    return error_stmt(vm, 8);
  }
  Exit x = invoke(vm, d);
  switch (x) {
    case X_NAME:
    case X_NAME_NOINPUT:
      return X_NAME;
    case X_VALUE:
      return error_stmt(vm, 8);
    default:
      return X_FAIL;
  }
}

void skip_operand(Vm& vm) {
  // Iterative so that a deeply nested operand cannot exhaust the native stack.
  uint64_t pending = 1;
  while (pending > 0) {
    const Descr d = next_descr(vm);
    pending -= 1;
    if (d.has(FLAG_FUNCTION)) pending += d.v();
  }
}

Exit eval_name_or_value(Vm& vm) {
  const Descr d = next_descr(vm);
  if (!d.has(FLAG_FUNCTION)) {
    if (is_variable_operand(d)) {
      result(vm) = Descr::make(d.a, FLAG_POINTER, T_NAME);
      return X_NAME;
    }
    result(vm) = d;
    return X_VALUE;
  }
  switch (invoke(vm, d)) {
    case X_NAME:
    case X_NAME_NOINPUT:
      return X_NAME;
    case X_VALUE:
      return X_VALUE;
    default:
      return X_FAIL;
  }
}

Exit eval_expression(Vm& vm, const Descr& expression, bool as_name) {
  check_depth(vm);
  // The code base is a root, so the saved one is kept on the system stack: the code may move
  // while the expression runs.
  Pin saved_base(vm, sys(vm, SD_CODE_BASE));
  const uint64_t saved_offset = vm.in.code_offset;
  const uint64_t saved_fail = vm.in.fail_offset;
  sys(vm, SD_CODE_BASE) = Descr::make(expression.a, FLAG_POINTER, T_CODE);
  vm.in.code_offset = 0;
  const Exit x = as_name ? eval_name_or_value(vm) : eval_value(vm);
  sys(vm, SD_CODE_BASE) = *saved_base;
  vm.in.code_offset = saved_offset;
  vm.in.fail_offset = saved_fail;
  return x;
}

void check_depth(Vm& vm) {
  check_native_depth(vm);
  const SysStack& s = vm.st.stack;
  if (s.limit != nullptr && s.top >= s.limit) error_fatal(vm, 21);
}

void native_stack_overflow(Vm& vm) { error_fatal(vm, 21); }

// --- Assignment ----------------------------------------------------------------------------------------

namespace {

// Keyword assignment: the value as an integer into the keyword's cell.
Exit assign_keyword(Vm& vm, const Descr& kname, const Descr& value) {
  int64_t n;
  Exit x = integer_argument(vm, value, &n);
  if (x != X_VALUE) return X_FAIL;
  Descr v = Descr::integer(n);
  kname.ptr()[1] = v;
  result(vm) = v;
  return X_VALUE;
}

}  // namespace

Exit assign_name(Vm& vm, const Descr& name, const Descr& value) {
  if (name.v() == T_KNAME) return assign_keyword(vm, name, value);
  if (!is_name(name) || name.a == 0) return error_stmt(vm, 8);
  Descr* slot = name.ptr() + 1;
  *slot = value;
  result(vm) = value;
  if (Descr* var = named_variable(name)) {
    if (const Descr* assoc = output_association(vm, var)) {
      Pin pn(vm, name);
      Pin pv(vm, value);
      output_write(vm, *pv, assoc);
      if (tracing(vm)) trace_point(vm, TracePoint::Value, *pn);
      result(vm) = *pv;
      return X_VALUE;
    }
    if (tracing(vm)) trace_point(vm, TracePoint::Value, name);
  }
  return X_VALUE;
}

// --- Built-in instructions ----------------------------------------------------------------------------

Exit op_rebase(Vm& vm) {
  sys(vm, SD_CODE_BASE).a += vm.in.code_offset;
  vm.in.code_offset = 0;
  return X_VALUE;
}

Exit op_statement(Vm& vm) {
  const Descr header = next_descr(vm);
  Descr* stno = &pkw(vm, P_STNO);
  pkw(vm, P_LASTNO).a = stno->a;
  stno->a = header.a;
  vm.in.fail_offset = header.v();
  Descr* stcount = &pkw(vm, P_STCOUNT);
  if (static_cast<int64_t>(stcount->a) >= ukw_int(vm, K_STLIMIT)) error_fatal(vm, 22);
  if (vm.rt.interrupt_count.load(std::memory_order_relaxed) != 0) terminate_on_interrupt(vm);
  stcount->a += 1;
  if (tracing(vm)) trace_point(vm, TracePoint::StCount, *stcount);
  return X_VALUE;
}

Exit op_literal(Vm& vm) {
  result(vm) = next_descr(vm);
  return X_VALUE;
}

Exit op_jump(Vm& vm) {
  const Descr target = next_descr(vm);
  vm.in.code_offset = target.a;
  return X_VALUE;
}

Exit op_goto_label(Vm& vm) {
  const Descr d = next_descr(vm);
  Descr* label;
  if (!d.has(FLAG_FUNCTION)) {
    if (!is_variable_operand(d)) error_fatal(vm, 24);
    label = d.ptr();
  } else {
    Exit x = invoke(vm, d);
    if (x == X_FAIL || x == X_ABORT) error_fatal(vm, 19);
    const Descr r = result(vm);
    if (x == X_VALUE) {
      if (r.v() != T_STRING || r.a == 0 || r.has(FLAG_FUNCTION)) error_fatal(vm, 24);
      label = r.ptr();
    } else {
      // A name result ($X and the like) designates the variable that is the label.
      label = named_variable(r);
      if (label == nullptr) error_fatal(vm, 24);
    }
  }
  if (tracing(vm)) {
    // The trace may run a function that moves the label's variable.
    Pin held(vm, Descr::pointer(label, T_STRING));
    trace_point(vm, TracePoint::Label, *held);
    label = held->ptr();
  }
  uint64_t la = reinterpret_cast<uint64_t>(label);
  Exit ret = 0;
  if (la == sys(vm, SD_STR_RETURN).a) ret = X_RETURN;
  else if (la == sys(vm, SD_STR_FRETURN).a) ret = X_FRETURN;
  else if (la == sys(vm, SD_STR_NRETURN).a) ret = X_NRETURN;
  if (ret != 0) {
    vm.in.goto_return = true;
    return ret;
  }
  const Descr& code = var_attr(label);
  if (code.a == 0) error_fatal(vm, 24);
  set_code_base(vm, code.a);
  return X_VALUE;
}

Exit op_goto_code(Vm& vm) {
  Exit x = eval_value(vm);
  if (x != X_VALUE) error_fatal(vm, 19);
  const Descr r = result(vm);
  if (r.v() != T_CODE || r.a == 0) error_fatal(vm, 24);
  set_code_base(vm, r.a);
  return X_VALUE;
}

Exit op_assign(Vm& vm) {
  // The subject is most often a plain variable: its name needs no evaluation.
  const Descr subject = *reinterpret_cast<const Descr*>(sys(vm, SD_CODE_BASE).a + vm.in.code_offset + 16);
  if (!subject.has(FLAG_FUNCTION) && is_variable_operand(subject)) {
    vm.in.code_offset += 16;
    result(vm) = Descr::make(subject.a, FLAG_POINTER, T_NAME);
  } else if (eval_name(vm) != X_NAME) {
    return X_FAIL;
  }
  Pin name(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  return assign_name(vm, *name, result(vm));
}

// op_match and op_match_replace are the pattern matcher's (pattern/match.cpp).

Exit op_end(Vm& vm) { terminate_normally(vm); }

Exit op_error(Vm& vm) {
  const Descr d = next_descr(vm);
  pkw(vm, P_STNO).a = d.a;
  error_fatal(vm, 28);
}

}  // namespace pellux
