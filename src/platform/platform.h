// The operating-system layer.  Nothing outside src/platform/ includes an OS header; every
// call the interpreter makes of the host goes through here.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pellux::platform {

// --- Memory areas: zero-filled, fixed address until released.  nullptr when refused. --------
void* area_obtain(uint64_t size);
bool area_release(void* addr, uint64_t size);

// --- The diagnostic stream: standard error, one byte per write call, unbuffered. ------------
void diag_write(const char* text);                 // NUL-terminated
void diag_write(const char* text, uint64_t len);   // exactly len bytes (may contain NULs)
void diag_decimal(int64_t value);
void diag_hex(uint64_t value);                     // exactly 16 upper-case hex digits
void diag_last_error();                            // "GetLastError=" code " " hex16 CR LF
int last_error();                                  // errno of the last failed call

// --- Clocks -------------------------------------------------------------------------------------
uint64_t monotonic_ns();  // CLOCK_MONOTONIC in nanoseconds

// --- Process -----------------------------------------------------------------------------------
[[noreturn]] void exit_process(int code);
}  // namespace pellux::platform
