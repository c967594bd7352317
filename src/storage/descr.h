// The descriptor: the 16-byte cell that holds every value, every block field and every slot of
// the object code.  Word 0 is A (address or immediate value); word 1 holds F in its low byte and
// V in its upper 56 bits.
#pragma once
#include <cstdint>
#include <cstring>

namespace pellux {

// Flag bits of F.
enum : uint8_t {
  FLAG_TITLE = 0x01,     // title descriptor of a block
  FLAG_STRING = 0x02,    // title of a natural-variable (string) block; always with FLAG_TITLE
  FLAG_FUNCTION = 0x04,  // in object code: an instruction; on a function descriptor: any arg count
  FLAG_MARK = 0x08,      // block is live (regeneration); permanent on static blocks
  FLAG_POINTER = 0x10,   // A is an address that regeneration follows and relocates
  FLAG_SCANNED = 0x20,   // regeneration: contents already scanned in this pass
};

// Data-type codes (the V of a value descriptor).
enum : uint64_t {
  T_STRING = 1,
  T_PAIRLIST = 2,  // stamped on pair lists grown at run time; never the type of a value
  T_PATTERN = 3,
  T_ARRAY = 4,
  T_TABLE = 5,
  T_INTEGER = 6,
  T_REAL = 7,
  T_CODE = 8,
  T_NAME = 9,    // A = 16 bytes before the named value descriptor
  T_KNAME = 10,  // keyword name: A = 16 bytes before the keyword's value descriptor
  T_EXPRESSION = 11,
  T_DATA_BASE = 100,  // programmer-defined types are 101 and up
};

struct Descr {
  uint64_t a;
  uint64_t fv;

  constexpr uint8_t f() const { return static_cast<uint8_t>(fv); }
  constexpr uint64_t v() const { return fv >> 8; }
  constexpr void set_f(uint8_t f) { fv = (fv & ~uint64_t{0xff}) | f; }
  constexpr void set_v(uint64_t v) { fv = (v << 8) | (fv & 0xff); }
  constexpr void set_fv(uint8_t f, uint64_t v) { fv = (v << 8) | f; }
  constexpr bool is_title() const { return (fv & (FLAG_TITLE | FLAG_STRING)) != 0; }
  constexpr bool has(uint8_t flag) const { return (fv & flag) != 0; }

  Descr* ptr() const { return reinterpret_cast<Descr*>(a); }
  uint8_t* bytes() const { return reinterpret_cast<uint8_t*>(a); }
  int64_t ival() const { return static_cast<int64_t>(a); }
  double rval() const {
    double d;
    std::memcpy(&d, &a, sizeof d);
    return d;
  }

  constexpr bool operator==(const Descr&) const = default;

  static constexpr Descr make(uint64_t a, uint8_t f, uint64_t v) { return Descr{a, (v << 8) | f}; }
  static Descr pointer(const void* p, uint64_t v) {
    return make(reinterpret_cast<uint64_t>(p), FLAG_POINTER, v);
  }
  static constexpr Descr integer(int64_t i) { return make(static_cast<uint64_t>(i), 0, T_INTEGER); }
  static Descr real(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return make(bits, 0, T_REAL);
  }
  static constexpr Descr real_bits(uint64_t bits) { return make(bits, 0, T_REAL); }
};
static_assert(sizeof(Descr) == 16, "descriptor must be 16 bytes");

// The null string: A = 0, F = 0, V = 1.
inline constexpr Descr NULL_STRING = Descr::make(0, 0, T_STRING);
inline constexpr Descr ZERO_DESCR = Descr{0, 0};

inline bool is_null_string(const Descr& d) { return d == NULL_STRING; }
inline bool is_string(const Descr& d) { return d.v() == T_STRING && !d.has(FLAG_FUNCTION); }
inline bool is_integer(const Descr& d) { return d.v() == T_INTEGER; }
inline bool is_real(const Descr& d) { return d.v() == T_REAL; }
inline bool is_name(const Descr& d) { return d.v() == T_NAME || d.v() == T_KNAME; }

// --- Natural-variable (string) block ---------------------------------------------------------
//   +0 title (A self, F 0x03, V length)   +16 value   +32 attribute (label)   +48 link (A next,
//   V order key)   +64 text, zero-padded to a multiple of 16.
inline constexpr uint64_t VAR_HEADER = 64;
inline Descr& var_value(Descr* var) { return var[1]; }
inline Descr& var_attr(Descr* var) { return var[2]; }
inline Descr& var_link(Descr* var) { return var[3]; }
inline char* var_text(Descr* var) { return reinterpret_cast<char*>(var) + VAR_HEADER; }
inline uint64_t var_length(const Descr* var) { return var->v(); }

// Lengths of blocks from their titles.
inline constexpr uint64_t var_block_length(uint64_t text_len) { return (text_len + 79) & ~uint64_t{15}; }
inline uint64_t block_length(const Descr* title) {
  return title->has(FLAG_STRING) ? var_block_length(title->v()) : title->v() + 16;
}

// The text of a STRING value (the null string has none).
inline const char* string_text(const Descr& s) { return s.a ? var_text(s.ptr()) : ""; }
inline uint64_t string_length(const Descr& s) { return s.a ? var_length(s.ptr()) : 0; }

// --- Specifier: a reference to text (address + offset + length) --------------------------------
struct Spec {
  Descr first;   // A = natural variable or raw buffer; F/V copied from the source value
  Descr second;  // A = offset O to the first character; V = length L

  const char* chars() const { return reinterpret_cast<const char*>(first.a + second.a); }
  uint64_t length() const { return second.v(); }
  static Spec raw(const void* p, uint64_t len) {
    return Spec{Descr::make(reinterpret_cast<uint64_t>(p), 0, 0), Descr::make(0, 0, len)};
  }
  static Spec of_string(const Descr& s) {
    return Spec{s, Descr::make(s.a ? VAR_HEADER : 0, 0, string_length(s))};
  }
};

}  // namespace pellux
