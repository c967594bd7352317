// EVAL and CODE: source text compiled while the program runs.  CODE compiles statements into
// a CODE value that a direct goto runs; EVAL evaluates an unevaluated expression, or a string
// compiled as one expression.  The compilation itself is the translator's (compile_code,
// compile_expression); the evaluation of an expression is eval_expression's.
#include "builtins/table.h"
#include "compiler/compiler.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

Exit bi_CODE(Vm& vm) {
  Descr text;
  if (string_operand(vm, &text) != X_VALUE) return X_FAIL;
  Pin held(vm, text);
  Descr code;
  // A string that does not compile makes CODE fail, with nothing reported.
  if (!compile_code(vm, *held, &code)) return X_FAIL;
  return succeed(vm, code);
}

Exit bi_EVAL(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr x = result(vm);
  switch (x.v()) {
    case T_EXPRESSION:
      return eval_expression(vm, x, false);
    case T_INTEGER:
    case T_REAL:
      return X_VALUE;
    case T_STRING: {
      if (is_null_string(x)) return X_VALUE;
      // A number needs no compiling: the integer, or the real as any real result is made.
      Descr number;
      if (string_to_number(vm, x, &number)) return succeed(vm, number);
      Pin held(vm, x);
      Descr expression;
      if (!compile_expression(vm, *held, &expression)) return X_FAIL;
      return eval_expression(vm, expression, false);
    }
    default:
      return error_stmt(vm, 1);
  }
}

}  // namespace pellux
