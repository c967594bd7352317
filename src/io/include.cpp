// Include lines and the SNOPATH search.
//
// An include line (-include "name" or -INCLUDE "name") read on a unit with the include bit
// switches the unit to a new record for the named file, whose outer record is the file that
// included it; the reader continues the same request there and comes back to the outer file
// when the included one ends.  Names are opened as given (relative ones against the start-up
// directory, which the process never leaves); one that does not open is looked for in the
// SNOPATH directories.
#include "io/include.h"

#include <cstring>

#include "platform/platform.h"

namespace pellux {

namespace {

using platform::diag_write;
using platform::Handle;
using platform::NO_HANDLE;

constexpr uint64_t MAX_INCLUDE_DEPTH = 100;
constexpr uint64_t MAX_PATH_ELEMENT = 32767;

// The quoted name of an include line, or false when the record is not one.
bool include_name(const char* r, uint64_t n, const char** name, uint64_t* name_len) {
  constexpr uint64_t WORD = 8;  // "-include"
  if (n < WORD + 1) return false;
  if (std::memcmp(r, "-include", WORD) != 0 && std::memcmp(r, "-INCLUDE", WORD) != 0) return false;
  uint64_t i = WORD;
  const uint64_t blanks = i;
  while (i < n && (r[i] == ' ' || r[i] == '\t' || r[i] == 0)) ++i;
  if (i == blanks || i >= n || r[i] != '"') return false;
  const uint64_t start = ++i;
  while (i < n && r[i] != '"') ++i;
  if (i >= n || i - start > INCLUDE_NAME_MAX) return false;
  *name = r + start;
  *name_len = i - start;
  return true;
}

uint64_t depth_of(const UnitRecord* u) {
  uint64_t depth = 0;
  for (; u != nullptr; u = u->outer) ++depth;
  return depth;
}

void report(const char* what, const char* name, uint64_t len) {
  diag_write(what);
  diag_write(name, len);
  diag_write("\r\n");
}

}  // namespace

bool take_include(Vm& vm, int64_t unit, const char* record, uint64_t length, bool* failed) {
  const char* name;
  uint64_t len;
  *failed = false;
  if (!include_name(record, length, &name, &len)) return false;
  UnitRecord* outer = vm.io.units[unit];
  // An empty name takes up no file; a NUL would cut the name short.
  if (len == 0 || std::memchr(name, 0, len) != nullptr) {
    *failed = true;
    return true;
  }
  if (depth_of(outer) > MAX_INCLUDE_DEPTH) {
    report("Includes nested too deep: ", name, len);
    *failed = true;
    return true;
  }
  // The included file inherits the flag word, but it is a file, never a standard stream.
  UnitRecord* u = new_unit_record(static_cast<uint16_t>(outer->flags & ~UF_STD));
  std::memcpy(u->name, name, len);
  u->name[len] = 0;
  std::memcpy(u->include_name, name, len);
  u->include_name[len] = 0;
  u->include_name_length = static_cast<uint16_t>(len);
  u->outer = outer;
  vm.io.units[unit] = u;
  return true;
}

bool include_cycle(const UnitRecord* u) {
  for (const UnitRecord* o = u->outer; o != nullptr; o = o->outer) {
    if (platform::same_file(u->handle, o->handle)) {
      report("Include file already being included: ", u->name, std::strlen(u->name));
      return true;
    }
  }
  return false;
}

Handle search_snopath(Vm& vm, UnitRecord* u) {
  const char* path = vm.rt.snopath;
  const uint64_t path_len = path != nullptr ? vm.rt.snopath_length : 0;
  const uint64_t name_len = std::strlen(u->name);
  // An absolute name means the same file in every directory.
  if (path_len == 0 || name_len == 0 || u->name[0] == '/') return NO_HANDLE;
  const char* base = vm.rt.startup_dir != nullptr ? vm.rt.startup_dir : ".";
  const uint64_t base_len = std::strlen(base);
  uint64_t at = 0;
  while (at < path_len) {
    uint64_t end = at;
    while (end < path_len && path[end] != ';') ++end;
    const uint64_t elen = end - at;
    if (elen > MAX_PATH_ELEMENT) break;
    // element (absolute, or relative to the start-up directory) + "/" + name
    const bool absolute = elen > 0 && path[at] == '/';
    const uint64_t need = (absolute ? 0 : base_len + 1) + elen + 1 + name_len + 1;
    if (need <= UNIT_NAME_MAX + 1) {
      char candidate[UNIT_NAME_MAX + 1];
      uint64_t k = 0;
      if (!absolute) {
        std::memcpy(candidate, base, base_len);
        k = base_len;
        candidate[k++] = '/';
      }
      std::memcpy(candidate + k, path + at, elen);
      k += elen;
      candidate[k++] = '/';
      std::memcpy(candidate + k, u->name, name_len);
      k += name_len;
      candidate[k] = 0;
      Handle h = platform::file_open_read(candidate);
      if (h != NO_HANDLE) {
        std::memcpy(u->name, candidate, k + 1);
        return h;
      }
    }
    at = end + 1;  // past the ";" (or past the end)
  }
  return NO_HANDLE;
}

}  // namespace pellux
