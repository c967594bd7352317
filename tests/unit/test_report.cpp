// The report formatter, the shortened real form, the exit code and the error table.
#include <gtest/gtest.h>

#include <cstring>
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

// --- Reports through unit 6 and the termination entries ---------------------------------------

#include "term_fixture.h"

namespace pellux {
namespace {

using Lines = std::vector<std::string>;

// The death tests fork (the default style), so the child writes the file the parent reads.
using Termination = testing_term::OutputTest;

TEST_F(Termination, ReportIsOneRecordWithItsOwnLineEnd) {
  write_report(vm(), "\\^M\\^JText \\#", {7});
  EXPECT_EQ(raw(), "\r\nText 7\r\n");
}

TEST_F(Termination, ErrorBelowTheLimitOnlyFails) {
  ukw(vm(), K_ERRLIMIT) = Descr::integer(2);
  EXPECT_EQ(error_stmt(vm(), 14), X_FAIL);
  EXPECT_EQ(pkw_int(vm(), P_ERRTYPE), 14);
  EXPECT_EQ(ukw_int(vm(), K_ERRLIMIT), 1);
  EXPECT_EQ(error_stmt(vm(), 3), X_FAIL);
  EXPECT_EQ(pkw_int(vm(), P_ERRTYPE), 3);
  EXPECT_EQ(ukw_int(vm(), K_ERRLIMIT), 0);
  EXPECT_TRUE(records().empty());
}

TEST_F(Termination, ErrorAtTheLimitEndsTheRun) {
  pkw(vm(), P_STNO) = Descr::integer(12);
  pkw(vm(), P_FNCLEVEL) = Descr::integer(2);
  EXPECT_EXIT(error_stmt(vm(), 5), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(records(), (Lines{"", "Error 5 in statement 12 at level 2",
                              "Undefined function or operation"}));
}

TEST_F(Termination, FatalErrorIgnoresTheLimitAndKeepsAHigherCode) {
  ukw(vm(), K_ERRLIMIT) = Descr::integer(50);
  ukw(vm(), K_CODE) = Descr::integer(6);
  EXPECT_EXIT(error_fatal(vm(), 22), ::testing::ExitedWithCode(6), "");
  EXPECT_EQ(records(), (Lines{"", "Error 22 in statement 0 at level 0",
                              "Limit on statement execution exceeded"}));
}

TEST_F(Termination, NegativeCodeStillFailsAnError) {
  ukw(vm(), K_CODE) = Descr::integer(-3);
  EXPECT_EXIT(error_fatal(vm(), 20), ::testing::ExitedWithCode(1), "");
}

TEST_F(Termination, ErrorBeforeInitialisationHasNoStatistics) {
  vm().st.initialised = false;
  ukw(vm(), K_STAT) = Descr::integer(1);
  EXPECT_EXIT(error_fatal(vm(), 20), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(records(), (Lines{"", "Error 20 in statement 0 at level 0",
                              "Insufficient storage for initialization"}));
}

TEST_F(Termination, NormalEndIsSilentWithoutStat) {
  ukw(vm(), K_CODE) = Descr::integer(3);
  EXPECT_EXIT(terminate_normally(vm()), ::testing::ExitedWithCode(3), "");
  EXPECT_TRUE(records().empty());
}

TEST_F(Termination, AbendGoesToTheConsole) {
  ukw(vm(), K_ABEND) = Descr::integer(2);
  EXPECT_EXIT(terminate_normally(vm()), ::testing::ExitedWithCode(2),
              "^2 = &ABEND Abnormal End to program\r\n$");
}

TEST_F(Termination, StatisticsSummary) {
  ukw(vm(), K_STAT) = Descr::integer(1);
  pkw(vm(), P_STNO) = Descr::integer(9);
  pkw(vm(), P_STCOUNT) = Descr::integer(40);
  pkw(vm(), P_STFCOUNT) = Descr::integer(3);
  vm().rt.arith_ops = 11;
  vm().rt.pattern_matches = 12;
  vm().io.reads = 13;
  vm().io.writes = 14;
  vm().rt.compile_time = 2500000000;  // 2.5 seconds
  vm().rt.exec_started = true;
  vm().rt.exec_start = read_timer() - 4000;
  uint64_t regens = vm().st.regen_count;
  EXPECT_EXIT(terminate_normally(vm()), ::testing::ExitedWithCode(0), "");
  Lines r = records();
  ASSERT_EQ(r.size(), 14u);
  EXPECT_EQ(r[0], "");
  EXPECT_EQ(r[1], "Normal termination at level 0");
  EXPECT_EQ(r[2], "Last statement executed was 9");
  EXPECT_EQ(r[3], "");
  EXPECT_EQ(r[4], "PELLUX Statistics summary:");
  EXPECT_EQ(r[5], "2.5 Sec. Compilation time (wall clock)");
  // At least the 4,000 ns set above; a real number cut to six significant digits.
  ASSERT_NE(r[6].find(" Sec. Execution time (wall clock)"), std::string::npos);
  double exec = std::stod(r[6]);
  EXPECT_GE(exec, 0.000004);
  EXPECT_LT(exec, 60.0);
  EXPECT_EQ(r[7], "40 Statements executed, 3 Failed");
  EXPECT_EQ(r[8], "11 Arithmetic operations performed");
  EXPECT_EQ(r[9], "12 Pattern matches performed");
  EXPECT_GE(std::stoll(r[10]), static_cast<long long>(regens));
  EXPECT_NE(r[10].find(" Regenerations of dynamic storage"), std::string::npos);
  EXPECT_EQ(r[11], "13 Reads performed");
  EXPECT_EQ(r[12], "14 Writes performed");
  double average = std::stod(r[13]);
  EXPECT_NEAR(average, exec / 40 * 1e9, average * 3e-5 + 1e-3);
  EXPECT_NE(r[13].find(" nSec. Average per statement executed (wall clock)"), std::string::npos);
}

TEST_F(Termination, StatisticsBeforeExecutionLeaveOutTheExecutionTime) {
  ukw(vm(), K_STAT) = Descr::integer(1);
  vm().rt.exec_started = false;
  vm().rt.exec_start = 0;
  vm().rt.compile_start = read_timer();
  vm().st.initialised = true;
  EXPECT_EXIT(error_fatal(vm(), 27), ::testing::ExitedWithCode(1), "");
  Lines r = records();
  ASSERT_EQ(r.size(), 13u);
  EXPECT_EQ(r[2], "Erroneous end statement");
  EXPECT_NE(r[5].find(" Sec. Compilation time (wall clock)"), std::string::npos);
  EXPECT_EQ(r[6], "0 Statements executed, 0 Failed");
  EXPECT_EQ(r[12], "0. nSec. Average per statement executed (wall clock)");
}

TEST_F(Termination, SecondInterruptExitsAtOnce) {
  ukw(vm(), K_STAT) = Descr::integer(1);
  pkw(vm(), P_STNO) = Descr::integer(4);
  pkw(vm(), P_FNCLEVEL) = Descr::integer(1);
  pkw(vm(), P_STCOUNT) = Descr::integer(99);
  vm().rt.termination_entered = true;
  EXPECT_EXIT(terminate_on_interrupt(vm()), ::testing::ExitedWithCode(1), "");
  EXPECT_EQ(records(), (Lines{"", "Interrupted in stmt 4 at level 1 at STCOUNT 99"}));
}

TEST_F(Termination, FirstInterruptRunsTheTail) {
  ukw(vm(), K_DUMP) = Descr::integer(1);
  ukw(vm(), K_CODE) = Descr::integer(-1);
  EXPECT_EXIT(terminate_on_interrupt(vm()), ::testing::ExitedWithCode(1), "");
  Lines r = records();
  ASSERT_GE(r.size(), 3u);
  EXPECT_EQ(r[1], "Interrupted in stmt 0 at level 0 at STCOUNT 0");
  EXPECT_EQ(r[3], "Dump of variables at termination:");
  EXPECT_EQ(r.back(), "&TRIM = 0");
}

}  // namespace
}  // namespace pellux
