// The pattern scanner: matches a pattern against a subject by walking its nodes and
// backtracking through the history stack.
//
// The scan is one loop over the nodes; nothing recurses in C++ per node.  A deferred pattern
// (*X) is matched inside the same loop: entering it pushes a frame (the pattern, node and
// limit to come back to) and switches the current pattern; reaching its end pops the frame and
// continues after the deferred node, leaving the sub-pattern's history on the stack; a resume
// node reached by backtracking pushes the frame again and goes on backtracking inside.  The
// pattern values of deferred nodes are kept per activation on the system stack, above the
// slot of the pattern being matched, so the collector relocates them; the history, save and
// frame stacks hold offsets, cursors and system-stack slot addresses only.
//
// Raw pointers into the work space (the current pattern's body, the subject's text) are
// re-derived after every call that may allocate or run other code (expression evaluation,
// assignments).  Before such a call the tops of the shared stacks are written back to the
// PatternState, so that a match started from inside begins above them.
#include <cstring>

#include "interp/errors.h"
#include "interp/interp.h"
#include "pattern/nodes.h"
#include "pattern/pattern.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// Routine entries of the history stack (the alternate field with the top bit set).
constexpr uint64_t ROUTINE = uint64_t{1} << 63;
enum : uint64_t {
  R_ADVANCE = ROUTINE | 1,  // bottom of an unanchored attempt: try the next start
  R_FAIL,                   // bottom of an anchored match: the match fails
  R_DEFER_FAIL,             // bottom of a deferred pattern: data = its value's slot
  R_CAPTURE_UNDO,           // capture-start undone: drop the saved cursor
  R_CAPTURE_REMOVE,         // conditional capture undone: data = its start
  R_IMMEDIATE_UNDO,         // immediate capture undone: data = its start
  R_ABORT,                  // FENCE backtracked into
  R_SUCCEED,                // SUCCEED again: data = the node's offset
  R_ARBNO_DATA,             // an ARBNO iteration: data = its start (removed by ARBNO's nodes)
};

// The stacks are made once, at the first match, and left uninitialised: a page is touched only
// when a match goes that deep.
void prepare_state(PatternState& ps) {
  ps.history = std::make_unique_for_overwrite<HistoryEntry[]>(HISTORY_CAPACITY);
  ps.saves = std::make_unique_for_overwrite<int64_t[]>(SAVE_CAPACITY);
  ps.captures = std::make_unique_for_overwrite<Capture[]>(CAPTURE_CAPACITY);
  ps.frames = std::make_unique_for_overwrite<DeferFrame[]>(FRAME_CAPACITY);
  ps.brackets = std::make_unique_for_overwrite<uint8_t[]>(BAL_DEPTH + 2);
  ps.set_cache = std::make_unique<SetTable[]>(SET_CACHE_SIZE);
  ps.ready = true;
}

inline void poll_interrupt(Vm& vm) {
  if (vm.rt.interrupt_count.load(std::memory_order_relaxed) != 0) terminate_on_interrupt(vm);
}

void build_set(SetTable& t, const uint8_t* text, uint64_t len) {
  std::memset(t.member, 0, sizeof t.member);
  uint32_t count = 0;
  for (uint64_t i = 0; i < len; ++i) {
    if (!t.member[text[i]]) {
      t.member[text[i]] = 1;
      t.single = text[i];
      ++count;
    }
  }
  t.count = count;
}

// The membership table of a non-null string, from the cache when the same string (the same
// interned block) built one since the last regeneration.
const SetTable& string_set(Vm& vm, const Descr& s) {
  PatternState& ps = vm.pat;
  const uint64_t epoch = vm.st.regen_count + vm.st.stress_regen_count;
  if (epoch != ps.set_cache_epoch) {
    for (uint64_t i = 0; i < SET_CACHE_SIZE; ++i) ps.set_cache[i].key = 0;
    ps.set_cache_epoch = epoch;
  }
  SetTable& t = ps.set_cache[((s.a >> 4) * 0x9E3779B97F4A7C15ull) >> 58];
  if (t.key != s.a) {
    build_set(t, reinterpret_cast<const uint8_t*>(string_text(s)), string_length(s));
    t.key = s.a;
  }
  return t;
}

// The value of an unevaluated expression argument, evaluated again while it gives another
// expression (polling the interrupt count each time, since that may never end).  X_VALUE with
// the value in *out (to be used before anything allocates), or X_FAIL.
Exit expression_value(Vm& vm, Descr expr, Descr* out) {
  for (;;) {
    if (eval_expression(vm, expr, false) != X_VALUE) return X_FAIL;
    const Descr v = result(vm);
    if (v.v() != T_EXPRESSION) {
      *out = v;
      return X_VALUE;
    }
    poll_interrupt(vm);
    expr = v;
  }
}

}  // namespace

// The name an unevaluated expression gives: X_VALUE with the NAME in *out; X_FAIL when the
// evaluation fails or (error 8) gives something else.  May allocate.
Exit expression_name(Vm& vm, const Descr& expr, Descr* out) {
  const Exit x = eval_expression(vm, expr, true);
  if (x == X_FAIL) return X_FAIL;
  const Descr v = result(vm);
  if (x == X_NAME || is_name(v)) {
    *out = v;
    return X_VALUE;
  }
  return error_stmt(vm, 8);
}

ScanOutcome core_scan(Vm& vm, Descr* subject, Descr* pattern, int64_t* head_out, int64_t* end_out) {
  PatternState& ps = vm.pat;
  if (!ps.ready) prepare_state(ps);
  // The keywords are read once per match.
  const bool quick = ukw_int(vm, K_FULLSCAN) == 0;
  const bool anchored = ukw_int(vm, K_ANCHOR) != 0;

  // This scan's regions of the shared stacks begin at their current tops.
  HistoryEntry* const hist = ps.history.get();
  HistoryEntry* const hbase = hist + ps.history_top;
  HistoryEntry* const hend = hist + HISTORY_CAPACITY;
  HistoryEntry* top = hbase;  // the next free entry
  int64_t* const saves = ps.saves.get();
  const uint64_t save_base = ps.save_top;
  uint64_t save_top = save_base;
  Capture* const caps = ps.captures.get();
  const uint64_t cap_base = ps.capture_top;
  uint64_t cap_top = cap_base;
  DeferFrame* const frames = ps.frames.get();
  const uint64_t frame_base = ps.frame_top;
  uint64_t frame_top = frame_base;

  const int64_t L = static_cast<int64_t>(string_length(*subject));
  const uint8_t* subj = reinterpret_cast<const uint8_t*>(string_text(*subject));
  int64_t limit = L;
  Descr* cur_slot = pattern;
  const Descr* body = pattern_body(*pattern);

  int64_t cursor = 0, head = 0, last_start = 0;
  int flag = 1;
  uint64_t off = 0;
  uint64_t act = 0;  // data handed to the node entered next (see NK_DEFER_NEXT, MAXARB)
  const Descr* node = body;
  NodeKind kind = NK_NULL;
  uint64_t alt = 0, subs = 0, tail = 0;
  ScanOutcome outcome = ScanOutcome::Failure;
  // An unanchored scan whose pattern must begin with a literal goes straight to the starts
  // where that literal is found: the starts in between would fail at once without effect.
  uint64_t lit_node = 0;
  int64_t lit_len = 0;
  bool lit_first = false;

  // Tops written back before anything that may start another match; pointers into the work
  // space re-derived after it.
#define SYNC()                                  \
  do {                                          \
    ps.history_top = top - hist;                \
    ps.save_top = save_top;                     \
    ps.capture_top = cap_top;                   \
    ps.frame_top = frame_top;                   \
  } while (0)
#define RELOAD()                                                               \
  do {                                                                         \
    body = pattern_body(*cur_slot);                                            \
    subj = reinterpret_cast<const uint8_t*>(string_text(*subject));            \
    node = body + off;                                                         \
  } while (0)
#define PUSH(A, D, P, F)                                     \
  do {                                                       \
    if (top == hend) goto overflow;                          \
    *top++ = HistoryEntry{(A), (D), (P), (tail << 1) | (F)}; \
  } while (0)
#define DROP()                          \
  do {                                  \
    if (top <= hbase) goto corrupted;   \
    --top;                              \
  } while (0)
#define FAIL_AS_FLAG() \
  do {                 \
    if (flag) goto length_failure; \
    goto backtrack;    \
  } while (0)

  {
    const uint64_t least = pattern_min_length(body);
    if (quick && least > static_cast<uint64_t>(L)) goto done;
    if (anchored) {
      head = 0;
      PUSH(R_FAIL, 0, 0, 1);
      off = 0;
      goto enter_subsequent;
    }
    last_start = quick ? L - static_cast<int64_t>(least) : L;
    // The literal every match must begin with, if the pattern's first node is one (perhaps
    // after the capture-start of an assignment), with no alternative to it.
    if (node_kind(body) == NK_CAPTURE_START && node_alt(body) == 0) lit_node = node_subs(body);
    const Descr* n = body + lit_node;
    if (node_kind(n) == NK_LITERAL && node_alt(n) == 0 && string_length(n[3]) > 0) {
      lit_first = true;
      lit_len = static_cast<int64_t>(string_length(n[3]));
    }
  }

attempt:
  // A new start position (cursor).
  if (lit_first) {
    const uint8_t* lit = reinterpret_cast<const uint8_t*>(string_text(pattern_body(*pattern)[lit_node + 3]));
    const int64_t span_end = last_start + lit_len < L ? last_start + lit_len : L;
    const void* hit = nullptr;
    if (span_end - cursor >= lit_len) {
      hit = find_text(subj + cursor, span_end - cursor, lit, lit_len);
    }
    if (hit == nullptr) goto done;
    cursor = static_cast<const uint8_t*>(hit) - subj;
  }
  head = cursor;
  cur_slot = pattern;
  body = pattern_body(*pattern);
  limit = L;
  flag = 1;
  PUSH(R_ADVANCE, 0, cursor, 1);
  off = 0;

enter_subsequent:
  flag = 1;

enter:
  poll_interrupt(vm);
  node = body + off;
  kind = node_kind(node);
  alt = node_alt(node);
  subs = node_subs(node);
  tail = node_tail(node);
  PUSH(alt, act, cursor, flag);
  // Quick mode: a node that cannot fit in what is left is not run.  A resume node always runs
  // (it must go back into its deferred pattern before that pattern's history is popped); a
  // node that is its own alternate leaves with its entry, or it would be entered again at once.
  if (quick && cursor + static_cast<int64_t>(node_rest(node)) > limit && kind != NK_DEFER_RESUME) {
    if (alt == off) DROP();
    goto length_failure;
  }

  switch (kind) {
    case NK_NULL:
    case NK_DEFER_NEXT:
      goto success;

    case NK_LITERAL: {
      const Descr& s = node[3];
      const int64_t len = static_cast<int64_t>(string_length(s));
      if (L - cursor < len) goto length_failure;
      if (len > 0) {
        const uint8_t* t = reinterpret_cast<const uint8_t*>(string_text(s));
        if (subj[cursor] != t[0] || (len > 1 && std::memcmp(subj + cursor + 1, t + 1, len - 1) != 0))
          goto node_failure;
      }
      cursor += len;
      goto success;
    }

    case NK_ANY:
    case NK_NOTANY:
    case NK_SPAN:
    case NK_SPANNOT:
    case NK_BREAK: {
      const SetTable* set;
      Descr a = node[3];
      if (a.v() == T_EXPRESSION) {
        SYNC();
        const Exit x = expression_value(vm, a, &a);
        RELOAD();
        if (x != X_VALUE) goto node_failure;
        if (a.v() == T_INTEGER) {
          char digits[INTEGER_TEXT_MAX];
          const uint64_t n = format_integer(a.ival(), digits);
          build_set(ps.scratch, reinterpret_cast<const uint8_t*>(digits), n);
          set = &ps.scratch;
        } else if (!is_string(a)) {
          SYNC();
          error_stmt(vm, 1);
          goto node_failure;
        } else if (a.a == 0) {
          SYNC();
          error_stmt(vm, 4);
          goto node_failure;
        } else {
          set = &string_set(vm, a);
        }
      } else {
        set = &string_set(vm, a);
      }
      const uint8_t* m = set->member;
      if (kind == NK_SPAN || kind == NK_SPANNOT) {
        if (cursor >= L) goto length_failure;
        const uint8_t want = kind == NK_SPAN;
        int64_t p = cursor;
        while (p < L && m[subj[p]] == want) ++p;
        if (p == cursor) goto node_failure;
        if (quick && p > limit) goto length_failure;
        cursor = p;
        goto success;
      }
      int64_t w = L;
      if (quick) {
        if (cursor > limit) goto length_failure;
        w = L > limit ? limit + 1 : limit;
      }
      if (kind == NK_BREAK) {
        if (cursor >= w) goto length_failure;
        int64_t p;
        if (set->count == 1) {
          const void* q = std::memchr(subj + cursor, set->single, w - cursor);
          if (q == nullptr) goto length_failure;
          p = static_cast<const uint8_t*>(q) - subj;
        } else {
          p = cursor;
          while (p < w && !m[subj[p]]) ++p;
          if (p == w) goto length_failure;
        }
        cursor = p;
        goto success;
      }
      if (cursor >= w) goto length_failure;
      if ((m[subj[cursor]] != 0) != (kind == NK_ANY)) goto node_failure;
      cursor += 1;
      goto success;
    }

    case NK_LEN:
    case NK_POS:
    case NK_RPOS:
    case NK_TAB:
    case NK_RTAB: {
      Descr a = node[3];
      int64_t n;
      if (a.v() == T_INTEGER) {
        n = a.ival();
      } else {
        SYNC();
        const Exit x = expression_value(vm, a, &a);
        RELOAD();
        if (x != X_VALUE) goto node_failure;
        if (a.v() == T_INTEGER) {
          n = a.ival();
        } else if (is_string(a)) {
          const uint64_t len = string_length(a);
          if (len == 0) {
            n = 0;
          } else if (!scan_integer(string_text(a), len, &n)) {
            error_stmt(vm, 1);
            goto node_failure;
          }
        } else {
          error_stmt(vm, 1);
          goto node_failure;
        }
        if (n < 0) {
          error_stmt(vm, 14);
          goto node_failure;
        }
      }
      switch (kind) {
        case NK_LEN:
          if (n > limit - cursor) goto length_failure;
          cursor += n;
          goto success;
        case NK_POS:
          if (n > limit) goto length_failure;
          if (n > cursor) goto node_failure;
          if (n == cursor) goto success;
          goto length_failure;
        case NK_RPOS: {
          const int64_t t = L - n;
          if (cursor > t) goto length_failure;
          if (cursor < t) goto node_failure;
          goto success;
        }
        case NK_TAB:
          if (cursor > n || n > limit) goto length_failure;
          cursor = n;
          goto success;
        default: {  // NK_RTAB
          const int64_t t = L - n;
          if (cursor > t) goto length_failure;
          if (quick && limit - static_cast<int64_t>(tail) < t) goto length_failure;
          cursor = t;
          goto success;
        }
      }
    }

    case NK_DEFERRED: {
      Descr v;
      SYNC();
      const Exit x = expression_value(vm, node[3], &v);
      RELOAD();
      if (x != X_VALUE) goto node_failure;
      act = 0;
      if (v.v() == T_PATTERN) {
        const int64_t available = limit - (quick ? static_cast<int64_t>(tail) : 0);
        if (available < 0) goto length_failure;
        if (quick && pattern_min_length(pattern_body(v)) > static_cast<uint64_t>(available))
          goto length_failure;
        if (frame_top == FRAME_CAPACITY) goto overflow;
        // The value is kept for this activation; its slot goes when the entry below is popped.
        Descr* slot = sysstack_push(vm, v);
        PUSH(R_DEFER_FAIL, reinterpret_cast<uint64_t>(slot), cursor, flag);
        frames[frame_top++] = DeferFrame{cur_slot, off, limit, slot};
        limit = available;
        cur_slot = slot;
        body = pattern_body(*slot);
        off = 0;
        goto enter_subsequent;
      }
      const uint8_t* t;
      int64_t len;
      char digits[INTEGER_TEXT_MAX];
      if (is_string(v)) {
        t = reinterpret_cast<const uint8_t*>(string_text(v));
        len = static_cast<int64_t>(string_length(v));
      } else if (v.v() == T_INTEGER) {
        len = static_cast<int64_t>(format_integer(v.ival(), digits));
        t = reinterpret_cast<const uint8_t*>(digits);
      } else {
        SYNC();
        error_stmt(vm, 1);
        goto node_failure;
      }
      if (L - cursor < len) goto length_failure;
      if (len > 0 && std::memcmp(subj + cursor, t, len) != 0) goto node_failure;
      cursor += len;
      goto success;
    }

    case NK_DEFER_RESUME: {
      if (act == 0) FAIL_AS_FLAG();  // a string or integer matched: nothing to resume
      Descr* slot = reinterpret_cast<Descr*>(act);
      if (frame_top == FRAME_CAPACITY) goto corrupted;
      const int64_t available = limit - (quick ? static_cast<int64_t>(tail) : 0);
      frames[frame_top++] = DeferFrame{cur_slot, off, limit, slot};
      limit = available;
      cur_slot = slot;
      body = pattern_body(*slot);
      goto backtrack;
    }

    case NK_CAPTURE_START:
      if (save_top == SAVE_CAPACITY) goto overflow;
      PUSH(R_CAPTURE_UNDO, 0, cursor, flag);
      saves[save_top++] = cursor;
      flag = 1;
      goto success;

    case NK_CAPTURE_COND: {
      if (save_top == save_base) goto corrupted;
      if (cap_top == CAPTURE_CAPACITY) goto corrupted;
      const int64_t start = saves[--save_top];
      caps[cap_top++] = Capture{start, cursor, cur_slot, off};
      PUSH(R_CAPTURE_REMOVE, static_cast<uint64_t>(start), cursor, flag);
      flag = 1;
      goto success;
    }

    case NK_CAPTURE_IMM:
    case NK_CURSOR: {
      int64_t start = 0;
      if (kind == NK_CAPTURE_IMM) {
        // The start stays on the save stack until the assignment is done, so that a failure
        // here leaves it for the capture-start's undo.
        if (save_top == save_base) goto corrupted;
        start = saves[save_top - 1];
        if (cursor - start > ukw_int(vm, K_MAXLNGTH)) {
          SYNC();
          error_stmt(vm, 15);
          goto node_failure;
        }
      }
      Descr name = node[3];
      SYNC();
      if (name.v() == T_EXPRESSION && expression_name(vm, name, &name) != X_VALUE) {
        RELOAD();
        goto node_failure;
      }
      Exit x;
      {
        Pin held(vm, name);
        Descr value;
        if (kind == NK_CURSOR) {
          value = Descr::integer(cursor);
        } else {
          value = make_variable(
              vm, Spec{*subject, Descr::make(VAR_HEADER + start, 0, static_cast<uint64_t>(cursor - start))});
        }
        x = assign_name(vm, *held, value);
      }
      RELOAD();
      if (x != X_VALUE) goto node_failure;
      if (kind == NK_CAPTURE_IMM) {
        --save_top;
        PUSH(R_IMMEDIATE_UNDO, static_cast<uint64_t>(start), cursor, flag);
        flag = 1;
      }
      goto success;
    }

    case NK_ARB_STEP: {
      int64_t t = 0;
      if (quick) {
        if (flag) {
          DROP();
          goto length_failure;
        }
        t = static_cast<int64_t>(tail);
      }
      if (cursor + t >= limit) {
        DROP();
        goto length_failure;
      }
      cursor += 1;
      top[-1].pos = cursor;
      goto success;
    }

    case NK_BAL_MORE:
    case NK_BAL_STEP: {
      if (kind == NK_BAL_MORE && quick && flag) {
        DROP();
        goto node_failure;
      }
      const int64_t t = quick ? static_cast<int64_t>(tail) : 0;
      if (cursor + t >= limit) {
        DROP();
        goto node_failure;
      }
      // One balanced unit of at most limit - cursor - t characters.
      const int64_t end = limit - t;
      uint8_t c = subj[cursor];
      int64_t p = cursor + 1;
      auto opener = [](uint8_t ch) -> uint8_t {
        return ch == '(' ? 1 : ch == '[' ? 2 : ch == '{' ? 3 : 0;
      };
      auto closer = [](uint8_t ch) -> uint8_t {
        return ch == ')' ? 1 : ch == ']' ? 2 : ch == '}' ? 3 : 0;
      };
      if (closer(c)) {
        DROP();
        goto node_failure;
      }
      if (uint8_t k = opener(c)) {
        uint8_t* open = ps.brackets.get();
        uint64_t depth = 1;
        open[1] = k;
        for (;;) {
          if (p >= end) {
            DROP();
            goto node_failure;
          }
          c = subj[p++];
          if (uint8_t o = opener(c)) {
            if (++depth > BAL_DEPTH) {
              DROP();
              goto node_failure;
            }
            open[depth] = o;
          } else if (uint8_t cl = closer(c)) {
            if (open[depth] != cl) {
              DROP();
              goto node_failure;
            }
            if (--depth == 0) break;
          }
        }
      }
      cursor = p;
      top[-1].pos = cursor;
      goto success;
    }

    case NK_MAXARB_FIRST: {
      // The longest first: up to the limit, less in quick mode what must follow.  The end is
      // recorded in the entry (where backtracking resumes) and the start beside it.
      const int64_t end = limit - (quick ? static_cast<int64_t>(tail) : 0);
      if (end < 0 || end < cursor) goto node_failure;
      top[-1].pos = end;
      top[-1].data = static_cast<uint64_t>(cursor);
      cursor = end;
      goto success;
    }

    case NK_MAXARB_SHRINK: {
      const int64_t e = top[-1].pos;
      const int64_t start = static_cast<int64_t>(top[-1].data);
      if (e == 0 || e - 1 < start) {
        DROP();
        goto node_failure;
      }
      cursor = e - 1;
      top[-1].pos = cursor;
      goto success;
    }

    case NK_FENCE:
      PUSH(R_ABORT, 0, cursor, flag);
      flag = 1;
      goto success;

    case NK_ABORT:
      outcome = ScanOutcome::Abort;
      goto done;

    case NK_FAIL:
      goto node_failure;

    case NK_SUCCEED:
      PUSH(R_SUCCEED, off, cursor, flag);
      flag = 1;
      goto success;

    case NK_ARBNO_SAVE:
      if (save_top == SAVE_CAPACITY) goto overflow;
      saves[save_top++] = cursor;
      goto success;

    case NK_ARBNO_RESTORE:
      if (save_top == save_base) goto corrupted;
      --save_top;
      FAIL_AS_FLAG();

    case NK_ARBNO_END:
      if (save_top == save_base) goto corrupted;
      top[-1] = HistoryEntry{R_ARBNO_DATA, static_cast<uint64_t>(saves[--save_top]), cursor, 0};
      goto success;

    case NK_ARBNO_AGAIN:
    case NK_ARBNO_RETRY: {
      if (top - hbase < 2 || top[-2].alt != R_ARBNO_DATA) goto corrupted;
      const int64_t start = static_cast<int64_t>(top[-2].data);
      if (kind == NK_ARBNO_AGAIN && (!quick || cursor != start)) goto success;
      // No further iteration: the last one's end is given up.
      if (save_top == SAVE_CAPACITY) goto overflow;
      saves[save_top++] = start;
      top -= 2;
      FAIL_AS_FLAG();
    }

    default:
      goto corrupted;
  }

success:
  if (subs != 0) {
    off = subs;
    goto enter_subsequent;
  }
  if (frame_top > frame_base) {
    // The end of a deferred pattern: back to the node that entered it, which succeeds.
    const DeferFrame f = frames[--frame_top];
    cur_slot = f.outer_slot;
    off = f.node;
    limit = f.limit;
    body = pattern_body(*cur_slot);
    node = body + off;
    subs = node_subs(node);
    tail = node_tail(node);
    act = reinterpret_cast<uint64_t>(f.inner_slot);
    goto success;
  }
  outcome = ScanOutcome::Success;
  goto done;

node_failure:
  flag = 0;
  goto backtrack;

length_failure:
  if (top <= hbase) goto corrupted;
  flag = static_cast<int>(top[-1].tail_flag & 1);

backtrack:
  for (;;) {
    if (top <= hbase) goto corrupted;
    const HistoryEntry e = *--top;
    if (e.alt == 0 || e.alt == R_ARBNO_DATA) {
      if (flag && top > hbase) flag = static_cast<int>(top[-1].tail_flag & 1);
      continue;
    }
    cursor = e.pos;
    if (!(e.alt & ROUTINE)) {
      off = e.alt;
      act = e.data;
      goto enter;
    }
    switch (e.alt) {
      case R_ADVANCE:
        if (quick && flag) goto done;
        if (e.pos >= last_start) goto done;
        cursor = e.pos + 1;
        goto attempt;
      case R_FAIL:
        goto done;
      case R_DEFER_FAIL: {
        // Backtracking left a deferred pattern: back to the node that entered it, which fails.
        if (frame_top == frame_base) goto corrupted;
        const DeferFrame f = frames[--frame_top];
        if (reinterpret_cast<uint64_t>(f.inner_slot) != e.data) goto corrupted;
        vm.st.stack.top = f.inner_slot;
        cur_slot = f.outer_slot;
        off = f.node;
        limit = f.limit;
        body = pattern_body(*cur_slot);
        FAIL_AS_FLAG();
      }
      case R_CAPTURE_UNDO:
        if (save_top == save_base) goto corrupted;
        --save_top;
        FAIL_AS_FLAG();
      case R_CAPTURE_REMOVE:
        if (cap_top == cap_base) goto corrupted;
        --cap_top;
        saves[save_top++] = static_cast<int64_t>(e.data);
        FAIL_AS_FLAG();
      case R_IMMEDIATE_UNDO:
        saves[save_top++] = static_cast<int64_t>(e.data);
        FAIL_AS_FLAG();
      case R_ABORT:
        outcome = ScanOutcome::Abort;
        goto done;
      case R_SUCCEED:
        off = e.data;
        node = body + off;
        subs = node_subs(node);
        tail = node_tail(node);
        PUSH(R_SUCCEED, off, cursor, flag);
        flag = 1;
        goto success;
      default:
        goto corrupted;
    }
  }

overflow:
  // History full: error 16, which (when it is survived) aborts the whole match.
  SYNC();
  error_stmt(vm, 16);
  outcome = ScanOutcome::Abort;
  goto done;

corrupted:
  SYNC();
  error_fatal(vm, 17);

done:
  ps.history_top = hbase - hist;
  ps.save_top = save_base;
  ps.frame_top = frame_base;
  ps.capture_top = outcome == ScanOutcome::Success ? cap_top : cap_base;
  *head_out = head;
  *end_out = cursor;
  return outcome;

#undef SYNC
#undef RELOAD
#undef PUSH
#undef DROP
#undef FAIL_AS_FLAG
}

}  // namespace pellux
