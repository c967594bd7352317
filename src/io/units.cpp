// I/O units: memory areas, unit records, attribute words, binding, opening and closing.
#include "io/units.h"

#include <cerrno>
#include <cstring>

#include "io/include.h"
#include "io/io.h"
#include "storage/storage.h"

namespace pellux {

using namespace platform;

// --- Memory areas ---------------------------------------------------------------------------------

void* obtain_area(uint64_t size) {
  void* p = area_obtain(size);
  if (p == nullptr) {
    diag_last_error();
    diag_write("Failed to allocate memory area of");
    diag_unsigned(size);
    diag_write(" bytes\r\n");
    diag_write("Exiting Process\r\n");
    platform::exit_process(1);
  }
  return p;
}

void release_area(void* addr, uint64_t size) {
  if (!area_release(addr, size)) {
    diag_write("Freeing memory failure\r\n");
    diag_write("Exiting Process\r\n");
    platform::exit_process(1);
  }
}

UnitRecord* new_unit_record(uint16_t flags) {
  auto* u = static_cast<UnitRecord*>(obtain_area(sizeof(UnitRecord)));
  u->valid = UNIT_VALID;
  u->flags = flags;
  return u;
}

void release_listing(UnitRecord* u) {
  delete static_cast<std::vector<platform::DirectoryEntry>*>(u->listing);
  u->listing = nullptr;
  u->listing_next = 0;
}

void free_unit_record(UnitRecord* u) {
  release_listing(u);
  u->place = u->blocke = 0;
  u->handle = NO_HANDLE;
  u->valid = 0;
  u->vseek = 0;
  u->open_mark = 0;
  u->access = 0;
  u->eof_state = 0;
  u->error = 0;
  u->outer = nullptr;
  release_area(u, sizeof(UnitRecord));
}

// --- Attribute words --------------------------------------------------------------------------------

const AttributeWord ATTRIBUTE_WORDS[] = {
    {"-ap", 3, UF_APPEND, 0},
    {"-a", 2, 0, UF_BINARY},
    {"-buf", 4, 0, UF_NOBUF},
    {"-b", 2, UF_BINARY | UF_NOTAB | UF_NOCR | UF_NOEOF, UF_E | UF_PR | UF_INCLUDE},
    {"-cr", 3, 0, UF_NOCR | UF_BINARY},
    {"-dir", 4, UF_DIR | UF_BINARY | UF_NOTAB | UF_VARLEN, UF_STD | UF_INCLUDE},
    {"-ef", 3, 0, UF_NOEOF | UF_BINARY},
    {"-e", 2, UF_E | UF_STD, UF_BINARY},
    {"-fl", 3, 0, UF_VARLEN},
    {"-i", 2, UF_INCLUDE, UF_BINARY},
    {"-lr", 3, UF_LR, UF_LW},
    {"-lw", 3, UF_LW, UF_LR},
    {"-nbuf", 5, UF_NOBUF, 0},
    {"-ncr", 4, UF_NOCR, 0},
    {"-nef", 4, UF_NOEOF, 0},
    {"-ne", 3, 0, UF_E},
    {"-ni", 3, 0, UF_INCLUDE},
    {"-npr", 4, 0, UF_PR},
    {"-ntabx", 6, UF_NOTAB, 0},
    {"-pr", 3, UF_PR, 0},
    {"-r", 2, 0, UF_APPEND},
    {"-std", 4, UF_STD | UF_NOBUF, 0},
    {"-tabx", 5, 0, UF_NOTAB | UF_BINARY},
    {"-vl", 3, UF_VARLEN, UF_BINARY},
};
const int ATTRIBUTE_WORD_COUNT = sizeof(ATTRIBUTE_WORDS) / sizeof(ATTRIBUTE_WORDS[0]);

const AttributeWord* match_attribute(const char* text, uint64_t len) {
  if (len < 2 || text[0] != '-') return nullptr;
  for (int i = 0; i < ATTRIBUTE_WORD_COUNT; ++i) {
    const AttributeWord& w = ATTRIBUTE_WORDS[i];
    if (w.length <= len && std::memcmp(text, w.word, w.length) == 0) return &w;
  }
  return nullptr;
}

// Applies a run-time attribute string (words together or separated by blanks and TABs) to
// *flags.  False, with *flags unspecified, when the string is not made only of words.
static bool apply_attribute_string(const char* a, uint64_t n, uint16_t* flags) {
  uint64_t i = 0;
  while (i < n) {
    if (a[i] == ' ' || a[i] == '\t') {
      ++i;
      continue;
    }
    const AttributeWord* w = match_attribute(a + i, n - i);
    if (w == nullptr) return false;
    *flags = apply_attribute(*flags, *w);
    i += w->length;
  }
  return true;
}

// --- Keyword access ------------------------------------------------------------------------------

int64_t io_errlimit(const Vm& vm) { return vm.st.ukw ? ukw_int(vm, K_ERRLIMIT) : 0; }

void io_set_ioerr(Vm& vm, int64_t code) {
  if (vm.st.ukw) ukw(vm, K_IOERR) = Descr::integer(code);
}

// --- Binding --------------------------------------------------------------------------------------

bool bind_unit(Vm& vm, int64_t unit, Direction dir, const char* name, uint64_t name_len,
               const char* attrs, uint64_t attrs_len) {
  if (unit < 1 || unit >= UNIT_COUNT) {
    diag_write("Unit number out of range\r\n");
    return false;
  }
  // Everything is checked before the unit is touched, so a refused binding leaves no
  // half-made record behind.
  if (name_len < 1 || name_len > 511) return false;
  if (std::memchr(name, 0, name_len) != nullptr) return false;  // would name another file
  if (attrs_len > 511) return false;
  UnitRecord* u = vm.io.units[unit];
  uint16_t flags = u ? u->flags : UF_DEFAULT;
  if (!apply_attribute_string(attrs, attrs_len, &flags)) return false;

  if (u == nullptr) {
    u = new_unit_record(UF_DEFAULT);
    vm.io.units[unit] = u;
  }
  u->valid = UNIT_VALID;
  u->access = dir == Direction::Read ? ACCESS_READ : ACCESS_WRITE;
  std::memcpy(u->name, name, name_len);
  u->name[name_len] = 0;
  u->flags = flags;
  return true;
}

UnitRecord* shared_input_buffer(Vm& vm) {
  if (vm.io.stdin_buffer == nullptr) {
    vm.io.stdin_buffer = new_unit_record(UF_STD);
    vm.io.stdin_buffer->handle = std_input();
  }
  return vm.io.stdin_buffer;
}

// --- Opening ------------------------------------------------------------------------------------

static void open_read_failed(Vm& vm, UnitRecord* u) {
  // No search ever moves the current directory (paths are joined instead), so there is no
  // directory to return to here.
  if (io_errlimit(vm) == 0) {
    diag_write("Error opening file or directory:\r\n");
    diag_write(u->name);
  }
  u->error = 1;
}

void open_for_reading(Vm& vm, UnitRecord* u) {
  u->access |= ACCESS_READ;
  if (u->flags & UF_DIR) {
    // The listing is started by the first read; only the search pattern is made here.
    uint64_t n = std::strlen(u->name);
    if (n >= 512) {
      open_read_failed(vm, u);
      return;
    }
    u->name[n] = '/';
    u->name[n + 1] = '*';
    u->name[n + 2] = 0;
    u->handle = NO_HANDLE;
    u->open_mark = UNIT_OPEN;
    return;
  }
  if (u->flags & UF_STD) {
    u->handle = std_input();
    u->open_mark = UNIT_OPEN;
    return;
  }
  Handle h = file_open_read(u->name);
  // A file that does not open under its plain name on a unit with the include bit is looked
  // for in the SNOPATH directories.
  if (h == NO_HANDLE && (u->flags & UF_INCLUDE)) h = search_snopath(vm, u);
  if (h == NO_HANDLE) {
    open_read_failed(vm, u);
    return;
  }
  u->handle = h;
  u->place = u->blocke = 0;
  u->vseek = 0;
  u->open_mark = UNIT_OPEN;
}

bool open_for_writing(Vm& vm, UnitRecord* u) {
  if (u->access & ACCESS_READ) {
    diag_write("already open for read while trying to open for write ####\r\n");
    return false;
  }
  u->access |= ACCESS_WRITE;
  if (u->flags & UF_DIR) return true;  // a directory unit is never opened for writing
  if (u->flags & UF_STD) {
    const char* n = u->name;
    if (std::strcmp(n, "out") == 0 || std::strcmp(n, "OUT") == 0) {
      u->handle = std_output();
    } else if (std::strcmp(n, "err") == 0 || std::strcmp(n, "ERR") == 0) {
      u->handle = std_error();
    } else {
      diag_write("was not standard output \"out\" or standard error \"err\" name ####\r\n");
      u->handle = NO_HANDLE;  // open, but without a usable handle: its writes fail
    }
    u->open_mark = UNIT_OPEN;
    return true;
  }
  int64_t end = 0;
  Handle h = file_open_write(u->name, (u->flags & UF_APPEND) != 0, &end);
  if (h == NO_HANDLE) {
    int code = last_error();
    if (io_errlimit(vm) == 0) {
      diag_write("error opening file\r\n");
      diag_last_error();
    }
    u->error = 1;
    set_last_error(code);
    return true;
  }
  u->handle = h;
  u->vseek = end;
  u->open_mark = UNIT_OPEN;
  return true;
}

// --- Closing ------------------------------------------------------------------------------------

void close_unit(Vm& vm, int64_t unit) {
  if (unit < 0 || unit >= UNIT_COUNT) return;
  UnitRecord* u = vm.io.units[unit];
  if (u == nullptr || u->valid != UNIT_VALID) return;
  for (;;) {
    if ((u->access & ACCESS_WRITE) && !(u->flags & UF_BINARY) && !(u->flags & UF_NOEOF) &&
        u->handle != NO_HANDLE) {
      static const char ctrl_z = 26;
      int64_t r = file_write(u->handle, &ctrl_z, 1);
      if (r < 0) {
        diag_hex(0);
        diag_write("Windows WriteFile 1ah failed ####\r\n");
        diag_last_error();
      } else if (r != 1) {
        diag_write("Windows WriteFile didnt write one byte in io25####\r\n");
      }
    }
    if (u->handle != NO_HANDLE && !(u->flags & UF_STD)) {
      if (!file_close(u->handle) && !(u->flags & UF_DIR)) {
        diag_hex(0);
        diag_write("Windows CloseHandle failed ####\r\n");
        diag_last_error();
      }
    }
    u->handle = NO_HANDLE;
    UnitRecord* outer = u->outer;
    free_unit_record(u);
    if (outer == nullptr) {
      vm.io.units[unit] = nullptr;
      return;
    }
    vm.io.units[unit] = outer;
    u = outer;
  }
}

}  // namespace pellux
