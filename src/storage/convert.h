// Conversion between numbers and text, and the value conversions offered to programs.
#pragma once
#include <cstdint>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Sets the FPU mode and builds the power-of-ten table in it (idempotent).  The table is also
// built when the program is loaded, so the formatters never see it empty.
void convert_init();
// The table entry for 10^p, -338 <= p <= 339 (p is clamped into that range).  The entries are
// the rounded products of repeated multiplication (division) by 10, not exact powers.
long double power_of_ten(int64_t p);

// Buffer sizes for the formatters.  A real in fixed-point form can be long when &FLTDEC is
// large (up to 310 digits before the point or 338 zeros after it).
inline constexpr uint64_t INTEGER_TEXT_MAX = 24;
inline constexpr uint64_t REAL_TEXT_MAX = 400;

// --- Scanners (pure) ----------------------------------------------------------------------------
// Optional sign, then decimal digits only; the signed 64-bit range.  len >= 1.
bool scan_integer(const char* s, uint64_t len, int64_t* out);
// NAN / NaN, [+-]INFINITY, or digits[.digits][(e|E)[+-]digits]; see the real rules.  Returns the
// binary64 bit pattern (not post-processed).
bool scan_real(const char* s, uint64_t len, uint64_t* bits);

// --- Formatters ---------------------------------------------------------------------------------
// Decimal text of an integer into buf (at least INTEGER_TEXT_MAX bytes); returns the length.
uint64_t format_integer(int64_t value, char* buf);
// The length of that text, without making it.
inline uint64_t unsigned_text_length(uint64_t v) {
  uint64_t n = 1;
  for (; v >= 10000; v /= 10000) n += 4;
  return n + (v >= 10) + (v >= 100) + (v >= 1000);
}
inline uint64_t integer_text_length(int64_t value) {
  return value < 0 ? 1 + unsigned_text_length(0 - static_cast<uint64_t>(value))
                   : unsigned_text_length(static_cast<uint64_t>(value));
}
// Text of a real with the given &FLTSIG and &FLTDEC into buf (at least REAL_TEXT_MAX bytes);
// returns the length.
uint64_t format_real(uint64_t bits, int64_t fltsig, int64_t fltdec, char* buf);
// The same with the Vm's current keywords.
uint64_t format_real(const Vm& vm, uint64_t bits, char* buf);

// --- Post-processing of every real result --------------------------------------------------------
// Largest finite -> infinity of the same sign; an untagged NaN gets the statement tag from
// &STNO and &STCOUNT; a tagged NaN is kept.
uint64_t postprocess_real(const Vm& vm, uint64_t bits);
// The same with an explicit statement number and statement count.
uint64_t postprocess_real(uint64_t bits, int64_t stno, int64_t stcount);
inline Descr real_result(const Vm& vm, uint64_t bits) {
  return Descr::real_bits(postprocess_real(vm, bits));
}

// --- Values to strings (may allocate) ------------------------------------------------------------
Descr int_to_string(Vm& vm, int64_t value);
Descr real_to_string(Vm& vm, uint64_t bits);
// The string form of any value: STRING unchanged, INTEGER decimal, REAL formatted, ARRAY('proto'),
// TABLE form, other values their data-type name.
Descr string_form(Vm& vm, const Descr& value);
// Data-type name of a value ("EXTERNAL" for an unknown code).
Descr datatype_name(Vm& vm, const Descr& value);

// --- Value conversions used by operators and built-ins -------------------------------------------
// A STRING to a number: null string -> integer 0; integer scanner; else real scanner (post-
// processed).  False when the text is neither.
bool string_to_number(Vm& vm, const Descr& s, Descr* out);
// Integer argument of a built-in: INTEGER as is; STRING by the integer scanner (null = 0; a
// rejected string is error 1); REAL truncated (fails without error when impossible).  Returns
// X_VALUE with *out set, X_FAIL (statement failure, error already raised if any).
Exit integer_argument(Vm& vm, const Descr& value, int64_t* out);
// String argument of a built-in: STRING as is, INTEGER/REAL their text, else error 1.  May allocate.
Exit string_argument(Vm& vm, const Descr& value, Descr* out);
// The string-to-integer rule of CONVERT and INT: null string 0; integer scanner; else real
// scanner (post-processed) and truncation.  False when impossible.
bool string_to_integer(const Vm& vm, const Descr& s, int64_t* out);
// The string-to-real rule of CONVERT and REAL: null string 0.0; integer scanner, converted to
// the nearest real; else real scanner (post-processed).  Returns the bits; false when neither.
bool string_to_real(const Vm& vm, const Descr& s, uint64_t* bits);
// Truncation of a real toward zero into the 64-bit range; false for NaN, infinities and values
// outside the range.
bool real_to_integer(uint64_t bits, int64_t* out);

}  // namespace pellux
