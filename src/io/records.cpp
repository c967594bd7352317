// Record reading and writing: line ends, fixed and variable length, TAB expansion and
// compression, the Ctrl-Z end mark, binary records and the first-line probe.
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "io/io.h"
#include "io/include.h"
#include "io/units.h"
#include "runtime/termination.h"
#include "storage/intern_index.h"

namespace pellux {

using namespace platform;

namespace {

inline constexpr uint8_t CTRL_Z = 26;
inline constexpr uint64_t MAX_WRITE_CALL = 1073741824;  // bytes per platform write call

// Bytes that a text read must look at, by (end mark honoured, TAB expanded).
struct SpecialBytes {
  bool t[4][256];
  constexpr SpecialBytes() : t{} {
    for (int k = 0; k < 4; ++k) {
      t[k]['\r'] = true;
      t[k]['\n'] = true;
      if (k & 1) t[k][CTRL_Z] = true;
      if (k & 2) t[k]['\t'] = true;
    }
  }
};
constexpr SpecialBytes SPECIAL;

// The number of leading bytes of p[0..avail) that are not special for the reader (line ends,
// and the end mark and TAB when they count).  Sixteen bytes at a time where the machine can.
inline uint64_t plain_run(const uint8_t* p, uint64_t avail, const bool* special, bool end_mark,
                          bool expand) {
  uint64_t k = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
  // A byte that can never match stands in for the checks that are off.
  const __m128i tab = _mm_set1_epi8(expand ? '\t' : '\n');
  const __m128i eof = _mm_set1_epi8(static_cast<char>(end_mark ? CTRL_Z : '\n'));
  for (; k + 16 <= avail; k += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, tab), _mm_cmpeq_epi8(v, eof)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
    if (mask != 0) return k + static_cast<uint64_t>(__builtin_ctz(mask));
  }
#else
  (void)end_mark;
  (void)expand;
#endif
  while (k < avail && !special[p[k]]) ++k;
  return k;
}

enum class Fill { Data, End, Fail };

void read_failed(UnitRecord* u) {
  diag_write("For file name = \"");
  diag_write(u->name);
  diag_write("\"\r\n");
  u->error = 1;
}

// The reading functions below take the unit being read (u: its flags and end-of-file state)
// and the record whose buffer holds its read-ahead (b: data, place, blocke, handle, vseek).
// They are the same record except for units reading standard input, which share one buffer.

// Makes sure the buffer holds an unread byte: one read call of up to 4,096 bytes when it is
// used up.  A call that returns no data marks the end of data.
inline Fill fill(UnitRecord* u, UnitRecord* b) {
  if (b->place < b->blocke) return Fill::Data;
  int64_t r = file_read(b->handle, b->data, READ_BLOCK);
  ++b->fills;
  if (r < 0) {
    if (!blocking_calls_aborted()) read_failed(u);  // else the run is being interrupted
    return Fill::Fail;
  }
  b->place = 0;
  b->blocke = static_cast<uint64_t>(r);
  if (r == 0) {
    u->eof_state = EOF_DATA_END;
    return Fill::End;
  }
  return Fill::Data;
}

// Makes at least k bytes (k <= READ_BLOCK) readable without consuming any, unless the data
// ends first.  Used only to look ahead at the start of a file.
Fill look_ahead(UnitRecord* u, UnitRecord* b, uint64_t k) {
  while (b->blocke - b->place < k) {
    if (b->place > 0) {
      std::memmove(b->data, b->data + b->place, b->blocke - b->place);
      b->blocke -= b->place;
      b->place = 0;
    }
    int64_t r = file_read(b->handle, b->data + b->blocke, READ_BLOCK);
    ++b->fills;
    if (r < 0) {
      if (!blocking_calls_aborted()) read_failed(u);
      return Fill::Fail;
    }
    if (r == 0) {
      if (b->blocke > b->place) return Fill::Data;  // the end is found again by the next fill
      u->eof_state = EOF_DATA_END;
      return Fill::End;
    }
    b->blocke += static_cast<uint64_t>(r);
  }
  return Fill::Data;
}

inline void consume(UnitRecord* b, uint64_t n) {
  b->place += n;
  b->vseek += static_cast<int64_t>(n);
}

enum class Step { Delivered, EndOfData, Error };

// The first-line probe: a first line beginning "-PRM" or "#!" is consumed and its text from
// the fifth character on (CRs dropped, at most 255 characters) goes to vm.io.first_line.
Step probe_first_line(Vm& vm, UnitRecord* u, UnitRecord* b) {
  std::memset(vm.io.first_line, 0, sizeof vm.io.first_line);
  vm.io.first_line_present = false;
  Fill f = look_ahead(u, b, 4);
  if (f == Fill::Fail) return Step::Error;
  if (f == Fill::End) return Step::Delivered;
  const uint8_t* p = b->data + b->place;
  uint64_t avail = b->blocke - b->place;
  bool prm = avail >= 4 && std::memcmp(p, "-PRM", 4) == 0;
  bool shebang = avail >= 2 && p[0] == '#' && p[1] == '!';
  if (!prm && !shebang) return Step::Delivered;  // nothing consumed

  vm.io.first_line_present = true;
  uint64_t column = 0;  // characters of the line seen so far (CRs included, as in the file)
  uint64_t stored = 0;
  for (;;) {
    f = fill(u, b);
    if (f == Fill::Fail) return Step::Error;
    if (f == Fill::End) break;
    uint8_t c = b->data[b->place];
    consume(b, 1);
    if (c == '\n') break;
    if (column++ < 4) continue;
    if (c == '\r') continue;
    if (stored < 255) vm.io.first_line[stored++] = static_cast<char>(c);
  }
  return Step::Delivered;
}

// A text record (steps of the reader: first byte, each byte, end of record).
Step read_text(Vm& vm, UnitRecord* u, UnitRecord* b, char* dest, uint64_t length, uint64_t* delivered) {
  const bool end_mark = !(u->flags & UF_NOEOF);
  const bool expand = !(u->flags & UF_NOTAB);

  Fill f = fill(u, b);
  if (f == Fill::Fail) return Step::Error;
  if (f == Fill::End) return Step::EndOfData;
  uint8_t first = b->data[b->place];
  if (first == '-' && (u->flags & UF_INCLUDE)) u->include_pending = 1;
  if (first == CTRL_Z && end_mark) {
    consume(b, 1);
    u->eof_state = EOF_DATA_END;
    return Step::EndOfData;
  }

  const bool* special = SPECIAL.t[(end_mark ? 1 : 0) | (expand ? 2 : 0)];
  uint64_t n = 0;
  bool discarding = false;  // the record is full: the rest of the line is skipped
  for (;;) {
    if (b->place >= b->blocke) {
      f = fill(u, b);
      if (f == Fill::Fail) return Step::Error;
      if (f == Fill::End) break;  // the data ends inside the line: the record ends here
    }
    const uint8_t* base = b->data;
    uint64_t i = b->place;
    const uint64_t e = b->blocke;
    bool ended = false;
    while (i < e) {
      // Ordinary bytes go over in runs; the loop below sees only the special ones.
      const uint64_t run = plain_run(base + i, e - i, special, end_mark, expand);
      if (run > 0) {
        const uint64_t take = run < length - n ? run : length - n;
        std::memcpy(dest + n, base + i, take);
        n += take;
        if (take < run) discarding = true;
        i += run;
        if (i == e) break;
      }
      uint8_t c = base[i++];
      if (c == '\n') {
        ended = true;
        break;
      }
      if (c == '\r') continue;
      if (c == CTRL_Z) {  // only when the end mark is honoured
        u->eof_state = EOF_DATA_END;
        ended = true;
        break;
      }
      // TAB: blanks to the next multiple of 8 characters stored, or until the record is full.
      if (discarding || n >= length) {
        discarding = true;
        continue;
      }
      do {
        dest[n++] = ' ';
      } while ((n & 7) != 0 && n < length);
    }
    consume(b, i - b->place);
    if (ended) break;
  }

  if (u->flags & UF_VARLEN) {
    *delivered = n;
  } else {
    if (n < length) std::memset(dest + n, ' ', length - n);
    *delivered = length;
  }
  // When include_pending is set, read_record tests the record for an include line.
  return Step::Delivered;
}

// The read-ahead of variable-length text: when the next line lies whole in the buffer with
// nothing in it that the reader would change (no TAB, end mark or CR but one before its LF),
// its text is the record the next read will deliver.  Its hash is worked out now and the slot
// of the string index where its lookup starts is fetched, so that the lookup, which follows
// the read at once, does not wait for memory; the read hands the hash on.
void foresee_next_record(Vm& vm, UnitRecord* u, const UnitRecord* b, uint64_t length) {
  u->ahead_buffer = nullptr;
  const uint64_t p = b->place;
  if (p >= b->blocke) return;
  const uint64_t avail = b->blocke - p;
  const uint8_t* text = b->data + p;
  if (text[0] == '-' && (u->flags & UF_INCLUDE)) return;
  const bool end_mark = !(u->flags & UF_NOEOF);
  const bool expand = !(u->flags & UF_NOTAB);
  const bool* special = SPECIAL.t[(end_mark ? 1 : 0) | (expand ? 2 : 0)];
  const uint64_t run = plain_run(text, avail, special, end_mark, expand);
  if (run == 0 || run > length || run >= avail) return;
  uint64_t consumed;
  if (text[run] == '\n') {
    consumed = run + 1;
  } else if (text[run] == '\r' && run + 1 < avail && text[run + 1] == '\n') {
    consumed = run + 2;
  } else {
    return;
  }
  const uint64_t hash = intern::text_hash(reinterpret_cast<const char*>(text), run);
  intern::prefetch_slot(vm.st, hash);
  u->ahead_buffer = b;
  u->ahead_fills = b->fills;
  u->ahead_place = p;
  u->ahead_length = run;
  u->ahead_consumed = consumed;
  u->ahead_hash = hash;
}

// A binary record: raw bytes up to the requested length; a shorter one at the end of data.
Step read_binary(UnitRecord* u, UnitRecord* b, char* dest, uint64_t length, uint64_t* delivered) {
  if (length == 0) {
    *delivered = 0;
    return Step::Delivered;
  }
  uint64_t n = 0;
  while (n < length) {
    Fill f = fill(u, b);
    if (f == Fill::Fail) return Step::Error;
    if (f == Fill::End) break;
    uint64_t take = b->blocke - b->place;
    if (take > length - n) take = length - n;
    std::memcpy(dest + n, b->data + b->place, take);
    consume(b, take);
    n += take;
  }
  // Nothing left to deliver: this is the end of the file, not an empty record.
  if (n == 0) return Step::EndOfData;
  *delivered = n;
  return Step::Delivered;
}

// The next entry of a directory unit into vm.io's entry fields.  The first read lists the
// directory (the unit's name less the "/*" that opening added); after the last entry the read
// gives end of file once and an error after that.
ReadOutcome read_directory_entry(Vm& vm, UnitRecord* u) {
  using platform::DirectoryEntry;
  if (u->listing == nullptr) {
    std::string path(u->name);
    if (path.size() >= 2 && path.compare(path.size() - 2, 2, "/*") == 0) path.resize(path.size() - 2);
    auto* entries = new (std::nothrow) std::vector<DirectoryEntry>();
    if (entries == nullptr) return ReadOutcome::Error;
    if (!platform::list_directory(path.c_str(), entries)) {
      delete entries;
      return ReadOutcome::Error;
    }
    u->listing = entries;
    u->listing_next = 0;
  }
  auto* entries = static_cast<std::vector<DirectoryEntry>*>(u->listing);
  if (u->listing_next >= entries->size()) {
    release_listing(u);
    u->eof_state = EOF_DIR_DONE;
    return ReadOutcome::EndOfFile;
  }
  const DirectoryEntry& e = (*entries)[u->listing_next++];
  vm.io.entry_name = e.name;
  vm.io.entry_type = e.type;
  platform::format_date_text(platform::local_time_of(e.seconds, e.nanoseconds), vm.io.entry_date);
  vm.io.entry_size = e.size;
  return ReadOutcome::DirEntry;
}

// Gives back an included file's record and puts its outer record back into the unit's slot;
// returns the outer record.
UnitRecord* end_include(Vm& vm, int64_t unit, UnitRecord* u) {
  UnitRecord* outer = u->outer;
  if (u->handle != NO_HANDLE && !(u->flags & UF_STD)) file_close(u->handle);
  u->handle = NO_HANDLE;
  free_unit_record(u);
  vm.io.units[unit] = outer;
  return outer;
}

}  // namespace

ReadOutcome read_record(Vm& vm, int64_t unit, char* dest, uint64_t length, uint64_t* delivered,
                        uint64_t* known_hash) {
  uint64_t scratch = 0;
  if (delivered == nullptr) delivered = &scratch;
  *delivered = 0;
  if (known_hash != nullptr) *known_hash = NO_KNOWN_HASH;
  if (unit < 0 || unit >= UNIT_COUNT) return ReadOutcome::Error;
  UnitRecord* u = vm.io.units[unit];
  if (u != nullptr && u->valid != UNIT_VALID) {
    // A damaged record is dropped and the unit bound afresh, as for an empty slot.
    vm.io.units[unit] = nullptr;
    u = nullptr;
  }
  if (u == nullptr) {
    // Automatic binding to standard input; refused for unit 0 ("Unit number out of range").
    if (!bind_unit(vm, unit, Direction::Read, "in", 2, "-std-a", 6)) return ReadOutcome::Error;
    u = vm.io.units[unit];
  }

  for (;;) {
    if (u->access == 0) u->access = ACCESS_READ;
    if (u->error) return ReadOutcome::Error;
    Step step;
    if (u->eof_state == EOF_DATA_END) {
      step = Step::EndOfData;
    } else if (u->eof_state != EOF_READING) {
      return ReadOutcome::Error;
    } else {
      if (u->open_mark != UNIT_OPEN) {
        open_for_reading(vm, u);
        // An included file that cannot be opened, or that is already being included, ends
        // its include: the read is an error and the next one goes on in the outer file.
        if (u->outer != nullptr && (u->error || include_cycle(u))) {
          end_include(vm, unit, u);
          return ReadOutcome::Error;
        }
        if (u->error) return ReadOutcome::Error;
      } else if (!(u->access & ACCESS_READ)) {
        return ReadOutcome::Error;  // opened for writing only: its handle cannot be read
      }
      if (u->flags & UF_DIR) return read_directory_entry(vm, u);
      UnitRecord* b = read_buffer_of(vm, u);
      if (u->flags & UF_BINARY) {
        step = read_binary(u, b, dest, length, delivered);
      } else if (length == 0) {
        step = probe_first_line(vm, u, b);
      } else if (u->flags & UF_VARLEN) {
        // The record foreseen by the last read is this one when the read starts where it
        // did, over the same buffer contents: then it is a plain copy of the line.
        if (u->ahead_buffer == b && u->ahead_fills == b->fills && u->ahead_place == b->place &&
            u->ahead_length <= length) {
          std::memcpy(dest, b->data + b->place, u->ahead_length);
          consume(b, u->ahead_consumed);
          *delivered = u->ahead_length;
          if (known_hash != nullptr) *known_hash = u->ahead_hash;
          step = Step::Delivered;
        } else {
          step = read_text(vm, u, b, dest, length, delivered);
        }
        if (step == Step::Delivered) {
          foresee_next_record(vm, u, b, length);
        } else {
          u->ahead_buffer = nullptr;
        }
      } else {
        step = read_text(vm, u, b, dest, length, delivered);
      }
    }
    if (step == Step::Delivered) {
      if (u->include_pending) {
        // The record began with "-" on a unit with the include bit: an include line switches
        // the unit to the included file, where this same request goes on.
        u->include_pending = 0;
        bool failed = false;
        if (take_include(vm, unit, dest, *delivered, &failed)) {
          if (failed) return ReadOutcome::Error;
          u = vm.io.units[unit];
          *delivered = 0;
          continue;
        }
      }
      return ReadOutcome::Record;
    }
    if (step == Step::Error) {
      // A read ended by console interrupts ends the run from here, as an interrupt.
      if (blocking_calls_aborted()) terminate_on_interrupt(vm);
      return ReadOutcome::Error;
    }

    // End of data: report end of file, or resume the including file.
    u->eof_state = EOF_REPORTED;
    if (u->outer == nullptr) return ReadOutcome::EndOfFile;
    u = end_include(vm, unit, u);
  }
}

// --- Writing -------------------------------------------------------------------------------------

namespace {

[[noreturn]] void invalid_unit_exit() {
  diag_write("invalid unit area encountered ####\r\n");
  diag_write("Exiting Process\r\n");
  platform::exit_process(1);
}

bool write_failed(Vm& vm, int code) {
  io_set_ioerr(vm, code);
  if (io_errlimit(vm) == 0) diag_write("#### more serious write error\r\n");
  return false;
}

// Writes all n bytes, in calls of at most 1 GiB, continuing after short transfers.
bool put(Vm& vm, UnitRecord* u, const void* p, uint64_t n) {
  const char* s = static_cast<const char*>(p);
  while (n > 0) {
    uint64_t chunk = n < MAX_WRITE_CALL ? n : MAX_WRITE_CALL;
    int64_t r = file_write(u->handle, s, chunk);
    if (r < 0) return write_failed(vm, last_error());
    if (r == 0) return write_failed(vm, EIO);  // no progress: give up instead of spinning
    s += r;
    n -= static_cast<uint64_t>(r);
  }
  return true;
}

// Blank-to-TAB compression into the unit's buffer, then one write of the staged line.
bool write_compressed(Vm& vm, UnitRecord* u, const char* text, uint64_t len) {
  uint8_t* buf = u->data;
  uint64_t k = 0;
  uint64_t logical = 0, physical = 0;
  auto emit = [&](uint8_t c) -> bool {
    if (k == UNIT_BUFFER_SIZE) {
      if (!put(vm, u, buf, k)) return false;
      k = 0;
    }
    buf[k++] = c;
    return true;
  };
  for (uint64_t i = 0; i < len; ++i) {
    uint8_t c = static_cast<uint8_t>(text[i]);
    if (c == ' ') {
      ++logical;
      continue;
    }
    if (c == '\t') {
      logical = (logical + 8) & ~uint64_t{7};
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (!emit(c)) return false;
      logical = physical = 0;
      continue;
    }
    while (physical < logical) {
      uint64_t stop = (physical + 8) & ~uint64_t{7};
      if (stop <= logical && physical + 1 != logical) {
        if (!emit('\t')) return false;
        physical = stop;
      } else {
        if (!emit(' ')) return false;
        ++physical;
      }
    }
    if (!emit(c)) return false;
    ++logical;
    ++physical;
  }
  // Blanks and TABs still pending are dropped.
  if (!(u->flags & UF_NOCR) && !emit('\r')) return false;
  if (!emit('\n')) return false;
  return put(vm, u, buf, k);
}

}  // namespace

bool write_record(Vm& vm, int64_t unit, const char* text, uint64_t len) {
  io_set_ioerr(vm, 0);
  if (unit <= 0 || unit >= UNIT_COUNT) invalid_unit_exit();
  UnitRecord* u = vm.io.units[unit];
  if (u != nullptr && u->valid != UNIT_VALID) {
    diag_decimal(unit);
    diag_write(" unitarea exists but not valid ####\r\n");
    vm.io.units[unit] = nullptr;  // bound afresh below, as for an empty slot
    u = nullptr;
  }
  if (u == nullptr) {
    if (!bind_unit(vm, unit, Direction::Write, "out", 3, "-std-a", 6)) {
      diag_write("filnam failed in io104 ####\r\n");
      invalid_unit_exit();
    }
    u = vm.io.units[unit];
  }

  if (u->open_mark != UNIT_OPEN) {
    if (u->access == 0) u->access = ACCESS_WRITE;
    if (!open_for_writing(vm, u)) return false;
    if (u->open_mark != UNIT_OPEN && !(u->flags & UF_DIR)) {
      io_set_ioerr(vm, last_error());  // the file could not be created
      return false;
    }
  }
  if (u->access != ACCESS_WRITE) {
    diag_write("attempt to write to IO unit open for read ####\r\n");
    return false;
  }
  if (u->handle == NO_HANDLE) {
    // A directory unit, or a standard-stream unit whose name chose no stream.
    io_set_ioerr(vm, EBADF);
    return false;
  }

  if (u->flags & UF_BINARY) return put(vm, u, text, len);
  if (u->flags & UF_NOTAB) {
    const bool cr = !(u->flags & UF_NOCR);
    const uint64_t end_len = cr ? 2 : 1;
    const char* line_end = cr ? "\r\n" : "\n";
    if (len + end_len <= UNIT_BUFFER_SIZE) {
      std::memcpy(u->data, text, len);
      std::memcpy(u->data + len, line_end, end_len);
      return put(vm, u, u->data, len + end_len);
    }
    return put(vm, u, text, len) && put(vm, u, line_end, end_len);
  }
  return write_compressed(vm, u, text, len);
}

}  // namespace pellux
