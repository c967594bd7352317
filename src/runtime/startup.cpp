// Process start-up: from the arguments to the hand-over to translation and execution.
#include <cstring>
#include <ctime>

#include "compiler/compiler.h"
#include "interp/interp.h"
#include "io/io.h"
#include "platform/platform.h"
#include "runtime/cmdline.h"
#include "runtime/runtime.h"
#include "runtime/termination.h"
#include "storage/aggregates.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

using namespace platform;

namespace {

inline constexpr uint64_t PATH_BUFFER = 32768;
inline constexpr uint64_t NATIVE_STACK_SIZE = uint64_t{1} << 30;
inline constexpr uint64_t NATIVE_STACK_MARGIN = uint64_t{4} << 20;

struct StartArgs {
  Vm* vm;
  int argc;
  char** argv;
};

// Events after which a blocked interpreter is woken, and how long it then has to end the run
// itself before this thread writes the report.
constexpr uint64_t WAKE_EVENTS = 10;
constexpr uint64_t RESPONSE_NS = 250'000'000;

// Runs on the signal thread, once per console interrupt.  It counts: the interpreter polls the
// count at statement and pattern-node starts, and SLEEP watches it.  The tenth event also ends
// any read or command wait the interpreter is blocked in; if the interpreter still has not
// begun to end the run a quarter of a second later, the report is written from here.
void on_console_event(void* p) {
  Vm& vm = *static_cast<Vm*>(p);
  const uint64_t n = vm.rt.interrupt_count.fetch_add(1, std::memory_order_relaxed) + 1;
  if (n != WAKE_EVENTS) return;
  // The interpreter may be just about to block when the first wake-up comes: it is repeated
  // every 10 ms while the interpreter has the time to respond.
  for (uint64_t waited = 0; waited < RESPONSE_NS; waited += 10'000'000) {
    platform::abort_blocking_calls();
    timespec t{0, 10'000'000};
    nanosleep(&t, nullptr);
  }
  terminate_unresponsive(vm);
}

void seed_random(Vm& vm) {
  char text[24];
  format_date_text(local_time_now(), text);
  for (int i = 0; i < 3; ++i) {
    uint64_t w = 0;
    for (int b = 0; b < 8; ++b) w |= static_cast<uint64_t>(static_cast<uint8_t>(text[i * 8 + b])) << (8 * b);
    vm.rt.rand_state ^= w;
  }
}

void set_native_stack_limit(Vm& vm) {
  uintptr_t low = 0, high = 0;
  native_stack_bounds(&low, &high);
  uint64_t size = high - low;
  uint64_t margin = size / 4 < NATIVE_STACK_MARGIN ? size / 4 : NATIVE_STACK_MARGIN;
  // The base minus the usable size is the lowest address; the margin keeps room for the
  // error report that the depth check starts.
  vm.in.native_stack_limit = high - size + margin;
}

[[noreturn]] void run(StartArgs& a) {
  Vm& vm = *a.vm;
  platform::set_wake_target();

  // Search path and start-up directory.
  vm.rt.snopath = static_cast<char*>(obtain_area(PATH_BUFFER));
  get_env("SNOPATH", vm.rt.snopath, PATH_BUFFER, &vm.rt.snopath_length);
  vm.rt.startup_dir = static_cast<char*>(obtain_area(PATH_BUFFER));
  if (!current_dir(vm.rt.startup_dir, PATH_BUFFER)) {
    diag_write("failed to get current directory name ####\r\n");
  }

  // The static area and keyword cells come first: the command line writes into them.
  storage_prepare(vm);
  interp_prepare(vm);
  compiler_prepare(vm);

  build_command_text(vm, a.argc, a.argv);
  CommandMatch m = match_command_text(vm, vm.rt.parm, vm.rt.parm_length);
  if (m.status == CommandStatus::Help) {
    write_help();
    platform::exit_process(0);
  }
  if (m.status == CommandStatus::Failed) report_command_failure(vm.rt.parm, vm.rt.parm_length, m.furthest);

  // Options on the program file's first line.
  char probe[1];
  uint64_t delivered = 0;
  read_record(vm, 5, probe, 0, &delivered);
  if (vm.io.first_line_present) apply_first_line_options(vm);

  storage_init(vm, vm.rt.work_size);
  // The type of directory entries, made as a program's DATA would make it.
  define_data_type(vm, make_variable(vm, "DirEnt(DEname,DEtype,DEdate,DEsize)"));
  vm.io.dirent_code = vm.st.datatype_counter;
  convert_init();
  fpu_init();
  seed_random(vm);
  set_native_stack_limit(vm);

  translate(vm);
  interpret(vm);
}

void run_entry(void* p) { run(*static_cast<StartArgs*>(p)); }

}  // namespace

void start(int argc, char** argv) {
  // The signal thread must exist before any other thread, so that every later thread
  // inherits the blocked signals.
  Vm* vm = new Vm();
  if (!start_signal_thread(on_console_event, vm)) diag_write("SetConsoleCtrlHandler return code\r\n");
  StartArgs args{vm, argc, argv};
  if (!run_on_large_stack(run_entry, &args, NATIVE_STACK_SIZE)) run(args);  // this thread's stack
  platform::exit_process(0);
}

}  // namespace pellux
