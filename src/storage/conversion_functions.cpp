// The value-conversion built-ins: DATATYPE, INTEGER, INT, REAL, STR and CONVERT.  Each
// evaluates its arguments from the object code, leaves its result in the result descriptor and
// returns X_VALUE, or X_FAIL when an evaluation fails or the value cannot be converted.
#include "builtins/table.h"
#include "compiler/compiler.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/aggregates.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// A string compiled as statements or as one expression; a syntax error fails the conversion.
// The text is passed from its pin, which regeneration keeps up to date during compilation.
Exit convert_string_to_code(Vm& vm, const Pin& text) {
  Descr code;
  return compile_code(vm, *text, &code) ? succeed(vm, code) : X_FAIL;
}
Exit convert_string_to_expression(Vm& vm, const Pin& text) {
  Descr expression;
  return compile_expression(vm, *text, &expression) ? succeed(vm, expression) : X_FAIL;
}

// Both NAME codes (variable and keyword names) are the one type NAME.
inline uint64_t value_type(uint64_t code) { return code == T_KNAME ? T_NAME : code; }

}  // namespace

Exit bi_DATATYPE(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  return succeed(vm, datatype_name(vm, result(vm)));
}

Exit bi_INTEGER(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  const Descr x = result(vm);
  bool ok = is_integer(x);
  if (is_string(x)) {
    int64_t ignored;
    const uint64_t len = string_length(x);
    ok = len == 0 || scan_integer(string_text(x), len, &ignored);
  }
  return ok ? succeed(vm, NULL_STRING) : X_FAIL;
}

Exit bi_INT(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  const Descr x = result(vm);
  int64_t i;
  if (is_integer(x)) return X_VALUE;
  if (is_real(x)) return real_to_integer(x.a, &i) ? succeed(vm, Descr::integer(i)) : X_FAIL;
  if (is_string(x)) return string_to_integer(vm, x, &i) ? succeed(vm, Descr::integer(i)) : X_FAIL;
  return X_FAIL;
}

Exit bi_REAL(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  const Descr x = result(vm);
  uint64_t bits;
  if (is_real(x)) return X_VALUE;
  if (is_integer(x)) return succeed(vm, Descr::real(static_cast<double>(x.ival())));
  if (is_string(x)) return string_to_real(vm, x, &bits) ? succeed(vm, Descr::real_bits(bits)) : X_FAIL;
  return X_FAIL;
}

Exit bi_STR(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  const Descr x = result(vm);
  return succeed(vm, string_form(vm, x));
}

Exit bi_CONVERT(Vm& vm) {
  Exit e = eval_value(vm);
  if (e != X_VALUE) return e;
  Pin x(vm, result(vm));
  e = eval_value(vm);
  if (e != X_VALUE) return e;
  Descr name;
  e = string_argument(vm, result(vm), &name);
  if (e != X_VALUE) return e;
  // Type names are matched exactly, as listed (upper case, or as given to DATA).
  const Descr* pair = locate_pair_second(sys(vm, SD_DATATYPES).ptr(), name);
  if (pair == nullptr) return error_stmt(vm, 1);
  const uint64_t to = pair[1].a;
  const uint64_t from = x->v();

  int64_t i;
  uint64_t bits;
  if (from == T_INTEGER && to == T_STRING) return succeed(vm, int_to_string(vm, x->ival()));
  if (from == T_STRING && to == T_CODE) return convert_string_to_code(vm, x);
  if (from == T_STRING && to == T_EXPRESSION) return convert_string_to_expression(vm, x);
  if (from == T_STRING && to == T_REAL)
    return string_to_real(vm, *x, &bits) ? succeed(vm, Descr::real_bits(bits)) : X_FAIL;
  if (from == T_REAL && to == T_INTEGER)
    return real_to_integer(x->a, &i) ? succeed(vm, Descr::integer(i)) : X_FAIL;
  if (from == T_INTEGER && to == T_REAL)
    return succeed(vm, Descr::real(static_cast<double>(x->ival())));
  if (from == T_STRING && to == T_INTEGER)
    return string_to_integer(vm, *x, &i) ? succeed(vm, Descr::integer(i)) : X_FAIL;
  if (from == T_ARRAY && to == T_TABLE) return convert_array_to_table(vm, &*x);
  if (from == T_TABLE && to == T_ARRAY) return convert_table_to_array(vm, &*x);
  if (value_type(from) == value_type(to)) return succeed(vm, *x);
  if (to == T_STRING) {
    const Descr value = *x;
    return succeed(vm, string_form(vm, value));
  }
  return X_FAIL;
}

}  // namespace pellux
