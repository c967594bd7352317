// The command line: the command text (&PARM), its matcher, the help text and the options of
// the program file's first line.
#pragma once
#include <cstdint>

#include "vm.h"

namespace pellux {

inline constexpr uint64_t COMMAND_TEXT_MAX = 32767;  // bytes of command text kept

// Builds the command text from the arguments (program path first, a NUL after each, at most
// 32,767 bytes) into vm.rt.parm / vm.rt.parm_length.  The buffer is obtained on first use.
void build_command_text(Vm& vm, int argc, const char* const* argv);

enum class CommandStatus { Matched, Help, Failed };
struct CommandMatch {
  CommandStatus status;
  uint64_t furthest;  // furthest position reached, counted from the start of the command text
};

// Matches a command text (program path and its NUL first) and applies every item as it
// matches: options to vm.rt / vm.cc / the &STAT and &DUMP keywords, files to the unit table.
// Never ends the process: the help item stops the match and reports Help.
CommandMatch match_command_text(Vm& vm, const char* text, uint64_t len);

// The help text, on the diagnostic stream.
void write_help();
// The console message for a command text that did not match.
void report_command_failure(const char* text, uint64_t len, uint64_t furthest);

// Applies the options of the first-line field (vm.io.first_line, 256 bytes) as far as they
// can be understood; the rest of the line is ignored.  Returns the number of items applied.
int apply_first_line_options(Vm& vm);

}  // namespace pellux
