// Numbered I/O units: binding, opening, closing, and record reading and writing.
#pragma once
#include <cstdint>

#include "vm.h"

namespace pellux {

enum class ReadOutcome { Record, EndOfFile, Error, DirEntry };
enum class Direction { Read, Write };

// Reads one record of at most `length` characters into dest (which must not move: a buffer
// outside the work space, or text reserved with reserve_string).  Length 0 is the first-line
// probe of unit 5.  Never allocates in the work space.  With known_hash, a record whose
// string-index hash the reader worked out ahead (see the read-ahead of variable-length text
// records) has it stored there; otherwise NO_KNOWN_HASH is.
inline constexpr uint64_t NO_KNOWN_HASH = ~uint64_t{0};
ReadOutcome read_record(Vm& vm, int64_t unit, char* dest, uint64_t length, uint64_t* delivered,
                        uint64_t* known_hash = nullptr);
// Writes one record; the line end is added here.  Sets &IOERR.  Never allocates in the work space.
bool write_record(Vm& vm, int64_t unit, const char* text, uint64_t len);

// Run-time binding (INPUT/OUTPUT and automatic binding).
bool bind_unit(Vm& vm, int64_t unit, Direction dir, const char* name, uint64_t name_len,
               const char* attrs, uint64_t attrs_len);
// ENDFILE: end mark, handle release, include chain, record given back.
void close_unit(Vm& vm, int64_t unit);

// Memory areas outside the work space: zero-filled, at a fixed address until given back.
// A refusal is reported on the console ("Failed to allocate memory area of" ...) and ends the
// process with exit code 1; so is a refused release.
void* obtain_area(uint64_t size);
void release_area(void* addr, uint64_t size);

}  // namespace pellux
