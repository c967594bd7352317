// The operator procedures: concatenation, the arithmetic operators (through the arithmetic
// dispatcher), and the unary name, indirection, keyword, negation and interrogation operators.
#include "interp/operators.h"

#include "builtins/numeric.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "pattern/pattern.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

// --- Concatenation ------------------------------------------------------------------------------

namespace {

// The text of a string, integer or real operand.  Numbers are formatted into `buf` (at least
// REAL_TEXT_MAX bytes); a string's text stays where it is, so it must be re-derived after any
// allocation.  False for every other type.
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

// The length of the text of a string, integer or real operand (an integer's is counted, not
// made).
uint64_t operand_length(Vm& vm, const Descr& v) {
  if (v.v() == T_INTEGER) return integer_text_length(v.ival());
  if (v.v() == T_REAL) {
    char buf[REAL_TEXT_MAX];
    return format_real(vm, v.a, buf);
  }
  return string_length(v);
}

// True when a string of `total` characters is longer than &MAXLNGTH allows.
bool too_long(Vm& vm, uint64_t total) {
  int64_t maxlen = ukw_int(vm, K_MAXLNGTH);
  return maxlen < 0 || total > static_cast<uint64_t>(maxlen) || total > MAX_BLOCK_BODY;
}

}  // namespace

// Two evaluated operands joined: the null string gives the other operand unchanged; two strings
// or numbers give the string of both texts.
Exit concat_pair(Vm& vm, const Descr& l, const Descr& r) {
  if (is_null_string(l)) {
    result(vm) = r;
    return X_VALUE;
  }
  if (is_null_string(r)) {
    result(vm) = l;
    return X_VALUE;
  }
  // Concatenation with a pattern or an unevaluated expression builds a pattern.
  uint64_t lt = l.v(), rt = r.v();
  if (lt == T_PATTERN || lt == T_EXPRESSION || rt == T_PATTERN || rt == T_EXPRESSION)
    return pattern_concat(vm, l, r);

  Pin left(vm, l);
  Pin right(vm, r);
  char lbuf[REAL_TEXT_MAX], rbuf[REAL_TEXT_MAX];
  const char* ltext;
  const char* rtext;
  uint64_t llen, rlen;
  if (!operand_text(vm, *left, lbuf, &ltext, &llen)) return error_stmt(vm, 1);
  if (!operand_text(vm, *right, rbuf, &rtext, &rlen)) return error_stmt(vm, 1);
  uint64_t total = llen + rlen;
  if (too_long(vm, total)) return error_stmt(vm, 15);

  char* dest = reserve_string(vm, total);
  // Reserving may have moved the operands' strings.
  if (is_string(*left)) ltext = string_text(*left);
  if (is_string(*right)) rtext = string_text(*right);
  std::memcpy(dest, ltext, llen);
  std::memcpy(dest + llen, rtext, rlen);
  result(vm) = finish_string(vm, total);
  return X_VALUE;
}

namespace {

// True for an instruction that is this same concatenation with its two operands.
inline bool is_concat_instruction(const Descr& d) {
  if (!d.has(FLAG_FUNCTION) || d.v() != 2) return false;
  const Descr* fd = reinterpret_cast<const Descr*>(d.a);
  return fd->a == reinterpret_cast<uint64_t>(&op_concat) && (fd->v() == 2 || fd->has(FLAG_FUNCTION));
}

// The string made of the texts of the stack slots [from, to), all strings or integers, whose
// lengths add up to `total`.  May allocate.
Descr join_slots(Vm& vm, Descr* from, Descr* to, uint64_t total) {
  // The slots stay where they are; regeneration relocates the strings they point to, so their
  // texts are read only after reserving.
  char* dest = reserve_string(vm, total);
  uint64_t at = 0;
  for (Descr* p = from; p < to; ++p) {
    if (p->v() == T_INTEGER) {
      char buf[32];
      uint64_t len = format_integer(p->ival(), buf);
      std::memcpy(dest + at, buf, len);
      at += len;
    } else {
      uint64_t len = string_length(*p);
      std::memcpy(dest + at, string_text(*p), len);
      at += len;
    }
  }
  return finish_string(vm, at);
}

}  // namespace

// A chain of concatenations A B C D is compiled as nested instructions along the left spine:
// concat, concat, concat, A, B, C, D.  Joining pairwise would intern every intermediate string
// (A B, then A B C); instead the whole chain is evaluated here, operand after operand, applying
// at each step the rules of concat_pair (null operands, types, the length limit, each checked
// as soon as its operand is evaluated), and only the final string is made.  Strings and
// integers wait on the system stack; a real joins by its text at its own step (the formatting
// keywords could change later in the chain); a pattern or expression operand hands the
// accumulated value to concat_pair.
Exit op_concat(Vm& vm) {
  uint64_t nested = 0;
  while (is_concat_instruction(*(code_base(vm) + (vm.in.code_offset / 16) + nested + 1))) ++nested;
  vm.in.code_offset += 16 * nested;
  uint64_t operands = nested + 2;

  StackMark mark(vm);
  // The accumulated value: either one value in the slot at mark.base() (`joined` false), or the
  // texts of the slots from mark.base() to the stack top (`joined` true), `total` characters.
  bool joined = false;
  uint64_t total = 0;
  for (uint64_t k = 0; k < operands; ++k) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    Descr* slot = sysstack_push(vm, result(vm));
    if (k == 0) continue;
    Descr* base = mark.base();
    const Descr v = *slot;
    if (!joined && is_null_string(*base)) {
      *base = v;  // null joined to anything: the other operand unchanged
      vm.st.stack.top = base + 1;
      continue;
    }
    if (is_null_string(v)) {
      vm.st.stack.top = slot;
      continue;
    }
    uint64_t vt = v.v();
    bool pattern_like = vt == T_PATTERN || vt == T_EXPRESSION ||
                        (!joined && (base->v() == T_PATTERN || base->v() == T_EXPRESSION));
    if (pattern_like) {
      if (joined) {
        Descr s = join_slots(vm, mark.base(), vm.st.stack.top - 1, total);
        base = mark.base();
        *base = s;
        base[1] = vm.st.stack.top[-1];
        vm.st.stack.top = base + 2;
        joined = false;
      }
      if (concat_pair(vm, base[0], base[1]) != X_VALUE) return X_FAIL;
      base = mark.base();
      base[0] = result(vm);
      vm.st.stack.top = base + 1;
      continue;
    }
    if (!joined) {
      uint64_t bt = base->v();
      if (bt != T_STRING && bt != T_INTEGER && bt != T_REAL) return error_stmt(vm, 1);
    }
    if (vt != T_STRING && vt != T_INTEGER && vt != T_REAL) return error_stmt(vm, 1);
    if (!joined) total = operand_length(vm, *base);
    total += operand_length(vm, v);
    if (too_long(vm, total)) return error_stmt(vm, 15);
    // Reals are joined by their text as it is now.
    if (!joined && base->v() == T_REAL) {
      Descr s = real_to_string(vm, base->a);
      *mark.base() = s;
    }
    if (vt == T_REAL) {
      Descr s = real_to_string(vm, v.a);
      vm.st.stack.top[-1] = s;
    }
    joined = true;
  }
  if (!joined) {
    result(vm) = *mark.base();
    return X_VALUE;
  }
  result(vm) = join_slots(vm, mark.base(), vm.st.stack.top, total);
  return X_VALUE;
}

// --- Arithmetic ---------------------------------------------------------------------------------------

Exit op_add(Vm& vm) { return arith_operands<AR_ADD>(vm); }
Exit op_sub(Vm& vm) { return arith_operands<AR_SUB>(vm); }
Exit op_mul(Vm& vm) { return arith_operands<AR_MUL>(vm); }
Exit op_div(Vm& vm) { return arith_operands<AR_DIV>(vm); }
Exit op_pow(Vm& vm) { return arith_operands<AR_POW>(vm); }

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

// Alternation, the two pattern assignments, the cursor assignment and the unary * are the
// pattern constructors' (pattern/nodes.cpp).

Exit op_undefined(Vm& vm) { return error_stmt(vm, 5); }

}  // namespace pellux
