// The number scanners and formatters, the power table and real post-processing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "storage/convert.h"

using namespace pellux;

namespace {

constexpr uint64_t QNAN = 0x7FF8000000000000ull;
constexpr uint64_t PINF = 0x7FF0000000000000ull;
constexpr uint64_t NINF = 0xFFF0000000000000ull;
constexpr uint64_t NEG_ZERO = 0x8000000000000000ull;

uint64_t bits_of(double d) {
  uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double from_bits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

std::string real_text(uint64_t bits, int64_t fltsig = 14, int64_t fltdec = 12) {
  convert_init();
  char buf[REAL_TEXT_MAX];
  uint64_t n = format_real(bits, fltsig, fltdec, buf);
  EXPECT_LE(n, REAL_TEXT_MAX);
  return std::string(buf, n);
}
std::string real_text_of(double d, int64_t fltsig = 14, int64_t fltdec = 12) {
  return real_text(bits_of(d), fltsig, fltdec);
}

std::string int_text(int64_t v) {
  char buf[INTEGER_TEXT_MAX];
  return std::string(buf, format_integer(v, buf));
}

// Scans a real; returns false on rejection.
bool real_of(const char* s, uint64_t* bits) {
  convert_init();
  return scan_real(s, std::strlen(s), bits);
}
bool int_of(const char* s, int64_t* v) { return scan_integer(s, std::strlen(s), v); }

}  // namespace

TEST(RealFormat, InitialKeywordTable) {
  volatile double one = 1.0, two = 2.0, three = 3.0;
  EXPECT_EQ(real_text_of(0.1), "0.1");
  EXPECT_EQ(real_text_of(one / three), "0.33333333333333");
  EXPECT_EQ(real_text_of(two / three), "0.66666666666666");
  EXPECT_EQ(real_text_of(123.456), "123.456");
  EXPECT_EQ(real_text_of(100.0), "100.");
  EXPECT_EQ(real_text_of(1e12), "1000000000000.");
  EXPECT_EQ(real_text_of(1e13), "1.e13");
  EXPECT_EQ(real_text_of(1.5e-5), "0.000015");
  EXPECT_EQ(real_text_of(1e-13), "1.e-13");
  EXPECT_EQ(real_text_of(-2.5), "-2.5");
  EXPECT_EQ(real_text_of(0.0), "0.");
  EXPECT_EQ(real_text_of(-0.0), "-0.");
  EXPECT_EQ(real_text_of(1e-12), "0.000000000001");
  EXPECT_EQ(real_text_of(-1e13), "-1.e13");
  EXPECT_EQ(real_text_of(1.0), "1.");
}

TEST(RealFormat, SignificantDigitsAreClamped) {
  volatile double two = 2.0, three = 3.0;
  double x = two / three;
  EXPECT_EQ(real_text_of(x, 1), "0.6");
  EXPECT_EQ(real_text_of(x, 0), "0.6");
  EXPECT_EQ(real_text_of(x, -5), "0.6");
  EXPECT_EQ(real_text_of(x, 15), "0.666666666666667");  // the lift shows at 15 digits
  EXPECT_EQ(real_text_of(x, 20), real_text_of(x, 15));
  // The digits are truncated, never rounded.
  EXPECT_EQ(real_text_of(2.5, 1), "2.");
  EXPECT_EQ(real_text_of(9.99, 2), "9.9");
}

TEST(RealFormat, ExponentFormFollowsFltdec) {
  EXPECT_EQ(real_text_of(1.5, 14, -1), "1.5e0");
  EXPECT_EQ(real_text_of(123.0, 14, 1), "1.23e2");
  EXPECT_EQ(real_text_of(0.05, 14, 2), "0.05");
  EXPECT_EQ(real_text_of(0.005, 14, 2), "5.e-3");
  // A very large &FLTDEC keeps the fixed form at the extremes and stays within the buffer.
  EXPECT_EQ(real_text_of(1e300, 14, 1000), "1" + std::string(300, '0') + ".");
  std::string tiny = real_text(1, 14, 1000);  // the smallest subnormal
  EXPECT_EQ(tiny, "0." + std::string(323, '0') + "49406564584124");
  EXPECT_EQ(real_text(1), "4.9406564584124e-324");
  EXPECT_EQ(real_text(0x7FEFFFFFFFFFFFFFull), "1.7976931348623e308");
}

TEST(RealFormat, InfinitiesAndNans) {
  EXPECT_EQ(real_text(PINF), "INFINITY");
  EXPECT_EQ(real_text(NINF), "-INFINITY");
  EXPECT_EQ(real_text(QNAN), "NAN");
  EXPECT_EQ(real_text(QNAN | NEG_ZERO), "NAN");  // no sign for a NaN
  EXPECT_EQ(real_text(postprocess_real(QNAN, 12, 345)), "NAN12:345");
  EXPECT_EQ(real_text(postprocess_real(QNAN, 7, 0)), "NAN7:");
  EXPECT_EQ(real_text(postprocess_real(QNAN, 0, 3)), "NAN0:3");
  EXPECT_EQ(real_text(postprocess_real(QNAN, 100000, 1)), "NAN65535:1");
  // Bit 0 of the payload alone does not print.
  EXPECT_EQ(real_text(QNAN | 1), "NAN");
}

TEST(IntegerFormat, Extremes) {
  EXPECT_EQ(int_text(0), "0");
  EXPECT_EQ(int_text(-1), "-1");
  EXPECT_EQ(int_text(std::numeric_limits<int64_t>::max()), "9223372036854775807");
  EXPECT_EQ(int_text(std::numeric_limits<int64_t>::min()), "-9223372036854775808");
}

TEST(IntegerScan, AcceptsSignedDigitsInRange) {
  int64_t v = 99;
  EXPECT_TRUE(int_of("0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(int_of("+007", &v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(int_of("-0", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(int_of("9223372036854775807", &v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::max());
  EXPECT_TRUE(int_of("-9223372036854775808", &v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(int_of("-0000000000000000000000009223372036854775808", &v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
}

TEST(IntegerScan, RejectsEverythingElse) {
  int64_t v = 42;
  for (const char* s : {"", "+", "-", "+-1", "--1", " 12", "12 ", "1 2", "1.0", "1e3", "0x10",
                        "9223372036854775808", "-9223372036854775809",
                        "18446744073709551616", "99999999999999999999999"}) {
    EXPECT_FALSE(int_of(s, &v)) << s;
  }
  EXPECT_EQ(v, 42);  // a failed scan changes nothing
}

TEST(RealScan, NamedValues) {
  uint64_t b = 0;
  EXPECT_TRUE(real_of("NAN", &b));
  EXPECT_EQ(b, QNAN);
  EXPECT_TRUE(real_of("NaN", &b));
  EXPECT_EQ(b, QNAN);
  EXPECT_TRUE(real_of("INFINITY", &b));
  EXPECT_EQ(b, PINF);
  EXPECT_TRUE(real_of("+INFINITY", &b));
  EXPECT_EQ(b, PINF);
  EXPECT_TRUE(real_of("-INFINITY", &b));
  EXPECT_EQ(b, NINF);
  b = 5;
  for (const char* s : {"nan", "NAn", "nAN", "-NAN", "+NaN", "NANA", "Infinity", "INF",
                        "--INFINITY", "INFINITY ", "infinity"}) {
    EXPECT_FALSE(real_of(s, &b)) << s;
  }
  EXPECT_EQ(b, 5u);
}

TEST(RealScan, Syntax) {
  uint64_t b = 0;
  EXPECT_TRUE(real_of("5.", &b));
  EXPECT_EQ(from_bits(b), 5.0);
  EXPECT_TRUE(real_of("0.", &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("-0.", &b));
  EXPECT_EQ(b, NEG_ZERO);
  EXPECT_TRUE(real_of("00.0", &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("0e5", &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("1e3", &b));
  EXPECT_EQ(from_bits(b), 1000.0);
  EXPECT_TRUE(real_of("1E+3", &b));
  EXPECT_EQ(from_bits(b), 1000.0);
  EXPECT_TRUE(real_of("25e-1", &b));
  EXPECT_EQ(from_bits(b), 2.5);
  EXPECT_TRUE(real_of("-2.5", &b));
  EXPECT_EQ(from_bits(b), -2.5);
  EXPECT_TRUE(real_of("+12", &b));
  EXPECT_EQ(from_bits(b), 12.0);
  EXPECT_TRUE(real_of("10000000000000000000", &b));
  EXPECT_EQ(from_bits(b), 1e19);
  for (const char* s : {"", "0", "00", "-0", "+000", ".5", "-.5", "e5", "1e", "1e+", "1.5e+",
                        "1.5e-", "1.2.3", "1..", "1e2.5", "1e2e3", " 1.0", "1.0 ", "1,0", "1x",
                        "+", "-", "1.0d0", "0x1p3"}) {
    EXPECT_FALSE(real_of(s, &b)) << s;
  }
}

TEST(RealScan, MantissaHoldsEighteenDigits) {
  uint64_t b = 0;
  // Zeros after the point count as mantissa digits: with 18 of them the 1 is dropped.
  EXPECT_TRUE(real_of("0.0000000000000000001", &b));  // 18 zeros
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("0.000000000000000001", &b));  // 17 zeros
  EXPECT_EQ(from_bits(b), 1e-18);
  // Leading zeros before the point are not digits.
  EXPECT_TRUE(real_of("0000000000000000000000001.5", &b));
  EXPECT_EQ(from_bits(b), 1.5);
  // Digits past the 18th still place the point.
  EXPECT_TRUE(real_of("1234567890123456789012.", &b));
  EXPECT_EQ(from_bits(b), 1.23456789012345678e21);
  EXPECT_TRUE(real_of("123456789012345678999", &b));
  EXPECT_EQ(from_bits(b), 123456789012345678000.0);
}

TEST(RealScan, ExponentRange) {
  uint64_t b = 0;
  EXPECT_TRUE(real_of("1e308", &b));
  EXPECT_EQ(from_bits(b), 1e308);
  EXPECT_TRUE(real_of("1e309", &b));
  EXPECT_EQ(b, PINF);
  EXPECT_TRUE(real_of("-1e400", &b));
  EXPECT_EQ(b, NINF);
  EXPECT_TRUE(real_of("1e-400", &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("-1e-400", &b));
  EXPECT_EQ(b, NEG_ZERO);
  EXPECT_TRUE(real_of("1e99999999999999999999999", &b));  // exponent stops growing
  EXPECT_EQ(b, PINF);
  EXPECT_TRUE(real_of("1e-99999999999999999999999", &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(real_of("1e0000000000000000000000002", &b));
  EXPECT_EQ(from_bits(b), 100.0);
  EXPECT_TRUE(real_of("0.0e400", &b));  // zero stays zero whatever the exponent
  EXPECT_EQ(b, 0u);
  // The smallest normal and the subnormals are not flushed to zero.
  EXPECT_TRUE(real_of("2.2250738585072014e-308", &b));
  EXPECT_EQ(b, 0x0010000000000000ull);
  EXPECT_TRUE(real_of("1e-310", &b));
  EXPECT_EQ(from_bits(b), 1e-310);
  EXPECT_TRUE(real_of("4.9406564584124654e-324", &b));
  EXPECT_EQ(b, 1u);
  EXPECT_TRUE(real_of("-4.9406564584124e-324", &b));  // as the formatter writes it
  EXPECT_EQ(b, NEG_ZERO | 1);
  EXPECT_TRUE(real_of("2e-324", &b));  // below half the smallest subnormal
  EXPECT_EQ(b, 0u);
}

TEST(RealScan, CommonValuesRoundTrip) {
  uint64_t b = 0;
  for (const char* s : {"0.1", "0.2", "0.3", "123.456", "3.141592653589793", "2.718281828459045",
                        "1e22", "1e23", "6.02214076e23", "1.5e-5", "9007199254740993.",
                        "0.000001", "1e-300", "8.98846567431158e307"}) {
    ASSERT_TRUE(real_of(s, &b)) << s;
    EXPECT_EQ(from_bits(b), std::strtod(s, nullptr)) << s;
  }
}

TEST(RealScan, ScanThenFormat) {
  uint64_t b = 0;
  ASSERT_TRUE(real_of("1.5e-5", &b));
  EXPECT_EQ(real_text(b), "0.000015");
  ASSERT_TRUE(real_of("1e13", &b));
  EXPECT_EQ(real_text(b), "1.e13");
  ASSERT_TRUE(real_of("0.1", &b));
  EXPECT_EQ(real_text(b), "0.1");
}

TEST(PostProcess, LargestFiniteBecomesInfinity) {
  EXPECT_EQ(postprocess_real(0x7FEFFFFFFFFFFFFFull, 1, 1), PINF);
  EXPECT_EQ(postprocess_real(0xFFEFFFFFFFFFFFFFull, 1, 1), NINF);
  EXPECT_EQ(postprocess_real(0x7FEFFFFFFFFFFFFEull, 1, 1), 0x7FEFFFFFFFFFFFFEull);
  EXPECT_EQ(postprocess_real(bits_of(1.5), 1, 1), bits_of(1.5));
  EXPECT_EQ(postprocess_real(PINF, 1, 1), PINF);
  uint64_t b = 0;
  ASSERT_TRUE(real_of("1.7976931348623157e308", &b));
  EXPECT_EQ(postprocess_real(b, 1, 1), PINF);
}

TEST(PostProcess, NanTags) {
  EXPECT_EQ(postprocess_real(QNAN, 12, 345), QNAN | (12u << 1) | (345ull << 17));
  // The sign and quiet bit stay; the count is cut to the payload's 51 bits.
  EXPECT_EQ(postprocess_real(QNAN | NEG_ZERO, 1, 0), QNAN | NEG_ZERO | 2);
  EXPECT_EQ(postprocess_real(QNAN, 0, int64_t{1} << 40), QNAN | ((1ull << 57) & 0x7FFFFFFFFFFFFull));
  EXPECT_EQ(postprocess_real(QNAN, 0, int64_t{1} << 34), QNAN);
  EXPECT_EQ(postprocess_real(QNAN, 70000, 0), QNAN | (65535u << 1));
  // An existing tag is kept.
  uint64_t tagged = postprocess_real(QNAN, 3, 4);
  EXPECT_EQ(postprocess_real(tagged, 9, 9), tagged);
  EXPECT_EQ(postprocess_real(QNAN | 1, 9, 9), QNAN | 1);
}

TEST(PowerTable, ExactThenRoundedProducts) {
  convert_init();
  EXPECT_EQ(power_of_ten(0), 1.0L);
  EXPECT_EQ(power_of_ten(27), 1e27L);  // still exact in a 64-bit significand
  EXPECT_EQ(power_of_ten(-1), 1.0L / 10.0L);
  long double p = 1.0L;
  for (int i = 0; i < 339; ++i) p *= 10.0L;
  EXPECT_EQ(power_of_ten(339), p);
  EXPECT_EQ(power_of_ten(1000), p);  // clamped
  EXPECT_TRUE(std::isfinite(static_cast<double>(power_of_ten(-338) * 1e300L * 1e38L)));
}

TEST(RealToInteger, TruncatesWithinRange) {
  int64_t v = 0;
  EXPECT_TRUE(real_to_integer(bits_of(3.7), &v));
  EXPECT_EQ(v, 3);
  EXPECT_TRUE(real_to_integer(bits_of(-3.7), &v));
  EXPECT_EQ(v, -3);
  EXPECT_TRUE(real_to_integer(bits_of(-0.0), &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(real_to_integer(bits_of(-9223372036854775808.0), &v));
  EXPECT_EQ(v, std::numeric_limits<int64_t>::min());
  EXPECT_TRUE(real_to_integer(bits_of(9223372036854774784.0), &v));  // largest below 2^63
  EXPECT_EQ(v, 9223372036854774784);
  v = 5;
  EXPECT_FALSE(real_to_integer(bits_of(9223372036854775808.0), &v));
  EXPECT_FALSE(real_to_integer(bits_of(-9223372036854777856.0), &v));
  EXPECT_FALSE(real_to_integer(PINF, &v));
  EXPECT_FALSE(real_to_integer(NINF, &v));
  EXPECT_FALSE(real_to_integer(QNAN, &v));
  EXPECT_FALSE(real_to_integer(postprocess_real(QNAN, 1, 1), &v));
  EXPECT_EQ(v, 5);
}

// --- Conversions that need a work space ------------------------------------------------------

#include "interp/errors.h"
#include "test_vm.h"

namespace {

using pellux::testing_vm::TestVm;
using pellux::testing_vm::str;
using pellux::testing_vm::text_of;

class ConvertVm : public ::testing::Test {
 protected:
  void SetUp() override {
    convert_init();
    // Statement errors are survived, so the error procedure returns failure.
    ukw(*vm_, K_ERRLIMIT) = Descr::integer(1000);
  }
  int64_t errtype() { return pkw_int(*vm_, P_ERRTYPE); }
  Vm& vm() { return *vm_; }
  TestVm vm_;
};

TEST_F(ConvertVm, DataTypeNames) {
  Descr p = Descr::pointer(nullptr, T_PATTERN);
  EXPECT_EQ(text_of(datatype_name(vm(), str(vm(), "x"))), "STRING");
  EXPECT_EQ(text_of(datatype_name(vm(), NULL_STRING)), "STRING");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::integer(1))), "INTEGER");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::real(1.5))), "REAL");
  EXPECT_EQ(text_of(datatype_name(vm(), p)), "PATTERN");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, FLAG_POINTER, T_NAME))), "NAME");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, FLAG_POINTER, T_KNAME))), "NAME");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, FLAG_POINTER, T_EXPRESSION))), "EXPRESSION");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, FLAG_POINTER, T_CODE))), "CODE");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, 0, 555))), "EXTERNAL");
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, 0, T_PAIRLIST))), "EXTERNAL");
  // A defined type is named by its pair in the list.
  add_pair(vm(), SD_DATATYPES, datatype_key(101), str(vm(), "POINT"));
  EXPECT_EQ(text_of(datatype_name(vm(), Descr::make(0, FLAG_POINTER, 101))), "POINT");
  EXPECT_EQ(text_of(string_form(vm(), Descr::make(0, FLAG_POINTER, 101))), "POINT");
}

TEST_F(ConvertVm, StringForms) {
  EXPECT_EQ(text_of(string_form(vm(), Descr::integer(INT64_MIN))), "-9223372036854775808");
  EXPECT_EQ(text_of(string_form(vm(), Descr::real(-2.5))), "-2.5");
  Descr s = str(vm(), "as is");
  EXPECT_EQ(string_form(vm(), s), s);
  EXPECT_EQ(string_form(vm(), NULL_STRING), NULL_STRING);
  EXPECT_EQ(text_of(string_form(vm(), Descr::pointer(nullptr, T_PATTERN))), "PATTERN");
  // Numbers become interned strings like any other text.
  EXPECT_EQ(int_to_string(vm(), 12), str(vm(), "12"));
  EXPECT_EQ(real_to_string(vm(), bits_of(100.0)), str(vm(), "100."));
  ukw(vm(), K_FLTSIG) = Descr::integer(1);
  volatile double two = 2.0, three = 3.0;
  EXPECT_EQ(text_of(real_to_string(vm(), bits_of(two / three))), "0.6");
}

// A table chain built as the table functions lay it out: slots of (value, key), then the
// trailer (extension size, link).
Descr* table_block(Vm& vm, uint64_t slots, uint64_t ext_slots, Descr* pinned_prev) {
  Descr t = allocate_block(vm, 32 * (slots + 1), T_TABLE);
  Descr* b = t.ptr();
  b[1 + 2 * slots] = Descr::make(32 * (ext_slots + 1), 0, 0);
  b[2 + 2 * slots] = Descr::make(1, 0, 0);
  if (pinned_prev) *pinned_prev = t;
  return b;
}

TEST_F(ConvertVm, TableAndArrayForms) {
  Pin first(vm());
  table_block(vm(), 10, 10, &*first);
  EXPECT_EQ(text_of(string_form(vm(), *first)), "TABLE(10,10)");
  // A chain of three blocks counts every slot.
  Pin second(vm()), third(vm());
  table_block(vm(), 1, 4, &*first);
  table_block(vm(), 4, 4, &*second);
  table_block(vm(), 4, 4, &*third);
  first->ptr()[2 + 2 * 1] = *second;
  second->ptr()[2 + 2 * 4] = *third;
  EXPECT_EQ(text_of(string_form(vm(), *first)), "TABLE(9,4)");

  auto array_with = [&](const char* proto) {
    Pin p(vm(), str(vm(), proto));
    Descr a = allocate_block(vm(), 3 * 16, T_ARRAY);
    a.ptr()[1] = *p;
    return text_of(string_form(vm(), a));
  };
  EXPECT_EQ(array_with("3,4"), "ARRAY('3,4')");
  EXPECT_EQ(array_with("12345678901234567890"), "ARRAY('12345678901234567890')");
  EXPECT_EQ(array_with("123456789012345678901"), "ARRAY");
}

TEST_F(ConvertVm, StringToNumber) {
  Descr out;
  ASSERT_TRUE(string_to_number(vm(), NULL_STRING, &out));
  EXPECT_EQ(out, Descr::integer(0));
  ASSERT_TRUE(string_to_number(vm(), str(vm(), "-12"), &out));
  EXPECT_EQ(out, Descr::integer(-12));
  ASSERT_TRUE(string_to_number(vm(), str(vm(), "9223372036854775808"), &out));
  EXPECT_EQ(out, Descr::real(9223372036854775808.0));
  ASSERT_TRUE(string_to_number(vm(), str(vm(), "1.7976931348623157e308"), &out));
  EXPECT_EQ(out, Descr::real_bits(PINF));
  pkw(vm(), P_STNO) = Descr::integer(12);
  pkw(vm(), P_STCOUNT) = Descr::integer(345);
  ASSERT_TRUE(string_to_number(vm(), str(vm(), "NaN"), &out));
  EXPECT_EQ(text_of(string_form(vm(), out)), "NAN12:345");
  EXPECT_FALSE(string_to_number(vm(), str(vm(), "1e"), &out));
  EXPECT_FALSE(string_to_number(vm(), str(vm(), " 1"), &out));

  int64_t i = 0;
  EXPECT_TRUE(string_to_integer(vm(), str(vm(), "-3.7"), &i));
  EXPECT_EQ(i, -3);
  EXPECT_TRUE(string_to_integer(vm(), str(vm(), "1e3"), &i));
  EXPECT_EQ(i, 1000);
  EXPECT_TRUE(string_to_integer(vm(), NULL_STRING, &i));
  EXPECT_EQ(i, 0);
  EXPECT_FALSE(string_to_integer(vm(), str(vm(), "9223372036854775808"), &i));
  EXPECT_FALSE(string_to_integer(vm(), str(vm(), "NAN"), &i));
  uint64_t b = 1;
  EXPECT_TRUE(string_to_real(vm(), NULL_STRING, &b));
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(string_to_real(vm(), str(vm(), "0"), &b));  // the integer route
  EXPECT_EQ(b, 0u);
  EXPECT_TRUE(string_to_real(vm(), str(vm(), "-9223372036854775808"), &b));
  EXPECT_EQ(from_bits(b), -9223372036854775808.0);
  EXPECT_FALSE(string_to_real(vm(), str(vm(), "0x1"), &b));
}

TEST_F(ConvertVm, IntegerArguments) {
  int64_t i = 0;
  EXPECT_EQ(integer_argument(vm(), Descr::integer(-5), &i), X_VALUE);
  EXPECT_EQ(i, -5);
  EXPECT_EQ(integer_argument(vm(), NULL_STRING, &i), X_VALUE);
  EXPECT_EQ(i, 0);
  EXPECT_EQ(integer_argument(vm(), str(vm(), "+17"), &i), X_VALUE);
  EXPECT_EQ(i, 17);
  EXPECT_EQ(integer_argument(vm(), Descr::real(-3.9), &i), X_VALUE);
  EXPECT_EQ(i, -3);
  EXPECT_EQ(errtype(), 0);
  // Reals that do not fit fail without an error.
  EXPECT_EQ(integer_argument(vm(), Descr::real(1e19), &i), X_FAIL);
  EXPECT_EQ(integer_argument(vm(), Descr::real_bits(QNAN), &i), X_FAIL);
  EXPECT_EQ(integer_argument(vm(), Descr::real_bits(NINF), &i), X_FAIL);
  EXPECT_EQ(errtype(), 0);
  // A string is never read as a real here; other types are errors too.
  EXPECT_EQ(integer_argument(vm(), str(vm(), "3.5"), &i), X_FAIL);
  EXPECT_EQ(errtype(), 1);
  pkw(vm(), P_ERRTYPE) = Descr::integer(0);
  EXPECT_EQ(integer_argument(vm(), Descr::pointer(nullptr, T_PATTERN), &i), X_FAIL);
  EXPECT_EQ(errtype(), 1);
  EXPECT_EQ(ukw_int(vm(), K_ERRLIMIT), 998);
}

TEST_F(ConvertVm, StringArguments) {
  Descr out;
  EXPECT_EQ(string_argument(vm(), Descr::integer(12), &out), X_VALUE);
  EXPECT_EQ(out, str(vm(), "12"));
  EXPECT_EQ(string_argument(vm(), Descr::real(1e13), &out), X_VALUE);
  EXPECT_EQ(text_of(out), "1.e13");
  EXPECT_EQ(string_argument(vm(), NULL_STRING, &out), X_VALUE);
  EXPECT_EQ(out, NULL_STRING);
  EXPECT_EQ(errtype(), 0);
  EXPECT_EQ(string_argument(vm(), Descr::make(0, FLAG_POINTER, T_NAME), &out), X_FAIL);
  EXPECT_EQ(errtype(), 1);
}

}  // namespace
