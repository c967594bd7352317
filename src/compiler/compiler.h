// The translator: reads the program from unit 5, lists it, compiles it to object code and
// handles END.
#pragma once
#include "vm.h"

namespace pellux {

// Creates the operator records and other static data of the compiler.  Called once after
// storage_prepare.
void compiler_prepare(Vm& vm);

// Translates unit 5 up to END.  On return SD_START_CODE holds where execution begins and the
// compiler has left translation mode.  Ends the process itself after syntax errors (unless
// -ex) and for the fatal errors 11, 26, 27.
void translate(Vm& vm);

}  // namespace pellux
