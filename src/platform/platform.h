// The operating-system layer.  Nothing outside src/platform/ includes an OS header; every
// call the interpreter makes of the host goes through here.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pellux::platform {

// --- Memory areas: zero-filled, fixed address until released.  nullptr when refused. --------
void* area_obtain(uint64_t size);
// Asks for large pages for [addr, addr + size) of an area (a hint; nothing changes without).
void area_prefer_large_pages(void* addr, uint64_t size);
bool area_release(void* addr, uint64_t size);

// --- The diagnostic stream: standard error, one byte per write call, unbuffered. ------------
void diag_write(const char* text);                 // NUL-terminated
void diag_write(const char* text, uint64_t len);   // exactly len bytes (may contain NULs)
void diag_decimal(int64_t value);
void diag_unsigned(uint64_t value);                // unsigned decimal
void diag_hex(uint64_t value);                     // exactly 16 upper-case hex digits
void diag_last_error();                            // "GetLastError=" code " " hex16 CR LF
int last_error();                                  // errno of the last failed call
void set_last_error(int code);                     // makes last_error() report `code`

// --- Files and standard streams -------------------------------------------------------------
// A handle is the file descriptor plus one, so that 0 always means "no handle".
using Handle = uint64_t;
inline constexpr Handle NO_HANDLE = 0;
Handle std_input();
Handle std_output();
Handle std_error();
// Opens an existing file for reading (other readers are not excluded).  NO_HANDLE on failure.
// A directory is refused.
Handle file_open_read(const char* path);
// Opens a file for writing, creating it when missing: without `append` an existing file is
// truncated; with it the file is kept and positioned at its end, which is stored in *end_pos.
Handle file_open_write(const char* path, bool append, int64_t* end_pos);
bool file_close(Handle h);
// True when two open handles refer to the same file.
bool same_file(Handle a, Handle b);
// Makes writes to the handle fail instead of waiting when they cannot go on at once.
void file_set_nonblocking(Handle h);
// One read call of at most n bytes: bytes read (0 at end of data), or -1 on failure.
int64_t file_read(Handle h, void* buf, uint64_t n);
// One write call of at most n bytes: bytes written, or -1 on failure.
int64_t file_write(Handle h, const void* buf, uint64_t n);
// Moves the file position; origin 0 from the start, 1 from the current position, 2 from the
// end.  The new position in *new_pos.  False on failure (including a bad origin).
bool file_seek(Handle h, int64_t offset, int origin, int64_t* new_pos);

// --- Directory listings ---------------------------------------------------------------------------
struct DirectoryEntry {
  std::string name;
  const char* type;  // "DIR", "DEV", "LINK", "FILE" or "UNKN"
  int64_t seconds, nanoseconds;  // last modification, since the epoch
  int64_t size;                  // 0 for a directory
};
// The entries of a directory ("." and ".." included), in byte order of their names; an entry
// that vanishes while it is examined is left out.  False when the directory cannot be read.
bool list_directory(const char* path, std::vector<DirectoryEntry>* out);

// --- Environment and directories ----------------------------------------------------------------
// Copies the value of an environment variable (at most cap-1 bytes, then a NUL) and returns its
// copied length; false when the variable is not set (buf then holds an empty text).
bool get_env(const char* name, char* buf, uint64_t cap, uint64_t* len);
// The current directory, NUL-terminated, in at most cap bytes.  False on failure.
bool current_dir(char* buf, uint64_t cap);

// --- Clocks ---------------------------------------------------------------------------------------
uint64_t monotonic_ns();  // CLOCK_MONOTONIC in nanoseconds

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime local_time_now();
// Local time of a moment given in seconds and nanoseconds since the epoch.
LocalTime local_time_of(int64_t seconds, int64_t nanoseconds);
// The 23-character date text "YYYY-MM-DD HH:MM:SS.mmm" and a NUL, in out[0..23].
void format_date_text(const LocalTime& t, char out[24]);

// --- Host ------------------------------------------------------------------------------------------
// The name of the host system, for &OS.
const char* os_name();
// Puts the x87 unit into the mode real arithmetic expects: every exception masked, 64-bit
// precision, rounding to nearest.
void fpu_init();

// --- Threads ----------------------------------------------------------------------------------------
// Runs fn(arg) on a new thread whose native stack is `stack_size` bytes (smaller sizes are
// tried when that much address space is refused) and waits for it.  Inside fn,
// native_stack_bounds() reports the stack.  Returns false when no thread could be started, in
// which case fn has not run.
bool run_on_large_stack(void (*fn)(void*), void* arg, uint64_t stack_size);
// Bounds of the calling thread's native stack: it grows down from *high (the stack base) to
// *low (the lowest usable address).
void native_stack_bounds(uintptr_t* low, uintptr_t* high);

// Console interrupts: blocks SIGINT, SIGQUIT, SIGTERM and SIGHUP in the calling thread (and so
// in every thread it creates afterwards) and starts a thread that waits for them and calls
// on_event(arg) once per signal.  Must run before any other thread is created.  False when the
// thread could not be started.
bool start_signal_thread(void (*on_event)(void*), void* arg);

// --- Process ---------------------------------------------------------------------------------------
[[noreturn]] void exit_process(int code);

// Runs a command through the host's command interpreter (/bin/sh -c -- COMMAND) with the
// default signal mask and dispositions, so that Ctrl-C reaches it, and waits for it to end.
// The command shares the standard streams.  Its exit status is not reported.
enum class CommandOutcome { Ran, StartFailed, WaitFailed, Interrupted };
CommandOutcome run_command(const char* command);

// Blocking calls of the interpreter thread (reads, the wait for a command) can be ended from
// another thread: set_wake_target, called on the interpreter thread, lets abort_blocking_calls
// interrupt them; from then on they return their failure (Interrupted for run_command) instead
// of waiting again.  blocking_calls_aborted tells whether that happened.
void set_wake_target();
void abort_blocking_calls();
bool blocking_calls_aborted();

// Waits `ns` nanoseconds, or less when the count of console interrupts `events` is or becomes
// non-zero.  Returns true when the wait was cut short that way.
bool sleep_unless_interrupted(uint64_t ns, const std::atomic<uint64_t>& events);
}  // namespace pellux::platform
