// POSIX back end of the platform layer: memory areas, the diagnostic stream, process exit.
#include "platform/platform.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace pellux::platform {

void* area_obtain(uint64_t size) {
  if (size == 0) size = 1;
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                 -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool area_release(void* addr, uint64_t size) {
  if (size == 0) size = 1;
  return munmap(addr, size) == 0;
}

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
}

void diag_hex(uint64_t value) {
  char out[16];
  for (int i = 15; i >= 0; --i) {
    out[i] = "0123456789ABCDEF"[value & 15];
    value >>= 4;
  }
  diag_write(out, 16);
}

int last_error() { return errno; }

void diag_last_error() {
  int code = errno;  // taken before the writes below can change it
  diag_write("GetLastError=");
  diag_decimal(code);
  diag_write(" ");
  diag_hex(static_cast<uint64_t>(static_cast<int64_t>(code)));
  diag_write("\r\n");
}

uint64_t monotonic_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

void exit_process(int code) { _exit(code); }

}  // namespace pellux::platform
