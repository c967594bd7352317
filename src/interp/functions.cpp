// Defined functions and the call protocol, and the built-ins that work on function definitions
// and labels: DEFINE, APPLY, ARG, LOCAL, OPSYN, LABEL, LOAD and UNLOAD.
//
// A call saves the values of the function's variable, its parameters and its locals on the
// system stack and sets them by plain stores; the interpreter registers are kept beside them
// (the code base as a descriptor, since regeneration moves code blocks and relocates the
// interior pointer).  Restoring takes the saved values off in reverse order and uses the
// definition block the call started with, so a function redefined while it runs restores the
// variables it saved.
#include "interp/functions.h"

#include <vector>

#include "builtins/table.h"
#include "compiler/syntax.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "interp/trace_points.h"
#include "platform/platform.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline Descr string_of_variable(const Descr* var) {
  return Descr::pointer(var, T_STRING);
}

// --- Prototypes ---------------------------------------------------------------------------------

struct Token {
  uint64_t offset;  // from the start of the string block, as in a specifier
  uint64_t length;
};

// A prototype: a name, then "(" and names separated by commas up to ")", then names separated
// by commas to the end.  Empty entries are skipped.
struct Prototype {
  Token name;
  std::vector<Token> inner;
  std::vector<Token> after;
};

inline void advance_one(Spec& text) {
  text.second = Descr::make(text.second.a + 1, 0, text.length() - 1);
}
inline Token token_of(const Spec& tok) { return Token{tok.second.a, tok.length()}; }

// False for any malformed shape: no name, no "(", a "(" inside, no ")", a blank or any other
// character that cannot be part of a name.  Never allocates.
bool parse_prototype(const Descr& p, Prototype* out) {
  Spec text = Spec::of_string(p);
  Spec tok;
  ScanResult r = syntax_scan(SyntaxTable::PrototypeNameStart, text, &tok);
  if (r.outcome != ScanOutcome::Stopped || r.type != PROTO_LPAREN || tok.length() == 0) return false;
  out->name = token_of(tok);
  advance_one(text);
  for (;;) {
    r = syntax_scan(SyntaxTable::PrototypeNameStart, text, &tok);
    if (r.outcome != ScanOutcome::Stopped || r.type == PROTO_LPAREN) return false;
    if (tok.length() > 0) out->inner.push_back(token_of(tok));
    advance_one(text);
    if (r.type == PROTO_RPAREN) break;
  }
  while (text.length() > 0) {
    r = syntax_scan(SyntaxTable::PrototypeNameStart, text, &tok);
    if (r.outcome == ScanOutcome::Error) return false;
    if (tok.length() > 0) out->after.push_back(token_of(tok));
    if (r.outcome == ScanOutcome::RanOut) break;
    if (r.type != PROTO_COMMA) return false;
    advance_one(text);
  }
  return true;
}

// The variable of a token of the string held in *source.  May allocate.
Descr token_variable(Vm& vm, const Descr* source, const Token& t) {
  return make_variable(vm, Spec{*source, Descr::make(t.offset, 0, t.length)});
}

// --- Function table lookups ---------------------------------------------------------------------

// The cell of a function name given as a string, or nullptr when the name has none.
Descr* existing_cell(Vm& vm, const Descr& name) { return function_cell(vm, name, false); }

inline uint64_t block_descriptors(const Descr* block) { return block->v() / 16; }

// Parameter count and local count of a defined function's cell.
inline uint64_t parameter_count(const Descr* cell) { return cell->v(); }
inline uint64_t local_count(const Descr* cell) {
  const Descr* def = cell[1].ptr();
  return block_descriptors(def) - 2 - parameter_count(cell);
}

}  // namespace

// --- DEFINE ---------------------------------------------------------------------------------------

Exit bi_DEFINE(Vm& vm) {
  StackMark mark(vm);
  Descr p, e;
  if (string_operand(vm, &p) != X_VALUE) return X_FAIL;
  sysstack_push(vm, p);
  if (string_operand(vm, &e) != X_VALUE) return X_FAIL;
  sysstack_push(vm, e);
  Prototype proto;
  if (!parse_prototype(mark.base()[0], &proto)) return error_stmt(vm, 6);

  // The variables, pinned on the stack as they are made: function name, parameters, locals.
  const Descr* source = mark.base();
  Descr name = token_variable(vm, source, proto.name);
  sysstack_push(vm, name);
  for (const Token& t : proto.inner) {
    Descr v = token_variable(vm, source, t);
    sysstack_push(vm, v);
  }
  for (const Token& t : proto.after) {
    Descr v = token_variable(vm, source, t);
    sysstack_push(vm, v);
  }
  // Creating the cell may allocate, so it comes before the block.
  Descr* cell = function_cell(vm, mark.base()[2], true);
  const uint64_t names = proto.inner.size() + proto.after.size() + 1;
  Descr block = allocate_block(vm, 16 * (names + 1), 0);
  Descr* def = block.ptr();
  const Descr* vars = mark.base();
  def[DEF_ENTRY] = is_null_string(vars[1]) ? vars[2] : vars[1];
  for (uint64_t i = 0; i < names; ++i) def[DEF_NAME + i] = vars[2 + i];
  cell[0] = Descr::make(reinterpret_cast<uint64_t>(&call_defined), FLAG_FUNCTION, proto.inner.size());
  cell[1] = Descr::pointer(def, 0);
  return succeed(vm, NULL_STRING);
}

// --- The call --------------------------------------------------------------------------------------

Exit call_defined(Vm& vm) {
  // The instruction's function descriptor and count: nested calls in the arguments overwrite
  // the registers they came in.
  const Descr* cell = static_cast<const Descr*>(vm.in.current_fd);
  const uint64_t nargs = vm.in.current_nargs;
  const uint64_t nparams = parameter_count(cell);
  StackMark mark(vm);
  sysstack_push(vm, cell[1]);  // the definition this call uses, whatever happens to the cell

  // 1. The arguments, left to right, as values; a failure fails the call before any change.
  for (uint64_t i = 0; i < nargs; ++i) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    sysstack_push(vm, result(vm));
  }

  // The entry label must be one before anything is saved or changed.
  const Descr* def = mark.base()[0].ptr();
  Descr* const entry = def[DEF_ENTRY].ptr();
  if (var_attr(entry).a == 0) return error_stmt(vm, 9);
  const uint64_t nvars = block_descriptors(def) - 1;  // function name, parameters, locals

  // 2-3. Save and set the function's variable, the parameters (surplus arguments dropped,
  // missing ones null) and the locals.  Pushing does not allocate in the work space, so the
  // definition block stays where it is.
  const Descr* const args = mark.base() + 1;
  const Descr* const vars = def + DEF_NAME;
  const uint64_t bound = nparams < nargs ? nparams : nargs;
  for (uint64_t i = 0; i < nvars; ++i) {
    Descr& value = var_value(vars[i].ptr());
    sysstack_push(vm, value);
    value = (i >= 1 && i <= bound) ? args[i - 1] : NULL_STRING;
  }

  // 4. The interpreter state.
  const uint64_t saved_fail = vm.in.fail_offset;
  const uint64_t saved_offset = vm.in.code_offset;
  const Descr saved_stno = pkw(vm, P_STNO);
  Descr* const saved_base = sysstack_push(vm, sys(vm, SD_CODE_BASE));
  // The function's name, read afresh each time: a trace may allocate and move it.
  auto fname = [&] { return string_of_variable(mark.base()[0].ptr()[DEF_NAME].ptr()); };

  // 5-7. Entry.
  sys(vm, SD_CODE_BASE) = Descr::make(var_attr(entry).a, FLAG_POINTER, T_CODE);
  vm.in.code_offset = 0;
  if (ukw_int(vm, K_FTRACE) > 0) function_trace(vm, false, fname());
  if (tracing(vm)) trace_point(vm, TracePoint::Call, fname());
  pkw(vm, P_FNCLEVEL).a += 1;
  if (tracing(vm)) trace_point(vm, TracePoint::FncLevel, pkw(vm, P_FNCLEVEL));

  // 8. The body runs until a goto to RETURN, FRETURN or NRETURN.
  const Exit how = run_loop(vm);
  SysSlot kind = how == X_VALUE ? SD_STR_RETURN : how == X_FAIL ? SD_STR_FRETURN : SD_STR_NRETURN;
  pkw(vm, P_RTNTYPE) = sys(vm, kind);

  // 9-10. Return traces and the level.
  if (ukw_int(vm, K_FTRACE) > 0) function_trace(vm, true, fname());
  if (tracing(vm)) trace_point(vm, TracePoint::Return, fname());
  pkw(vm, P_FNCLEVEL).a -= 1;
  if (tracing(vm)) trace_point(vm, TracePoint::FncLevel, pkw(vm, P_FNCLEVEL));

  // 11. Restore the interpreter state, take the result, restore the variables last first.
  sys(vm, SD_CODE_BASE) = *saved_base;
  vm.in.code_offset = saved_offset;
  vm.in.fail_offset = saved_fail;
  pkw(vm, P_STNO) = saved_stno;
  const Descr* const names = mark.base()[0].ptr() + DEF_NAME;
  const Descr value = var_value(names[0].ptr());
  const Descr* saved = saved_base;
  for (uint64_t i = nvars; i-- > 0;) var_value(names[i].ptr()) = *--saved;

  // 12. The way back.
  if (how == X_FAIL) return X_FAIL;
  if (how == X_VALUE) return succeed(vm, value);
  // NRETURN: the result designates a variable.
  switch (value.v()) {
    case T_STRING:
      if (value.a == 0 || value.has(FLAG_FUNCTION)) break;
      result(vm) = Descr::make(value.a, FLAG_POINTER, T_NAME);
      return X_NAME;
    case T_INTEGER: {
      const Descr s = int_to_string(vm, value.ival());
      result(vm) = Descr::make(s.a, FLAG_POINTER, T_NAME);
      return X_NAME;
    }
    case T_NAME:
    case T_KNAME:
      result(vm) = value;
      return X_NAME;
    default:
      break;
  }
  return error_stmt(vm, 4);
}

// --- APPLY, ARG, LOCAL ------------------------------------------------------------------------------

Exit bi_APPLY(Vm& vm) {
  const uint64_t nargs = vm.in.current_nargs;
  if (nargs < 2) error_fatal(vm, 25);
  Descr name;
  if (string_operand(vm, &name) != X_VALUE) return X_FAIL;
  const Descr* cell = existing_cell(vm, name);
  if (cell == nullptr) return error_stmt(vm, 5);
  // The remaining operands are the arguments of the function applied, as if its own
  // instruction had called it.
  const uint64_t count = nargs - 1;
  if (cell->v() != count && !cell->has(FLAG_FUNCTION)) error_fatal(vm, 25);
  check_depth(vm);
  if (cell->a == 0) return error_stmt(vm, 5);
  vm.in.current_fd = cell;
  vm.in.current_nargs = count;
  return reinterpret_cast<Proc>(cell->a)(vm);
}

namespace {

// ARG and LOCAL: the name of the n-th parameter (or local) of a defined function, as a string.
Exit definition_name(Vm& vm, bool local) {
  Descr name;
  if (string_operand(vm, &name) != X_VALUE) return X_FAIL;
  Pin pname(vm, name);
  int64_t n;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  if (n <= 0) return X_FAIL;
  const Descr* cell = existing_cell(vm, *pname);
  if (!is_defined_function(cell)) return error_stmt(vm, 10);
  const uint64_t params = parameter_count(cell);
  const uint64_t limit = local ? local_count(cell) : params;
  if (static_cast<uint64_t>(n) > limit) return X_FAIL;
  const uint64_t index = DEF_FIRST_PARAM + (local ? params : 0) + static_cast<uint64_t>(n) - 1;
  return succeed(vm, string_of_variable(cell[1].ptr()[index].ptr()));
}

}  // namespace

Exit bi_ARG(Vm& vm) { return definition_name(vm, false); }
Exit bi_LOCAL(Vm& vm) { return definition_name(vm, true); }

// --- OPSYN -------------------------------------------------------------------------------------------

Exit bi_OPSYN(Vm& vm) {
  Descr s;
  if (string_operand(vm, &s) != X_VALUE) return X_FAIL;
  Pin fresh(vm, s);
  if (string_operand(vm, &s) != X_VALUE) return X_FAIL;
  Pin old(vm, s);
  int64_t n;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  if (is_null_string(*fresh)) return error_stmt(vm, 4);
  if (n < 0 || n > 2) return error_stmt(vm, 10);

  // The target: a function name's cell, or the record of an operator symbol of that arity.
  Descr* target;
  if (n == 0) {
    target = function_cell(vm, *fresh, true);
  } else {
    const char* sym = string_text(*fresh);
    const uint64_t len = string_length(*fresh);
    target = n == 1 ? find_unary_operator(vm, sym, len) : find_binary_operator(vm, sym, len);
    if (target == nullptr) return error_stmt(vm, 10);
  }
  // The source: an operator symbol of the same arity, else a function name (a name without a
  // definition gives the undefined operation).
  const Descr* source = nullptr;
  if (n != 0) {
    const char* sym = string_text(*old);
    const uint64_t len = string_length(*old);
    source = n == 1 ? find_unary_operator(vm, sym, len) : find_binary_operator(vm, sym, len);
  }
  if (source == nullptr) source = existing_cell(vm, *old);
  if (source == nullptr) source = op_descriptor(vm, OP_UNDEFINED);
  // A copy of the definition as it is now: later redefinitions of OLD do not reach NEW.
  const Descr d0 = source[0], d1 = source[1];
  target[0] = d0;
  target[1] = d1;
  return succeed(vm, NULL_STRING);
}

// --- LABEL, UNLOAD -----------------------------------------------------------------------------------

Exit bi_LABEL(Vm& vm) {
  Descr s;
  if (string_operand(vm, &s) != X_VALUE) return X_FAIL;
  if (s.a == 0 || var_attr(s.ptr()).a == 0) return X_FAIL;
  return succeed(vm, NULL_STRING);
}

Exit bi_UNLOAD(Vm& vm) {
  Descr s;
  if (string_operand(vm, &s) != X_VALUE) return X_FAIL;
  if (is_null_string(s)) return error_stmt(vm, 4);
  Descr* cell = function_cell(vm, s, true);
  const Descr* undefined = op_descriptor(vm, OP_UNDEFINED);
  cell[0] = undefined[0];
  cell[1] = undefined[1];
  return succeed(vm, NULL_STRING);
}

// --- LOAD --------------------------------------------------------------------------------------------
// A loaded function's cell: FLAG_FUNCTION, V = number of declared arguments; the second
// descriptor points to a block of the declared type codes (INTEGER descriptors), the result
// type last.  There is no way to call code outside the program, so a call converts its
// arguments, writes what it would have passed to the console, and fails.

namespace {

// The data-type code of a type name token, or 0 when no type has that name.
uint64_t type_code_of(Vm& vm, const Descr* source, const Token& t) {
  const Descr name = lookup_variable(vm, string_text(*source) + t.offset - VAR_HEADER, t.length);
  if (name.a == 0) return 0;
  const Descr* pair = locate_pair_second(sys(vm, SD_DATATYPES).ptr(), name);
  return pair == nullptr ? 0 : pair[1].a;
}

void diag_value(Vm& vm, const Descr& v) {
  char buf[REAL_TEXT_MAX];
  switch (v.v()) {
    case T_INTEGER:
      platform::diag_write(buf, format_integer(v.ival(), buf));
      break;
    case T_REAL:
      platform::diag_write(buf, format_real(vm, v.a, buf));
      break;
    case T_STRING:
      platform::diag_write("'");
      platform::diag_write(string_text(v), string_length(v));
      platform::diag_write("'");
      break;
    default: {
      const Descr name = datatype_name(vm, v);
      platform::diag_write(string_text(name), string_length(name));
    }
  }
}

}  // namespace

Exit bi_LOAD(Vm& vm) {
  StackMark mark(vm);
  Descr p, l;
  if (string_operand(vm, &p) != X_VALUE) return X_FAIL;
  sysstack_push(vm, p);
  if (string_operand(vm, &l) != X_VALUE) return X_FAIL;  // the library: nothing to load from
  Prototype proto;
  if (!parse_prototype(mark.base()[0], &proto) || proto.after.size() > 1) return error_stmt(vm, 6);
  std::vector<uint64_t> codes;
  for (const Token& t : proto.inner) codes.push_back(type_code_of(vm, mark.base(), t));
  codes.push_back(proto.after.empty() ? T_STRING : type_code_of(vm, mark.base(), proto.after[0]));
  for (uint64_t c : codes)
    if (c == 0) return error_stmt(vm, 6);

  Descr name = token_variable(vm, mark.base(), proto.name);
  Descr* cell = function_cell(vm, name, true);
  Descr block = allocate_block(vm, 16 * codes.size(), 0);
  for (size_t i = 0; i < codes.size(); ++i) block.ptr()[1 + i] = Descr::integer(int64_t(codes[i]));
  cell[0] = Descr::make(reinterpret_cast<uint64_t>(&call_loaded), FLAG_FUNCTION, proto.inner.size());
  cell[1] = Descr::pointer(block.ptr(), 0);
  return succeed(vm, NULL_STRING);
}

Exit call_loaded(Vm& vm) {
  const Descr* cell = static_cast<const Descr*>(vm.in.current_fd);
  const uint64_t nargs = vm.in.current_nargs;
  const uint64_t declared = cell->v();
  StackMark mark(vm);
  sysstack_push(vm, cell[1]);
  for (uint64_t i = 0; i < nargs; ++i) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    if (i < declared) sysstack_push(vm, result(vm));
  }
  for (uint64_t i = nargs; i < declared; ++i) sysstack_push(vm, NULL_STRING);
  // Each argument converted to its declared type.
  for (uint64_t i = 0; i < declared; ++i) {
    const uint64_t type = mark.base()[0].ptr()[1 + i].a;
    Descr* slot = mark.base() + 1 + i;
    const Descr v = *slot;
    if (type == T_INTEGER) {
      int64_t n;
      if (is_real(v) ? !real_to_integer(v.a, &n)
                     : is_string(v) ? !string_to_integer(vm, v, &n) : !is_integer(v))
        return error_stmt(vm, 1);
      *slot = Descr::integer(is_integer(v) ? v.ival() : n);
    } else if (type == T_REAL) {
      uint64_t bits;
      if (is_integer(v)) bits = Descr::real(static_cast<double>(v.ival())).a;
      else if (is_string(v)) {
        if (!string_to_real(vm, v, &bits)) return error_stmt(vm, 1);
      } else if (is_real(v)) bits = v.a;
      else return error_stmt(vm, 1);
      *slot = Descr::real_bits(bits);
    } else if (type == T_STRING) {
      Descr s;
      if (string_argument(vm, v, &s) != X_VALUE) return X_FAIL;
      mark.base()[1 + i] = s;
    } else if (v.v() != type && !(type == T_NAME && is_name(v))) {
      return error_stmt(vm, 1);
    }
  }
  platform::diag_write("#### external function called: no library can be loaded; arguments:");
  for (uint64_t i = 0; i < declared; ++i) {
    platform::diag_write(" ");
    diag_value(vm, mark.base()[1 + i]);
  }
  platform::diag_write("\r\n");
  return X_FAIL;
}

}  // namespace pellux
