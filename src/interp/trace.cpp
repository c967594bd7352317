// Tracing: TRACE and STOPTR, the association lists of the five trace kinds, the trace
// procedure that runs a trace code, the default printers and the function trace of &FTRACE.
//
// A trace association is a pair (traced name, trace code) in the list of its kind.  The trace
// code is a small CODE block holding one call of the trace function, through the function's
// cell (so a later DEFINE of that name is what runs), with two literal operands: the traced
// name and the tag given to TRACE.  STOPTR empties a pair in place and TRACE fills empty pairs
// first, so the lists do not grow with repeated TRACE/STOPTR.
#include <cstring>

#include "builtins/table.h"
#include "interp/associations.h"
#include "interp/errors.h"
#include "interp/functions.h"
#include "interp/interp.h"
#include "interp/trace_points.h"
#include "io/io.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

enum Kind { K_VALUE, K_LABEL, K_CALL, K_RETURN, K_KEYWORD, KIND_COUNT };

inline SysSlot list_slot(int kind) { return static_cast<SysSlot>(SD_TRACE_VALUE + kind); }

// --- Trace lines ---------------------------------------------------------------------------------

// A trace line reaching this length is replaced by a fixed message.
constexpr uint64_t TRACE_LINE_LIMIT = 15088;

// One trace line, assembled in a buffer of its own and written to the report unit.
class TraceLine {
 public:
  explicit TraceLine(Vm& vm) {
    add("    STATEMENT ");
    add_int(static_cast<int64_t>(pkw(vm, P_STNO).a));
    add(": ");
  }
  void add(const char* s, uint64_t len) {
    if (over_) return;
    if (n_ + len >= TRACE_LINE_LIMIT) {
      over_ = true;
      return;
    }
    std::memcpy(buf_ + n_, s, len);
    n_ += len;
  }
  void add(const char* s) { add(s, std::strlen(s)); }
  void add_int(int64_t v) {
    char t[24];
    add(t, format_integer(v, t));
  }
  void add_text(const Descr& s) { add(string_text(s), string_length(s)); }
  // A value: a string between apostrophes (as it is), an integer in decimal, anything else
  // by its data type name.  May allocate (the type name), which this buffer does not mind; the
  // value is taken as a copy, since it may come from a block that allocating moves.
  void add_value(Vm& vm, Descr v) {
    if (is_string(v)) {
      add("'");
      add_text(v);
      add("'");
    } else if (is_integer(v)) {
      add_int(v.ival());
    } else {
      add_text(datatype_name(vm, v));
    }
  }
  void write(Vm& vm) {
    add(",TIME = ");
    add_int(static_cast<int64_t>(read_timer() - vm.rt.exec_start));
    if (over_) {
      static const char too_long[] = "***Print request too long***";
      write_record(vm, 6, too_long, sizeof too_long - 1);
    } else {
      write_record(vm, 6, buf_, n_);
    }
  }

 private:
  char buf_[TRACE_LINE_LIMIT];
  uint64_t n_ = 0;
  bool over_ = false;
};

// "LEVEL n CALL OF F(a,b)": the parameters' values as the call bound them.
void write_call_line(Vm& vm, const Descr& fname) {
  TraceLine line(vm);
  line.add("LEVEL ");
  line.add_int(static_cast<int64_t>(pkw(vm, P_FNCLEVEL).a));
  line.add(" CALL OF ");
  line.add_text(fname);
  line.add("(");
  StackMark mark(vm);
  sysstack_push(vm, fname);
  const Descr* cell = function_cell(vm, fname, false);
  if (is_defined_function(cell)) {
    const uint64_t nparams = cell->v();
    for (uint64_t i = 0; i < nparams; ++i) {
      // Read afresh each time: showing a value may allocate and move the definition.
      const Descr* def = cell[1].ptr();
      if (i > 0) line.add(",");
      line.add_value(vm, var_value(def[DEF_FIRST_PARAM + i].ptr()));
    }
  }
  line.add(")");
  line.write(vm);
}

// "LEVEL n RETURN OF F = value" (no value for FRETURN).
void write_return_line(Vm& vm, const Descr& fname) {
  TraceLine line(vm);
  line.add("LEVEL ");
  line.add_int(static_cast<int64_t>(pkw(vm, P_FNCLEVEL).a));
  line.add(" ");
  const Descr how = pkw(vm, P_RTNTYPE);
  line.add_text(how);
  line.add(" OF ");
  line.add_text(fname);
  if (how.a != sys(vm, SD_STR_FRETURN).a) {
    line.add(" = ");
    line.add_value(vm, var_value(fname.ptr()));
  }
  line.write(vm);
}

// --- Default printers ------------------------------------------------------------------------------

// The lines of the default printers other than the call and return lines.
void write_value_line(Vm& vm, const Descr& name) {
  TraceLine line(vm);
  line.add_text(name);
  line.add(" = ");
  line.add_value(vm, var_value(name.ptr()));
  line.write(vm);
}

void write_label_line(Vm& vm, const Descr& name) {
  TraceLine line(vm);
  line.add("TRANSFER TO ");
  line.add_text(name);
  line.write(vm);
}

void write_keyword_line(Vm& vm, const Descr& name) {
  TraceLine line(vm);
  line.add("&");
  line.add_text(name);
  line.add(" = ");
  const Descr* cell = find_protected_keyword(vm, name);
  if (cell == nullptr) cell = find_unprotected_keyword(vm, name);
  line.add_value(vm, cell != nullptr ? *cell : NULL_STRING);
  line.write(vm);
}

// A default printer: takes its two operands, the traced name (a STRING) and the tag, which is
// not shown, and writes its kind's line.
template <void (*WRITE)(Vm&, const Descr&)>
Exit printer(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Pin name(vm, result(vm));
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (!is_string(*name) || name->a == 0) return X_FAIL;
  WRITE(vm, *name);
  return succeed(vm, NULL_STRING);
}

// Their function descriptors (entry, two operands), outside the work space like every
// built-in's.
const Descr PRINTERS[KIND_COUNT] = {
    Descr::make(reinterpret_cast<uint64_t>(&printer<write_value_line>), 0, 2),
    Descr::make(reinterpret_cast<uint64_t>(&printer<write_label_line>), 0, 2),
    Descr::make(reinterpret_cast<uint64_t>(&printer<write_call_line>), 0, 2),
    Descr::make(reinterpret_cast<uint64_t>(&printer<write_return_line>), 0, 2),
    Descr::make(reinterpret_cast<uint64_t>(&printer<write_keyword_line>), 0, 2),
};

// --- The trace procedure -------------------------------------------------------------------------

// Runs a trace code.  &TRACE counts down for good; everything else the trace function could
// disturb is saved and put back, and nothing is traced while it runs.
void run_trace_code(Vm& vm, const Descr& code) {
  ukw(vm, K_TRACE) = Descr::integer(ukw_int(vm, K_TRACE) - 1);
  Pin held_code(vm, code);
  Pin saved_base(vm, sys(vm, SD_CODE_BASE));
  Pin saved_result(vm, result(vm));
  Pin saved_rtntype(vm, pkw(vm, P_RTNTYPE));
  const Descr lastno = pkw(vm, P_LASTNO), stno = pkw(vm, P_STNO);
  const Descr trace = ukw(vm, K_TRACE), ftrace = ukw(vm, K_FTRACE);
  const uint64_t fail_offset = vm.in.fail_offset, code_offset = vm.in.code_offset;
  ukw(vm, K_TRACE) = Descr::integer(0);
  ukw(vm, K_FTRACE) = Descr::integer(0);

  sys(vm, SD_CODE_BASE) = Descr::make(held_code->a, FLAG_POINTER, T_CODE);
  vm.in.code_offset = 0;
  (void)eval_value(vm);  // success or failure: the traced operation goes on either way

  sys(vm, SD_CODE_BASE) = *saved_base;
  vm.in.code_offset = code_offset;
  vm.in.fail_offset = fail_offset;
  pkw(vm, P_LASTNO) = lastno;
  pkw(vm, P_STNO) = stno;
  ukw(vm, K_TRACE) = trace;
  ukw(vm, K_FTRACE) = ftrace;
  pkw(vm, P_RTNTYPE) = *saved_rtntype;
  result(vm) = *saved_result;
}

// The natural variable a keyword trace point is about, or the null descriptor when no such
// name exists (then nothing can be traced under it).
Descr keyword_variable(Vm& vm, TracePoint point) {
  switch (point) {
    case TracePoint::StCount: return lookup_variable(vm, "STCOUNT", 7);
    case TracePoint::StFCount: return lookup_variable(vm, "STFCOUNT", 8);
    case TracePoint::ErrType: return lookup_variable(vm, "ERRTYPE", 7);
    default: return lookup_variable(vm, "FNCLEVEL", 8);
  }
}

}  // namespace

void trace_point(Vm& vm, TracePoint point, const Descr& subject) {
  int kind;
  Descr key;
  switch (point) {
    case TracePoint::Value: {
      if (subject.v() != T_NAME || subject.a == 0 || !subject.ptr()->has(FLAG_STRING)) return;
      key = Descr::pointer(subject.ptr(), T_STRING);
      kind = K_VALUE;
      break;
    }
    case TracePoint::Label: key = subject; kind = K_LABEL; break;
    case TracePoint::Call: key = subject; kind = K_CALL; break;
    case TracePoint::Return: key = subject; kind = K_RETURN; break;
    default:
      key = keyword_variable(vm, point);
      kind = K_KEYWORD;
      break;
  }
  if (key.a == 0) return;
  const SysSlot slot = list_slot(kind);
  if (!assoc_candidate(vm, vm.in.trace_filters[kind], slot, key.ptr())) return;
  const Descr* at = locate_pair(pair_list(vm, slot), key);
  if (at == nullptr || at[2].a == 0) return;
  run_trace_code(vm, at[2]);
}

void function_trace(Vm& vm, bool returning, const Descr& function_name) {
  ukw(vm, K_FTRACE) = Descr::integer(ukw_int(vm, K_FTRACE) - 1);
  if (returning) {
    write_return_line(vm, function_name);
  } else {
    write_call_line(vm, function_name);
  }
}

// --- TRACE and STOPTR ------------------------------------------------------------------------------

namespace {

// The kinds a kind name stands for (FUNCTION: CALL and RETURN); false for an unknown name.
bool kinds_of(const Descr& text, int kinds[2], int* count) {
  static const char* const NAMES[KIND_COUNT] = {"VALUE", "LABEL", "CALL", "RETURN", "KEYWORD"};
  const char* s = string_text(text);
  const uint64_t n = string_length(text);
  if (n == 0) {
    kinds[0] = K_VALUE;
    *count = 1;
    return true;
  }
  if (n == 8 && std::memcmp(s, "FUNCTION", 8) == 0) {
    kinds[0] = K_CALL;
    kinds[1] = K_RETURN;
    *count = 2;
    return true;
  }
  for (int k = 0; k < KIND_COUNT; ++k) {
    if (std::strlen(NAMES[k]) == n && std::memcmp(s, NAMES[k], n) == 0) {
      kinds[0] = k;
      *count = 1;
      return true;
    }
  }
  return false;
}

// The pair list of a kind, made on first use.  May allocate.
Descr* kind_list(Vm& vm, int kind) {
  const SysSlot slot = list_slot(kind);
  if (sys(vm, slot).a == 0) sys(vm, slot) = allocate_block(vm, 32 * 4, T_PAIRLIST);
  return pair_list(vm, slot);
}

}  // namespace

Exit bi_TRACE(Vm& vm) {
  StackMark mark(vm);
  Descr d;
  if (variable_operand(vm, &d) != X_VALUE) return X_FAIL;
  sysstack_push(vm, d);
  if (string_operand(vm, &d) != X_VALUE) return X_FAIL;
  sysstack_push(vm, d);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  sysstack_push(vm, result(vm));
  if (string_operand(vm, &d) != X_VALUE) return X_FAIL;
  sysstack_push(vm, d);
  // Slots: 0 name, 1 kind, 2 tag, 3 function name.
  int kinds[2], count;
  if (!kinds_of(mark.base()[1], kinds, &count)) return error_stmt(vm, 10);

  for (int i = 0; i < count; ++i) {
    const int kind = kinds[i];
    const Descr* fd = &PRINTERS[kind];
    if (!is_null_string(mark.base()[3])) fd = function_cell(vm, mark.base()[3], true);
    Descr code = allocate_block(vm, 16 * 5, T_CODE);
    Descr* c = code.ptr();
    const Descr* literal = op_descriptor(vm, OP_LITERAL);
    c[1] = instruction(fd, 2);
    c[2] = instruction(literal, 1);
    c[3] = mark.base()[0];
    c[4] = instruction(literal, 1);
    c[5] = mark.base()[2];
    Pin held(vm, Descr::pointer(c, T_CODE));
    Descr* list = kind_list(vm, kind);
    if (Descr* at = locate_pair(list, mark.base()[0])) {
      at[2] = *held;
    } else {
      add_pair(vm, list_slot(kind), mark.base()[0], *held);
    }
    // A pair may have gone into a place the kind's filter does not watch: rebuild it.
    vm.in.trace_filters[kind].list = 1;
  }
  return succeed(vm, NULL_STRING);
}

Exit bi_STOPTR(Vm& vm) {
  StackMark mark(vm);
  Descr d;
  if (variable_operand(vm, &d) != X_VALUE) return X_FAIL;
  sysstack_push(vm, d);
  if (string_operand(vm, &d) != X_VALUE) return X_FAIL;
  int kinds[2], count;
  if (!kinds_of(d, kinds, &count)) return error_stmt(vm, 10);
  bool stopped = false;
  for (int i = 0; i < count; ++i) {
    const Descr& list = sys(vm, list_slot(kinds[i]));
    if (list.a == 0) continue;
    if (Descr* at = locate_pair(list.ptr(), mark.base()[0])) {
      at[1] = ZERO_DESCR;
      at[2] = ZERO_DESCR;
      stopped = true;
    }
  }
  return stopped ? succeed(vm, NULL_STRING) : X_FAIL;
}

}  // namespace pellux
