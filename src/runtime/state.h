// The run-control part of the Vm: settings from the command line, times and counters.
#pragma once
#include <atomic>
#include <cstdint>

namespace pellux {

struct RuntimeState {
  // Settings made by the command line and the first-line options (the listing and
  // execute-anyway switches live in CompilerState, &STAT and &DUMP in their keywords).
  uint64_t work_size = 30000000;
  int64_t test_number = 0;

  // The command text (&PARM), NUL after each argument.
  char* parm = nullptr;
  uint64_t parm_length = 0;

  // Search path and start-up directory.
  char* snopath = nullptr;
  uint64_t snopath_length = 0;
  char* startup_dir = nullptr;

  // Times (timer counts) and counters for the statistics summary.
  uint64_t compile_start = 0, compile_time = 0;
  uint64_t exec_start = 0, exec_time = 0;
  bool exec_started = false;
  uint64_t arith_ops = 0;
  uint64_t pattern_matches = 0;

  uint64_t rand_state = 0;
  bool termination_entered = false;
  std::atomic<uint64_t> interrupt_count{0};
  std::atomic<bool> sleeping{false};  // SLEEP is waiting (a console interrupt then ends the run)
};

}  // namespace pellux
