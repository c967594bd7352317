// The integer rules of the arithmetic dispatcher and real arithmetic in extended precision.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "builtins/numeric.h"

namespace pellux {
namespace {

constexpr int64_t MAX = std::numeric_limits<int64_t>::max();
constexpr int64_t MIN = std::numeric_limits<int64_t>::min();

// The result of an integer rule, or a marker for error 2.
struct R {
  bool ok;
  int64_t v;
  bool operator==(const R&) const = default;
};
constexpr R err{false, 0};
R ok(int64_t v) { return R{true, v}; }
template <bool (*F)(int64_t, int64_t, int64_t*)>
R apply(int64_t x, int64_t y) {
  int64_t r = 0;
  return F(x, y, &r) ? ok(r) : err;
}
R pw(int64_t x, int64_t y) { return apply<int_pow>(x, y); }

double real_of(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

TEST(IntegerRules, AddSubtractAtTheRangeEnds) {
  EXPECT_EQ((apply<int_add>(MAX, 0)), ok(MAX));
  EXPECT_EQ((apply<int_add>(MAX, 1)), err);
  EXPECT_EQ((apply<int_add>(MIN, -1)), err);
  EXPECT_EQ((apply<int_add>(MIN, MAX)), ok(-1));
  EXPECT_EQ((apply<int_sub>(MIN, 1)), err);
  EXPECT_EQ((apply<int_sub>(0, MIN)), err);
  EXPECT_EQ((apply<int_sub>(-1, MIN)), ok(MAX));
}

TEST(IntegerRules, MultiplicationWorksOnMagnitudes) {
  EXPECT_EQ((apply<int_mul>(-3, 4)), ok(-12));
  EXPECT_EQ((apply<int_mul>(-3, -4)), ok(12));
  EXPECT_EQ((apply<int_mul>(3037000499, 3037000499)), ok(9223372030926249001));
  EXPECT_EQ((apply<int_mul>(3037000500, 3037000500)), err);
  // The most negative integer cannot be made or kept by multiplication.
  EXPECT_EQ((apply<int_mul>(-4611686018427387904, 2)), err);
  EXPECT_EQ((apply<int_mul>(MIN, 1)), err);
  EXPECT_EQ((apply<int_mul>(MIN, 0)), ok(0));
  EXPECT_EQ((apply<int_mul>(0, MIN)), ok(0));
}

TEST(IntegerRules, DivisionAndRemainderTruncate) {
  EXPECT_EQ((apply<int_div>(7, 2)), ok(3));
  EXPECT_EQ((apply<int_div>(-7, 2)), ok(-3));
  EXPECT_EQ((apply<int_div>(7, -2)), ok(-3));
  EXPECT_EQ((apply<int_div>(5, 0)), err);
  EXPECT_EQ((apply<int_div>(MIN, 1)), err);
  EXPECT_EQ((apply<int_div>(1, MIN)), err);
  EXPECT_EQ((apply<int_remdr>(7, -2)), ok(1));
  EXPECT_EQ((apply<int_remdr>(-7, 2)), ok(-1));
  EXPECT_EQ((apply<int_remdr>(5, 0)), err);
  EXPECT_EQ((apply<int_remdr>(MIN, 3)), err);
  EXPECT_EQ((apply<int_remdr>(3, MIN)), err);
  int64_t r;
  EXPECT_FALSE(int_negate(MIN, &r));
  EXPECT_TRUE(int_negate(MAX, &r));
  EXPECT_EQ(r, -MAX);
}

TEST(IntegerRules, PowerWithZeroAndNegativeExponents) {
  EXPECT_EQ(pw(0, 0), err);
  EXPECT_EQ(pw(5, 0), ok(1));
  EXPECT_EQ(pw(-5, 0), ok(1));
  EXPECT_EQ(pw(MIN, 0), ok(1));
  EXPECT_EQ(pw(1, -7), ok(1));
  EXPECT_EQ(pw(-1, -7), ok(-1));
  EXPECT_EQ(pw(-1, -8), ok(1));
  EXPECT_EQ(pw(2, -1), ok(0));
  EXPECT_EQ(pw(0, -1), ok(0));
  EXPECT_EQ(pw(MIN, -1), ok(0));
}

TEST(IntegerRules, PowerWithPositiveExponents) {
  EXPECT_EQ(pw(0, 5), ok(0));
  EXPECT_EQ(pw(MIN, 1), ok(MIN));
  EXPECT_EQ(pw(1, MAX), ok(1));       // no repeated multiplication for 1
  EXPECT_EQ(pw(-1, MAX), ok(-1));
  EXPECT_EQ(pw(-1, MAX - 1), ok(1));
  EXPECT_EQ(pw(2, 3), ok(8));
  EXPECT_EQ(pw(3, 39), ok(4052555153018976267));
  EXPECT_EQ(pw(3, 40), err);
  EXPECT_EQ(pw(2, 62), ok(int64_t{1} << 62));
  EXPECT_EQ(pw(2, 63), err);
  EXPECT_EQ(pw(2, MAX), err);
  EXPECT_EQ(pw(-2, 63), ok(MIN));
  EXPECT_EQ(pw(-2, 64), err);
  EXPECT_EQ(pw(-2, 62), ok(int64_t{1} << 62));
  EXPECT_EQ(pw(-3, 3), ok(-27));
  EXPECT_EQ(pw(MIN, 2), err);
  EXPECT_EQ(pw(-3037000499, 2), ok(9223372030926249001));
  EXPECT_EQ(pw(-3037000500, 2), err);
}

TEST(RealArithmetic, ExtendedPrecisionThenRounded) {
  EXPECT_EQ(real_of(real_arith(AR_ADD, 0.5L, 0.25L)), 0.75);
  EXPECT_EQ(real_of(real_arith(AR_DIV, 1.0L, 4.0L)), 0.25);
  EXPECT_EQ(real_of(real_arith(AR_POW, 2.0L, 10.0L)), 1024.0);
  // An integer operand is exact in extended precision: 2^63 - 1 + 0.0 rounds to 2^63.
  EXPECT_EQ(real_of(real_arith(AR_ADD, static_cast<long double>(MAX), 0.0L)), 9223372036854775808.0);
  // 2^53 + 1 is exact in extended precision, so (2^53 + 1) - 2^53 is 1, not 0.
  EXPECT_EQ(real_of(real_arith(AR_SUB, 9007199254740993.0L, 9007199254740992.0L)), 1.0);
}

TEST(RealArithmetic, NoErrorsOnlyInfinitiesAndNaNs) {
  double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(real_of(real_arith(AR_DIV, 1.0L, 0.0L)), inf);
  EXPECT_EQ(real_of(real_arith(AR_DIV, -1.0L, 0.0L)), -inf);
  EXPECT_EQ(real_of(real_arith(AR_MUL, 1e308L, 10.0L)), inf);
  EXPECT_TRUE(std::isnan(real_of(real_arith(AR_DIV, 0.0L, 0.0L))));
  EXPECT_TRUE(std::isnan(real_of(real_arith(AR_POW, -8.0L, 1.0L / 3.0L))));
  // A NaN operand keeps its payload through the operation.
  uint64_t tagged = 0x7FF8000000001234ull;
  double t = real_of(tagged);
  EXPECT_EQ(real_arith(AR_ADD, static_cast<long double>(t), 1.0L), tagged);
}

}  // namespace
}  // namespace pellux
