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

// The timer: nanoseconds of a monotonic clock; the rate is 1000 (MHz).
uint64_t read_timer();
inline constexpr double TIMER_RATE_MHZ = 1000.0;

[[noreturn]] void terminate_normally(Vm& vm);
[[noreturn]] void terminate_on_error(Vm& vm);
[[noreturn]] void terminate_on_interrupt(Vm& vm);
// Writes the &ABEND line when it is positive and exits with max(&ABEND, &CODE) clamped.
[[noreturn]] void exit_process(Vm& vm);

}  // namespace pellux
