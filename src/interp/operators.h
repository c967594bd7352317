// Procedures behind the operator records of the compiler.  Binary ones take two operands, unary
// ones one.  The pattern operators (| . $ @ *) are defined with the pattern constructors.
#pragma once
#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Binary operators.
Exit op_alternation(Vm& vm);          // |
Exit op_concat(Vm& vm);               // blank
Exit op_add(Vm& vm);                  // +
Exit op_sub(Vm& vm);                  // -
Exit op_div(Vm& vm);                  // /
Exit op_mul(Vm& vm);                  // *
Exit op_pow(Vm& vm);                  // ** ! ^
Exit op_immediate_assign(Vm& vm);     // $
Exit op_conditional_assign(Vm& vm);   // .

// Unary operators.
Exit op_plus(Vm& vm);                 // +
Exit op_minus(Vm& vm);                // -
Exit op_name(Vm& vm);                 // .
Exit op_indirect(Vm& vm);             // $
Exit op_keyword(Vm& vm);              // &
Exit op_negate(Vm& vm);               // ~
Exit op_interrogate(Vm& vm);          // ?
Exit op_cursor(Vm& vm);               // @
Exit op_defer(Vm& vm);                // *

// Concatenation of two evaluated operands (result in result(vm)); used by op_concat for every
// step that involves a pattern or an unevaluated expression.
Exit concat_pair(Vm& vm, const Descr& left, const Descr& right);

// The undefined operation: error 5 whatever the argument count.
Exit op_undefined(Vm& vm);

}  // namespace pellux
