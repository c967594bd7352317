// Process start-up: the command line, the first-line options and the hand-over to translation
// and execution.
#pragma once
#include "vm.h"

namespace pellux {

// The whole run, from process entry to exit; does not return.
[[noreturn]] void start(int argc, char** argv);

}  // namespace pellux
