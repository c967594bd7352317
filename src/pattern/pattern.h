// Pattern matching: what the rest of the program calls.  The constructor functions are in the
// built-in table (builtins/table.h), the pattern operators among the operators
// (interp/operators.h), and the match instructions among the interpreter's (interp/interp.h).
#pragma once
#include <cstdint>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// Concatenation when an operand is a pattern or an unevaluated expression: a null operand
// gives the other operand itself; otherwise both are taken as pattern values (error 1 for
// other types) and the result is a new pattern in result(vm).  May allocate.
Exit pattern_concat(Vm& vm, const Descr& left, const Descr& right);

// The deferred pattern of an unevaluated expression (the pattern a match statement uses for
// it).  May allocate.
Descr deferred_pattern(Vm& vm, const Descr& expression);

// The pattern that replaces part of a subject by a pattern: a literal node for the subject's
// first `head_length` characters, the replacement (a pattern or an unevaluated expression),
// and a literal node for the subject from `tail_start` on; empty parts are left out.  The
// subject is held in *subject (a pinned STRING).  Result in result(vm).  May allocate.
Exit replacement_pattern(Vm& vm, const Descr* subject, uint64_t head_length, uint64_t tail_start,
                         const Descr& replacement);

// The name an unevaluated expression gives (a NAME of either kind) in *out.  X_FAIL when the
// evaluation fails, or (error 8) when it gives anything else.  May allocate.
Exit expression_name(Vm& vm, const Descr& expression, Descr* out);

// Outcome of the core scan.
enum class ScanOutcome { Failure, Success, Abort };

// The core scan of the pattern in *pattern over the string in *subject (both on the system
// stack).  It pushes the values of deferred patterns onto the system stack above its own
// start, and leaves them there: the caller restores the stack (StackMark) once it has
// performed the captures.  On success, [*head, *end) is the matched part and the capture list
// holds the conditional assignments from vm.pat.capture_top as it was at the call up to the
// new top.  May allocate.
ScanOutcome core_scan(Vm& vm, Descr* subject, Descr* pattern, int64_t* head, int64_t* end);

}  // namespace pellux
