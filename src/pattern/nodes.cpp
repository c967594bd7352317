// Pattern construction: the built-in patterns, the internal templates, the pattern value of an
// operand, the constructor functions (ANY NOTANY SPAN SPANNOT BREAK BREAKX LEN POS RPOS TAB RTAB
// ARBNO) and the pattern operators (concatenation with a pattern, alternation, conditional and
// immediate assignment, cursor assignment, and the unary * that makes an unevaluated
// expression).
//
// Every construction copies nodes into a fresh block, so a pattern is never changed once made
// and can be shared freely.  Operands are held on the system stack while the new block is
// allocated; node views of them are made only after the allocation, since a string or pattern
// they refer to may have moved.
#include <cstring>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "interp/operators.h"
#include "pattern/nodes.h"
#include "pattern/pattern.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

// --- Built-in patterns and templates --------------------------------------------------------------

namespace {

constexpr Descr F_NULL = node_function(NK_NULL, false);
constexpr Descr ZERO_LENGTH = node_length(0, 0);

// ARBNO's three parts (see bi_ARBNO).
constexpr Descr ARBNO_HEAD[12] = {
    F_NULL, node_link(0, 3), ZERO_LENGTH,
    F_NULL, node_link(6, 0), ZERO_LENGTH,
    node_function(NK_ARBNO_SAVE, false), node_link(9, 12), ZERO_LENGTH,
    node_function(NK_ARBNO_RESTORE, false), node_link(0, 0), ZERO_LENGTH,
};
constexpr Descr ARBNO_TAIL[6] = {
    node_function(NK_ARBNO_END, false), node_link(0, 3), ZERO_LENGTH,
    F_NULL, node_link(6, 0), ZERO_LENGTH,
};
constexpr Descr ARBNO_BACK[6] = {
    node_function(NK_ARBNO_AGAIN, false), node_link(3, 0), ZERO_LENGTH,
    node_function(NK_ARBNO_RETRY, false), node_link(0, 0), ZERO_LENGTH,
};
constexpr uint64_t DEFERRED_SLOTS = 11;
constexpr uint64_t LITERAL_SLOTS = 4;

// The deferred template with the expression `expr` in its argument slot.  The value the
// expression gives at match time is kept by the scanner for each activation, not in the
// block: the resume node's argument slot stays the null string.
void deferred_template(Descr* d, const Descr& expr) {
  d[0] = node_function(NK_DEFERRED, true);
  d[1] = node_link(0, 4);
  d[2] = node_length(1, 0);
  d[3] = expr;
  d[4] = node_function(NK_DEFER_NEXT, false);
  d[5] = node_link(7, 0);
  d[6] = ZERO_LENGTH;
  d[7] = node_function(NK_DEFER_RESUME, true);
  d[8] = node_link(0, 4);
  d[9] = ZERO_LENGTH;
  d[10] = NULL_STRING;
}

void literal_node(Descr* d, const Descr& s) {
  d[0] = node_function(NK_LITERAL, true);
  d[1] = node_link(0, 0);
  d[2] = node_length(sat_min(string_length(s)), 0);
  d[3] = s;
}

// A node of three slots (no argument).
void plain_node(Descr* d, NodeKind k, uint64_t alt, uint64_t subs) {
  d[0] = node_function(k, false);
  d[1] = node_link(alt, subs);
  d[2] = ZERO_LENGTH;
}

}  // namespace

uint64_t builtin_pattern_slots(PKw keyword) {
  switch (keyword) {
    case P_ARB:
    case P_BAL:
      return 9;
    case P_MAXARB:
      return 12;
    case P_REM:
      return 4;
    default:
      return 3;
  }
}

void fill_builtin_pattern(PKw keyword, Descr* b) {
  switch (keyword) {
    case P_ARB:
      plain_node(b, NK_NULL, 0, 3);
      plain_node(b + 3, NK_NULL, 6, 0);
      plain_node(b + 6, NK_ARB_STEP, 6, 0);
      break;
    case P_BAL:
      plain_node(b, NK_NULL, 0, 3);
      plain_node(b + 3, NK_BAL_STEP, 6, 0);
      plain_node(b + 6, NK_BAL_MORE, 6, 0);
      break;
    case P_MAXARB:
      plain_node(b, NK_NULL, 0, 3);
      plain_node(b + 3, NK_MAXARB_FIRST, 6, 9);
      plain_node(b + 6, NK_MAXARB_SHRINK, 6, 9);
      plain_node(b + 9, NK_NULL, 0, 0);
      break;
    case P_REM:
      b[0] = node_function(NK_RTAB, true);
      b[1] = node_link(0, 0);
      b[2] = ZERO_LENGTH;
      b[3] = Descr::integer(0);
      break;
    case P_FENCE:
      plain_node(b, NK_FENCE, 0, 0);
      break;
    case P_ABORT:
      plain_node(b, NK_ABORT, 0, 0);
      break;
    case P_FAIL:
      plain_node(b, NK_FAIL, 0, 0);
      break;
    case P_SUCCEED:
      plain_node(b, NK_SUCCEED, 0, 0);
      break;
    default:
      break;
  }
}

// --- Pattern operands -------------------------------------------------------------------------------

namespace {

enum class OperandKind { Pattern, Literal, Deferred, Bad };

// What a value is as an operand of a pattern construction.
OperandKind operand_kind(const Descr& v) {
  switch (v.v()) {
    case T_PATTERN:
      return OperandKind::Pattern;
    case T_STRING:
      return v.has(FLAG_FUNCTION) ? OperandKind::Bad : OperandKind::Literal;
    case T_EXPRESSION:
      return OperandKind::Deferred;
    default:
      return OperandKind::Bad;
  }
}

// The pattern value of the operand held in *slot: a number becomes its string form (written
// back to the slot); other types keep their value.  Returns its kind (Bad: error 1 for the
// caller).  May allocate.
OperandKind prepare_operand(Vm& vm, Descr* slot) {
  const Descr v = *slot;
  if (v.v() == T_INTEGER || v.v() == T_REAL) {
    Descr s = string_form(vm, v);
    *slot = s;
    return OperandKind::Literal;
  }
  return operand_kind(v);
}

uint64_t operand_slots(const Descr& v) {
  switch (operand_kind(v)) {
    case OperandKind::Pattern:
      return pattern_slots(v);
    case OperandKind::Literal:
      return LITERAL_SLOTS;
    default:
      return DEFERRED_SLOTS;
  }
}

// The nodes of a prepared operand: a pattern's own body, or the literal node or deferred
// template written into `local` (at least DEFERRED_SLOTS).  Valid until the next allocation.
const Descr* operand_nodes(const Descr& v, Descr* local) {
  switch (operand_kind(v)) {
    case OperandKind::Pattern:
      return pattern_body(v);
    case OperandKind::Literal:
      literal_node(local, v);
      return local;
    default:
      deferred_template(local, v);
      return local;
  }
}

// A fresh pattern block of `slots` slots.  May allocate.
Descr new_pattern(Vm& vm, uint64_t slots) { return allocate_block(vm, 16 * slots, T_PATTERN); }

// The pattern of a prepared operand on its own: a pattern as it is, a string or expression
// made into its one-node block.  May allocate.
Descr operand_pattern(Vm& vm, Descr* slot) {
  if (operand_kind(*slot) == OperandKind::Pattern) return *slot;
  const uint64_t n = operand_slots(*slot);
  Descr p = new_pattern(vm, n);
  Descr local[DEFERRED_SLOTS];
  const Descr* nodes = operand_nodes(*slot, local);
  copy_nodes(pattern_body(p), 0, nodes, n, 0, 0, 0);
  return p;
}

}  // namespace

Descr deferred_pattern(Vm& vm, const Descr& expression) {
  Pin held(vm, expression);
  return operand_pattern(vm, &*held);
}

// --- Concatenation and alternation -----------------------------------------------------------------

Exit pattern_concat(Vm& vm, const Descr& left, const Descr& right) {
  if (is_null_string(left)) return succeed(vm, right);
  if (is_null_string(right)) return succeed(vm, left);
  StackMark mark(vm);
  Descr* x = sysstack_push(vm, left);
  Descr* y = sysstack_push(vm, right);
  if (prepare_operand(vm, x) == OperandKind::Bad) return error_stmt(vm, 1);
  if (prepare_operand(vm, y) == OperandKind::Bad) return error_stmt(vm, 1);
  const uint64_t sx = operand_slots(*x), sy = operand_slots(*y);
  Descr p = new_pattern(vm, sx + sy);
  Descr lx[DEFERRED_SLOTS], ly[DEFERRED_SLOTS];
  const Descr* nx = operand_nodes(*x, lx);
  const Descr* ny = operand_nodes(*y, ly);
  Descr* body = pattern_body(p);
  copy_nodes(body, 0, nx, sx, pattern_min_length(ny), 0, sx);
  copy_nodes(body, sx, ny, sy, 0, sx, 0);
  return succeed(vm, p);
}

Exit op_alternation(Vm& vm) {
  StackMark mark(vm);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* x = sysstack_push(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* y = sysstack_push(vm, result(vm));
  if (prepare_operand(vm, x) == OperandKind::Bad) return error_stmt(vm, 1);
  if (prepare_operand(vm, y) == OperandKind::Bad) return error_stmt(vm, 1);
  const uint64_t sx = operand_slots(*x), sy = operand_slots(*y);
  Descr p = new_pattern(vm, sx + sy);
  Descr lx[DEFERRED_SLOTS], ly[DEFERRED_SLOTS];
  const Descr* nx = operand_nodes(*x, lx);
  const Descr* ny = operand_nodes(*y, ly);
  Descr* body = pattern_body(p);
  copy_nodes(body, 0, nx, sx, 0, 0, 0);
  copy_nodes(body, sx, ny, sy, 0, sx, 0);
  // The alternation link: the last alternative of the first node now leads to Y.  (The chain
  // leads forward, inside X.)
  uint64_t last = 0;
  while (node_alt(body + last) > last && node_alt(body + last) < sx) last = node_alt(body + last);
  body[last + 1].a = sx;
  return succeed(vm, p);
}

// --- Assignment operators -----------------------------------------------------------------------------

namespace {

// The name operand that follows in the code: a variable stands for its own name; any other
// operand (a call, or an operator such as *, $ or &) is evaluated and must give a NAME or an
// unevaluated expression (else error 8).
Exit name_operand(Vm& vm, Descr* out) {
  Exit x = eval_name_or_value(vm);
  if (x == X_FAIL) return X_FAIL;
  const Descr v = result(vm);
  if (x == X_NAME || is_name(v) || v.v() == T_EXPRESSION) {
    *out = v;
    return X_VALUE;
  }
  return error_stmt(vm, 8);
}

// A node of four descriptors that assigns to the name N: capture and cursor nodes.
void name_node(Descr* c, NodeKind kind, const Descr& name) {
  c[0] = node_function(kind, true);
  c[1] = node_link(0, 0);
  c[2] = ZERO_LENGTH;
  c[3] = name;
}

// X . N and X $ N: a capture-start node, X, and the capture node holding N.
Exit capture(Vm& vm, NodeKind kind) {
  StackMark mark(vm);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* x = sysstack_push(vm, result(vm));
  if (prepare_operand(vm, x) == OperandKind::Bad) return error_stmt(vm, 1);
  Descr name;
  if (name_operand(vm, &name) != X_VALUE) return X_FAIL;
  Descr* n = sysstack_push(vm, name);
  const uint64_t sx = operand_slots(*x);
  Descr p = new_pattern(vm, 3 + sx + 4);
  Descr lx[DEFERRED_SLOTS];
  const Descr* nx = operand_nodes(*x, lx);
  Descr* body = pattern_body(p);
  const uint64_t least = pattern_min_length(nx);
  plain_node(body, NK_CAPTURE_START, 0, 3);
  body[2] = node_length(least, least);
  copy_nodes(body, 3, nx, sx, 0, 3, 3 + sx);
  name_node(body + 3 + sx, kind, *n);
  return succeed(vm, p);
}

}  // namespace

Exit op_conditional_assign(Vm& vm) { return capture(vm, NK_CAPTURE_COND); }
Exit op_immediate_assign(Vm& vm) { return capture(vm, NK_CAPTURE_IMM); }

Exit op_cursor(Vm& vm) {
  Descr name;
  if (name_operand(vm, &name) != X_VALUE) return X_FAIL;
  Pin n(vm, name);
  Descr p = new_pattern(vm, 4);
  name_node(pattern_body(p), NK_CURSOR, *n);
  return succeed(vm, p);
}

Exit op_defer(Vm& vm) {
  // The expression is the operand's code where it stands: the value refers to the descriptor
  // before it (this instruction), and the operand is stepped over unevaluated.
  const uint64_t at = sys(vm, SD_CODE_BASE).a + vm.in.code_offset;
  skip_operand(vm);
  return succeed(vm, Descr::make(at, FLAG_POINTER, T_EXPRESSION));
}

// --- Constructor functions ---------------------------------------------------------------------------

namespace {

// One node of four slots with the argument `arg` and rest minimum `rest`.  May allocate.
Exit single_node(Vm& vm, NodeKind kind, const Descr& arg, uint64_t rest) {
  Pin a(vm, arg);
  Descr p = new_pattern(vm, 4);
  Descr* d = pattern_body(p);
  d[0] = node_function(kind, true);
  d[1] = node_link(0, 0);
  d[2] = node_length(rest, 0);
  d[3] = *a;
  return succeed(vm, p);
}

// The argument of a character-set constructor: a non-null string or an unevaluated expression
// as it is; an integer as its string.  Other types: error 1; the null string: error 4.
Exit set_argument(Vm& vm, Descr* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr v = result(vm);
  if (v.v() == T_EXPRESSION) {
    *out = v;
    return X_VALUE;
  }
  if (v.v() == T_INTEGER) v = int_to_string(vm, v.ival());
  if (!is_string(v)) return error_stmt(vm, 1);
  if (v.a == 0) return error_stmt(vm, 4);
  *out = v;
  return X_VALUE;
}

Exit set_constructor(Vm& vm, NodeKind kind) {
  Descr arg;
  if (set_argument(vm, &arg) != X_VALUE) return X_FAIL;
  return single_node(vm, kind, arg, kind == NK_BREAK ? 0 : 1);
}

// The argument of LEN POS RPOS TAB RTAB: an integer, or a string that converts to one (the
// null string is 0; other text: error 1), not negative (error 14); an unevaluated expression
// as it is.  Other types: error 1.
Exit integer_node_argument(Vm& vm, Descr* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr v = result(vm);
  if (v.v() == T_EXPRESSION) {
    *out = v;
    return X_VALUE;
  }
  int64_t n;
  if (v.v() == T_INTEGER) {
    n = v.ival();
  } else if (is_string(v)) {
    const uint64_t len = string_length(v);
    if (len == 0) n = 0;
    else if (!scan_integer(string_text(v), len, &n)) return error_stmt(vm, 1);
  } else {
    return error_stmt(vm, 1);
  }
  if (n < 0) return error_stmt(vm, 14);
  *out = Descr::integer(n);
  return X_VALUE;
}

Exit integer_constructor(Vm& vm, NodeKind kind) {
  Descr arg;
  if (integer_node_argument(vm, &arg) != X_VALUE) return X_FAIL;
  const uint64_t rest = kind == NK_LEN && arg.v() == T_INTEGER ? sat_min(arg.a) : 0;
  return single_node(vm, kind, arg, rest);
}

}  // namespace

Exit bi_ANY(Vm& vm) { return set_constructor(vm, NK_ANY); }
Exit bi_NOTANY(Vm& vm) { return set_constructor(vm, NK_NOTANY); }
Exit bi_SPAN(Vm& vm) { return set_constructor(vm, NK_SPAN); }
Exit bi_SPANNOT(Vm& vm) { return set_constructor(vm, NK_SPANNOT); }
Exit bi_BREAK(Vm& vm) { return set_constructor(vm, NK_BREAK); }

Exit bi_BREAKX(Vm& vm) {
  Descr arg;
  if (set_argument(vm, &arg) != X_VALUE) return X_FAIL;
  Pin a(vm, arg);
  Descr p = new_pattern(vm, 14);
  Descr* d = pattern_body(p);
  plain_node(d, NK_NULL, 0, 3);
  d[3] = node_function(NK_BREAK, true);
  d[4] = node_link(0, 7);
  d[5] = ZERO_LENGTH;
  d[6] = *a;
  plain_node(d + 7, NK_NULL, 10, 0);
  d[10] = node_function(NK_LEN, true);
  d[11] = node_link(0, 3);
  d[12] = node_length(1, 0);
  d[13] = Descr::integer(1);
  return succeed(vm, p);
}

Exit bi_LEN(Vm& vm) { return integer_constructor(vm, NK_LEN); }
Exit bi_POS(Vm& vm) { return integer_constructor(vm, NK_POS); }
Exit bi_RPOS(Vm& vm) { return integer_constructor(vm, NK_RPOS); }
Exit bi_TAB(Vm& vm) { return integer_constructor(vm, NK_TAB); }
Exit bi_RTAB(Vm& vm) { return integer_constructor(vm, NK_RTAB); }

Exit bi_ARBNO(Vm& vm) {
  StackMark mark(vm);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* x = sysstack_push(vm, result(vm));
  if (prepare_operand(vm, x) == OperandKind::Bad) return error_stmt(vm, 1);
  const uint64_t sp = operand_slots(*x);
  Descr p = new_pattern(vm, 12 + sp + 6 + 6);
  Descr lx[DEFERRED_SLOTS];
  const Descr* np = operand_nodes(*x, lx);
  Descr* body = pattern_body(p);
  copy_nodes(body, 0, ARBNO_HEAD, 12, 0, 0, 0);
  copy_nodes(body, 12, np, sp, 0, 12, 12 + sp);
  copy_nodes(body, 12 + sp, ARBNO_TAIL, 6, 0, 12 + sp, 0);
  copy_nodes(body, 18 + sp, ARBNO_BACK, 6, 0, 18 + sp, 6);
  return succeed(vm, p);
}

// --- Patterns built by the match statements -------------------------------------------------------

Exit replacement_pattern(Vm& vm, const Descr* subject, uint64_t head_length, uint64_t tail_start,
                         const Descr& replacement) {
  StackMark mark(vm);
  Descr* r = sysstack_push(vm, replacement);
  if (prepare_operand(vm, r) == OperandKind::Bad) return error_stmt(vm, 1);
  Descr* head = sysstack_push(vm, NULL_STRING);
  Descr* tail = sysstack_push(vm, NULL_STRING);
  // Each string is cut from the subject as it is after the allocations before it.
  const uint64_t tail_length = string_length(*subject) - tail_start;
  if (head_length > 0)
    *head = make_variable(vm, Spec{*subject, Descr::make(VAR_HEADER, 0, head_length)});
  if (tail_length > 0)
    *tail = make_variable(vm, Spec{*subject, Descr::make(VAR_HEADER + tail_start, 0, tail_length)});
  const uint64_t sh = head_length > 0 ? LITERAL_SLOTS : 0;
  const uint64_t st = tail_length > 0 ? LITERAL_SLOTS : 0;
  const uint64_t sr = operand_slots(*r);
  Descr p = new_pattern(vm, sh + sr + st);
  Descr lr[DEFERRED_SLOTS], lh[LITERAL_SLOTS], lt[LITERAL_SLOTS];
  const Descr* nr = operand_nodes(*r, lr);
  Descr* body = pattern_body(p);
  // The head's minima grow by the replacement's minimum, the replacement's by the tail's
  // length, the tail's by nothing.
  if (sh > 0) {
    literal_node(lh, *head);
    copy_nodes(body, 0, lh, sh, pattern_min_length(nr), 0, sh);
  }
  copy_nodes(body, sh, nr, sr, sat_min(tail_length), sh, st > 0 ? sh + sr : 0);
  if (st > 0) {
    literal_node(lt, *tail);
    copy_nodes(body, sh + sr, lt, st, 0, sh + sr, 0);
  }
  return succeed(vm, p);
}

}  // namespace pellux
