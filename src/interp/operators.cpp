// The operator procedures: concatenation, the arithmetic operators (through the arithmetic
// dispatcher), and the unary name, indirection, keyword, negation and interrogation operators.
#include "interp/operators.h"

#include "builtins/numeric.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

// --- Concatenation ------------------------------------------------------------------------------

namespace {

// The text of a string, integer or real operand.  Numbers are formatted into `buf` (at least 64
// bytes); a string's text stays where it is, so it must be re-derived after any allocation.
// False for every other type.
bool operand_text(Vm& vm, const Descr& v, char* buf, const char** text, uint64_t* len) {
  if (is_string(v)) {
    *text = string_text(v);
    *len = string_length(v);
    return true;
  }
  if (v.v() == T_INTEGER) {
    *len = format_integer(v.ival(), buf);
    *text = buf;
    return true;
  }
  if (v.v() == T_REAL) {
    *len = format_real(vm, v.a, buf);
    *text = buf;
    return true;
  }
  return false;
}

}  // namespace

Exit op_concat(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Pin left(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Pin right(vm, result(vm));

  // The null string joined to anything gives the other operand unchanged.
  if (is_null_string(*left)) {
    result(vm) = *right;
    return X_VALUE;
  }
  if (is_null_string(*right)) {
    result(vm) = *left;
    return X_VALUE;
  }
  // Concatenation with a pattern or an unevaluated expression builds a pattern; pattern
  // construction is not built yet, so until then it is an undefined operation.
  uint64_t lt = left->v(), rt = right->v();
  if (lt == T_PATTERN || lt == T_EXPRESSION || rt == T_PATTERN || rt == T_EXPRESSION)
    return error_stmt(vm, 5);

  char lbuf[64], rbuf[64];
  const char* ltext;
  const char* rtext;
  uint64_t llen, rlen;
  if (!operand_text(vm, *left, lbuf, &ltext, &llen)) return error_stmt(vm, 1);
  if (!operand_text(vm, *right, rbuf, &rtext, &rlen)) return error_stmt(vm, 1);
  uint64_t total = llen + rlen;
  int64_t maxlen = ukw_int(vm, K_MAXLNGTH);
  if (maxlen < 0 || total > static_cast<uint64_t>(maxlen)) return error_stmt(vm, 15);
  if (total > MAX_BLOCK_BODY) return error_stmt(vm, 15);

  char* dest = reserve_string(vm, total);
  // Reserving may have moved the operands' strings.
  if (is_string(*left)) ltext = string_text(*left);
  if (is_string(*right)) rtext = string_text(*right);
  std::memcpy(dest, ltext, llen);
  std::memcpy(dest + llen, rtext, rlen);
  result(vm) = finish_string(vm, total);
  return X_VALUE;
}

// --- Arithmetic ---------------------------------------------------------------------------------------

Exit op_add(Vm& vm) { return arith_operands(vm, AR_ADD); }
Exit op_sub(Vm& vm) { return arith_operands(vm, AR_SUB); }
Exit op_mul(Vm& vm) { return arith_operands(vm, AR_MUL); }
Exit op_div(Vm& vm) { return arith_operands(vm, AR_DIV); }
Exit op_pow(Vm& vm) { return arith_operands(vm, AR_POW); }

Exit op_plus(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr n;
  if (!numeric_operand(vm, result(vm), &n)) return error_stmt(vm, 1);
  result(vm) = n;
  return X_VALUE;
}

Exit op_minus(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr n;
  if (!numeric_operand(vm, result(vm), &n)) return error_stmt(vm, 1);
  if (n.v() == T_INTEGER) {
    int64_t r;
    if (!int_negate(n.ival(), &r)) return error_stmt(vm, 2);
    n = Descr::integer(r);
  } else {
    // A real is negated by its sign bit alone, so -0.0 is minus zero and a NaN keeps its tag.
    n = Descr::real_bits(n.a ^ (uint64_t{1} << 63));
  }
  vm.rt.arith_ops += 1;
  result(vm) = n;
  return X_VALUE;
}

// --- Names, indirection, keywords ---------------------------------------------------------------

Exit op_name(Vm& vm) {
  // The operand's name (a variable's NAME, a keyword's keyword NAME) becomes a value.
  if (eval_name(vm) != X_NAME) return X_FAIL;
  return X_VALUE;
}

Exit op_indirect(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr v = result(vm);
  if (is_name(v)) return X_NAME;  // a NAME designates itself
  if (v.v() == T_INTEGER || v.v() == T_REAL) v = string_form(vm, v);  // $1 names variable "1"
  if (!is_string(v)) return error_stmt(vm, 1);
  if (v.a == 0) return error_stmt(vm, 4);
  result(vm) = Descr::make(v.a, FLAG_POINTER, T_NAME);
  return X_NAME;
}

Exit op_keyword(Vm& vm) {
  if (eval_name(vm) != X_NAME) return X_FAIL;
  const Descr name = result(vm);
  if (name.v() == T_NAME && name.a != 0 && name.ptr()->has(FLAG_STRING)) {
    const Descr key = Descr::make(name.a, FLAG_POINTER, T_STRING);
    if (Descr* cell = find_unprotected_keyword(vm, key)) {
      result(vm) = Descr::make(reinterpret_cast<uint64_t>(cell) - 16, FLAG_POINTER, T_KNAME);
      return X_NAME;
    }
    if (Descr* cell = find_protected_keyword(vm, key)) {
      result(vm) = *cell;
      return X_VALUE;
    }
  }
  return error_stmt(vm, 7);
}

// --- Negation and interrogation ------------------------------------------------------------------

Exit op_negate(Vm& vm) {
  uint64_t start = vm.in.code_offset;
  if (eval_value(vm) == X_VALUE) return X_FAIL;
  // The operand failed somewhere inside: step over whatever of it was not evaluated.
  vm.in.code_offset = start;
  skip_operand(vm);
  result(vm) = NULL_STRING;
  return X_VALUE;
}

Exit op_interrogate(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  result(vm) = NULL_STRING;
  return X_VALUE;
}

// --- Operators of subsystems not built yet ----------------------------------------------------------
// Alternation, the two pattern assignments and the cursor assignment build patterns, and the
// unary * makes an unevaluated expression; until those exist they are undefined operations.

Exit op_alternation(Vm& vm) { return error_stmt(vm, 5); }
Exit op_immediate_assign(Vm& vm) { return error_stmt(vm, 5); }
Exit op_conditional_assign(Vm& vm) { return error_stmt(vm, 5); }
Exit op_cursor(Vm& vm) { return error_stmt(vm, 5); }
Exit op_defer(Vm& vm) { return error_stmt(vm, 5); }

Exit op_undefined(Vm& vm) { return error_stmt(vm, 5); }

}  // namespace pellux
