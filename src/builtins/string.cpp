// String functions: not built yet, each raises error 5.
#include "builtins/table.h"
#include "interp/errors.h"

namespace pellux {

Exit bi_CENTER(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_CHAR(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_DIFFER(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_DUPL(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_IDENT(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LEQ(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LGE(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LGT(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LLE(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LLT(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LNE(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LPAD(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_REPLACE(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_REV(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_RPAD(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_SIZE(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_SUBSTR(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_TRIM(Vm& vm) { return error_stmt(vm, 5); }

}  // namespace pellux
