// Conversion between numbers and text: the integer and real scanners, the formatters, the
// power-of-ten table they share, the post-processing every real result goes through, and the
// value conversions used by operators and built-in functions.
//
// The scanners and formatters never allocate: they read caller text and write caller buffers.
#include "storage/convert.h"

#include <cmath>
#include <cstring>

#include "interp/errors.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr uint64_t SIGN_BIT = 0x8000000000000000ull;
constexpr uint64_t EXP_MASK = 0x7FF0000000000000ull;
constexpr uint64_t MANT_MASK = 0x000FFFFFFFFFFFFFull;
constexpr uint64_t PAYLOAD_MASK = 0x0007FFFFFFFFFFFFull;  // the 51 bits below the quiet bit
constexpr uint64_t QUIET_NAN = 0x7FF8000000000000ull;
constexpr uint64_t POS_INFINITY = 0x7FF0000000000000ull;
constexpr uint64_t LARGEST_FINITE = 0x7FEFFFFFFFFFFFFFull;

// Powers of ten from 10^-338 to 10^339 in extended precision.
constexpr int POW_MIN = -338;
constexpr int POW_MAX = 339;
long double g_pow10[POW_MAX - POW_MIN + 1];

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

double bits_to_double(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

uint64_t double_to_bits(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  return bits;
}

// Decimal digits of an unsigned value into buf; returns the count.
// "00" "01" ... "99": two digits per division.
constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

uint64_t format_unsigned(uint64_t value, char* buf) {
  const uint64_t n = unsigned_text_length(value);
  char* p = buf + n;
  while (value >= 100) {
    const uint64_t pair = (value % 100) * 2;
    value /= 100;
    p -= 2;
    p[0] = DIGIT_PAIRS[pair];
    p[1] = DIGIT_PAIRS[pair + 1];
  }
  if (value >= 10) {
    p -= 2;
    p[0] = DIGIT_PAIRS[value * 2];
    p[1] = DIGIT_PAIRS[value * 2 + 1];
  } else {
    *--p = static_cast<char>('0' + value);
  }
  return n;
}

// Rounding to nearest with a 64-bit significand and every exception masked: the mode the
// conversions and the real arithmetic assume.
void set_fpu_mode() {
#if defined(__x86_64__) || defined(__i386__)
  const uint16_t control = 0x037F;
  __asm__ volatile("fldcw %0" : : "m"(control));
#endif
}

}  // namespace

namespace {

void build_power_table() {
  long double* zero = &g_pow10[-POW_MIN];
  // volatile keeps each step a separate rounded product, whatever the optimiser does.
  volatile long double p = 1.0L;
  zero[0] = p;
  for (int i = 1; i <= POW_MAX; ++i) {
    p = p * 10.0L;
    zero[i] = p;
  }
  p = 1.0L;
  for (int i = 1; i <= -POW_MIN; ++i) {
    p = p / 10.0L;
    zero[-i] = p;
  }
}

// The table is usable from program load on, so that no formatter ever sees it empty;
// convert_init builds it again once the FPU mode is set, which gives the same products on a
// host whose default mode already is extended precision.
const bool g_power_table_loaded = (build_power_table(), true);

}  // namespace

void convert_init() {
  set_fpu_mode();
  build_power_table();
}

long double power_of_ten(int64_t p) {
  if (p < POW_MIN) p = POW_MIN;
  if (p > POW_MAX) p = POW_MAX;
  return g_pow10[p - POW_MIN];
}

// --- Scanners -------------------------------------------------------------------------------

bool scan_integer(const char* s, uint64_t len, int64_t* out) {
  if (len == 0) return false;
  uint64_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == len) return false;
  // The magnitude may reach 2^63 only for a negative value.
  const uint64_t limit = negative ? SIGN_BIT : SIGN_BIT - 1;
  uint64_t mag = 0;
  for (; i < len; ++i) {
    if (!is_digit(s[i])) return false;
    uint64_t d = static_cast<uint64_t>(s[i] - '0');
    if (mag > (limit - d) / 10) return false;
    mag = mag * 10 + d;
  }
  *out = negative ? static_cast<int64_t>(0 - mag) : static_cast<int64_t>(mag);
  return true;
}

bool scan_real(const char* s, uint64_t len, uint64_t* bits) {
  if (len == 0) return false;
  if (len == 3 && s[0] == 'N' && (s[1] == 'A' || s[1] == 'a') && s[2] == 'N') {
    *bits = QUIET_NAN;
    return true;
  }
  uint64_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  const uint64_t sign = negative ? SIGN_BIT : 0;
  if (len - i == 8 && std::memcmp(s + i, "INFINITY", 8) == 0) {
    *bits = sign | POS_INFINITY;
    return true;
  }
  if (i == len || !is_digit(s[i])) return false;

  // Up to 18 mantissa digits, as an integer.  Leading zeros before the point are not digits;
  // digits past the 18th are dropped, but those before the point still move the point.
  uint64_t mantissa = 0;
  int held = 0;
  int64_t before = 0;
  for (; i < len && is_digit(s[i]); ++i) {
    if (held == 0 && s[i] == '0') continue;
    ++before;
    if (held < 18) {
      mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
      ++held;
    }
  }
  bool point = false;
  if (i < len && s[i] == '.') {
    point = true;
    for (++i; i < len && is_digit(s[i]); ++i) {
      if (held < 18) {
        mantissa = mantissa * 10 + static_cast<uint64_t>(s[i] - '0');
        ++held;
      }
    }
  }
  bool exponent_given = false;
  int64_t exponent = 0;
  if (i < len && (s[i] == 'e' || s[i] == 'E')) {
    exponent_given = true;
    bool exp_negative = false;
    ++i;
    if (i < len && (s[i] == '+' || s[i] == '-')) {
      exp_negative = s[i] == '-';
      ++i;
    }
    if (i == len || !is_digit(s[i])) return false;
    for (; i < len && is_digit(s[i]); ++i) {
      if (exponent <= 500) exponent = exponent * 10 + (s[i] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  if (i != len) return false;
  // Only zeros with neither point nor exponent is an integer, not a real.
  if (before == 0 && !point && !exponent_given) return false;

  // A zero mantissa is zero whatever the exponent (0e400 is not infinity).
  if (mantissa == 0) {
    *bits = sign;
    return true;
  }
  for (; held < 18; ++held) mantissa *= 10;
  const int64_t p = (before - 18) + exponent;
  if (p > 308) {
    *bits = sign | POS_INFINITY;
    return true;
  }
  // The mantissa is at least 10^17, so only p below -342 is certainly less than half the
  // smallest subnormal.  Down to there the product is formed in extended precision (whose
  // range reaches far below binary64), in two steps past the end of the table, so that the
  // smallest normal and the subnormal numbers read as themselves instead of as zero.
  if (p < -342) {
    *bits = sign;
    return true;
  }
  long double value = static_cast<long double>(mantissa);
  if (p < POW_MIN) {
    value *= power_of_ten(POW_MIN);
    value *= power_of_ten(p - POW_MIN);
  } else {
    value *= power_of_ten(p);
  }
  if (negative) value = -value;
  *bits = double_to_bits(static_cast<double>(value));
  return true;
}

// --- Formatters -----------------------------------------------------------------------------

uint64_t format_integer(int64_t value, char* buf) {
  if (value < 0) {
    buf[0] = '-';
    return 1 + format_unsigned(0 - static_cast<uint64_t>(value), buf + 1);
  }
  return format_unsigned(static_cast<uint64_t>(value), buf);
}

uint64_t format_real(uint64_t bits, int64_t fltsig, int64_t fltdec, char* buf) {
  char* o = buf;
  const bool negative = (bits & SIGN_BIT) != 0;
  const uint64_t exp_field = bits & EXP_MASK;
  const uint64_t mant_field = bits & MANT_MASK;

  if (exp_field == EXP_MASK) {
    if (mant_field == 0) {
      if (negative) *o++ = '-';
      std::memcpy(o, "INFINITY", 8);
      return static_cast<uint64_t>(o + 8 - buf);
    }
    // A NaN prints its statement tag: statement number, a colon, and the count when non-zero.
    std::memcpy(o, "NAN", 3);
    o += 3;
    const uint64_t m = bits & PAYLOAD_MASK;
    if ((m >> 1) != 0) {
      o += format_unsigned((m >> 1) & 0xFFFF, o);
      *o++ = ':';
      if ((m >> 17) != 0) o += format_unsigned(m >> 17, o);
    }
    return static_cast<uint64_t>(o - buf);
  }
  if (exp_field == 0 && mant_field == 0) {
    if (negative) *o++ = '-';
    *o++ = '0';
    *o++ = '.';
    return static_cast<uint64_t>(o - buf);
  }

  // Lift values that lie just below a decimal boundary (0.1 is slightly less than a tenth).
  const long double lift = static_cast<long double>(bits_to_double(0x3FF0000000000005ull));
  const long double y = static_cast<long double>(bits_to_double(bits)) * lift;
  const long double lg = log10l(fabsl(y));
  int64_t e10 = static_cast<int64_t>(lg);  // truncation toward zero
  if (lg < 0) e10 -= 1;
  const bool exp_form = (e10 < 0 ? -e10 : e10) > fltdec;
  int64_t d = fltsig - 1;
  if (d < 0) d = 0;
  if (d > 14) d = 14;
  const int64_t shift = d - e10;

  // The scaled value, truncated to an integer of at most 18 digits.
  long double zl = y * power_of_ten(shift);
  if (zl < 0) zl = -zl;
  if (zl >= 1e18L) zl = 999999999999999999.0L;  // cannot happen with a sound exponent
  const uint64_t z = static_cast<uint64_t>(zl);
  char digits[20];
  const int64_t n = static_cast<int64_t>(format_unsigned(z, digits));
  const int64_t p = n - shift;

  if (negative) *o++ = '-';
  if (exp_form) {
    *o++ = digits[0];
    *o++ = '.';
    for (int64_t k = 1; k < n; ++k) *o++ = digits[k];
  } else if (p > 0) {
    for (int64_t k = 0; k < p; ++k) *o++ = k < n ? digits[k] : '0';
    *o++ = '.';
    for (int64_t k = p; k < n; ++k) *o++ = digits[k];
  } else {
    *o++ = '0';
    *o++ = '.';
    for (int64_t k = 0; k < -p; ++k) *o++ = '0';
    for (int64_t k = 0; k < n; ++k) *o++ = digits[k];
  }
  // Trailing zeros go; the point always stays, so the first character is never removed.
  while (o[-1] == '0') --o;
  if (exp_form) {
    *o++ = 'e';
    o += format_integer(e10, o);
  }
  return static_cast<uint64_t>(o - buf);
}

uint64_t format_real(const Vm& vm, uint64_t bits, char* buf) {
  return format_real(bits, ukw_int(vm, K_FLTSIG), ukw_int(vm, K_FLTDEC), buf);
}

// --- Post-processing ------------------------------------------------------------------------

uint64_t postprocess_real(uint64_t bits, int64_t stno, int64_t stcount) {
  if ((bits & ~SIGN_BIT) == LARGEST_FINITE) return (bits & SIGN_BIT) | POS_INFINITY;
  const bool nan = (bits & EXP_MASK) == EXP_MASK && (bits & MANT_MASK) != 0;
  if (nan && (bits & PAYLOAD_MASK) == 0) {
    const uint64_t st = stno < 0 ? 0 : stno > 65535 ? 65535 : static_cast<uint64_t>(stno);
    const uint64_t tag = ((st << 1) | (static_cast<uint64_t>(stcount) << 17)) & PAYLOAD_MASK;
    bits |= tag;
  }
  return bits;
}

uint64_t postprocess_real(const Vm& vm, uint64_t bits) {
  return postprocess_real(bits, pkw_int(vm, P_STNO), pkw_int(vm, P_STCOUNT));
}

// --- Values to strings ----------------------------------------------------------------------

Descr int_to_string(Vm& vm, int64_t value) {
  char buf[INTEGER_TEXT_MAX];
  return make_variable(vm, buf, format_integer(value, buf));
}

Descr real_to_string(Vm& vm, uint64_t bits) {
  char buf[REAL_TEXT_MAX];
  return make_variable(vm, buf, format_real(vm, bits, buf));
}

namespace {

// The string form of an array: ARRAY('prototype') for a prototype of up to 20 characters,
// else ARRAY.  The prototype string is the first body descriptor of the array block.
Descr array_form(Vm& vm, const Descr& array) {
  const Descr proto = array.ptr()[1];
  const uint64_t len = is_string(proto) ? string_length(proto) : 0;
  if (len == 0 || len > 20) return datatype_name(vm, array);
  char buf[32];
  std::memcpy(buf, "ARRAY('", 7);
  std::memcpy(buf + 7, string_text(proto), len);
  std::memcpy(buf + 7 + len, "')", 2);
  return make_variable(vm, buf, len + 9);
}

// The string form of a table: TABLE(total slots of the chain, slots per extension).  Each
// block of the chain has a title of V = 32 x (slots + 1); its trailer pair holds the extension
// size (32 x (slots + 1)) and the link, 1 at the end of the chain.
Descr table_form(Vm& vm, const Descr& table) {
  uint64_t total = 0;
  uint64_t extension = 0;
  const Descr* block = table.ptr();
  while (block != nullptr) {
    const uint64_t slots = block->v() / 32 - 1;
    total += slots;
    const Descr* trailer = block + 1 + 2 * slots;
    extension = trailer[0].a / 32 - 1;
    block = trailer[1].has(FLAG_POINTER) ? trailer[1].ptr() : nullptr;
  }
  char buf[64];
  char* o = buf;
  std::memcpy(o, "TABLE(", 6);
  o += 6;
  o += format_unsigned(total, o);
  *o++ = ',';
  o += format_unsigned(extension, o);
  *o++ = ')';
  return make_variable(vm, buf, static_cast<uint64_t>(o - buf));
}

}  // namespace

Descr datatype_name(Vm& vm, const Descr& value) {
  Descr* pair = locate_pair(sys(vm, SD_DATATYPES).ptr(), datatype_key(value.v()));
  return pair ? pair[2] : sys(vm, SD_STR_EXTERNAL);
}

Descr string_form(Vm& vm, const Descr& value) {
  switch (value.v()) {
    case T_STRING:
      if (!value.has(FLAG_FUNCTION)) return value;
      break;
    case T_INTEGER:
      return int_to_string(vm, value.ival());
    case T_REAL:
      return real_to_string(vm, value.a);
    case T_ARRAY:
      return array_form(vm, value);
    case T_TABLE:
      return table_form(vm, value);
    default:
      break;
  }
  return datatype_name(vm, value);
}

// --- Value conversions ----------------------------------------------------------------------

bool string_to_number(Vm& vm, const Descr& s, Descr* out) {
  const uint64_t len = string_length(s);
  if (len == 0) {
    *out = Descr::integer(0);
    return true;
  }
  const char* text = string_text(s);
  int64_t i;
  if (scan_integer(text, len, &i)) {
    *out = Descr::integer(i);
    return true;
  }
  uint64_t bits;
  if (scan_real(text, len, &bits)) {
    *out = real_result(vm, bits);
    return true;
  }
  return false;
}

bool string_to_integer(const Vm& vm, const Descr& s, int64_t* out) {
  const uint64_t len = string_length(s);
  if (len == 0) {
    *out = 0;
    return true;
  }
  const char* text = string_text(s);
  if (scan_integer(text, len, out)) return true;
  uint64_t bits;
  if (!scan_real(text, len, &bits)) return false;
  return real_to_integer(postprocess_real(vm, bits), out);
}

bool string_to_real(const Vm& vm, const Descr& s, uint64_t* bits) {
  const uint64_t len = string_length(s);
  if (len == 0) {
    *bits = 0;
    return true;
  }
  const char* text = string_text(s);
  int64_t i;
  if (scan_integer(text, len, &i)) {
    *bits = double_to_bits(static_cast<double>(i));
    return true;
  }
  if (!scan_real(text, len, bits)) return false;
  *bits = postprocess_real(vm, *bits);
  return true;
}

bool real_to_integer(uint64_t bits, int64_t* out) {
  const double d = bits_to_double(bits);
  // NaN fails both comparisons; the bounds are -2^63 (allowed) and 2^63 (not).
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return false;
  *out = static_cast<int64_t>(d);
  return true;
}

Exit integer_argument(Vm& vm, const Descr& value, int64_t* out) {
  switch (value.v()) {
    case T_INTEGER:
      *out = value.ival();
      return X_VALUE;
    case T_REAL:
      return real_to_integer(value.a, out) ? X_VALUE : X_FAIL;
    case T_STRING: {
      if (value.has(FLAG_FUNCTION)) break;
      const uint64_t len = string_length(value);
      if (len == 0) {
        *out = 0;
        return X_VALUE;
      }
      if (scan_integer(string_text(value), len, out)) return X_VALUE;
      break;
    }
    default:
      break;
  }
  return error_stmt(vm, 1);
}

Exit string_argument(Vm& vm, const Descr& value, Descr* out) {
  switch (value.v()) {
    case T_STRING:
      if (value.has(FLAG_FUNCTION)) break;
      *out = value;
      return X_VALUE;
    case T_INTEGER:
      *out = int_to_string(vm, value.ival());
      return X_VALUE;
    case T_REAL:
      *out = real_to_string(vm, value.a);
      return X_VALUE;
    default:
      break;
  }
  return error_stmt(vm, 1);
}

}  // namespace pellux
