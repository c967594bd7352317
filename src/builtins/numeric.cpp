// The arithmetic dispatcher: the binary arithmetic operators and EQ NE GT GE LT LE REMDR MAX
// MIN.  Integers are 64-bit signed with overflow detected as error 2; reals are computed in
// extended precision, rounded to double and post-processed (largest finite -> infinity, NaN
// tagged with the statement that made it).
#include "builtins/numeric.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr int64_t INT_MIN64 = std::numeric_limits<int64_t>::min();
constexpr uint64_t INT_MAX64 = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());

inline uint64_t magnitude(int64_t x) {
  return x < 0 ? uint64_t{0} - static_cast<uint64_t>(x) : static_cast<uint64_t>(x);
}

// base ** e for base >= 2, e >= 1, by repeated squaring; false when a value above `limit`
// would be needed.  Every partial product is below the final one, so stopping early is the
// same as multiplying out.
bool power_magnitude(uint64_t base, int64_t e, uint64_t limit, uint64_t* out) {
  unsigned __int128 acc = 1, b = base;
  for (;;) {
    if (e & 1) {
      acc *= b;
      if (acc > limit) return false;
    }
    e >>= 1;
    if (e == 0) break;
    b *= b;
    if (b > limit) return false;  // a further factor of at least b is still to come
  }
  *out = static_cast<uint64_t>(acc);
  return true;
}

inline double as_double(const Descr& n) {
  return n.v() == T_INTEGER ? static_cast<double>(n.ival()) : n.rval();
}
inline long double as_long_double(const Descr& n) {
  return n.v() == T_INTEGER ? static_cast<long double>(n.ival())
                            : static_cast<long double>(n.rval());
}

inline Exit succeed_null(Vm& vm) {
  result(vm) = NULL_STRING;
  return X_VALUE;
}
inline Exit predicate(Vm& vm, bool holds) { return holds ? succeed_null(vm) : X_FAIL; }

// The six comparison predicates, on integers or on ordered reals.
template <typename T>
Exit compare(Vm& vm, int op, T x, T y) {
  switch (op) {
    case AR_EQ: return predicate(vm, x == y);
    case AR_NE: return predicate(vm, x != y);
    case AR_GT: return predicate(vm, x > y);
    case AR_GE: return predicate(vm, x >= y);
    case AR_LT: return predicate(vm, x < y);
    case AR_LE: return predicate(vm, x <= y);
    default: return error_stmt(vm, 5);
  }
}

Exit integer_operation(Vm& vm, int op, int64_t x, int64_t y) {
  int64_t r;
  bool ok;
  switch (op) {
    case AR_ADD: ok = int_add(x, y, &r); break;
    case AR_SUB: ok = int_sub(x, y, &r); break;
    case AR_MUL: ok = int_mul(x, y, &r); break;
    case AR_DIV: ok = int_div(x, y, &r); break;
    case AR_POW: ok = int_pow(x, y, &r); break;
    case AR_REMDR: ok = int_remdr(x, y, &r); break;
    case AR_MAX: ok = true; r = x >= y ? x : y; break;
    case AR_MIN: ok = true; r = x < y ? x : y; break;
    case AR_EQ: case AR_NE: case AR_GT: case AR_GE: case AR_LT: case AR_LE:
      return compare(vm, op, x, y);
    default: return error_stmt(vm, 5);
  }
  if (!ok) return error_stmt(vm, 2);
  vm.rt.arith_ops += 1;
  result(vm) = Descr::integer(r);
  return X_VALUE;
}

Exit real_operation(Vm& vm, int op, const Descr& a, const Descr& b) {
  long double x = as_long_double(a), y = as_long_double(b);
  switch (op) {
    case AR_ADD: case AR_SUB: case AR_MUL: case AR_DIV: case AR_POW:
      result(vm) = real_result(vm, real_arith(op, x, y));
      vm.rt.arith_ops += 1;
      return X_VALUE;
    case AR_REMDR:
      return error_stmt(vm, 1);  // remainders are of integers only
    case AR_MAX:
    case AR_MIN: {
      // With a NaN on either side MAX keeps X and MIN takes Y.
      bool take_x;
      if (std::isnan(x) || std::isnan(y)) take_x = (op == AR_MAX);
      else take_x = (op == AR_MAX) ? x >= y : x < y;
      double d = as_double(take_x ? a : b);
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      result(vm) = real_result(vm, bits);
      vm.rt.arith_ops += 1;
      return X_VALUE;
    }
    default:
      break;
  }
  // Comparisons: a NaN on either side cannot be ordered.
  if (std::isnan(x) || std::isnan(y)) error_fatal(vm, 29);
  return compare(vm, op, x, y);
}

}  // namespace

// --- Integer rules ------------------------------------------------------------------------------

bool int_add(int64_t x, int64_t y, int64_t* r) { return !__builtin_add_overflow(x, y, r); }
bool int_sub(int64_t x, int64_t y, int64_t* r) { return !__builtin_sub_overflow(x, y, r); }

bool int_mul(int64_t x, int64_t y, int64_t* r) {
  unsigned __int128 p = static_cast<unsigned __int128>(magnitude(x)) * magnitude(y);
  if (p > INT_MAX64) return false;
  int64_t m = static_cast<int64_t>(p);
  *r = ((x < 0) != (y < 0)) ? -m : m;
  return true;
}

bool int_div(int64_t x, int64_t y, int64_t* r) {
  if (y == 0 || x == INT_MIN64 || y == INT_MIN64) return false;
  *r = x / y;
  return true;
}

bool int_remdr(int64_t x, int64_t y, int64_t* r) {
  if (y == 0 || x == INT_MIN64 || y == INT_MIN64) return false;
  *r = x % y;
  return true;
}

bool int_negate(int64_t x, int64_t* r) {
  if (x == INT_MIN64) return false;
  *r = -x;
  return true;
}

bool int_pow(int64_t x, int64_t y, int64_t* r) {
  if (y == 0) {
    if (x == 0) return false;
    *r = 1;
    return true;
  }
  if (y < 0) {
    if (x == 1) *r = 1;
    else if (x == -1) *r = (y & 1) ? -1 : 1;
    else *r = 0;
    return true;
  }
  if (x == 0) { *r = 0; return true; }
  if (y == 1) { *r = x; return true; }
  if (x == 1) { *r = 1; return true; }
  if (x > 0) {
    uint64_t m;
    if (!power_magnitude(static_cast<uint64_t>(x), y, INT_MAX64, &m)) return false;
    *r = static_cast<int64_t>(m);
    return true;
  }
  if (x == INT_MIN64) return false;
  bool odd = (y & 1) != 0;
  if (x == -1) { *r = odd ? -1 : 1; return true; }
  // An odd power may reach the most negative integer, an even one only the largest.
  uint64_t m;
  if (!power_magnitude(magnitude(x), y, odd ? INT_MAX64 + 1 : INT_MAX64, &m)) return false;
  *r = odd ? static_cast<int64_t>(uint64_t{0} - m) : static_cast<int64_t>(m);
  return true;
}

// --- Reals ----------------------------------------------------------------------------------------

uint64_t real_arith(int op, long double x, long double y) {
  long double r;
  switch (op) {
    case AR_ADD: r = x + y; break;
    case AR_SUB: r = x - y; break;
    case AR_MUL: r = x * y; break;
    case AR_DIV: r = x / y; break;
    case AR_POW: r = powl(x, y); break;
    default: r = std::numeric_limits<long double>::quiet_NaN(); break;
  }
  double d = static_cast<double>(r);
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// --- The dispatcher ---------------------------------------------------------------------------------

bool numeric_operand(Vm& vm, const Descr& v, Descr* out) {
  switch (v.v()) {
    case T_INTEGER:
    case T_REAL:
      *out = v;
      return true;
    case T_STRING:
      if (v.has(FLAG_FUNCTION)) return false;
      return string_to_number(vm, v, out);
    default:
      return false;
  }
}

Exit arith_values(Vm& vm, int op, const Descr& x, const Descr& y) {
  if (x.v() == T_INTEGER && y.v() == T_INTEGER) return integer_operation(vm, op, x.ival(), y.ival());
  Descr a, b;
  if (!numeric_operand(vm, x, &a) || !numeric_operand(vm, y, &b)) return error_stmt(vm, 1);
  if (a.v() == T_INTEGER && b.v() == T_INTEGER) return integer_operation(vm, op, a.ival(), b.ival());
  return real_operation(vm, op, a, b);
}

Exit arith_after_pointer(Vm& vm, int op, const Descr& x) {
  Pin px(vm, x);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  return arith_values(vm, op, *px, result(vm));
}

// --- The built-in functions ------------------------------------------------------------------------

Exit bi_EQ(Vm& vm) { return arith_operands<AR_EQ>(vm); }
Exit bi_NE(Vm& vm) { return arith_operands<AR_NE>(vm); }
Exit bi_GT(Vm& vm) { return arith_operands<AR_GT>(vm); }
Exit bi_GE(Vm& vm) { return arith_operands<AR_GE>(vm); }
Exit bi_LT(Vm& vm) { return arith_operands<AR_LT>(vm); }
Exit bi_LE(Vm& vm) { return arith_operands<AR_LE>(vm); }
Exit bi_REMDR(Vm& vm) { return arith_operands<AR_REMDR>(vm); }
Exit bi_MAX(Vm& vm) { return arith_operands<AR_MAX>(vm); }
Exit bi_MIN(Vm& vm) { return arith_operands<AR_MIN>(vm); }

}  // namespace pellux
