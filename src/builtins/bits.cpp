// Bit, hex and byte conversions and the bitwise logic functions:
//   BIT BIT2I BIT2IS BIT2R BIT2S BIT2H
//   HEX HEX2B HEX2I HEX2IS HEX2R HEXS2R HEXX2R HEX2S R2HEXS R2HEXX
//   BYTES2I BYTES2IS BYTES2R BYTESS2R BYTESX2R I2BYTES R2BYTES R2BYTESS R2BYTESX
//   ENDIANB ENDIANH
//   AND OR XOR NAND NOR NOT LOB
//
// Bit strings are written with "0" and "1", most significant bit first, and read by the lowest
// bit of each character.  Hex strings are written in upper case and read with every character
// that is not a hex digit counting as 0.  Multi-byte numbers in byte strings are little-endian.
//
// Three kinds of argument: BIT, HEX, R2HEXS, R2HEXX, ENDIANB and ENDIANH look at their argument
// unconverted and fail for a type they do not take; the others convert theirs (as a string, an
// integer or a real) and raise error 1 when that is impossible.  A wrong length fails.
//
// A string result is built in place at the free pointer (reserve_string .. finish_string) after
// its length has been computed and checked against &MAXLNGTH, so nothing larger than the result
// is ever allocated and an oversized result is error 15 before any room is made.  Reserving may
// move every block: argument texts are read only after it, through their pins.
//
// The functions that read a bit pattern as a real (BIT2R HEX2R HEXS2R HEXX2R BYTES2R BYTESS2R
// BYTESX2R) return the pattern's value as it is, without the post-processing of arithmetic
// results: the largest finite double stays finite and a NaN keeps its payload, so that
// HEX(HEX2R(S)) is S for every 16-digit S.
#include <bit>
#include <cstring>
#include <limits>

#include "builtins/numeric.h"
#include "builtins/string_arg.h"
#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// The extended format is the x87 80-bit one: 64-bit significand with explicit integer bit,
// 15-bit exponent and sign, in the first 10 bytes of a long double (the rest is padding).
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the 80-bit extended format");
static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE single and double expected");
constexpr uint64_t EXTENDED_BYTES = 10;

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";

// Value of a hex digit when read; any other character counts as 0.
constexpr unsigned hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

inline const unsigned char* bytes(const char* p) { return reinterpret_cast<const unsigned char*>(p); }
inline unsigned char* bytes(char* p) { return reinterpret_cast<unsigned char*>(p); }

// The length of a result made of `units` pieces of `per_unit` characters each, or false when
// it is longer than &MAXLNGTH or than the work space admits (the product may not even be
// representable).  Every string result passes here before anything is reserved.
bool result_length(const Vm& vm, uint64_t units, uint64_t per_unit, uint64_t* out) {
  uint64_t n;
  if (__builtin_mul_overflow(units, per_unit, &n)) return false;
  const int64_t max = ukw_int(vm, K_MAXLNGTH);
  if (max < 0 || n > static_cast<uint64_t>(max) || n > MAX_STRING_LENGTH) return false;
  *out = n;
  return true;
}

// Groups of `size` characters needed for n characters, the last one possibly partial.
constexpr uint64_t groups(uint64_t n, uint64_t size) { return n / size + (n % size != 0); }

// The operand evaluated for a function that takes it unconverted: a STRING, held by a pin for
// its text to be re-derived after reserving.  Any other type fails (no error).  May allocate.
Exit string_unconverted(Vm& vm, Pin& pin) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (!is_string(result(vm))) return X_FAIL;
  pin.set(result(vm));
  return X_VALUE;
}

// The next operand as a real, by the numeric rules (an INTEGER and a STRING that holds an
// integer stay integers here so that each function rounds them once, straight to its format).
// Error 1 for a value that is not a number.  May allocate.
Exit real_operand(Vm& vm, Descr* out) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (!numeric_operand(vm, result(vm), out)) return error_stmt(vm, 1);
  return X_VALUE;
}

// The real of a bit pattern as the function's result, deliberately not post-processed.
inline Exit real_pattern(Vm& vm, uint64_t bits) { return succeed(vm, Descr::real_bits(bits)); }
inline Exit real_value(Vm& vm, double d) { return real_pattern(vm, std::bit_cast<uint64_t>(d)); }

// The 80-bit extended value held in the first 10 bytes of `ten` (little-endian) rounded to
// double.  Only those 10 bytes are copied; the padding of the long double stays zero.
double extended_to_double(const unsigned char* ten) {
  long double x = 0.0L;
  std::memcpy(&x, ten, EXTENDED_BYTES);
  return static_cast<double>(x);
}
void extended_bytes(long double x, unsigned char* ten) { std::memcpy(ten, &x, EXTENDED_BYTES); }


// Writes the `n` bytes at `in` as 2n hex digits, high nibble first.
void write_hex(const unsigned char* in, uint64_t n, char* out) {
  for (uint64_t i = 0; i < n; ++i) {
    out[2 * i] = HEX_DIGITS[in[i] >> 4];
    out[2 * i + 1] = HEX_DIGITS[in[i] & 15];
  }
}

// Writes the `n` bytes at `in` as 8n bit characters, each byte most significant bit first.
void write_bits(const unsigned char* in, uint64_t n, char* out) {
  for (uint64_t i = 0; i < n; ++i) {
    const unsigned c = in[i];
    for (int b = 0; b < 8; ++b) out[8 * i + b] = static_cast<char>('0' + ((c >> (7 - b)) & 1));
  }
}

// The bytes of a 64-bit pattern most significant first, for BIT and HEX of a number.
void big_endian(uint64_t v, unsigned char* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

// A string result made of the given bytes (a short, fixed-size one).  May allocate.
Exit small_result(Vm& vm, const void* data, uint64_t n) {
  uint64_t len;
  if (!result_length(vm, n, 1, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  std::memcpy(out, data, len);
  return succeed(vm, finish_string(vm, len));
}

// `digits` hex digits of the low bits of v, most significant first.  May allocate.
Exit hex_of_bits(Vm& vm, uint64_t v, int digits) {
  char text[16];
  for (int i = 0; i < digits; ++i) text[i] = HEX_DIGITS[(v >> (4 * (digits - 1 - i))) & 15];
  return small_result(vm, text, static_cast<uint64_t>(digits));
}

// Reads up to 64 bit characters (BIT2I, BIT2IS, BIT2R) into the low bits of a number.
uint64_t read_bits(const unsigned char* s, uint64_t n) {
  uint64_t v = 0;
  for (uint64_t i = 0; i < n; ++i) v = (v << 1) | (s[i] & 1);
  return v;
}

// Reads up to 16 hex digits into the low bits of a number.
uint64_t read_hex(const unsigned char* s, uint64_t n) {
  uint64_t v = 0;
  for (uint64_t i = 0; i < n; ++i) v = (v << 4) | hex_value(s[i]);
  return v;
}

// Reads up to 8 bytes, least significant first.
uint64_t read_little_endian(const unsigned char* s, uint64_t n) {
  uint64_t v = 0;
  for (uint64_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(s[i]) << (8 * i);
  return v;
}

// v read from `nbits` bits, with the highest of them copied into all the bits above.
int64_t sign_extend(uint64_t v, uint64_t nbits) {
  if (nbits == 0 || nbits >= 64) return static_cast<int64_t>(v);
  if ((v >> (nbits - 1)) & 1) v |= ~uint64_t{0} << nbits;
  return static_cast<int64_t>(v);
}

// --- Byte-string logic ---------------------------------------------------------------------------

enum LogicOp { L_AND, L_OR, L_XOR, L_NAND, L_NOR };

template <LogicOp OP>
inline uint64_t combine(uint64_t x, uint64_t y) {
  switch (OP) {
    case L_AND: return x & y;
    case L_OR: return x | y;
    case L_XOR: return x ^ y;
    case L_NAND: return ~(x & y);
    case L_NOR: return ~(x | y);
  }
  return 0;
}

// The result over the positions only the longer argument has: the operation with a zero byte.
template <LogicOp OP>
void logic_tail(const unsigned char* longer, uint64_t n, unsigned char* out) {
  switch (OP) {
    case L_AND: std::memset(out, 0, n); break;
    case L_NAND: std::memset(out, 0xFF, n); break;
    case L_OR:
    case L_XOR: std::memcpy(out, longer, n); break;
    case L_NOR:
      for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(~longer[i]);
      break;
  }
}

// AND OR XOR NAND NOR: the bytewise operation over the common length, eight bytes at a time,
// then the longer argument's rest combined with zero bytes.  The result has the longer length.
template <LogicOp OP>
Exit logic2(Vm& vm) {
  StringArg x(vm);
  if (x.load(vm) != X_VALUE) return X_FAIL;
  StringArg y(vm);
  if (y.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t lx = x.length(), ly = y.length();
  const uint64_t common = lx < ly ? lx : ly;
  uint64_t len;
  if (!result_length(vm, lx > ly ? lx : ly, 1, &len)) return error_stmt(vm, 15);
  unsigned char* out = bytes(reserve_string(vm, len));
  const unsigned char* a = x.bytes();  // read after reserving: the arguments may have moved
  const unsigned char* b = y.bytes();
  uint64_t i = 0;
  for (; i + 8 <= common; i += 8) {
    uint64_t u, v;
    std::memcpy(&u, a + i, 8);
    std::memcpy(&v, b + i, 8);
    const uint64_t r = combine<OP>(u, v);
    std::memcpy(out + i, &r, 8);
  }
  for (; i < common; ++i) out[i] = static_cast<unsigned char>(combine<OP>(a[i], b[i]));
  logic_tail<OP>((lx > ly ? a : b) + common, len - common, out + common);
  return succeed(vm, finish_string(vm, len));
}

}  // namespace

// --- Bit strings ---------------------------------------------------------------------------------

Exit bi_BIT(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr v = result(vm);
  if (v.v() == T_INTEGER || v.v() == T_REAL) {
    unsigned char b[8];
    big_endian(v.a, b);
    uint64_t len;
    if (!result_length(vm, 64, 1, &len)) return error_stmt(vm, 15);
    write_bits(b, 8, reserve_string(vm, len));
    return succeed(vm, finish_string(vm, len));
  }
  if (!is_string(v)) return X_FAIL;
  Pin s(vm, v);
  const uint64_t n = string_length(v);
  uint64_t len;
  if (!result_length(vm, n, 8, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  write_bits(bytes(string_text(*s)), n, out);
  return succeed(vm, finish_string(vm, len));
}

Exit bi_BIT2I(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 64) return X_FAIL;
  return succeed(vm, Descr::integer(static_cast<int64_t>(read_bits(s.bytes(), s.length()))));
}

Exit bi_BIT2IS(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 64) return X_FAIL;
  return succeed(vm, Descr::integer(sign_extend(read_bits(s.bytes(), s.length()), s.length())));
}

Exit bi_BIT2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() != 64) return X_FAIL;
  return real_pattern(vm, read_bits(s.bytes(), 64));
}

Exit bi_BIT2S(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = s.length();
  uint64_t len;
  if (!result_length(vm, groups(n, 8), 1, &len)) return error_stmt(vm, 15);
  unsigned char* out = bytes(reserve_string(vm, len));
  const unsigned char* in = s.bytes();
  for (uint64_t i = 0; i < len; ++i) {
    unsigned c = 0;
    for (uint64_t b = 0; b < 8; ++b) {
      const uint64_t k = 8 * i + b;
      c = (c << 1) | (k < n ? (in[k] & 1) : 0);
    }
    out[i] = static_cast<unsigned char>(c);
  }
  return succeed(vm, finish_string(vm, len));
}

Exit bi_BIT2H(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = s.length();
  uint64_t len;
  if (!result_length(vm, groups(n, 4), 1, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  const unsigned char* in = s.bytes();
  for (uint64_t i = 0; i < len; ++i) {
    unsigned d = 0;
    for (uint64_t b = 0; b < 4; ++b) {
      const uint64_t k = 4 * i + b;
      d = (d << 1) | (k < n ? (in[k] & 1) : 0);
    }
    out[i] = HEX_DIGITS[d];
  }
  return succeed(vm, finish_string(vm, len));
}

// --- Hexadecimal ---------------------------------------------------------------------------------

Exit bi_HEX(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr v = result(vm);
  if (v.v() == T_INTEGER || v.v() == T_REAL) return hex_of_bits(vm, v.a, 16);
  if (!is_string(v)) return X_FAIL;
  Pin s(vm, v);
  const uint64_t n = string_length(v);
  uint64_t len;
  if (!result_length(vm, n, 2, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  write_hex(bytes(string_text(*s)), n, out);
  return succeed(vm, finish_string(vm, len));
}

Exit bi_HEX2B(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = s.length();
  uint64_t len;
  if (!result_length(vm, n, 4, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  const unsigned char* in = s.bytes();
  for (uint64_t i = 0; i < n; ++i) {
    const unsigned d = hex_value(in[i]);
    for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<char>('0' + ((d >> (3 - b)) & 1));
  }
  return succeed(vm, finish_string(vm, len));
}

Exit bi_HEX2I(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 16) return X_FAIL;
  return succeed(vm, Descr::integer(static_cast<int64_t>(read_hex(s.bytes(), s.length()))));
}

Exit bi_HEX2IS(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 16) return X_FAIL;
  return succeed(vm, Descr::integer(sign_extend(read_hex(s.bytes(), s.length()), 4 * s.length())));
}

Exit bi_HEX2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() != 16) return X_FAIL;
  return real_pattern(vm, read_hex(s.bytes(), 16));
}

Exit bi_HEXS2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() != 8) return X_FAIL;
  const float f = std::bit_cast<float>(static_cast<uint32_t>(read_hex(s.bytes(), 8)));
  return real_value(vm, static_cast<double>(f));
}

// Sign and exponent (4 digits) first, then the 64-bit significand (16 digits).
Exit bi_HEXX2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() != 2 * EXTENDED_BYTES) return X_FAIL;
  const unsigned char* in = s.bytes();
  unsigned char ten[EXTENDED_BYTES];
  for (uint64_t i = 0; i < EXTENDED_BYTES; ++i) {
    ten[EXTENDED_BYTES - 1 - i] =
        static_cast<unsigned char>(hex_value(in[2 * i]) << 4 | hex_value(in[2 * i + 1]));
  }
  return real_value(vm, extended_to_double(ten));
}

Exit bi_HEX2S(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = s.length();
  uint64_t len;
  if (!result_length(vm, groups(n, 2), 1, &len)) return error_stmt(vm, 15);
  unsigned char* out = bytes(reserve_string(vm, len));
  const unsigned char* in = s.bytes();
  for (uint64_t i = 0; i < len; ++i) {
    const unsigned low = 2 * i + 1 < n ? hex_value(in[2 * i + 1]) : 0;
    out[i] = static_cast<unsigned char>(hex_value(in[2 * i]) << 4 | low);
  }
  return succeed(vm, finish_string(vm, len));
}

Exit bi_R2HEXS(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (result(vm).v() != T_REAL) return X_FAIL;
  return hex_of_bits(vm, std::bit_cast<uint32_t>(static_cast<float>(result(vm).rval())), 8);
}

Exit bi_R2HEXX(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (result(vm).v() != T_REAL) return X_FAIL;
  unsigned char ten[EXTENDED_BYTES];
  extended_bytes(static_cast<long double>(result(vm).rval()), ten);
  unsigned char high_first[EXTENDED_BYTES];
  for (uint64_t i = 0; i < EXTENDED_BYTES; ++i) high_first[i] = ten[EXTENDED_BYTES - 1 - i];
  char text[2 * EXTENDED_BYTES];
  write_hex(high_first, EXTENDED_BYTES, text);
  return small_result(vm, text, sizeof text);
}

// --- Bytes ---------------------------------------------------------------------------------------

Exit bi_BYTES2I(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 8) return X_FAIL;
  return succeed(vm, Descr::integer(static_cast<int64_t>(read_little_endian(s.bytes(), s.length()))));
}

Exit bi_BYTES2IS(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 8) return X_FAIL;
  const uint64_t v = read_little_endian(s.bytes(), s.length());
  return succeed(vm, Descr::integer(sign_extend(v, 8 * s.length())));
}

Exit bi_BYTES2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() != 8) return X_FAIL;
  return real_pattern(vm, read_little_endian(s.bytes(), 8));
}

// A shorter argument is completed with zero high-order bytes; only its own bytes are read.
Exit bi_BYTESS2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > 4) return X_FAIL;
  const float f =
      std::bit_cast<float>(static_cast<uint32_t>(read_little_endian(s.bytes(), s.length())));
  return real_value(vm, static_cast<double>(f));
}

Exit bi_BYTESX2R(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  if (s.length() > EXTENDED_BYTES) return X_FAIL;
  unsigned char ten[EXTENDED_BYTES] = {};
  if (s.length() > 0) std::memcpy(ten, s.bytes(), s.length());
  return real_value(vm, extended_to_double(ten));
}

Exit bi_I2BYTES(Vm& vm) {
  int64_t n;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  unsigned char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(static_cast<uint64_t>(n) >> (8 * i));
  return small_result(vm, b, 8);
}

// R2BYTES R2BYTESS R2BYTESX convert their argument as a real.  An integer is rounded once,
// straight to the format (to nearest); a real keeps its bits in R2BYTES.
Exit bi_R2BYTES(Vm& vm) {
  Descr x;
  if (real_operand(vm, &x) != X_VALUE) return X_FAIL;
  const uint64_t bits =
      x.v() == T_INTEGER ? std::bit_cast<uint64_t>(static_cast<double>(x.ival())) : x.a;
  unsigned char b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
  return small_result(vm, b, 8);
}

Exit bi_R2BYTESS(Vm& vm) {
  Descr x;
  if (real_operand(vm, &x) != X_VALUE) return X_FAIL;
  const float f = x.v() == T_INTEGER ? static_cast<float>(x.ival()) : static_cast<float>(x.rval());
  const uint32_t bits = std::bit_cast<uint32_t>(f);
  unsigned char b[4];
  for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(bits >> (8 * i));
  return small_result(vm, b, 4);
}

Exit bi_R2BYTESX(Vm& vm) {
  Descr x;
  if (real_operand(vm, &x) != X_VALUE) return X_FAIL;
  const long double e = x.v() == T_INTEGER ? static_cast<long double>(x.ival())
                                           : static_cast<long double>(x.rval());
  unsigned char ten[EXTENDED_BYTES];
  extended_bytes(e, ten);
  return small_result(vm, ten, EXTENDED_BYTES);
}

// --- Unit order ----------------------------------------------------------------------------------

namespace {

// The units of `unit` bytes of a string in reverse order, the bytes inside each kept.  Fails
// for another type or a length that is not a multiple of the unit.
Exit reverse_units(Vm& vm, uint64_t unit) {
  Pin s(vm);
  if (string_unconverted(vm, s) != X_VALUE) return X_FAIL;
  const uint64_t n = string_length(*s);
  if (n % unit != 0) return X_FAIL;
  uint64_t len;
  if (!result_length(vm, n, 1, &len)) return error_stmt(vm, 15);
  if (n <= unit) return succeed(vm, *s);  // one unit or none: nothing moves
  char* out = reserve_string(vm, len);
  const char* in = string_text(*s);
  for (uint64_t i = 0; i < n; i += unit) std::memcpy(out + i, in + (n - unit - i), unit);
  return succeed(vm, finish_string(vm, len));
}

}  // namespace

Exit bi_ENDIANB(Vm& vm) { return reverse_units(vm, 8); }
Exit bi_ENDIANH(Vm& vm) { return reverse_units(vm, 2); }

// --- Bitwise logic -------------------------------------------------------------------------------

Exit bi_AND(Vm& vm) { return logic2<L_AND>(vm); }
Exit bi_OR(Vm& vm) { return logic2<L_OR>(vm); }
Exit bi_XOR(Vm& vm) { return logic2<L_XOR>(vm); }
Exit bi_NAND(Vm& vm) { return logic2<L_NAND>(vm); }
Exit bi_NOR(Vm& vm) { return logic2<L_NOR>(vm); }

Exit bi_NOT(Vm& vm) {
  StringArg x(vm);
  if (x.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = x.length();
  uint64_t len;
  if (!result_length(vm, n, 1, &len)) return error_stmt(vm, 15);
  unsigned char* out = bytes(reserve_string(vm, len));
  const unsigned char* in = x.bytes();
  uint64_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t u;
    std::memcpy(&u, in + i, 8);
    u = ~u;
    std::memcpy(out + i, &u, 8);
  }
  for (; i < n; ++i) out[i] = static_cast<unsigned char>(~in[i]);
  return succeed(vm, finish_string(vm, len));
}

Exit bi_LOB(Vm& vm) {
  StringArg x(vm);
  if (x.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t n = x.length();
  uint64_t len;
  if (!result_length(vm, n, 1, &len)) return error_stmt(vm, 15);
  char* out = reserve_string(vm, len);
  const unsigned char* in = x.bytes();
  for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<char>('0' + (in[i] & 1));
  return succeed(vm, finish_string(vm, len));
}

}  // namespace pellux
