// The translator: reads the program from unit 5, lists it, compiles it to object code and
// handles END.
#pragma once
#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Creates the operator records and other static data of the compiler.  Called once after
// storage_prepare.
void compiler_prepare(Vm& vm);

// Translates unit 5 up to END.  On return SD_START_CODE holds where execution begins and the
// compiler has left translation mode.  Ends the process itself after syntax errors (unless
// -ex) and for the fatal errors 11, 26, 27.
void translate(Vm& vm);

// Run-time compilation of a string (CODE, EVAL).  The text is compiled with no source unit and
// no listing; syntax errors are not reported.  May allocate.
// Statements separated by ';' into a new code block ending with the END instruction: the CODE
// value in *code, or false when a statement has a syntax error.  Labels are redefined.
bool compile_code(Vm& vm, const Descr& text, Descr* code);
// One expression filling the whole text into a block of its own: the EXPRESSION value (whose
// root is the descriptor after the block title) in *expression, or false.
bool compile_expression(Vm& vm, const Descr& text, Descr* expression);

}  // namespace pellux
