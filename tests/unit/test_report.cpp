// The report formatter, the shortened real form, the exit code and the error table.
#include <gtest/gtest.h>

#include <string>

#include "interp/errors.h"
#include "runtime/termination.h"
#include "storage/convert.h"

namespace pellux {
namespace {

// A Vm without storage: the formatter then uses the initial &FLTSIG and &FLTDEC.
std::string report(const char* tmpl, std::initializer_list<ReportArg> args = {}) {
  static Vm vm;
  convert_init();
  char buf[REPORT_LINE_MAX];
  uint64_t n = format_report(vm, tmpl, args, buf, sizeof buf);
  return std::string(buf, n);
}

std::string shortened(const char* text) {
  char out[64];
  return std::string(out, shorten_real_text(text, std::strlen(text), out));
}

TEST(Report, IntegerEscapesConsumeValuesInOrder) {
  EXPECT_EQ(report("\\#\\#", {1, -2}), "1-2");
  EXPECT_EQ(report("Error \\# in statement \\# at level \\#", {20, 7, 0}),
            "Error 20 in statement 7 at level 0");
  EXPECT_EQ(report("\\#", {int64_t{INT64_MIN}}), "-9223372036854775808");
}

TEST(Report, ControlAndLiteralEscapes) {
  EXPECT_EQ(report("\\^M\\^JText"), "\r\nText");
  EXPECT_EQ(report("a\\^Qb"), "a\rb");  // any other caret escape is a carriage return
  EXPECT_EQ(report("\\x\\\\\\'"), "x\\'");
  EXPECT_EQ(report("end\\"), "end");    // a trailing backslash ends the template
  EXPECT_EQ(report("end\\^"), "end");
  EXPECT_EQ(report(""), "");
}

TEST(Report, RealEscapeUsesShortenedForm) {
  EXPECT_EQ(report("\\F Sec.", {0.012345678}), "0.0123456 Sec.");
  EXPECT_EQ(report("\\F", {1234567.5}), "1234567.");
  EXPECT_EQ(report("\\F", {0.0}), "0.");
  EXPECT_EQ(report("\\F", {2.5}), "2.5");
  EXPECT_EQ(report("\\F|\\#", {1.0 / 3.0, 4}), "0.333333|4");
}

TEST(Report, ShortenedFormCountsDigitsOnBothSidesOfThePoint) {
  EXPECT_EQ(shortened("123.456789"), "123.456");
  EXPECT_EQ(shortened("0.000015"), "0.000015");       // leading zeros are not significant
  EXPECT_EQ(shortened("12345678901234."), "12345678901234.");  // cut only after the point
  EXPECT_EQ(shortened("100.000001"), "100.000");
  EXPECT_EQ(shortened("INFINITY"), "INFINITY");
  EXPECT_EQ(shortened("NAN12:345"), "NAN12:345");
  // The exponent survives the cut, so the magnitude stays right.
  EXPECT_EQ(shortened("1.2345678e-15"), "1.23456e-15");
  EXPECT_EQ(shortened("1.e13"), "1.e13");
}

TEST(Report, LongOutputIsCutAtTheBuffer) {
  static Vm vm;
  char buf[8];
  EXPECT_EQ(format_report(vm, "\\#\\#", {123456, 789012}, buf, sizeof buf), 8u);
  EXPECT_EQ(std::string(buf, 8), "12345678");
}

TEST(ExitCode, LargerOfAbendAndCodeClamped) {
  EXPECT_EQ(exit_code_for(0, 0, false), 0);
  EXPECT_EQ(exit_code_for(0, 3, false), 3);
  EXPECT_EQ(exit_code_for(2, 0, false), 2);
  EXPECT_EQ(exit_code_for(2, 5, false), 5);
  EXPECT_EQ(exit_code_for(7, 5, false), 7);
  EXPECT_EQ(exit_code_for(0, -4, false), 0);
  EXPECT_EQ(exit_code_for(-9, -4, false), 0);
  EXPECT_EQ(exit_code_for(0, 2147483648LL, false), 2147483647);
  EXPECT_EQ(exit_code_for(INT64_MAX, INT64_MIN, false), 2147483647);
}

TEST(ExitCode, ErrorsAndInterruptsExitWithAtLeastOne) {
  EXPECT_EQ(exit_code_for(0, 0, true), 1);
  EXPECT_EQ(exit_code_for(0, -5, true), 1);
  EXPECT_EQ(exit_code_for(0, 3, true), 3);
  EXPECT_EQ(exit_code_for(0, INT64_MAX, true), 2147483647);
}

TEST(ErrorTable, MessagesAndBounds) {
  EXPECT_STREQ(error_message(1), "Illegal data type");
  EXPECT_STREQ(error_message(16), "Overflow during pattern matching");
  EXPECT_STREQ(error_message(17), "Error in PELLUX system");
  EXPECT_STREQ(error_message(30), "Error during write");
  EXPECT_STREQ(error_message(0), "");
  EXPECT_STREQ(error_message(31), "");
  for (int n = 1; n <= ERROR_COUNT; ++n) EXPECT_GT(std::strlen(error_message(n)), 0u) << n;
}

}  // namespace
}  // namespace pellux
