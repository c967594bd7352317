// Host services: SYSTEM runs a command, GETENV reads an environment variable, SLEEP waits,
// DATE gives the local date and time as text, TIME the nanoseconds since execution began.
#include <cstring>
#include <memory>
#include <new>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// Environment names and values are handled in buffers of this size.
constexpr uint64_t HOST_BUFFER = 32768;

bool contains_nul(const Descr& s) {
  const char* t = string_text(s);
  for (uint64_t i = 0, n = string_length(s); i < n; ++i) {
    if (t[i] == 0) return true;
  }
  return false;
}

// The text of a string with a NUL after it, in memory of its own.
std::unique_ptr<char[]> c_text(const Descr& s) {
  const uint64_t n = string_length(s);
  std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
  if (copy) {
    if (n > 0) std::memcpy(copy.get(), string_text(s), n);
    copy[n] = 0;
  }
  return copy;
}

}  // namespace

Exit bi_SYSTEM(Vm& vm) {
  Descr command;
  if (string_operand(vm, &command) != X_VALUE) return X_FAIL;
  // A NUL would cut the command short: such a command is not run.
  if (contains_nul(command)) return X_FAIL;
  std::unique_ptr<char[]> text = c_text(command);
  if (!text) error_fatal(vm, 20);
  switch (platform::run_command(text.get())) {
    case platform::CommandOutcome::Ran:
      break;
    case platform::CommandOutcome::StartFailed:
      platform::diag_write("Error from CreateProcessA\r\n");
      platform::diag_last_error();
      break;
    case platform::CommandOutcome::WaitFailed:
      platform::diag_write("Error from WaitForSingleObject\r\n");
      platform::diag_last_error();
      break;
    case platform::CommandOutcome::Interrupted:
      terminate_on_interrupt(vm);  // console interrupts ended the wait for the command
  }
  return succeed(vm, NULL_STRING);
}

Exit bi_GETENV(Vm& vm) {
  Descr name;
  if (string_operand(vm, &name) != X_VALUE) return X_FAIL;
  if (string_length(name) > HOST_BUFFER) return error_stmt(vm, 15);
  // A name with a NUL in it cannot be set in the environment.
  if (is_null_string(name) || contains_nul(name)) return succeed(vm, NULL_STRING);
  char key[HOST_BUFFER + 1];
  std::memcpy(key, string_text(name), string_length(name));
  key[string_length(name)] = 0;
  auto value = std::make_unique<char[]>(HOST_BUFFER);
  uint64_t len = 0;
  if (!platform::get_env(key, value.get(), HOST_BUFFER, &len)) return succeed(vm, NULL_STRING);
  return succeed(vm, make_variable(vm, value.get(), len));
}

Exit bi_SLEEP(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  int64_t n;
  if (integer_argument(vm, result(vm), &n) != X_VALUE) return X_FAIL;
  if (n < 0) return X_FAIL;
  // Whole milliseconds: a duration below one millisecond does not wait.
  const uint64_t ns = static_cast<uint64_t>(n / 1'000'000) * 1'000'000;
  vm.rt.sleeping.store(true, std::memory_order_relaxed);
  const bool interrupted = ns > 0 && platform::sleep_unless_interrupted(ns, vm.rt.interrupt_count);
  vm.rt.sleeping.store(false, std::memory_order_relaxed);
  // A console interrupt during the wait ends the run at once.
  if (interrupted) terminate_on_interrupt(vm);
  return succeed(vm, NULL_STRING);
}

Exit bi_DATE(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  char text[24];
  platform::format_date_text(platform::local_time_now(), text);
  return succeed(vm, make_variable(vm, text, 23));
}

Exit bi_TIME(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const uint64_t now = read_timer();
  const uint64_t start = vm.rt.exec_start;
  return succeed(vm, Descr::integer(static_cast<int64_t>(now >= start ? now - start : 0)));
}

}  // namespace pellux
