// The arithmetic dispatcher shared by the binary arithmetic operators and the numeric
// predicates and functions EQ NE GT GE LT LE REMDR MAX MIN.
#pragma once
#include <cstdint>

#include "interp/interp.h"
#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Operation codes of the dispatcher.
enum ArithOp : int {
  AR_ADD = 1, AR_DIV, AR_POW, AR_MUL, AR_SUB,
  AR_EQ, AR_GE, AR_GT, AR_LE, AR_LT, AR_NE,
  AR_REMDR, AR_MAX, AR_MIN,
};

// --- Integer rules (pure): false where the operation is error 2 ------------------------------
bool int_add(int64_t x, int64_t y, int64_t* r);
bool int_sub(int64_t x, int64_t y, int64_t* r);
bool int_mul(int64_t x, int64_t y, int64_t* r);   // on magnitudes: a product above 2^63-1 fails
bool int_div(int64_t x, int64_t y, int64_t* r);   // truncating; y = 0 or a most negative operand fails
bool int_pow(int64_t x, int64_t y, int64_t* r);
bool int_remdr(int64_t x, int64_t y, int64_t* r); // sign follows x; same failures as division
bool int_negate(int64_t x, int64_t* r);           // the most negative integer fails

// --- Real arithmetic (pure): computed in extended precision, rounded to double; the bit pattern
// before post-processing.  op is AR_ADD..AR_SUB.
uint64_t real_arith(int op, long double x, long double y);

// A value as a number: INTEGER and REAL as they are, a STRING by the number rules (null = 0,
// integer text, else real text, post-processed).  False for anything else (error 1 for callers).
bool numeric_operand(Vm& vm, const Descr& v, Descr* out);

// Applies the operation to two values; result in result(vm).  Exits X_VALUE, X_FAIL (a
// predicate that does not hold, or a survived error).
Exit arith_values(Vm& vm, int op, const Descr& x, const Descr& y);
// arith_operands once the first operand has been evaluated to a value that points into the
// work space (a string): it is pinned while the second is evaluated.  May allocate.
Exit arith_after_pointer(Vm& vm, int op, const Descr& x);

// Evaluates the two operands of the current instruction, then applies the operation.  Two
// integers are handled here for addition, subtraction, multiplication, REMDR and the
// comparisons, the operations of counting loops and recursion; everything else (and every
// error) goes through arith_values.  May allocate.
template <int OP>
inline Exit arith_operands(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr x = result(vm);
  if (x.has(FLAG_POINTER)) return arith_after_pointer(vm, OP, x);
  // A number needs no protection while the second operand is evaluated.
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr y = result(vm);
  if (x.v() == T_INTEGER && y.v() == T_INTEGER) {
    const int64_t a = x.ival(), b = y.ival();
    int64_t r;
    bool holds;
    switch (OP) {
      case AR_ADD:
      case AR_SUB:
        if (OP == AR_ADD ? __builtin_add_overflow(a, b, &r) : __builtin_sub_overflow(a, b, &r))
          break;  // error 2, raised by the general path
        vm.rt.arith_ops += 1;
        result(vm) = Descr::integer(r);
        return X_VALUE;
      case AR_MUL:
        // The product of the magnitudes must fit, so the most negative integer is refused too.
        if (__builtin_mul_overflow(a, b, &r) || r == INT64_MIN) break;
        vm.rt.arith_ops += 1;
        result(vm) = Descr::integer(r);
        return X_VALUE;
      case AR_REMDR:
        if (b == 0 || a == INT64_MIN || b == INT64_MIN) break;
        vm.rt.arith_ops += 1;
        result(vm) = Descr::integer(a % b);
        return X_VALUE;
      case AR_EQ: holds = a == b; goto compared;
      case AR_NE: holds = a != b; goto compared;
      case AR_GT: holds = a > b; goto compared;
      case AR_GE: holds = a >= b; goto compared;
      case AR_LT: holds = a < b; goto compared;
      case AR_LE: holds = a <= b; goto compared;
      compared:
        if (!holds) return X_FAIL;
        result(vm) = NULL_STRING;
        return X_VALUE;
      default:
        break;
    }
  }
  return arith_values(vm, OP, x, y);
}

}  // namespace pellux
