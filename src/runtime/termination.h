// Termination: the report formatter, the timer, the three termination entries and the exit.
#pragma once
#include <cstdint>
#include <initializer_list>

#include "vm.h"

namespace pellux {

// One value for a report template: an integer for "\#", a real for "\F".
struct ReportArg {
  bool is_real;
  int64_t i;
  double r;
  ReportArg(int64_t v) : is_real(false), i(v), r(0) {}   // NOLINT: implicit on purpose
  ReportArg(int v) : is_real(false), i(v), r(0) {}       // NOLINT
  ReportArg(double v) : is_real(true), i(0), r(v) {}     // NOLINT
};

// Formats the template and writes it as one record to unit 6.
void write_report(Vm& vm, const char* tmpl, std::initializer_list<ReportArg> args = {});

// The formatting step of write_report: the template with its escapes replaced, into buf (at
// most cap bytes; text beyond that is dropped).  Returns the length.  Never allocates.
inline constexpr uint64_t REPORT_LINE_MAX = 1024;
uint64_t format_report(const Vm& vm, const char* tmpl, std::initializer_list<ReportArg> args,
                       char* buf, uint64_t cap);
// The shortened real form of "\F": the text of a real (as format_real gives it) cut just before
// a seventh significant digit once the decimal point has been copied; an exponent part is kept.
// out needs room for len bytes.  Returns the length.
uint64_t shorten_real_text(const char* text, uint64_t len, char* out);

// The timer: nanoseconds of a monotonic clock; the rate is 1000 (MHz).
uint64_t read_timer();
inline constexpr double TIMER_RATE_MHZ = 1000.0;

[[noreturn]] void terminate_normally(Vm& vm);
[[noreturn]] void terminate_on_error(Vm& vm);
[[noreturn]] void terminate_on_interrupt(Vm& vm);
// The last resort of the signal thread when the interpreter does not respond to interrupts:
// unless the interpreter has begun a termination, writes the interrupt report line and the
// statistics (no dump) without touching the output unit's buffer, and exits.  Returns when the
// interpreter is terminating already.
void terminate_unresponsive(Vm& vm);
// Writes the &ABEND line when it is positive and exits with max(&ABEND, &CODE) clamped (at
// least 1 once error or interrupt termination has been entered).
[[noreturn]] void exit_process(Vm& vm);

// The exit code for the given &ABEND and &CODE: the larger, clamped to 0..2,147,483,647; a run
// ended by an error or an interrupt (failed) exits with at least 1.
int exit_code_for(int64_t abend, int64_t code, bool failed);

}  // namespace pellux
