// The syntax tables (built at compile time as 256-entry action arrays), the scanning primitive
// and the operator records.
#include "compiler/syntax.h"

#include <array>
#include <cstring>

#include "interp/interp.h"
#include "interp/operators.h"
#include "storage/storage.h"

namespace pellux {
namespace {

enum Action : uint8_t { ACT_ERROR, ACT_CONTINUE, ACT_GOTO, ACT_STOP_INCLUSIVE, ACT_STOP_EXCLUSIVE };

struct Entry {
  uint8_t action = ACT_ERROR;
  uint8_t next = 0;   // table for ACT_GOTO
  uint8_t sets = 0;   // 1: the entry sets the type value
  uint8_t type = 0;
};

constexpr int TABLE_COUNT = int(SyntaxTable::Count);
using Row = std::array<Entry, 256>;
using Tables = std::array<Row, TABLE_COUNT>;

// Character classes.
constexpr bool is_blank(int c) { return c == ' ' || c == '\t'; }
constexpr bool is_digit(int c) { return c >= '0' && c <= '9'; }
constexpr bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool is_alnum(int c) { return is_digit(c) || is_letter(c); }
constexpr bool is_name_punct(int c) { return c == '.' || c == '_'; }
constexpr bool is_terminator(int c) {
  return is_blank(c) || c == ';' || c == ')' || c == '>' || c == ',' || c == ']';
}
constexpr bool is_left_bracket(int c) { return c == '<' || c == '['; }
constexpr bool is_right_bracket(int c) { return c == '>' || c == ']'; }

// Binary record index of an operator character ('*' is multiplication here).
constexpr int binary_index(int c) {
  switch (c) {
    case '&': return BOP_AMP;
    case '|': return BOP_ALT;
    case '@': return BOP_AT;
    case '+': return BOP_ADD;
    case '-': return BOP_SUB;
    case '#': return BOP_HASH;
    case '/': return BOP_DIV;
    case '*': return BOP_MUL;
    case '%': return BOP_PCT;
    case '!': case '^': return BOP_POW;
    case '$': return BOP_DOLLAR;
    case '.': return BOP_DOT;
    case '?': return BOP_QUEST;
    case '~': return BOP_TILDE;
    default: return -1;
  }
}

constexpr int unary_index(int c) {
  switch (c) {
    case '+': return UOP_PLUS;
    case '-': return UOP_MINUS;
    case '.': return UOP_DOT;
    case '$': return UOP_DOLLAR;
    case '&': return UOP_AMP;
    case '~': return UOP_TILDE;
    case '?': return UOP_QUEST;
    case '@': return UOP_AT;
    case '*': return UOP_STAR;
    case '!': return UOP_BANG;
    case '^': return UOP_CARET;
    case '|': return UOP_BAR;
    case '#': return UOP_HASH;
    case '%': return UOP_PCT;
    case '/': return UOP_SLASH;
    default: return -1;
  }
}

constexpr Entry cont() { return Entry{ACT_CONTINUE, 0, 0, 0}; }
constexpr Entry go(SyntaxTable t) { return Entry{ACT_GOTO, uint8_t(t), 0, 0}; }
constexpr Entry go_set(SyntaxTable t, uint32_t type) { return Entry{ACT_GOTO, uint8_t(t), 1, uint8_t(type)}; }
constexpr Entry incl() { return Entry{ACT_STOP_INCLUSIVE, 0, 0, 0}; }
constexpr Entry incl_set(uint32_t type) { return Entry{ACT_STOP_INCLUSIVE, 0, 1, uint8_t(type)}; }
constexpr Entry excl() { return Entry{ACT_STOP_EXCLUSIVE, 0, 0, 0}; }
constexpr Entry excl_set(uint32_t type) { return Entry{ACT_STOP_EXCLUSIVE, 0, 1, uint8_t(type)}; }

constexpr Tables build_tables() {
  Tables t{};
  auto row = [&t](SyntaxTable s) -> Row& { return t[int(s)]; };
  using S = SyntaxTable;

  for (int c = 0; c < 256; ++c) {
    // Line type: column 1 of a line.
    if (c == '*' || c == '#' || c == '/') row(S::LineType)[c] = excl_set(LINE_COMMENT);
    else if (c == '-') row(S::LineType)[c] = excl_set(LINE_CONTROL);
    else if (c == '+' || c == '.') row(S::LineType)[c] = excl_set(LINE_CONTINUATION);
    else row(S::LineType)[c] = excl_set(LINE_STATEMENT);

    // Labels: an alphanumeric character, then anything up to a blank or ';'.
    if (is_alnum(c)) row(S::LabelStart)[c] = go(S::LabelRest);
    else if (is_blank(c) || c == ';') row(S::LabelStart)[c] = excl();
    row(S::LabelRest)[c] = (is_blank(c) || c == ';') ? excl() : cont();

    // Break: skips blanks and classifies what follows.
    Entry brk = excl_set(BRK_OTHER);
    if (is_blank(c)) brk = cont();
    else if (c == '=') brk = incl_set(BRK_EQUALS);
    else if (c == ')') brk = incl_set(BRK_RPAREN);
    else if (is_right_bracket(c)) brk = incl_set(BRK_RBRACKET);
    else if (c == ',') brk = incl_set(BRK_COMMA);
    else if (c == ':') brk = incl_set(BRK_COLON);
    else if (c == ';') brk = incl_set(BRK_END);
    row(S::Break)[c] = brk;

    if (is_blank(c)) row(S::RequiredBlank)[c] = go(S::Break);
    else if (c == ';') row(S::RequiredBlank)[c] = incl_set(BRK_END);

    row(S::SkipToEnd)[c] = c == ';' ? incl() : cont();

    // Elements.
    if (is_digit(c)) row(S::Element)[c] = go_set(S::Integer, EL_INTEGER);
    else if (is_letter(c)) row(S::Element)[c] = go_set(S::Name, EL_NAME);
    else if (c == '\'') row(S::Element)[c] = go_set(S::SingleQuoted, EL_LITERAL);
    else if (c == '"') row(S::Element)[c] = go_set(S::DoubleQuoted, EL_LITERAL);
    else if (c == '(') row(S::Element)[c] = incl_set(EL_PAREN);

    if (is_alnum(c) || is_name_punct(c)) row(S::Name)[c] = cont();
    else if (is_terminator(c)) row(S::Name)[c] = excl_set(EL_NAME);
    else if (c == '(') row(S::Name)[c] = incl_set(EL_CALL);
    else if (is_left_bracket(c)) row(S::Name)[c] = incl_set(EL_REFERENCE);

    if (is_digit(c)) row(S::Integer)[c] = cont();
    else if (is_terminator(c)) row(S::Integer)[c] = excl_set(EL_INTEGER);
    else if (c == '.') row(S::Integer)[c] = go_set(S::Fraction, EL_REAL);
    else if (c == 'e' || c == 'E') row(S::Integer)[c] = go_set(S::ExponentSign, EL_REAL);

    if (is_digit(c)) row(S::Fraction)[c] = cont();
    else if (c == 'e' || c == 'E') row(S::Fraction)[c] = go(S::ExponentSign);
    else if (is_terminator(c)) row(S::Fraction)[c] = excl();

    if (c == '+' || c == '-') row(S::ExponentSign)[c] = go(S::ExponentFirstDigit);
    else if (is_digit(c)) row(S::ExponentSign)[c] = go(S::ExponentDigits);
    if (is_digit(c)) row(S::ExponentFirstDigit)[c] = go(S::ExponentDigits);

    if (is_digit(c)) row(S::ExponentDigits)[c] = cont();
    else if (is_terminator(c)) row(S::ExponentDigits)[c] = excl();

    row(S::SingleQuoted)[c] = c == '\'' ? incl() : cont();
    row(S::DoubleQuoted)[c] = c == '"' ? incl() : cont();

    // Operators.  Binary ones must be followed by a blank; unary ones must not.
    int bi = binary_index(c);
    if (c == '*') row(S::BinaryOperator)[c] = go_set(S::Star, BOP_MUL + 1);
    else if (bi >= 0) row(S::BinaryOperator)[c] = go_set(S::OperatorBlank, uint32_t(bi) + 1);
    if (is_blank(c)) row(S::Star)[c] = incl_set(BOP_MUL + 1);
    else if (c == '*') row(S::Star)[c] = go_set(S::OperatorBlank, BOP_POW + 1);
    if (is_blank(c)) row(S::OperatorBlank)[c] = incl();

    int ui = unary_index(c);
    if (ui >= 0) row(S::UnaryOperator)[c] = go_set(S::OperandStart, uint32_t(ui) + 1);
    row(S::OperandStart)[c] = is_terminator(c) ? Entry{} : excl();

    // Gotos.
    if (c == 'S' || c == 's') row(S::GotoStart)[c] = go(S::SuccessGoto);
    else if (c == 'F' || c == 'f') row(S::GotoStart)[c] = go(S::FailureGoto);
    else if (c == '(') row(S::GotoStart)[c] = incl_set(GOTO_UNCOND);
    else if (is_left_bracket(c)) row(S::GotoStart)[c] = incl_set(GOTO_UNCOND_DIRECT);
    if (c == '(') row(S::SuccessGoto)[c] = incl_set(GOTO_SUCCESS);
    else if (is_left_bracket(c)) row(S::SuccessGoto)[c] = incl_set(GOTO_SUCCESS_DIRECT);
    if (c == '(') row(S::FailureGoto)[c] = incl_set(GOTO_FAILURE);
    else if (is_left_bracket(c)) row(S::FailureGoto)[c] = incl_set(GOTO_FAILURE_DIRECT);

    // Prototypes (DEFINE, DATA, LOAD).
    if (is_letter(c)) row(S::PrototypeNameStart)[c] = go(S::PrototypeName);
    else if (c == ',') row(S::PrototypeNameStart)[c] = excl_set(PROTO_COMMA);
    else if (c == ')') row(S::PrototypeNameStart)[c] = excl_set(PROTO_RPAREN);
    if (is_alnum(c) || is_name_punct(c)) row(S::PrototypeName)[c] = cont();
    else if (c == '(') row(S::PrototypeName)[c] = excl_set(PROTO_LPAREN);
    else if (c == ',') row(S::PrototypeName)[c] = excl_set(PROTO_COMMA);
    else if (c == ')') row(S::PrototypeName)[c] = excl_set(PROTO_RPAREN);

    // Array dimensions (ARRAY).
    if (is_digit(c) || c == '+' || c == '-') row(S::DimensionStart)[c] = go(S::DimensionDigits);
    else if (c == ',') row(S::DimensionStart)[c] = excl_set(DIM_COMMA);
    else if (c == ':') row(S::DimensionStart)[c] = excl_set(DIM_COLON);
    if (is_digit(c)) row(S::DimensionDigits)[c] = cont();
    else if (c == ',') row(S::DimensionDigits)[c] = excl_set(DIM_COMMA);
    else if (c == ':') row(S::DimensionDigits)[c] = excl_set(DIM_COLON);
  }
  return t;
}

constexpr Tables TABLES = build_tables();

inline void set_token(Spec* token, const Spec& text, uint64_t len) {
  if (!token) return;
  token->first = text.first;
  token->second = Descr::make(text.second.a, 0, len);
}

inline void advance(Spec& text, uint64_t n) {
  text.second.a += n;
  text.second.set_v(text.second.v() - n);
}

}  // namespace

ScanResult syntax_scan(SyntaxTable table, Spec& text, Spec* token) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.chars());
  const uint64_t n = text.length();
  const Entry* row = TABLES[int(table)].data();
  uint32_t type = 0;
  for (uint64_t i = 0; i < n; ++i) {
    const Entry& e = row[p[i]];
    if (e.sets) type = e.type;
    switch (e.action) {
      case ACT_CONTINUE:
        break;
      case ACT_GOTO:
        row = TABLES[e.next].data();
        break;
      case ACT_STOP_INCLUSIVE:
        set_token(token, text, i + 1);
        advance(text, i + 1);
        return {ScanOutcome::Stopped, type};
      case ACT_STOP_EXCLUSIVE:
        set_token(token, text, i);
        advance(text, i);
        return {ScanOutcome::Stopped, type};
      default:
        set_token(token, text, n);
        return {ScanOutcome::Error, type};
    }
  }
  set_token(token, text, n);
  advance(text, n);
  return {ScanOutcome::RanOut, type};
}

ScanResult charset_scan(const uint8_t classes[256], Spec& text, Spec* token) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.chars());
  const uint64_t n = text.length();
  for (uint64_t i = 0; i < n; ++i) {
    uint8_t cls = classes[p[i]];
    if (cls == 0) continue;
    if (cls == 2) {
      set_token(token, text, n);
      return {ScanOutcome::Error, cls};
    }
    uint64_t len = cls == 3 ? i + 1 : i;
    set_token(token, text, len);
    advance(text, len);
    return {ScanOutcome::Stopped, cls};
  }
  set_token(token, text, n);
  advance(text, n);
  return {ScanOutcome::RanOut, 0};
}

// --- Operator records ------------------------------------------------------------------------------

namespace {

struct BinaryDef {
  Proc proc;  // nullptr: undefined
  int left, right;
};

const BinaryDef BINARY_DEFS[BOP_COUNT] = {
    {nullptr, 5, 4},                  // &
    {op_alternation, 10, 9},          // |
    {op_concat, 20, 19},              // blank
    {nullptr, 25, 24},                // @
    {op_add, 30, 29},                 // +
    {op_sub, 30, 29},                 // -
    {nullptr, 35, 34},                // #
    {op_div, 40, 39},                 // /
    {op_mul, 42, 41},                 // *
    {nullptr, 45, 44},                // %
    {op_pow, 50, 50},                 // ** ! ^
    {op_immediate_assign, 60, 59},    // $
    {op_conditional_assign, 60, 59},  // .
    {nullptr, 70, 69},                // ?
    {nullptr, 70, 70},                // ~
};

const Proc UNARY_DEFS[UOP_COUNT] = {
    op_plus,         // +
    op_minus,        // -
    op_name,         // .
    op_indirect,     // $
    op_keyword,      // &
    op_negate,       // ~
    op_interrogate,  // ?
    op_cursor,       // @
    op_defer,        // *
    nullptr,         // !
    nullptr,         // ^
    nullptr,         // |
    nullptr,         // #
    nullptr,         // %
    nullptr,         // /
};

void set_function(Vm& vm, Descr* rec, Proc proc, uint64_t nargs) {
  if (proc) {
    rec[0] = Descr::make(reinterpret_cast<uint64_t>(proc), 0, nargs);
    rec[1] = ZERO_DESCR;
  } else {
    const Descr* undef = op_descriptor(vm, OP_UNDEFINED);
    rec[0] = undef[0];
    rec[1] = undef[1];
  }
}

}  // namespace

void build_operator_records(Vm& vm) {
  Descr* bin = static_alloc(vm, BOP_COUNT * BINARY_RECORD_SIZE);
  for (int i = 0; i < BOP_COUNT; ++i) {
    Descr* rec = bin + i * BINARY_RECORD_SIZE;
    set_function(vm, rec, BINARY_DEFS[i].proc, 2);
    rec[2] = Descr::make(uint64_t(BINARY_DEFS[i].left), 0, uint64_t(BINARY_DEFS[i].right));
  }
  Descr* un = static_alloc(vm, UOP_COUNT * UNARY_RECORD_SIZE);
  for (int i = 0; i < UOP_COUNT; ++i) set_function(vm, un + i * UNARY_RECORD_SIZE, UNARY_DEFS[i], 1);
  vm.cc.binary_records = bin;
  vm.cc.unary_records = un;
}

Descr* binary_record(Vm& vm, int op) { return vm.cc.binary_records + op * BINARY_RECORD_SIZE; }
Descr* unary_record(Vm& vm, int op) { return vm.cc.unary_records + op * UNARY_RECORD_SIZE; }

Descr* find_binary_operator(Vm& vm, const char* sym, uint64_t len) {
  if (len == 2 && sym[0] == '*' && sym[1] == '*') return binary_record(vm, BOP_POW);
  if (len != 1) return nullptr;
  int i = binary_index(static_cast<unsigned char>(sym[0]));
  return i < 0 ? nullptr : binary_record(vm, i);
}

Descr* find_unary_operator(Vm& vm, const char* sym, uint64_t len) {
  if (len != 1) return nullptr;
  int i = unary_index(static_cast<unsigned char>(sym[0]));
  return i < 0 ? nullptr : unary_record(vm, i);
}

}  // namespace pellux
