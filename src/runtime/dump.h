// The dump of variables: DUMP(n) and the terminal dump of a run ended with &DUMP set.
#pragma once
#include <cstdint>

#include "vm.h"

namespace pellux {

// Longest name plus value text written as one record.
inline constexpr uint64_t DUMP_LINE_LIMIT = 15088;

// Writes one line per natural variable whose value is not the null string, chain by chain in
// bin order.  Allocates only the string forms of values that are neither strings nor integers.
void dump_variables(Vm& vm);
// Sorts the variables into text order (destroying the table), writes them under the dump
// headings, then the unprotected keywords.  Termination only.
void terminal_dump(Vm& vm);

// The records of one dump entry, handed to `sink` one by one: "N = 'T'" (string) or "N = T"
// as one record, or split into several records when name and text are too long together.
using DumpSink = void (*)(void* context, const char* text, uint64_t len);
void dump_entry(const char* name, uint64_t name_len, const char* text, uint64_t text_len,
                bool is_string, DumpSink sink, void* context);

}  // namespace pellux
