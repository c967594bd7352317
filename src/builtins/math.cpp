// ABS, the mathematical functions, RAND and ISNAN: not built yet, each raises error 5.
#include "builtins/table.h"
#include "interp/errors.h"

namespace pellux {

Exit bi_ABS(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_ATAN(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_ATAN2(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_SIN(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_COS(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_TAN(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_SQRT(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LOG(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LOG2(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_LOG10(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_RAND(Vm& vm) { return error_stmt(vm, 5); }
Exit bi_ISNAN(Vm& vm) { return error_stmt(vm, 5); }

}  // namespace pellux
