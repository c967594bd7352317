// ABS, the mathematical functions SQRT LOG LOG2 LOG10 SIN COS TAN ATAN ATAN2, the generator
// RAND and the predicate ISNAN.
//
// The mathematical functions take their arguments as reals (an integer exactly, a string by the
// number rules), compute in extended precision and round to double; every result goes through
// the real-result post-processing, so a NaN they make carries the statement that made it, and
// a NaN they are given keeps its own tag.  None of them raises a domain error.  ABS and the
// mathematical functions count as one arithmetic operation each when they succeed; RAND and
// ISNAN do not.
#include <cmath>
#include <cstring>
#include <limits>

#include "builtins/numeric.h"
#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr long double QUIET_NAN = std::numeric_limits<long double>::quiet_NaN();
// 2^63: the smallest magnitude whose sine and cosine are not computed (too large to reduce).
constexpr long double TRIG_LIMIT = 9223372036854775808.0L;
// Natural and decimal logarithm of 2, the factors turning log2 into LOG and LOG10.
constexpr long double LN_2 = 0.693147180559945309417232121458176568L;
constexpr long double LOG10_2 = 0.301029995663981195213738894724493027L;

// Generator constants: state <- state * RAND_MUL + RAND_ADD, modulo 2^64.
constexpr uint64_t RAND_MUL = 6364136223846793005ULL;
constexpr uint64_t RAND_ADD = 1442695040888963407ULL;

// A value as a real for a mathematical function: REAL as it is, INTEGER exactly (the extended
// significand holds every 64-bit integer), STRING by the number rules.  False for anything else
// and for text that is not a number (error 1 for the caller).
bool real_operand(Vm& vm, const Descr& v, long double* out) {
  Descr n;
  if (!numeric_operand(vm, v, &n)) return false;
  *out = n.v() == T_INTEGER ? static_cast<long double>(n.ival())
                            : static_cast<long double>(n.rval());
  return true;
}

// Stores an extended result rounded to double and post-processed, and counts the operation.
Exit real_value(Vm& vm, long double r) {
  const double d = static_cast<double>(r);
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  result(vm) = real_result(vm, bits);
  vm.rt.arith_ops += 1;
  return X_VALUE;
}

// The one-argument mathematical functions: evaluate, take as a real, apply f.
template <typename F>
Exit unary_math(Vm& vm, F f) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  long double x;
  if (!real_operand(vm, result(vm), &x)) return error_stmt(vm, 1);
  return real_value(vm, f(x));
}

// Sine or cosine of x, rounded to a fixed absolute grain so that values that are zero, one or
// minus one up to the error of the argument come out exact (the sine of the double nearest pi
// is 0).  Adding and removing 8192 in the 64-bit significand leaves a grain of 2^-50 above zero
// and 2^-51 below.  A NaN argument is passed on with its tag; an argument of magnitude 2^63 or
// more, or a value outside [-1, 1], gives a fresh NaN.
long double rounded_trig(long double x, bool cosine) {
  if (std::isnan(x)) return x;
  if (!(std::fabs(x) < TRIG_LIMIT)) return QUIET_NAN;
  const long double v = cosine ? cosl(x) : sinl(x);
  if (!(v >= -1.0L && v <= 1.0L)) return QUIET_NAN;
  // volatile keeps both roundings: the sum must be rounded before 8192 is taken off again.
  volatile long double t = v + 8192.0L;
  t = t - 8192.0L;
  return t;
}

}  // namespace

Exit bi_ABS(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr n;
  if (!numeric_operand(vm, result(vm), &n)) return error_stmt(vm, 1);
  if (n.v() == T_INTEGER) {
    int64_t r = n.ival();
    if (r < 0 && !int_negate(r, &r)) return error_stmt(vm, 2);
    result(vm) = Descr::integer(r);
    vm.rt.arith_ops += 1;
    return X_VALUE;
  }
  // Minus zero and NaNs are kept as they are: only values below zero change sign.
  const double x = n.rval();
  return real_value(vm, x < 0.0 ? -x : x);
}

Exit bi_SQRT(Vm& vm) {
  return unary_math(vm, [](long double x) { return sqrtl(x); });
}

Exit bi_LOG(Vm& vm) {
  return unary_math(vm, [](long double x) { return LN_2 * log2l(x); });
}

Exit bi_LOG2(Vm& vm) {
  return unary_math(vm, [](long double x) { return log2l(x); });
}

Exit bi_LOG10(Vm& vm) {
  return unary_math(vm, [](long double x) { return LOG10_2 * log2l(x); });
}

Exit bi_SIN(Vm& vm) {
  return unary_math(vm, [](long double x) { return rounded_trig(x, false); });
}

Exit bi_COS(Vm& vm) {
  return unary_math(vm, [](long double x) { return rounded_trig(x, true); });
}

// Both factors rounded first, so that at odd multiples of pi/2 the cosine is 0 and the
// tangent an infinity.
Exit bi_TAN(Vm& vm) {
  return unary_math(vm, [](long double x) {
    return rounded_trig(x, false) / rounded_trig(x, true);
  });
}

Exit bi_ATAN(Vm& vm) {
  return unary_math(vm, [](long double x) { return atanl(x); });
}

// ATAN2(Y, X): the angle of the point (X, Y), in [-pi, pi].  Both arguments are evaluated
// before either is converted, as the arithmetic operators do.
Exit bi_ATAN2(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Pin first(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  long double y, x;
  if (!real_operand(vm, *first, &y) || !real_operand(vm, result(vm), &x)) return error_stmt(vm, 1);
  return real_value(vm, atan2l(y, x));
}

// RAND(0) advances the generator; RAND(N) for any other N starts it again from N.  The result
// is the new state read as a signed integer.
Exit bi_RAND(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  int64_t n;
  if (integer_argument(vm, result(vm), &n) != X_VALUE) return X_FAIL;
  const uint64_t from = n == 0 ? vm.rt.rand_state : static_cast<uint64_t>(n);
  vm.rt.rand_state = from * RAND_MUL + RAND_ADD;
  result(vm) = Descr::integer(static_cast<int64_t>(vm.rt.rand_state));
  return X_VALUE;
}

// Succeeds only for a real NaN; a string such as NAN is not a real and fails.
Exit bi_ISNAN(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr x = result(vm);
  if (x.v() != T_REAL || !std::isnan(x.rval())) return X_FAIL;
  result(vm) = NULL_STRING;
  return X_VALUE;
}

}  // namespace pellux
