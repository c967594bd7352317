// The string functions: SIZE SUBSTR REPLACE REV (REVERSE) TRIM LPAD RPAD CENTER DUPL CHAR, the
// identity predicates IDENT and DIFFER and the lexical predicates LGT LGE LLT LLE LEQ LNE.
//
// Each procedure evaluates all its operands in order, converting each as soon as it is
// evaluated, and only then applies its tests.  These functions sit in the inner loops of text
// programs, so none of them touches the C++ heap: a result is built in place at the free
// pointer (reserve_string .. finish_string) or taken as a slice of an argument's block, and a
// result equal to an argument is the argument itself.
#include <array>
#include <cstring>

#include "builtins/string_arg.h"
#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline Exit predicate(Vm& vm, bool holds) {
  if (!holds) return X_FAIL;
  result(vm) = NULL_STRING;
  return X_VALUE;
}

// True when a string of n characters (n >= 0) may not be made: longer than &MAXLNGTH or than
// the work space admits.
inline bool too_long(const Vm& vm, int64_t n) {
  return n > ukw_int(vm, K_MAXLNGTH) || n > static_cast<int64_t>(MAX_STRING_LENGTH);
}

// The translation table that changes nothing, copied as the start of every REPLACE table.
constexpr std::array<unsigned char, 256> IDENTITY_TABLE = [] {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) t[i] = static_cast<unsigned char>(i);
  return t;
}();

// The set of trailing characters TRIM removes, as a 256-bit map.
struct CharSet {
  uint64_t bits[4] = {0, 0, 0, 0};
  void add(unsigned char c) { bits[c >> 6] |= uint64_t{1} << (c & 63); }
  bool has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
};

// Lexical order of two texts, byte by byte as unsigned values; a proper prefix is less.
int lexical_compare(const StringArg& x, const StringArg& y) {
  const uint64_t lx = x.length(), ly = y.length();
  const uint64_t n = lx < ly ? lx : ly;
  if (n > 0) {
    int c = std::memcmp(x.text(), y.text(), n);
    if (c != 0) return c;
  }
  return lx < ly ? -1 : (lx > ly ? 1 : 0);
}

enum LexicalOp { LEX_GT, LEX_GE, LEX_LT, LEX_LE, LEX_EQ, LEX_NE };

Exit lexical(Vm& vm, LexicalOp op) {
  StringArg x(vm);
  if (x.load(vm) != X_VALUE) return X_FAIL;
  StringArg y(vm);
  if (y.load(vm) != X_VALUE) return X_FAIL;
  int c;
  if (op == LEX_EQ || op == LEX_NE) {
    // Equality needs no order.  Strings are interned, so two strings are equal exactly when
    // they are the same string; a number's text must be compared.
    bool equal;
    if (!x.is_number() && !y.is_number()) {
      equal = x.descr().a == y.descr().a;
    } else {
      equal = x.length() == y.length() &&
              (x.length() == 0 || std::memcmp(x.text(), y.text(), x.length()) == 0);
    }
    c = equal ? 0 : 1;
  } else {
    c = lexical_compare(x, y);
  }
  switch (op) {
    case LEX_GT: return predicate(vm, c > 0);
    case LEX_GE: return predicate(vm, c >= 0);
    case LEX_LT: return predicate(vm, c < 0);
    case LEX_LE: return predicate(vm, c <= 0);
    case LEX_EQ: return predicate(vm, c == 0);
    case LEX_NE: return predicate(vm, c != 0);
  }
  return X_FAIL;
}

// Identity: the same type and the same value cell, without conversion.
Exit identity(Vm& vm, bool want_same) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Pin x(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr& y = result(vm);
  const bool same = x->a == y.a && x->v() == y.v();
  return predicate(vm, same == want_same);
}

enum PadKind { PAD_LEFT, PAD_RIGHT, PAD_CENTER };

// LPAD, RPAD and CENTER: S padded to N characters with the first character of C (a blank
// when C is null).
Exit pad(Vm& vm, PadKind kind) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  int64_t n;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  StringArg c(vm);
  if (c.load(vm) != X_VALUE) return X_FAIL;
  // The length limits are tested before the sign.
  if (too_long(vm, n)) return error_stmt(vm, 15);
  if (n < 0) return error_stmt(vm, 14);
  const uint64_t len = s.length();
  const uint64_t total = static_cast<uint64_t>(n);
  if (len >= total) return succeed(vm, s.value(vm));
  const char fill = c.length() == 0 ? ' ' : c.text()[0];
  const uint64_t padding = total - len;
  const uint64_t before = kind == PAD_LEFT ? padding : kind == PAD_RIGHT ? 0 : padding / 2;
  char* p = reserve_string(vm, total);
  std::memset(p, fill, before);
  if (len > 0) std::memcpy(p + before, s.text(), len);  // read after reserving: it may move
  std::memset(p + before + len, fill, padding - before);
  return succeed(vm, finish_string(vm, total));
}

}  // namespace

Exit bi_SIZE(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  return succeed(vm, Descr::integer(static_cast<int64_t>(s.length())));
}

Exit bi_SUBSTR(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  int64_t offset, count;
  if (integer_operand(vm, &offset) != X_VALUE) return X_FAIL;
  if (integer_operand(vm, &count) != X_VALUE) return X_FAIL;
  if (offset < 0 || count < 0) return error_stmt(vm, 14);
  const uint64_t len = s.length();
  const uint64_t from = static_cast<uint64_t>(offset);
  if (from >= len || count == 0) return succeed(vm, NULL_STRING);
  // Cut the length to what is left after the offset (offset + count may not be representable).
  uint64_t take = static_cast<uint64_t>(count);
  if (take > len - from) take = len - from;
  return succeed(vm, s.slice(vm, from, take));
}

Exit bi_REPLACE(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  StringArg f(vm);
  if (f.load(vm) != X_VALUE) return X_FAIL;
  StringArg t(vm);
  if (t.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t len = s.length();
  if (len == 0) return succeed(vm, NULL_STRING);
  const uint64_t nf = f.length();
  if (nf == 0 || nf != t.length()) return X_FAIL;

  // Identity table, then each character of F maps to its partner in T; a later occurrence of
  // a character overrides an earlier one.
  unsigned char table[256];
  std::memcpy(table, IDENTITY_TABLE.data(), sizeof table);
  {
    const unsigned char* from = reinterpret_cast<const unsigned char*>(f.text());
    const unsigned char* to = reinterpret_cast<const unsigned char*>(t.text());
    for (uint64_t i = 0; i < nf; ++i) table[from[i]] = to[i];
  }

  unsigned char* out = reinterpret_cast<unsigned char*>(reserve_string(vm, len));
  const unsigned char* in = reinterpret_cast<const unsigned char*>(s.text());
  unsigned changed = 0;
  for (uint64_t i = 0; i < len; ++i) {
    const unsigned char c = table[in[i]];
    changed |= c ^ in[i];
    out[i] = c;
  }
  if (changed == 0) {
    // Nothing was replaced: give the reservation back and return S itself.
    finish_string(vm, 0);
    return succeed(vm, s.value(vm));
  }
  return succeed(vm, finish_string(vm, len));
}

Exit bi_REV(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  const uint64_t len = s.length();
  if (len <= 1) return succeed(vm, s.value(vm));
  char* out = reserve_string(vm, len);
  const char* in = s.text();
  for (uint64_t i = 0; i < len; ++i) out[i] = in[len - 1 - i];
  return succeed(vm, finish_string(vm, len));
}

Exit bi_TRIM(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  StringArg c(vm);
  if (c.load(vm) != X_VALUE) return X_FAIL;
  int64_t keep;
  if (integer_operand(vm, &keep) != X_VALUE) return X_FAIL;
  const uint64_t len = s.length();
  const uint64_t floor = keep < 0 ? 0 : static_cast<uint64_t>(keep);
  if (len == 0 || len <= floor) return succeed(vm, s.value(vm));

  const unsigned char* text = reinterpret_cast<const unsigned char*>(s.text());
  uint64_t end = len;
  if (c.length() == 0) {
    while (end > floor && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  } else if (c.length() == 1) {
    const unsigned char only = static_cast<unsigned char>(c.text()[0]);
    while (end > floor && text[end - 1] == only) --end;
  } else {
    CharSet set;
    const unsigned char* chars = reinterpret_cast<const unsigned char*>(c.text());
    for (uint64_t i = 0; i < c.length(); ++i) set.add(chars[i]);
    while (end > floor && set.has(text[end - 1])) --end;
  }
  return succeed(vm, end == 0 ? NULL_STRING : s.slice(vm, 0, end));
}

Exit bi_LPAD(Vm& vm) { return pad(vm, PAD_LEFT); }
Exit bi_RPAD(Vm& vm) { return pad(vm, PAD_RIGHT); }
Exit bi_CENTER(Vm& vm) { return pad(vm, PAD_CENTER); }

Exit bi_DUPL(Vm& vm) {
  StringArg s(vm);
  if (s.load(vm) != X_VALUE) return X_FAIL;
  int64_t n;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  if (n < 0) return X_FAIL;
  const uint64_t len = s.length();
  if (n == 0 || len == 0) return succeed(vm, NULL_STRING);
  if (n == 1) return succeed(vm, s.value(vm));
  // The length is computed with overflow detection, and checked, before anything is reserved.
  int64_t total;
  if (__builtin_mul_overflow(static_cast<int64_t>(len), n, &total)) return error_stmt(vm, 2);
  if (too_long(vm, total)) return error_stmt(vm, 15);

  const uint64_t size = static_cast<uint64_t>(total);
  char* out = reserve_string(vm, size);
  if (len == 1) {
    std::memset(out, s.text()[0], size);
  } else {
    // One copy, then double what is already written.
    std::memcpy(out, s.text(), len);
    uint64_t done = len;
    while (done < size) {
      const uint64_t step = done < size - done ? done : size - done;
      std::memcpy(out + done, out, step);
      done += step;
    }
  }
  return succeed(vm, finish_string(vm, size));
}

Exit bi_CHAR(Vm& vm) {
  int64_t code;
  if (integer_operand(vm, &code) != X_VALUE) return X_FAIL;
  if (code < 0) return error_stmt(vm, 14);
  if (code > 255) return error_stmt(vm, 10);
  const char c = static_cast<char>(static_cast<unsigned char>(code));
  return succeed(vm, make_variable(vm, &c, 1));
}

Exit bi_IDENT(Vm& vm) { return identity(vm, true); }
Exit bi_DIFFER(Vm& vm) { return identity(vm, false); }

Exit bi_LGT(Vm& vm) { return lexical(vm, LEX_GT); }
Exit bi_LGE(Vm& vm) { return lexical(vm, LEX_GE); }
Exit bi_LLT(Vm& vm) { return lexical(vm, LEX_LT); }
Exit bi_LLE(Vm& vm) { return lexical(vm, LEX_LE); }
Exit bi_LEQ(Vm& vm) { return lexical(vm, LEX_EQ); }
Exit bi_LNE(Vm& vm) { return lexical(vm, LEX_NE); }

}  // namespace pellux
