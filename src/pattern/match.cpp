// The match statements: `SUBJECT PATTERN` (op_match) and `SUBJECT PATTERN = OBJECT`
// (op_match_replace).  Each evaluates its operands, searches directly when the pattern is a
// string and runs the scanner otherwise, performs the conditional assignments recorded by a
// successful scan, and for the second form rebuilds the subject and assigns it.
//
// The operands live on the system stack for the whole statement, below the slots the scanner
// leaves there (the values of deferred patterns, which the recorded assignments refer to);
// one StackMark gives all of them back.
#include <cstring>

#include "interp/errors.h"
#include "interp/interp.h"
#include "pattern/nodes.h"
#include "pattern/pattern.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline bool too_long(const Vm& vm, int64_t n) { return n > ukw_int(vm, K_MAXLNGTH); }

// The conditional assignments recorded from `from` to the capture list's top, in the order
// they were recorded (inner before outer).  The list keeps its top while they run, so that a
// match started by one of them (through an unevaluated name) records above them.
Exit perform_captures(Vm& vm, const Descr* subject, uint64_t from) {
  PatternState& ps = vm.pat;
  const uint64_t to = ps.capture_top;
  Exit outcome = X_VALUE;
  for (uint64_t i = from; i < to && outcome == X_VALUE; ++i) {
    const Capture c = ps.captures[i];
    const int64_t len = c.end - c.start;
    if (too_long(vm, len)) {
      outcome = error_stmt(vm, 15);
      break;
    }
    Descr name = pattern_body(*c.pattern_slot)[c.node + 3];
    if (name.v() == T_EXPRESSION && expression_name(vm, name, &name) != X_VALUE) {
      outcome = X_FAIL;
      break;
    }
    Pin held(vm, name);
    const Descr value = make_variable(
        vm, Spec{*subject, Descr::make(VAR_HEADER + c.start, 0, static_cast<uint64_t>(len))});
    outcome = assign_name(vm, *held, value);
  }
  ps.capture_top = from;
  return outcome == X_VALUE ? X_VALUE : X_FAIL;
}

// The direct search for a string pattern: its first occurrence (only at 0 when anchored).
bool search_string(Vm& vm, const Descr& subject, const Descr& pattern, int64_t* head, int64_t* end) {
  const int64_t L = static_cast<int64_t>(string_length(subject));
  const int64_t n = static_cast<int64_t>(string_length(pattern));
  const uint8_t* s = reinterpret_cast<const uint8_t*>(string_text(subject));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(string_text(pattern));
  if (n == 0) {
    *head = *end = 0;
    return true;
  }
  if (n > L) return false;
  int64_t at;
  if (ukw_int(vm, K_ANCHOR) != 0) {
    if (std::memcmp(s, p, n) != 0) return false;
    at = 0;
  } else {
    const uint8_t* hit = find_text(s, L, p, n);
    if (hit == nullptr) return false;
    at = hit - s;
  }
  *head = at;
  *end = at + n;
  return true;
}

// The new subject of a replacement: the subject's head, the replacement, the subject's tail.
Exit replaced_subject(Vm& vm, const Descr* subject, int64_t head, int64_t end, const Descr* repl) {
  const int64_t L = static_cast<int64_t>(string_length(*subject));
  const uint64_t type = repl->v();
  if (type == T_PATTERN || type == T_EXPRESSION)
    return replacement_pattern(vm, subject, static_cast<uint64_t>(head), static_cast<uint64_t>(end), *repl);
  char buf[REAL_TEXT_MAX];
  const char* text = nullptr;
  uint64_t len = 0;
  if (is_string(*repl)) {
    len = string_length(*repl);
  } else if (type == T_INTEGER) {
    len = format_integer(repl->ival(), buf);
    text = buf;
  } else if (type == T_REAL) {
    len = format_real(vm, repl->a, buf);
    text = buf;
  } else {
    return error_stmt(vm, 1);
  }
  const int64_t total = head + static_cast<int64_t>(len) + (L - end);
  if (too_long(vm, total)) return error_stmt(vm, 15);
  if (len == 0 && (head == 0 || end == L)) {
    // Deleting the front or the back: what is left is one piece of the subject.
    const int64_t from = head == 0 ? end : 0;
    result(vm) = make_variable(vm, Spec{*subject, Descr::make(VAR_HEADER + from, 0, total)});
    return X_VALUE;
  }
  char* dest = reserve_string(vm, static_cast<uint64_t>(total));
  // Reserving may have moved the subject and the replacement.
  const char* s = string_text(*subject);
  if (text == nullptr) text = string_text(*repl);
  std::memcpy(dest, s, head);
  std::memcpy(dest + head, text, len);
  std::memcpy(dest + head + len, s + end, L - end);
  result(vm) = finish_string(vm, static_cast<uint64_t>(total));
  return X_VALUE;
}

Exit match_statement(Vm& vm, bool replace) {
  StackMark mark(vm);
  // The subject: a value, or for a replacement a name whose value is read (with its input
  // association).
  Descr* name = nullptr;
  if (replace) {
    if (eval_name(vm) != X_NAME) return X_FAIL;
    name = sysstack_push(vm, result(vm));
    if (deref_name(vm, *name, true) != X_VALUE) return X_FAIL;
  } else if (eval_value(vm) != X_VALUE) {
    return X_FAIL;
  }
  Descr* subject = sysstack_push(vm, result(vm));
  // The pattern, as a pattern value: a number becomes its string, an unevaluated expression a
  // deferred pattern.
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* pattern = sysstack_push(vm, result(vm));
  const uint64_t pt = pattern->v();
  if (pt == T_EXPRESSION) {
    *pattern = deferred_pattern(vm, *pattern);
  } else if (pt == T_INTEGER || pt == T_REAL) {
    *pattern = string_form(vm, *pattern);
  }
  vm.rt.pattern_matches += 1;
  const uint64_t st = subject->v();
  if (st == T_INTEGER || st == T_REAL) {
    *subject = string_form(vm, *subject);
  } else if (!is_string(*subject)) {
    return error_stmt(vm, 1);
  }
  if (!is_string(*pattern) && pattern->v() != T_PATTERN) return error_stmt(vm, 1);

  int64_t head = 0, end = 0;
  if (is_string(*pattern)) {
    if (!search_string(vm, *subject, *pattern, &head, &end)) return X_FAIL;
  } else {
    const uint64_t captures = vm.pat.capture_top;
    if (core_scan(vm, subject, pattern, &head, &end) != ScanOutcome::Success) return X_FAIL;
    if (perform_captures(vm, subject, captures) != X_VALUE) return X_FAIL;
  }
  if (!replace) {
    result(vm) = NULL_STRING;
    return X_VALUE;
  }

  // The replacement is evaluated only now, after the assignments.
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr* repl = sysstack_push(vm, result(vm));
  const int64_t L = static_cast<int64_t>(string_length(*subject));
  Descr value;
  if (head == 0 && end == L) {
    value = *repl;
  } else {
    if (replaced_subject(vm, subject, head, end, repl) != X_VALUE) return X_FAIL;
    value = result(vm);
  }
  if (assign_name(vm, *name, value) != X_VALUE) return X_FAIL;
  result(vm) = NULL_STRING;
  return X_VALUE;
}

}  // namespace

Exit op_match(Vm& vm) { return match_statement(vm, false); }
Exit op_match_replace(Vm& vm) { return match_statement(vm, true); }

}  // namespace pellux
