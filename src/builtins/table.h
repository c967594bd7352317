// The built-in functions: one entry per function descriptor, in the order of the function-name
// list.  Each has an upper-case and a lower-case name (LOAD and UNLOAD only upper case; REV
// and REVERSE are two names of one function).
#pragma once
#include "vm.h"

namespace pellux {

struct BuiltinDef {
  const char* name;
  const char* alias;  // second name of the same function, or nullptr
  int nargs;
  bool lower_case;    // also known by the lower-case spelling
  Proc proc;
  bool any_count = false;  // the descriptor accepts any argument count (APPLY)
};
// Index of ITEM in the table: element references call its private descriptor.
inline constexpr int BUILTIN_ITEM = 42;

inline constexpr int BUILTIN_COUNT = 128;
extern const BuiltinDef BUILTINS[BUILTIN_COUNT];

// Procedures of the built-in functions, named after their upper-case names.  Those not yet
// built are defined in unbuilt.cpp and raise error 5.
Exit bi_AND(Vm& vm);
Exit bi_ANY(Vm& vm);
Exit bi_APPLY(Vm& vm);
Exit bi_ARBNO(Vm& vm);
Exit bi_ARG(Vm& vm);
Exit bi_ARRAY(Vm& vm);
Exit bi_BACKSPACE(Vm& vm);
Exit bi_BREAK(Vm& vm);
Exit bi_BREAKX(Vm& vm);
Exit bi_BYTES2I(Vm& vm);
Exit bi_BYTES2IS(Vm& vm);
Exit bi_BYTES2R(Vm& vm);
Exit bi_BYTESS2R(Vm& vm);
Exit bi_BYTESX2R(Vm& vm);
Exit bi_CLEAR(Vm& vm);
Exit bi_CENTER(Vm& vm);
Exit bi_CHAR(Vm& vm);
Exit bi_CODE(Vm& vm);
Exit bi_COLLECT(Vm& vm);
Exit bi_CONVERT(Vm& vm);
Exit bi_COPY(Vm& vm);
Exit bi_DATA(Vm& vm);
Exit bi_DATATYPE(Vm& vm);
Exit bi_DATE(Vm& vm);
Exit bi_DEFINE(Vm& vm);
Exit bi_DETACH(Vm& vm);
Exit bi_DIFFER(Vm& vm);
Exit bi_DUMP(Vm& vm);
Exit bi_DUPL(Vm& vm);
Exit bi_ENDFILE(Vm& vm);
Exit bi_EQ(Vm& vm);
Exit bi_EVAL(Vm& vm);
Exit bi_FIELD(Vm& vm);
Exit bi_GE(Vm& vm);
Exit bi_GT(Vm& vm);
Exit bi_I2BYTES(Vm& vm);
Exit bi_IDENT(Vm& vm);
Exit bi_INPUT(Vm& vm);
Exit bi_INT(Vm& vm);
Exit bi_INTEGER(Vm& vm);
Exit bi_IO_FINDUNIT(Vm& vm);
Exit bi_ISNAN(Vm& vm);
Exit bi_ITEM(Vm& vm);
Exit bi_LABEL(Vm& vm);
Exit bi_LE(Vm& vm);
Exit bi_LEN(Vm& vm);
Exit bi_LEQ(Vm& vm);
Exit bi_LGE(Vm& vm);
Exit bi_LGT(Vm& vm);
Exit bi_LLE(Vm& vm);
Exit bi_LLT(Vm& vm);
Exit bi_LNE(Vm& vm);
Exit bi_LPAD(Vm& vm);
Exit bi_LOAD(Vm& vm);
Exit bi_LOCAL(Vm& vm);
Exit bi_LOG(Vm& vm);
Exit bi_LOG2(Vm& vm);
Exit bi_LOG10(Vm& vm);
Exit bi_LOB(Vm& vm);
Exit bi_LT(Vm& vm);
Exit bi_MAX(Vm& vm);
Exit bi_MIN(Vm& vm);
Exit bi_NAND(Vm& vm);
Exit bi_NE(Vm& vm);
Exit bi_NOR(Vm& vm);
Exit bi_NOT(Vm& vm);
Exit bi_NOTANY(Vm& vm);
Exit bi_OPSYN(Vm& vm);
Exit bi_OR(Vm& vm);
Exit bi_OUTPUT(Vm& vm);
Exit bi_POS(Vm& vm);
Exit bi_PROTOTYPE(Vm& vm);
Exit bi_R2BYTES(Vm& vm);
Exit bi_R2BYTESS(Vm& vm);
Exit bi_R2BYTESX(Vm& vm);
Exit bi_RAND(Vm& vm);
Exit bi_REAL(Vm& vm);
Exit bi_REMDR(Vm& vm);
Exit bi_REPLACE(Vm& vm);
Exit bi_REV(Vm& vm);
Exit bi_REWIND(Vm& vm);
Exit bi_RPAD(Vm& vm);
Exit bi_RPOS(Vm& vm);
Exit bi_RTAB(Vm& vm);
Exit bi_SEEK(Vm& vm);
Exit bi_SIZE(Vm& vm);
Exit bi_SLEEP(Vm& vm);
Exit bi_SORT(Vm& vm);
Exit bi_SPAN(Vm& vm);
Exit bi_SPANNOT(Vm& vm);
Exit bi_SQRT(Vm& vm);
Exit bi_STOPTR(Vm& vm);
Exit bi_STR(Vm& vm);
Exit bi_SUBSTR(Vm& vm);
Exit bi_SYSTEM(Vm& vm);
Exit bi_TAB(Vm& vm);
Exit bi_TABLE(Vm& vm);
Exit bi_TIME(Vm& vm);
Exit bi_TRACE(Vm& vm);
Exit bi_TRIM(Vm& vm);
Exit bi_UNLOAD(Vm& vm);
Exit bi_VALUE(Vm& vm);
Exit bi_XOR(Vm& vm);
Exit bi_BIT2H(Vm& vm);
Exit bi_BIT(Vm& vm);
Exit bi_BIT2I(Vm& vm);
Exit bi_BIT2IS(Vm& vm);
Exit bi_BIT2R(Vm& vm);
Exit bi_BIT2S(Vm& vm);
Exit bi_ENDIANB(Vm& vm);
Exit bi_ENDIANH(Vm& vm);
Exit bi_GETENV(Vm& vm);
Exit bi_HEX2B(Vm& vm);
Exit bi_HEX2I(Vm& vm);
Exit bi_HEX2IS(Vm& vm);
Exit bi_HEX2R(Vm& vm);
Exit bi_HEX2S(Vm& vm);
Exit bi_HEX(Vm& vm);
Exit bi_HEXX2R(Vm& vm);
Exit bi_HEXS2R(Vm& vm);
Exit bi_ABS(Vm& vm);
Exit bi_ATAN(Vm& vm);
Exit bi_ATAN2(Vm& vm);
Exit bi_SIN(Vm& vm);
Exit bi_COS(Vm& vm);
Exit bi_TAN(Vm& vm);
Exit bi_R2HEXS(Vm& vm);
Exit bi_R2HEXX(Vm& vm);

}  // namespace pellux
