// I/O units: the unit record, the attribute flag bits and the attribute words.
#pragma once
#include <cstdint>

#include "platform/platform.h"
#include "vm.h"

namespace pellux {

// --- Attribute flag word -------------------------------------------------------------------------
inline constexpr uint16_t UF_BINARY = 0x0001;    // raw bytes; writes add no line end
inline constexpr uint16_t UF_NOBUF = 0x0002;     // recorded
inline constexpr uint16_t UF_NOTAB = 0x0004;     // reads keep TABs, writes keep blanks
inline constexpr uint16_t UF_E = 0x0008;         // recorded
inline constexpr uint16_t UF_APPEND = 0x0010;    // writing keeps the file, starts at its end
inline constexpr uint16_t UF_LW = 0x0020;        // recorded
inline constexpr uint16_t UF_LR = 0x0040;        // recorded
inline constexpr uint16_t UF_PR = 0x0080;        // recorded
inline constexpr uint16_t UF_VARLEN = 0x0100;    // text records end at the line end (no padding)
inline constexpr uint16_t UF_INCLUDE = 0x0200;   // include lines and search-path lookup on reads
inline constexpr uint16_t UF_STD = 0x0400;       // a standard stream chosen by the unit's name
inline constexpr uint16_t UF_NOCR = 0x0800;      // text lines end with LF only
inline constexpr uint16_t UF_NOEOF = 0x1000;     // byte 26 is data; never written as an end mark
inline constexpr uint16_t UF_DIR = 0x2000;       // reads list the named directory

// Flag word of a record made by "-nn" on the command line or by run-time binding.
inline constexpr uint16_t UF_DEFAULT = UF_NOEOF;

// --- Unit record -----------------------------------------------------------------------------------
inline constexpr uint32_t UNIT_VALID = 12345;
inline constexpr uint16_t UNIT_OPEN = 0x9D6B;
inline constexpr uint8_t ACCESS_READ = 1;
inline constexpr uint8_t ACCESS_WRITE = 2;
inline constexpr uint64_t UNIT_NAME_MAX = 1024;       // bound file name, without its NUL
inline constexpr uint64_t INCLUDE_NAME_MAX = 512;
inline constexpr uint64_t UNIT_BUFFER_SIZE = 1048576;
inline constexpr uint64_t READ_BLOCK = 4096;         // bytes asked for per read call

// End-of-file states.
inline constexpr uint8_t EOF_READING = 0;
inline constexpr uint8_t EOF_DATA_END = 1;      // a read call returned no data
inline constexpr uint8_t EOF_REPORTED = 2;      // end of file given to the caller
inline constexpr uint8_t EOF_DIR_DONE = 3;      // directory listing exhausted

struct UnitRecord {
  uint64_t place;          // UNITPLACE: index in data of the next byte to read
  uint64_t blocke;         // UNITBLOCKE: valid bytes in data
  platform::Handle handle; // UNITHANDLE: 0 when none
  uint32_t valid;          // UNIT_VALID while in use
  int64_t vseek;           // UNITVSEEK: file position of the next unread byte / append end
  uint16_t open_mark;      // UNIT_OPEN once open
  uint8_t access;          // ACCESS_READ | ACCESS_WRITE
  uint8_t dir_changed;     // set while a search-path lookup has moved the current directory
  uint8_t eof_state;       // EOF_*
  uint8_t error;           // 1 after a failed open or read
  uint16_t flags;          // UF_*
  uint8_t include_pending; // the record just read began with "-" on a unit with UF_INCLUDE
  uint16_t include_name_length;
  char include_name[INCLUDE_NAME_MAX + 1];
  UnitRecord* outer;       // record of the including file; nullptr for an ordinary unit
  uint64_t fills;          // read calls into data so far: data changes only when this does
  // The next record as the reader foresaw it (variable-length text): where it starts in the
  // buffer of `ahead_buffer` at fill count `ahead_fills`, its length, the bytes it consumes and
  // the hash of its text.  Valid while ahead_buffer is not null.
  const UnitRecord* ahead_buffer;
  uint64_t ahead_fills, ahead_place, ahead_length, ahead_consumed, ahead_hash;
  void* listing;           // a directory unit's entries (std::vector<DirectoryEntry>), once read
  uint64_t listing_next;   // the next entry to deliver
  char name[UNIT_NAME_MAX + 1];  // NUL-terminated
  alignas(64) uint8_t data[UNIT_BUFFER_SIZE];
};

// --- Memory areas ------------------------------------------------------------------------------------
// (declared in io/io.h: obtain_area, release_area)

// A new, zero-filled unit record (a memory area of its own), marked valid with the given flags.
UnitRecord* new_unit_record(uint16_t flags);
// Gives a record back.
void free_unit_record(UnitRecord* u);
// Forgets a directory unit's listing.
void release_listing(UnitRecord* u);

// --- Attribute words -------------------------------------------------------------------------------
struct AttributeWord {
  const char* word;
  uint8_t length;
  uint16_t set;
  uint16_t clear;
};
// The words in matching order (a word that is a prefix of another comes after it).
extern const AttributeWord ATTRIBUTE_WORDS[];
extern const int ATTRIBUTE_WORD_COUNT;

inline uint16_t apply_attribute(uint16_t flags, const AttributeWord& w) {
  return static_cast<uint16_t>((flags | w.set) & ~w.clear);
}
// The first attribute word (in matching order) that begins text[0..len); nullptr when none.
const AttributeWord* match_attribute(const char* text, uint64_t len);

// &ERRLIMIT (0 while the keywords do not exist yet).
int64_t io_errlimit(const Vm& vm);
// &IOERR := code (nothing while the keywords do not exist yet).
void io_set_ioerr(Vm& vm, int64_t code);

// The record whose buffer holds u's read-ahead: u itself, or for a unit reading standard input
// (a standard-stream unit used for reading) the one buffer all such units share, so that reads
// through different units take the lines in the order they come.
UnitRecord* shared_input_buffer(Vm& vm);
inline UnitRecord* read_buffer_of(Vm& vm, UnitRecord* u) {
  if (!(u->flags & UF_STD) || !(u->access & ACCESS_READ)) return u;
  return shared_input_buffer(vm);
}

// Opening on first use; both report their failures on the console as the unit rules say.
void open_for_reading(Vm& vm, UnitRecord* u);
// False when the unit cannot be written (used for reading already).
bool open_for_writing(Vm& vm, UnitRecord* u);

}  // namespace pellux
