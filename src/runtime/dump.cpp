// The dump of variables: the walk over the variable table shared by DUMP(n) and the terminal
// dump, and the keyword listing of the terminal dump.
#include "runtime/dump.h"

#include <cstring>
#include <vector>

#include "builtins/table.h"
#include "interp/interp.h"
#include "io/io.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// One dump line: name, " = ", and the value text between apostrophes.
char g_line[DUMP_LINE_LIMIT + 16];
char g_number[REAL_TEXT_MAX];

void write_to_output(void* context, const char* text, uint64_t len) {
  // A failed write does not stop the dump.
  write_record(*static_cast<Vm*>(context), 6, text, len);
}

const char* const UNPROTECTED_NAMES[K_UNPROTECTED_COUNT] = {
    "TRIM", "TRACE", "STLIMIT", "FLTDEC", "FLTSIG", "STAT", "OUTPUT", "MAXLNGTH", "IOERR",
    "INPUT", "FULLSCAN", "FTRACE", "ERRLIMIT", "DUMP", "CODE", "ANCHOR", "ABEND"};

}  // namespace

void dump_entry(const char* name, uint64_t name_len, const char* text, uint64_t text_len,
                bool is_string, DumpSink sink, void* context) {
  if (name_len >= DUMP_LINE_LIMIT || name_len + text_len > DUMP_LINE_LIMIT) {
    if (name_len >= DUMP_LINE_LIMIT) {
      sink(context, name, name_len);
      sink(context, " = ", 3);
    } else {
      std::memcpy(g_line, name, name_len);
      std::memcpy(g_line + name_len, " = ", 3);
      sink(context, g_line, name_len + 3);
    }
    if (is_string) {
      sink(context, "'", 1);
      sink(context, text, text_len);
      sink(context, "'", 1);
    } else {
      sink(context, text, text_len);
    }
    return;
  }
  uint64_t n = 0;
  std::memcpy(g_line, name, name_len);
  n += name_len;
  std::memcpy(g_line + n, " = ", 3);
  n += 3;
  if (is_string) g_line[n++] = '\'';
  std::memcpy(g_line + n, text, text_len);
  n += text_len;
  if (is_string) g_line[n++] = '\'';
  sink(context, g_line, n);
}

// One variable's line.  Returns the variable's address afterwards: making the string form of a
// value that is not a string or a number may regenerate storage, which moves it.
Descr* dump_variable(Vm& vm, Descr* var) {
  Descr value = var_value(var);
  if (value.v() == T_STRING) {
    dump_entry(var_text(var), var_length(var), string_text(value), string_length(value), true,
               write_to_output, &vm);
  } else if (value.v() == T_INTEGER) {
    uint64_t n = format_integer(value.ival(), g_number);
    dump_entry(var_text(var), var_length(var), g_number, n, false, write_to_output, &vm);
  } else if (value.v() == T_REAL) {
    // The string form of a real is its formatted text, made here without interning it.
    uint64_t n = format_real(vm, value.a, g_number);
    dump_entry(var_text(var), var_length(var), g_number, n, false, write_to_output, &vm);
  } else {
    Pin here(vm, Descr::pointer(var, T_STRING));
    Pin held(vm, value);
    Descr form = string_form(vm, *held);
    var = here->ptr();
    dump_entry(var_text(var), var_length(var), string_text(form), string_length(form), false,
               write_to_output, &vm);
  }
  return var;
}

inline uint64_t regenerations(const Vm& vm) { return vm.st.regen_count + vm.st.stress_regen_count; }

void dump_variables(Vm& vm) {
  if (vm.st.chains_sorted) {
    // The terminal dump's list in text order (its links follow the variables when they move).
    for (Descr* var = vm.st.bins[0].ptr(); var != nullptr; var = var_link(var).ptr()) {
      var = dump_variable(vm, var);
    }
    return;
  }
  std::vector<Descr*> order;
  variables_in_dump_order(vm, false, &order);
  for (size_t i = 0; i < order.size(); ++i) {
    const uint64_t before = regenerations(vm);
    dump_variable(vm, order[i]);
    // A regeneration moved the variables but kept every one with a value and their order, and
    // new variables have none: the same list at the new addresses.
    if (regenerations(vm) != before) variables_in_dump_order(vm, false, &order);
  }
}

void terminal_dump(Vm& vm) {
  sort_variables(vm);
  write_report(vm, "\\^M\\^JDump of variables at termination:");
  write_report(vm, "Natural variables:");
  dump_variables(vm);
  write_report(vm, "Unprotected keywords:");
  for (int k = K_UNPROTECTED_COUNT - 1; k >= 0; --k) {
    const Descr& name = vm.st.ukw[2 * k + 1];
    const char* text = UNPROTECTED_NAMES[k];
    uint64_t text_len = std::strlen(text);
    if (name.v() == T_STRING && name.a != 0) {
      text = string_text(name);
      text_len = string_length(name);
    }
    uint64_t n = 0;
    g_line[n++] = '&';
    std::memcpy(g_line + n, text, text_len);
    n += text_len;
    std::memcpy(g_line + n, " = ", 3);
    n += 3;
    n += format_integer(static_cast<int64_t>(vm.st.ukw[2 * k].a), g_line + n);
    write_record(vm, 6, g_line, n);
  }
}

// DUMP(n): lists the variables unless n is 0; returns the null string.
Exit bi_DUMP(Vm& vm) {
  if (eval_value(vm) == X_FAIL) return X_FAIL;
  int64_t n = 0;
  if (integer_argument(vm, result(vm), &n) != X_VALUE) return X_FAIL;
  if (n != 0) dump_variables(vm);
  result(vm) = NULL_STRING;
  return X_VALUE;
}

}  // namespace pellux
