// Termination: the report formatter, the timer, the normal, error and interrupt endings with
// their common tail (terminal dump and statistics), and the process exit.
//
// Termination may be entered from anywhere, including from inside an allocation that found no
// room, so nothing here allocates in the work space except the string forms the terminal dump
// makes of its values.  A fatal error raised while terminating (a write error, no room for a
// dumped value's text) is reported once more and then ends the process; it never starts the
// tail again.
#include "runtime/termination.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

#include "interp/errors.h"
#include "io/io.h"
#include "io/units.h"
#include "platform/platform.h"
#include "runtime/dump.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// How many times error or normal termination has been entered; more than one means an error
// struck while a termination was already under way.
std::atomic<int> g_termination_depth{0};
// Set by error and interrupt termination: the exit code is then at least 1.
std::atomic<bool> g_failed{false};
// Which thread ends the run: 0 not decided, 1 the interpreter, 2 the signal thread.
std::atomic<int> g_claim{0};
// Set by the signal thread's termination: reports bypass the output unit's buffer.
std::atomic<bool> g_direct_reports{false};

// The interpreter's claim on termination.  If the signal thread has taken it, that thread is
// writing the report and will end the process: wait for it.
void claim_for_interpreter() {
  int expected = 0;
  if (g_claim.compare_exchange_strong(expected, 1) || expected == 1) return;
  for (;;) pause();
}

// Keyword reads that stay safe before the keyword cells exist.
int64_t ukw_or_zero(const Vm& vm, UKw k) { return vm.st.ukw ? ukw_int(vm, k) : 0; }
int64_t pkw_or_zero(const Vm& vm, PKw k) { return vm.st.pkw ? pkw_int(vm, k) : 0; }

uint64_t append(char* buf, uint64_t len, uint64_t cap, const char* text, uint64_t n) {
  if (len + n > cap) n = cap - len;
  std::memcpy(buf + len, text, n);
  return len + n;
}

double to_seconds(uint64_t count) {
  return static_cast<double>(static_cast<long double>(count) / (TIMER_RATE_MHZ * 1000000.0L));
}

double as_result(const Vm& vm, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits = postprocess_real(vm, bits);
  std::memcpy(&value, &bits, sizeof bits);
  return value;
}

void write_statistics(Vm& vm) {
  write_report(vm, "\\^M\\^JPELLUX Statistics summary:");
  if (vm.rt.compile_time != 0)
    write_report(vm, "\\F Sec. Compilation time (wall clock)",
                 {as_result(vm, to_seconds(vm.rt.compile_time))});
  double exec_seconds = as_result(vm, to_seconds(vm.rt.exec_time));
  if (vm.rt.exec_time != 0)
    write_report(vm, "\\F Sec. Execution time (wall clock)", {exec_seconds});
  int64_t stcount = pkw_or_zero(vm, P_STCOUNT);
  write_report(vm, "\\# Statements executed, \\# Failed", {stcount, pkw_or_zero(vm, P_STFCOUNT)});
  write_report(vm, "\\# Arithmetic operations performed", {static_cast<int64_t>(vm.rt.arith_ops)});
  write_report(vm, "\\# Pattern matches performed", {static_cast<int64_t>(vm.rt.pattern_matches)});
  write_report(vm, "\\# Regenerations of dynamic storage", {static_cast<int64_t>(vm.st.regen_count)});
  write_report(vm, "\\# Reads performed", {static_cast<int64_t>(vm.io.reads)});
  write_report(vm, "\\# Writes performed", {static_cast<int64_t>(vm.io.writes)});
  double average = 0.0;
  if (stcount != 0) {
    long double per = static_cast<long double>(exec_seconds) / static_cast<long double>(stcount);
    average = as_result(vm, as_result(vm, static_cast<double>(per)) * 1000000000.0);
  }
  write_report(vm, "\\F nSec. Average per statement executed (wall clock)", {average});
}

// Times, terminal dump, statistics, exit.
[[noreturn]] void common_tail(Vm& vm) {
  uint64_t now = read_timer();
  if (!vm.rt.exec_started && vm.rt.exec_start == 0) {
    if (vm.rt.compile_start != 0) vm.rt.compile_time = now - vm.rt.compile_start;
    vm.rt.exec_time = 0;
  } else {
    vm.rt.exec_time = now - vm.rt.exec_start;
  }
  if (ukw_or_zero(vm, K_DUMP) != 0) terminal_dump(vm);
  if (ukw_or_zero(vm, K_STAT) != 0) write_statistics(vm);
  exit_process(vm);
}

}  // namespace

uint64_t shorten_real_text(const char* text, uint64_t len, char* out) {
  uint64_t n = 0;
  bool point = false;
  int significant = 0;
  for (uint64_t i = 0; i < len; ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9' && (significant > 0 || c != '0')) {
      if (point && significant >= 6) {
        // Drop the remaining mantissa digits but keep an exponent part, which carries the
        // magnitude of the value.
        while (i < len && text[i] >= '0' && text[i] <= '9') ++i;
        while (i < len) out[n++] = text[i++];
        return n;
      }
      ++significant;
    }
    if (c == '.') point = true;
    out[n++] = c;
  }
  return n;
}

uint64_t format_report(const Vm& vm, const char* tmpl, std::initializer_list<ReportArg> args,
                       char* buf, uint64_t cap) {
  const ReportArg* next = args.begin();
  const ReportArg* end = args.end();
  uint64_t len = 0;
  for (const char* p = tmpl; *p; ++p) {
    if (*p != '\\') {
      len = append(buf, len, cap, p, 1);
      continue;
    }
    char e = *++p;
    if (e == '\0') break;  // a backslash at the very end ends the template
    if (e == '#') {
      int64_t v = 0;
      if (next != end) {
        v = next->is_real ? static_cast<int64_t>(next->r) : next->i;
        ++next;
      }
      char num[24];
      len = append(buf, len, cap, num, format_integer(v, num));
    } else if (e == 'F') {
      double v = 0.0;
      if (next != end) {
        v = next->is_real ? next->r : static_cast<double>(next->i);
        ++next;
      }
      uint64_t bits;
      std::memcpy(&bits, &v, sizeof bits);
      char text[REAL_TEXT_MAX], shortened[REAL_TEXT_MAX];
      int64_t fltsig = vm.st.ukw ? ukw_int(vm, K_FLTSIG) : 14;
      int64_t fltdec = vm.st.ukw ? ukw_int(vm, K_FLTDEC) : 12;
      uint64_t n = format_real(bits, fltsig, fltdec, text);
      len = append(buf, len, cap, shortened, shorten_real_text(text, n, shortened));
    } else if (e == '^') {
      char c = *++p;
      if (c == '\0') break;
      char out = c == 'J' ? '\n' : '\r';
      len = append(buf, len, cap, &out, 1);
    } else {
      len = append(buf, len, cap, &e, 1);
    }
  }
  return len;
}

void write_report(Vm& vm, const char* tmpl, std::initializer_list<ReportArg> args) {
  char line[REPORT_LINE_MAX + 2];
  uint64_t len = format_report(vm, tmpl, args, line, REPORT_LINE_MAX);
  if (!g_direct_reports.load(std::memory_order_relaxed)) {
    write_record(vm, 6, line, len);
    return;
  }
  // From the signal thread: the interpreter may be inside a write of unit 6, so the line goes
  // straight to the unit's handle (or standard output) from this buffer, without waiting: the
  // interpreter may be stuck on that very output, and the process must end all the same.
  line[len++] = '\r';
  line[len++] = '\n';
  platform::Handle h = platform::std_output();
  const UnitRecord* u = vm.io.units[6];
  if (u != nullptr && u->valid == UNIT_VALID && u->open_mark == UNIT_OPEN &&
      u->handle != platform::NO_HANDLE)
    h = u->handle;
  platform::file_set_nonblocking(h);
  platform::file_write(h, line, len);
}

void terminate_unresponsive(Vm& vm) {
  int expected = 0;
  if (!g_claim.compare_exchange_strong(expected, 2)) return;
  g_direct_reports = true;
  g_failed = true;
  write_report(vm, "\\^M\\^JInterrupted in stmt \\# at level \\# at STCOUNT \\#",
               {pkw_or_zero(vm, P_STNO), pkw_or_zero(vm, P_FNCLEVEL), pkw_or_zero(vm, P_STCOUNT)});
  if (vm.rt.exec_started) vm.rt.exec_time = read_timer() - vm.rt.exec_start;
  if (ukw_or_zero(vm, K_STAT) != 0) write_statistics(vm);
  exit_process(vm);
}

uint64_t read_timer() { return platform::monotonic_ns(); }

int exit_code_for(int64_t abend, int64_t code, bool failed) {
  int64_t c = abend > code ? abend : code;
  if (failed && c < 1) c = 1;
  if (c < 0) c = 0;
  if (c > 2147483647) c = 2147483647;
  return static_cast<int>(c);
}

void exit_process(Vm& vm) {
  int64_t abend = ukw_or_zero(vm, K_ABEND);
  if (abend > 0) {
    platform::diag_decimal(abend);
    platform::diag_write(" = &ABEND Abnormal End to program\r\n");
  }
  platform::exit_process(exit_code_for(abend, ukw_or_zero(vm, K_CODE), g_failed.load()));
  platform::diag_write("ExitProcess failed ####\r\n");
  for (;;) platform::exit_process(1);
}

void terminate_normally(Vm& vm) {
  claim_for_interpreter();
  if (g_termination_depth.fetch_add(1) > 0) exit_process(vm);
  if (ukw_or_zero(vm, K_STAT) != 0) {
    write_report(vm, "\\^M\\^JNormal termination at level \\#", {pkw_or_zero(vm, P_FNCLEVEL)});
    write_report(vm, "Last statement executed was \\#", {pkw_or_zero(vm, P_STNO)});
  }
  common_tail(vm);
}

void terminate_on_error(Vm& vm) {
  claim_for_interpreter();
  g_failed = true;
  int depth = g_termination_depth.fetch_add(1) + 1;
  if (depth > 2) exit_process(vm);  // the report of a nested error failed in turn
  int64_t errtype = pkw_or_zero(vm, P_ERRTYPE);
  write_report(vm, "\\^M\\^JError \\# in statement \\# at level \\#",
               {errtype, pkw_or_zero(vm, P_STNO), pkw_or_zero(vm, P_FNCLEVEL)});
  if (!vm.st.initialised) {
    write_report(vm, "Insufficient storage for initialization");
    exit_process(vm);
  }
  const char* message = error_message(static_cast<int>(errtype));
  write_record(vm, 6, message, std::strlen(message));
  if (depth > 1) exit_process(vm);  // raised while terminating: reported, no second tail
  common_tail(vm);
}

void terminate_on_interrupt(Vm& vm) {
  claim_for_interpreter();
  write_report(vm, "\\^M\\^JInterrupted in stmt \\# at level \\# at STCOUNT \\#",
               {pkw_or_zero(vm, P_STNO), pkw_or_zero(vm, P_FNCLEVEL), pkw_or_zero(vm, P_STCOUNT)});
  g_failed = true;
  if (vm.rt.termination_entered) exit_process(vm);
  vm.rt.termination_entered = true;
  if (g_termination_depth.fetch_add(1) > 0) exit_process(vm);
  common_tail(vm);
}

}  // namespace pellux
