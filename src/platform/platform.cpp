// POSIX back end of the platform layer.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace pellux::platform {

// --- Memory areas --------------------------------------------------------------------------------

void* area_obtain(uint64_t size) {
  if (size == 0) size = 1;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                 -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void area_prefer_large_pages(void* addr, uint64_t size) {
#ifdef MADV_HUGEPAGE
  madvise(addr, size, MADV_HUGEPAGE);
#else
  (void)addr;
  (void)size;
#endif
}

bool area_release(void* addr, uint64_t size) {
  if (size == 0) size = 1;
  return munmap(addr, size) == 0;
}

// --- The diagnostic stream -----------------------------------------------------------------------

void diag_write(const char* text, uint64_t len) {
  for (uint64_t i = 0; i < len; ++i) {
    ssize_t r;
    do {
      r = ::write(2, text + i, 1);
    } while (r < 0 && errno == EINTR);
  }
}

void diag_write(const char* text) {
  uint64_t n = 0;
  while (text[n]) ++n;
  diag_write(text, n);
}

void diag_decimal(int64_t value) {
  int saved = errno;
  char buf[24];
  int n = 0;
  uint64_t mag = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    buf[n++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag);
  if (value < 0) buf[n++] = '-';
  char out[24];
  for (int i = 0; i < n; ++i) out[i] = buf[n - 1 - i];
  diag_write(out, n);
  errno = saved;
}

void diag_unsigned(uint64_t value) {
  int saved = errno;
  char out[24];
  int n = 24;
  do {
    out[--n] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value);
  diag_write(out + n, 24 - n);
  errno = saved;
}

void diag_hex(uint64_t value) {
  int saved = errno;
  char out[16];
  for (int i = 15; i >= 0; --i) {
    out[i] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  }
  diag_write(out, 16);
  errno = saved;
}

int last_error() { return errno; }
void set_last_error(int code) { errno = code; }

void diag_last_error() {
  int code = errno;  // taken before the writes below can change it
  diag_write("GetLastError=");
  diag_decimal(code);
  diag_write(" ");
  diag_hex(static_cast<uint64_t>(static_cast<int64_t>(code)));
  diag_write("\r\n");
  errno = code;
}

// --- Files -------------------------------------------------------------------------------------------

static inline int fd_of(Handle h) { return static_cast<int>(h) - 1; }
static inline Handle handle_of(int fd) { return static_cast<Handle>(fd) + 1; }

Handle std_input() { return handle_of(0); }
Handle std_output() { return handle_of(1); }
Handle std_error() { return handle_of(2); }

bool list_directory(const char* path, std::vector<DirectoryEntry>* out) {
  out->clear();
  DIR* d = opendir(path);
  if (d == nullptr) return false;
  const int dfd = dirfd(d);
  while (dirent* e = readdir(d)) {
    struct stat st;
    if (fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
    DirectoryEntry entry;
    entry.name = e->d_name;
    if (S_ISDIR(st.st_mode)) entry.type = "DIR";
    else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) entry.type = "DEV";
    else if (S_ISLNK(st.st_mode)) entry.type = "LINK";
    else if (S_ISREG(st.st_mode)) entry.type = "FILE";
    else entry.type = "UNKN";
    entry.seconds = st.st_mtim.tv_sec;
    entry.nanoseconds = st.st_mtim.tv_nsec;
    entry.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
    out->push_back(std::move(entry));
  }
  closedir(d);
  std::sort(out->begin(), out->end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}

bool same_file(Handle a, Handle b) {
  struct stat sa, sb;
  if (a == NO_HANDLE || b == NO_HANDLE) return false;
  if (fstat(fd_of(a), &sa) != 0 || fstat(fd_of(b), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Handle file_open_read(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return NO_HANDLE;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    errno = EISDIR;
    return NO_HANDLE;
  }
  return handle_of(fd);
}

Handle file_open_write(const char* path, bool append, int64_t* end_pos) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? 0 : O_TRUNC);
  int fd;
  do {
    fd = ::open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return NO_HANDLE;
  if (append) {
    off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
      int e = errno;
      ::close(fd);
      errno = e;
      return NO_HANDLE;
    }
    if (end_pos) *end_pos = static_cast<int64_t>(end);
  } else if (end_pos) {
    *end_pos = 0;
  }
  return handle_of(fd);
}

bool file_close(Handle h) {
  if (h == NO_HANDLE) {
    errno = EBADF;
    return false;
  }
  // POSIX leaves the descriptor closed even when close reports EINTR, so it is not retried.
  return ::close(fd_of(h)) == 0 || errno == EINTR;
}

int64_t file_read(Handle h, void* buf, uint64_t n) {
  if (h == NO_HANDLE) {
    errno = EBADF;
    return -1;
  }
  ssize_t r;
  do {
    r = ::read(fd_of(h), buf, n);
  } while (r < 0 && errno == EINTR && !blocking_calls_aborted());
  return r;
}

void file_set_nonblocking(Handle h) {
  if (h == NO_HANDLE) return;
  const int flags = fcntl(fd_of(h), F_GETFL);
  if (flags >= 0) fcntl(fd_of(h), F_SETFL, flags | O_NONBLOCK);
}

int64_t file_write(Handle h, const void* buf, uint64_t n) {
  if (h == NO_HANDLE) {
    errno = EBADF;
    return -1;
  }
  ssize_t r;
  do {
    r = ::write(fd_of(h), buf, n);
  } while (r < 0 && errno == EINTR);
  return r;
}

bool file_seek(Handle h, int64_t offset, int origin, int64_t* new_pos) {
  static const int whence[3] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (origin < 0 || origin > 2) {
    errno = EINVAL;
    return false;
  }
  if (h == NO_HANDLE) {
    errno = EBADF;
    return false;
  }
  off_t r = lseek(fd_of(h), static_cast<off_t>(offset), whence[origin]);
  if (r < 0) return false;
  if (new_pos) *new_pos = static_cast<int64_t>(r);
  return true;
}

// --- Environment and directories ---------------------------------------------------------------------

bool get_env(const char* name, char* buf, uint64_t cap, uint64_t* len) {
  const char* v = getenv(name);
  uint64_t n = 0;
  if (v && cap > 0) {
    while (v[n] && n + 1 < cap) {
      buf[n] = v[n];
      ++n;
    }
  }
  if (cap > 0) buf[n] = 0;
  if (len) *len = n;
  return v != nullptr;
}

bool current_dir(char* buf, uint64_t cap) {
  if (cap == 0) return false;
  if (getcwd(buf, cap) == nullptr) {
    buf[0] = 0;
    return false;
  }
  return true;
}

// --- Clocks -----------------------------------------------------------------------------------------

uint64_t monotonic_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

LocalTime local_time_of(int64_t seconds, int64_t nanoseconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  LocalTime out{};
  if (localtime_r(&t, &tm) == nullptr) return out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  out.second = tm.tm_sec;
  out.millisecond = static_cast<int>(nanoseconds / 1000000);
  return out;
}

LocalTime local_time_now() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return local_time_of(ts.tv_sec, ts.tv_nsec);
}

static void put_digits(char* out, int value, int width) {
  if (value < 0) value = 0;
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

void format_date_text(const LocalTime& t, char out[24]) {
  put_digits(out, t.year, 4);
  out[4] = '-';
  put_digits(out + 5, t.month, 2);
  out[7] = '-';
  put_digits(out + 8, t.day, 2);
  out[10] = ' ';
  put_digits(out + 11, t.hour, 2);
  out[13] = ':';
  put_digits(out + 14, t.minute, 2);
  out[16] = ':';
  put_digits(out + 17, t.second, 2);
  out[19] = '.';
  put_digits(out + 20, t.millisecond, 3);
  out[23] = 0;
}

// --- Host ---------------------------------------------------------------------------------------------

const char* os_name() { return "Linux"; }

void fpu_init() {
#if defined(__x86_64__) || defined(__i386__)
  // Control word: exception masks (bits 0-5) all set, precision control 11 (64-bit mantissa),
  // rounding control 00 (to nearest).
  uint16_t cw = 0x037F;
  __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
}

// --- Threads -------------------------------------------------------------------------------------------

namespace {

struct LargeStackStart {
  void (*fn)(void*);
  void* arg;
  uintptr_t low;
  uintptr_t high;
};

thread_local uintptr_t t_stack_low = 0;
thread_local uintptr_t t_stack_high = 0;

void* large_stack_entry(void* p) {
  auto* s = static_cast<LargeStackStart*>(p);
  t_stack_low = s->low;
  t_stack_high = s->high;
  s->fn(s->arg);
  return nullptr;
}

}  // namespace

bool run_on_large_stack(void (*fn)(void*), void* arg, uint64_t stack_size) {
  const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
  const uint64_t guard = 16 * page;
  for (uint64_t size = stack_size; size >= (8u << 20); size /= 2) {
    uint64_t total = size + guard;
    void* mem = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
    if (mem == MAP_FAILED) continue;
    // The lowest pages stay inaccessible, so running past the end faults instead of
    // overwriting whatever lies below.
    mprotect(mem, guard, PROT_NONE);
    LargeStackStart start{fn, arg, reinterpret_cast<uintptr_t>(mem) + guard,
                          reinterpret_cast<uintptr_t>(mem) + total};
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0) {
      munmap(mem, total);
      return false;
    }
    pthread_attr_setstack(&attr, reinterpret_cast<char*>(mem) + guard, size);
    pthread_t th;
    int rc = pthread_create(&th, &attr, large_stack_entry, &start);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
      munmap(mem, total);
      continue;
    }
    pthread_join(th, nullptr);
    munmap(mem, total);
    return true;
  }
  return false;
}

void native_stack_bounds(uintptr_t* low, uintptr_t* high) {
  if (t_stack_high == 0) {
    pthread_attr_t attr;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
      pthread_attr_getstack(&attr, &addr, &size);
      pthread_attr_destroy(&attr);
    }
    t_stack_low = reinterpret_cast<uintptr_t>(addr);
    t_stack_high = t_stack_low + size;
  }
  *low = t_stack_low;
  *high = t_stack_high;
}

namespace {

struct SignalWatch {
  void (*on_event)(void*);
  void* arg;
  sigset_t set;
};
SignalWatch g_signal_watch;

void* signal_thread_entry(void*) {
  for (;;) {
    int sig = 0;
    if (sigwait(&g_signal_watch.set, &sig) == 0) g_signal_watch.on_event(g_signal_watch.arg);
  }
  return nullptr;
}

}  // namespace

bool start_signal_thread(void (*on_event)(void*), void* arg) {
  g_signal_watch.on_event = on_event;
  g_signal_watch.arg = arg;
  sigemptyset(&g_signal_watch.set);
  sigaddset(&g_signal_watch.set, SIGINT);
  sigaddset(&g_signal_watch.set, SIGQUIT);
  sigaddset(&g_signal_watch.set, SIGTERM);
  sigaddset(&g_signal_watch.set, SIGHUP);
  if (pthread_sigmask(SIG_BLOCK, &g_signal_watch.set, nullptr) != 0) return false;
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) {
    pthread_sigmask(SIG_UNBLOCK, &g_signal_watch.set, nullptr);
    return false;
  }
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 256 * 1024);
  pthread_t th;
  int rc = pthread_create(&th, &attr, signal_thread_entry, nullptr);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    // Nobody would collect them: let the signals act as usual again.
    pthread_sigmask(SIG_UNBLOCK, &g_signal_watch.set, nullptr);
    return false;
  }
  return true;
}

// --- Process -----------------------------------------------------------------------------------------

// A POSIX exit status keeps only its low 8 bits, so a code of 256 would read as success: codes
// above 255 are reported as 255.
CommandOutcome run_command(const char* command) {
  posix_spawnattr_t attr;
  if (posix_spawnattr_init(&attr) != 0) return CommandOutcome::StartFailed;
  // The interpreter's threads block the console signals (the signal thread waits for them);
  // the command gets the default mask and dispositions, so that Ctrl-C reaches it.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int sig : {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, sig);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  char sh[] = "/bin/sh", dash_c[] = "-c", dashes[] = "--";
  char* argv[] = {sh, dash_c, dashes, const_cast<char*>(command), nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, "/bin/sh", nullptr, &attr, argv, environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    errno = rc;
    return CommandOutcome::StartFailed;
  }
  int status;
  for (;;) {
    if (waitpid(pid, &status, 0) == pid) return CommandOutcome::Ran;
    if (errno != EINTR) return CommandOutcome::WaitFailed;
    if (blocking_calls_aborted()) return CommandOutcome::Interrupted;
  }
}

// --- Waking the interpreter thread ---------------------------------------------------------------
// The interpreter thread takes SIGUSR1 with a handler that does nothing and does not restart
// calls, so a signal sent to it ends a blocking read or wait with EINTR; the calls above give
// up instead of retrying once the abort flag is set.

namespace {

std::atomic<bool> g_abort_blocking{false};
std::atomic<bool> g_wake_target_set{false};
pthread_t g_wake_target;

void ignore_wake(int) {}

}  // namespace

void set_wake_target() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = ignore_wake;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: the interrupted call returns EINTR
  if (sigaction(SIGUSR1, &sa, nullptr) != 0) return;
  sigset_t usr1;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr);
  g_wake_target = pthread_self();
  g_wake_target_set.store(true, std::memory_order_release);
}

void abort_blocking_calls() {
  g_abort_blocking.store(true, std::memory_order_release);
  if (g_wake_target_set.load(std::memory_order_acquire)) pthread_kill(g_wake_target, SIGUSR1);
}

bool blocking_calls_aborted() { return g_abort_blocking.load(std::memory_order_acquire); }

bool sleep_unless_interrupted(uint64_t ns, const std::atomic<uint64_t>& events) {
  // Slices of at most 10 ms, so that an interrupt counted meanwhile ends the wait promptly.
  // One counted before the wait began (after the caller's last look) ends it at once.
  const uint64_t deadline = monotonic_ns() + ns;
  for (;;) {
    if (events.load(std::memory_order_relaxed) != 0) return true;
    const uint64_t now = monotonic_ns();
    if (now >= deadline) return false;
    uint64_t step = deadline - now;
    if (step > 10'000'000) step = 10'000'000;
    timespec t{static_cast<time_t>(step / 1'000'000'000), static_cast<long>(step % 1'000'000'000)};
    nanosleep(&t, nullptr);
  }
}

void exit_process(int code) { _exit(code < 0 ? 0 : code > 255 ? 255 : code); }

}  // namespace pellux::platform
