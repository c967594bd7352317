// The compiler part of the Vm.
#pragma once
#include <cstdint>

namespace pellux {

struct CompilerState {
  int64_t stmt_number = 0;
  bool listing = false;
  bool left_numbers = true;
  int64_t error_count = 0;
  bool exec_despite_errors = false;
  int source_unit = 5;
  bool allow_label_redefinition = false;
  uint64_t compile_start = 0;
};

}  // namespace pellux
