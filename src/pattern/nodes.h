// Pattern blocks and their nodes, shared by the constructors, the scanner and the match
// statements.
//
// A pattern block is an ordinary block whose body is a sequence of nodes of three or four
// descriptor slots:
//   slot 0  function: A = node kind (NodeKind, a small number, never an address),
//           F = FLAG_FUNCTION, V = number of slots that follow (2, or 3 with an argument)
//   slot 1  link:     A = alternate offset (0 = none), V = subsequent offset (0 = end)
//   slot 2  length:   A = rest minimum, V = tail minimum
//   slot 3  argument (string, integer, unevaluated expression or name), when V of slot 0 is 3
// Offsets count slots from the start of the body.  Only the argument slot may hold a pointer;
// the other slots have flag byte 0 apart from FLAG_FUNCTION, so regeneration neither follows
// them nor takes them for titles.
#pragma once
#include <cstdint>
#include <cstring>
#include <string_view>

#include "storage/descr.h"
#include "storage/state.h"

namespace pellux {

enum NodeKind : uint64_t {
  NK_NULL = 1,
  NK_ANY,
  NK_NOTANY,
  NK_SPAN,
  NK_SPANNOT,
  NK_BREAK,
  NK_LEN,
  NK_POS,
  NK_RPOS,
  NK_TAB,
  NK_RTAB,
  NK_LITERAL,
  NK_DEFERRED,
  NK_DEFER_NEXT,    // the null node after a deferred node; its history entry carries the activation
  NK_DEFER_RESUME,
  NK_CAPTURE_START,
  NK_CAPTURE_COND,
  NK_CAPTURE_IMM,
  NK_CURSOR,
  NK_ARB_STEP,
  NK_BAL_STEP,
  NK_BAL_MORE,
  NK_MAXARB_FIRST,
  NK_MAXARB_SHRINK,
  NK_FENCE,
  NK_ABORT,
  NK_FAIL,
  NK_SUCCEED,
  NK_ARBNO_SAVE,
  NK_ARBNO_RESTORE,
  NK_ARBNO_END,
  NK_ARBNO_AGAIN,
  NK_ARBNO_RETRY,
  NK_LAST = NK_ARBNO_RETRY
};

// Minima saturate here instead of wrapping; the value fits the 56-bit V of the length slot
// and is far beyond any subject.
inline constexpr uint64_t MIN_CAP = (uint64_t{1} << 55) - 1;
inline uint64_t sat_add(uint64_t a, uint64_t b) {
  uint64_t s = a + b;
  return (s < a || s > MIN_CAP) ? MIN_CAP : s;
}
inline uint64_t sat_min(uint64_t n) { return n > MIN_CAP ? MIN_CAP : n; }

inline constexpr Descr node_function(NodeKind k, bool has_arg) {
  return Descr::make(k, FLAG_FUNCTION, has_arg ? 3 : 2);
}
inline constexpr Descr node_link(uint64_t alt, uint64_t subs) { return Descr::make(alt, 0, subs); }
inline constexpr Descr node_length(uint64_t rest, uint64_t tail) { return Descr::make(rest, 0, tail); }

inline NodeKind node_kind(const Descr* n) { return static_cast<NodeKind>(n[0].a); }
inline uint64_t node_slots(const Descr* n) { return 1 + n[0].v(); }
inline bool node_has_arg(const Descr* n) { return n[0].v() == 3; }
inline uint64_t node_alt(const Descr* n) { return n[1].a; }
inline uint64_t node_subs(const Descr* n) { return n[1].v(); }
inline uint64_t node_rest(const Descr* n) { return n[2].a; }
inline uint64_t node_tail(const Descr* n) { return n[2].v(); }

// The body of the pattern a PATTERN descriptor refers to, and its size in slots.
inline Descr* pattern_body(const Descr& p) { return p.ptr() + 1; }
inline uint64_t pattern_slots(const Descr& p) { return p.ptr()->v() / 16; }

// The least rest minimum over the first node and the nodes on its chain of alternates.  That
// chain always leads forward (only nodes met by backtracking are their own alternates).
inline uint64_t pattern_min_length(const Descr* body) {
  uint64_t least = node_rest(body);
  for (uint64_t at = 0, alt = node_alt(body); alt > at; at = alt, alt = node_alt(body + alt)) {
    uint64_t r = node_rest(body + alt);
    if (r < least) least = r;
  }
  return least;
}

// Node copy: the nodes of `src` (`count` slots) into `dst` from slot `at`.  Alternate and
// subsequent offsets that are set move by `offset_inc`; a subsequent offset of 0 (the end)
// becomes `end`; both minima grow by `length_inc`.  Returns the slot after the last copied.
inline uint64_t copy_nodes(Descr* dst, uint64_t at, const Descr* src, uint64_t count,
                           uint64_t length_inc, uint64_t offset_inc, uint64_t end) {
  for (uint64_t i = 0; i < count;) {
    const Descr* n = src + i;
    Descr* d = dst + at;
    const uint64_t size = node_slots(n);
    d[0] = n[0];
    const uint64_t alt = node_alt(n), subs = node_subs(n);
    d[1] = node_link(alt ? alt + offset_inc : 0, subs ? subs + offset_inc : end);
    d[2] = node_length(sat_add(node_rest(n), length_inc), sat_add(node_tail(n), length_inc));
    if (size == 4) d[3] = n[3];
    i += size;
    at += size;
  }
  return at;
}

// The first place where `needle` (n > 0 bytes) occurs in `hay` (len bytes), or nullptr.
inline const uint8_t* find_text(const uint8_t* hay, int64_t len, const uint8_t* needle, int64_t n) {
  if (n == 1) return static_cast<const uint8_t*>(std::memchr(hay, needle[0], len));
  const std::string_view h(reinterpret_cast<const char*>(hay), len);
  const size_t at = h.find(std::string_view(reinterpret_cast<const char*>(needle), n));
  return at == std::string_view::npos ? nullptr : hay + at;
}

// The slot count of the built-in pattern behind a pattern keyword (ARB, BAL, ...), and its
// nodes written into a body of that size.  Used when the static area is made.
uint64_t builtin_pattern_slots(PKw keyword);
void fill_builtin_pattern(PKw keyword, Descr* body);

}  // namespace pellux
