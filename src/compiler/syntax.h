// The lexical syntax tables and the one scanning primitive that runs them, plus the operator
// records behind the binary and unary operator symbols.
//
// A table maps every byte to an action (continue, go to another table, stop inclusive, stop
// exclusive, error), optionally setting the scan's type value.  The compiler scans lines,
// labels, elements, numbers, literals, operators, breaks and gotos with them; DEFINE, DATA and
// LOAD use the prototype tables, ARRAY the dimension tables, OPSYN the operator tables, and the
// pattern primitives the run-time character-set table.
#pragma once
#include <cstdint>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

enum class SyntaxTable : uint8_t {
  LineType,
  LabelStart,
  LabelRest,
  Break,
  RequiredBlank,
  SkipToEnd,
  Element,
  Name,
  Integer,
  Fraction,
  ExponentSign,
  ExponentFirstDigit,  // after an exponent sign: a digit is required
  ExponentDigits,
  SingleQuoted,
  DoubleQuoted,
  BinaryOperator,
  Star,
  OperatorBlank,
  UnaryOperator,
  OperandStart,
  GotoStart,
  SuccessGoto,
  FailureGoto,
  PrototypeNameStart,
  PrototypeName,
  DimensionStart,
  DimensionDigits,
  Count
};

enum class ScanOutcome : uint8_t {
  Stopped,  // token = consumed prefix, text advanced past it
  RanOut,   // text exhausted before a stop: token = whole text, text empty
  Error,    // token = whole text, text unchanged
};

struct ScanResult {
  ScanOutcome outcome;
  uint32_t type;  // the last type value set (0 if none)
};

// Type values of the line-type table.
enum : uint32_t { LINE_STATEMENT = 1, LINE_COMMENT = 2, LINE_CONTROL = 3, LINE_CONTINUATION = 4 };
// Type values of the break table (the compiler's break type).
enum : uint32_t {
  BRK_OTHER = 1, BRK_COMMA = 2, BRK_RPAREN = 3, BRK_EQUALS = 4, BRK_COLON = 5, BRK_END = 6,
  BRK_RBRACKET = 7
};
// Type values of the element table.
enum : uint32_t {
  EL_LITERAL = 1, EL_INTEGER = 2, EL_NAME = 3, EL_PAREN = 4, EL_CALL = 5, EL_REAL = 6,
  EL_REFERENCE = 7
};
// Type values of the goto-start tables.
enum : uint32_t {
  GOTO_UNCOND = 1, GOTO_SUCCESS = 2, GOTO_FAILURE = 3, GOTO_UNCOND_DIRECT = 4,
  GOTO_SUCCESS_DIRECT = 5, GOTO_FAILURE_DIRECT = 6
};
// Type values of the prototype and dimension tables.
enum : uint32_t { PROTO_LPAREN = 1, PROTO_COMMA = 2, PROTO_RPAREN = 3 };
enum : uint32_t { DIM_COLON = 1, DIM_COMMA = 2 };

// The syntax-table scan over the front of `text`.  `token` may be null.  Never allocates.
ScanResult syntax_scan(SyntaxTable table, Spec& text, Spec* token);

// The run-time character-set table: class 0 continue, 2 error, 3 stop inclusive, any other
// value stop exclusive.  The type value is the class of the byte the scan stopped at.
ScanResult charset_scan(const uint8_t classes[256], Spec& text, Spec* token);

// --- Operator records ----------------------------------------------------------------------------
// A binary record is three descriptors in the static area: the function descriptor (procedure,
// 2 arguments), its definition descriptor, and the precedence descriptor (A = left, V = right).
// A unary record is the first two.  An undefined operation holds a copy of the undefined-
// operation descriptor (any argument count, error 5).  OPSYN stores into the first two.
enum BinaryOp : int {
  BOP_AMP, BOP_ALT, BOP_CONCAT, BOP_AT, BOP_ADD, BOP_SUB, BOP_HASH, BOP_DIV, BOP_MUL, BOP_PCT,
  BOP_POW, BOP_DOLLAR, BOP_DOT, BOP_QUEST, BOP_TILDE, BOP_COUNT
};
enum UnaryOp : int {
  UOP_PLUS, UOP_MINUS, UOP_DOT, UOP_DOLLAR, UOP_AMP, UOP_TILDE, UOP_QUEST, UOP_AT, UOP_STAR, UOP_BANG,
  UOP_CARET, UOP_BAR, UOP_HASH, UOP_PCT, UOP_SLASH, UOP_COUNT
};
inline constexpr int BINARY_RECORD_SIZE = 3;
inline constexpr int UNARY_RECORD_SIZE = 2;

// Builds the records in the static area (once per Vm; called by compiler_prepare).
void build_operator_records(Vm& vm);
Descr* binary_record(Vm& vm, int op);
Descr* unary_record(Vm& vm, int op);
// The record a successful operator-table scan's type value refers to.
inline Descr* binary_record_of_type(Vm& vm, uint32_t type) { return binary_record(vm, int(type) - 1); }
inline Descr* unary_record_of_type(Vm& vm, uint32_t type) { return unary_record(vm, int(type) - 1); }
// The record of an operator symbol ("**" or one character; nullptr if none).  The binary
// concatenation record has no symbol.
Descr* find_binary_operator(Vm& vm, const char* sym, uint64_t len);
Descr* find_unary_operator(Vm& vm, const char* sym, uint64_t len);
inline int64_t left_precedence(const Descr* binary_rec) { return int64_t(binary_rec[2].a); }
inline int64_t right_precedence(const Descr* binary_rec) { return int64_t(binary_rec[2].v()); }

}  // namespace pellux
