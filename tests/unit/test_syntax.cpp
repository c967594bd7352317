// The syntax tables, the scanning primitive and the operator records.
#include <gtest/gtest.h>

#include <string>

#include "compiler/syntax.h"
#include "interp/interp.h"
#include "interp/operators.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::TestVm;

struct Scanned {
  ScanOutcome outcome;
  uint32_t type;
  std::string token;
  std::string rest;
};

Scanned run(SyntaxTable table, const std::string& text) {
  Spec s = Spec::raw(text.data(), text.size());
  Spec tok;
  ScanResult r = syntax_scan(table, s, &tok);
  return {r.outcome, r.type, std::string(tok.chars(), tok.length()),
          std::string(s.chars(), s.length())};
}

constexpr auto STOPPED = ScanOutcome::Stopped;
constexpr auto RAN_OUT = ScanOutcome::RanOut;
constexpr auto ERROR = ScanOutcome::Error;

TEST(SyntaxScan, OutcomesSetTokenAndText) {
  // Stopped: the token is the consumed prefix and the text moves past it.
  Scanned s = run(SyntaxTable::Element, "ABC)rest");
  EXPECT_EQ(s.outcome, STOPPED);
  EXPECT_EQ(s.type, EL_NAME);
  EXPECT_EQ(s.token, "ABC");
  EXPECT_EQ(s.rest, ")rest");
  // Ran out: the token is the whole text and the text is empty.
  s = run(SyntaxTable::Element, "'unclosed");
  EXPECT_EQ(s.outcome, RAN_OUT);
  EXPECT_EQ(s.type, EL_LITERAL);
  EXPECT_EQ(s.token, "'unclosed");
  EXPECT_EQ(s.rest, "");
  s = run(SyntaxTable::Break, "");
  EXPECT_EQ(s.outcome, RAN_OUT);
  EXPECT_EQ(s.type, 0u);
  // Error: the token is the whole text and the text is left as it was, so another table can
  // be tried at the same place.
  s = run(SyntaxTable::Element, "A-B");
  EXPECT_EQ(s.outcome, ERROR);
  EXPECT_EQ(s.token, "A-B");
  EXPECT_EQ(s.rest, "A-B");
  s = run(SyntaxTable::BinaryOperator, "B C");
  EXPECT_EQ(s.outcome, ERROR);
  EXPECT_EQ(s.rest, "B C");
}

TEST(SyntaxScan, LineTypesLookAtColumnOne) {
  EXPECT_EQ(run(SyntaxTable::LineType, "* c").type, LINE_COMMENT);
  EXPECT_EQ(run(SyntaxTable::LineType, "#!").type, LINE_COMMENT);
  EXPECT_EQ(run(SyntaxTable::LineType, "/x").type, LINE_COMMENT);
  EXPECT_EQ(run(SyntaxTable::LineType, "-LIST").type, LINE_CONTROL);
  EXPECT_EQ(run(SyntaxTable::LineType, "+ X").type, LINE_CONTINUATION);
  EXPECT_EQ(run(SyntaxTable::LineType, ". X").type, LINE_CONTINUATION);
  for (const std::string& line : {std::string("L X"), std::string(" X"), std::string("\tX"),
                                   std::string("9"), std::string(1, '\0')}) {
    Scanned s = run(SyntaxTable::LineType, line);
    EXPECT_EQ(s.type, LINE_STATEMENT) << line;
    EXPECT_EQ(s.token, "");  // nothing consumed
  }
}

TEST(SyntaxScan, LabelsTakeAnythingUpToBlankOrSemicolon) {
  Scanned s = run(SyntaxTable::LabelStart, "L$%x.=1 X");
  EXPECT_EQ(s.outcome, STOPPED);
  EXPECT_EQ(s.token, "L$%x.=1");
  s = run(SyntaxTable::LabelStart, "9A;B");
  EXPECT_EQ(s.token, "9A");
  EXPECT_EQ(s.rest, ";B");
  s = run(SyntaxTable::LabelStart, "\tX");
  EXPECT_EQ(s.outcome, STOPPED);
  EXPECT_EQ(s.token, "");
  EXPECT_EQ(run(SyntaxTable::LabelStart, ";").token, "");
  EXPECT_EQ(run(SyntaxTable::LabelStart, "=X").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::LabelStart, "'L").outcome, ERROR);
  s = run(SyntaxTable::LabelStart, "LAST");
  EXPECT_EQ(s.outcome, RAN_OUT);
  EXPECT_EQ(s.token, "LAST");
}

TEST(SyntaxScan, BreakTypes) {
  struct Case {
    const char* text;
    uint32_t type;
    const char* rest;
  } cases[] = {
      {"  = X", BRK_EQUALS, " X"}, {"\t)", BRK_RPAREN, ""},     {" >", BRK_RBRACKET, ""},
      {"]", BRK_RBRACKET, ""},     {" , X", BRK_COMMA, " X"},  {" :(L)", BRK_COLON, "(L)"},
      {" ; X", BRK_END, " X"},     {"   X", BRK_OTHER, "X"},   {"(", BRK_OTHER, "("},
  };
  for (const Case& c : cases) {
    Scanned s = run(SyntaxTable::Break, c.text);
    EXPECT_EQ(s.outcome, STOPPED) << c.text;
    EXPECT_EQ(s.type, c.type) << c.text;
    EXPECT_EQ(s.rest, c.rest) << c.text;
  }
  // A required blank: a blank continues with the break table, ';' ends the statement, anything
  // else is an error.
  Scanned s = run(SyntaxTable::RequiredBlank, " = 1");
  EXPECT_EQ(s.type, BRK_EQUALS);
  EXPECT_EQ(run(SyntaxTable::RequiredBlank, ";X").type, BRK_END);
  EXPECT_EQ(run(SyntaxTable::RequiredBlank, "=1").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::RequiredBlank, "    ").outcome, RAN_OUT);
  s = run(SyntaxTable::SkipToEnd, "junk ( ' ; next");
  EXPECT_EQ(s.rest, " next");
  EXPECT_EQ(run(SyntaxTable::SkipToEnd, "no semicolon").outcome, RAN_OUT);
}

TEST(SyntaxScan, ElementTypes) {
  struct Case {
    const char* text;
    uint32_t type;
    const char* token;
  } cases[] = {
      {"'it''s", EL_LITERAL, "'it'"},  {"\"a'b\" ", EL_LITERAL, "\"a'b\""},
      {"123 ", EL_INTEGER, "123"},      {"12)", EL_INTEGER, "12"},
      {"A.b_C9 ", EL_NAME, "A.b_C9"},   {"X,", EL_NAME, "X"},
      {"(A)", EL_PAREN, "("},           {"F(X)", EL_CALL, "F("},
      {"A<1>", EL_REFERENCE, "A<"},     {"A[1]", EL_REFERENCE, "A["},
      {"1. ", EL_REAL, "1."},           {"1.5 ", EL_REAL, "1.5"},
      {"1e5 ", EL_REAL, "1e5"},         {"1.5E-3 ", EL_REAL, "1.5E-3"},
      {"2E+10]", EL_REAL, "2E+10"},     {"1.e5;", EL_REAL, "1.e5"},
  };
  for (const Case& c : cases) {
    Scanned s = run(SyntaxTable::Element, c.text);
    EXPECT_EQ(s.outcome, STOPPED) << c.text;
    EXPECT_EQ(s.type, c.type) << c.text;
    EXPECT_EQ(s.token, c.token) << c.text;
  }
  // Malformed numbers and names fail the element scan with the text unchanged.
  for (const char* bad : {"1e ", "1.5e+ ", "1.5e- ", "1.5.3 ", "12A ", "A-B", "A=B", "_A",
                          ".5", "A:(L)", "-X", ")"}) {
    Scanned s = run(SyntaxTable::Element, bad);
    EXPECT_EQ(s.outcome, ERROR) << bad;
    EXPECT_EQ(s.rest, bad) << bad;
  }
}

TEST(SyntaxScan, GotoStarts) {
  struct Case {
    const char* text;
    uint32_t type;
  } cases[] = {
      {"(L)", GOTO_UNCOND},  {"<C>", GOTO_UNCOND_DIRECT},  {"[C]", GOTO_UNCOND_DIRECT},
      {"S(L)", GOTO_SUCCESS}, {"s<C>", GOTO_SUCCESS_DIRECT}, {"F(L)", GOTO_FAILURE},
      {"f[C]", GOTO_FAILURE_DIRECT},
  };
  for (const Case& c : cases) {
    Scanned s = run(SyntaxTable::GotoStart, c.text);
    EXPECT_EQ(s.outcome, STOPPED) << c.text;
    EXPECT_EQ(s.type, c.type) << c.text;
  }
  EXPECT_EQ(run(SyntaxTable::GotoStart, "X(L)").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::GotoStart, "S L").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::GotoStart, "S").outcome, RAN_OUT);
}

TEST(SyntaxScan, PrototypeAndDimensionTables) {
  Scanned s = run(SyntaxTable::PrototypeNameStart, "F.1_x(A,B)");
  EXPECT_EQ(s.type, PROTO_LPAREN);
  EXPECT_EQ(s.token, "F.1_x");
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, ",B)").type, PROTO_COMMA);
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, ")").type, PROTO_RPAREN);
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, "B)").type, PROTO_RPAREN);
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, "1A").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, "A B").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::PrototypeNameStart, "LOCAL").outcome, RAN_OUT);

  s = run(SyntaxTable::DimensionStart, "-10:3");
  EXPECT_EQ(s.type, DIM_COLON);
  EXPECT_EQ(s.token, "-10");
  EXPECT_EQ(run(SyntaxTable::DimensionStart, "+4,5").type, DIM_COMMA);
  EXPECT_EQ(run(SyntaxTable::DimensionStart, ",5").token, "");
  EXPECT_EQ(run(SyntaxTable::DimensionStart, "4-5").outcome, ERROR);
  EXPECT_EQ(run(SyntaxTable::DimensionStart, "12").outcome, RAN_OUT);
}

TEST(SyntaxScan, CharacterSetTable) {
  uint8_t cls[256] = {};
  cls[static_cast<unsigned char>('x')] = 3;  // stop inclusive
  cls[static_cast<unsigned char>('y')] = 4;  // stop exclusive
  cls[static_cast<unsigned char>('z')] = 2;  // error
  auto scan = [&](const std::string& text, std::string* tok, std::string* rest) {
    Spec s = Spec::raw(text.data(), text.size());
    Spec t;
    ScanResult r = charset_scan(cls, s, &t);
    *tok = std::string(t.chars(), t.length());
    *rest = std::string(s.chars(), s.length());
    return r.outcome;
  };
  std::string tok, rest;
  EXPECT_EQ(scan("abxcd", &tok, &rest), STOPPED);
  EXPECT_EQ(tok, "abx");
  EXPECT_EQ(rest, "cd");
  EXPECT_EQ(scan("abycd", &tok, &rest), STOPPED);
  EXPECT_EQ(tok, "ab");
  EXPECT_EQ(rest, "ycd");
  EXPECT_EQ(scan("abzcd", &tok, &rest), ERROR);
  EXPECT_EQ(rest, "abzcd");
  EXPECT_EQ(scan("abc", &tok, &rest), RAN_OUT);
  EXPECT_EQ(rest, "");
}

TEST(OperatorRecords, BinaryScanFindsTheRecord) {
  TestVm t;
  Vm& vm = *t;
  auto binary = [&](const char* text) -> Descr* {
    Scanned s = run(SyntaxTable::BinaryOperator, text);
    if (s.outcome != STOPPED) return nullptr;
    return binary_record_of_type(vm, s.type);
  };
  Descr* pow = binary_record(vm, BOP_POW);
  EXPECT_EQ(binary("** X"), pow);
  EXPECT_EQ(binary("^ X"), pow);
  EXPECT_EQ(binary("! X"), pow);
  EXPECT_EQ(binary("* X"), binary_record(vm, BOP_MUL));
  EXPECT_EQ(binary("+\tX"), binary_record(vm, BOP_ADD));
  EXPECT_EQ(binary(". X"), binary_record(vm, BOP_DOT));
  // A binary operator needs a blank after it.
  EXPECT_EQ(binary("+X"), nullptr);
  EXPECT_EQ(binary("**X"), nullptr);
  EXPECT_EQ(binary("*** X"), nullptr);
  EXPECT_EQ(binary("= X"), nullptr);
  EXPECT_EQ(find_binary_operator(vm, "**", 2), pow);
  EXPECT_EQ(find_binary_operator(vm, "!", 1), pow);
  EXPECT_EQ(find_binary_operator(vm, "|", 1), binary_record(vm, BOP_ALT));
  EXPECT_EQ(find_binary_operator(vm, "=", 1), nullptr);
  EXPECT_EQ(find_binary_operator(vm, "++", 2), nullptr);
}

TEST(OperatorRecords, UnaryScanMustNotBeFollowedByBlank) {
  TestVm t;
  Vm& vm = *t;
  Scanned s = run(SyntaxTable::UnaryOperator, "-X");
  ASSERT_EQ(s.outcome, STOPPED);
  EXPECT_EQ(unary_record_of_type(vm, s.type), unary_record(vm, UOP_MINUS));
  EXPECT_EQ(s.rest, "X");  // the operand is not consumed
  s = run(SyntaxTable::UnaryOperator, "*-X");
  EXPECT_EQ(unary_record_of_type(vm, s.type), unary_record(vm, UOP_STAR));
  EXPECT_EQ(s.rest, "-X");
  for (const char* bad : {"- X", "-)", "-,", "-;", "X", "="}) {
    EXPECT_EQ(run(SyntaxTable::UnaryOperator, bad).outcome, ERROR) << bad;
  }
  EXPECT_EQ(find_unary_operator(vm, "&", 1), unary_record(vm, UOP_AMP));
  EXPECT_EQ(find_unary_operator(vm, "=", 1), nullptr);
}

TEST(OperatorRecords, FunctionsAndPrecedences) {
  TestVm t;
  Vm& vm = *t;
  auto proc_of = [](const Descr* rec) { return reinterpret_cast<Proc>(rec[0].a); };
  const Descr* add = binary_record(vm, BOP_ADD);
  EXPECT_EQ(proc_of(add), &op_add);
  EXPECT_EQ(add[0].v(), 2u);
  EXPECT_FALSE(add[0].has(FLAG_FUNCTION));
  EXPECT_EQ(left_precedence(add), 30);
  EXPECT_EQ(right_precedence(add), 29);
  EXPECT_EQ(proc_of(binary_record(vm, BOP_CONCAT)), &op_concat);
  EXPECT_EQ(left_precedence(binary_record(vm, BOP_CONCAT)), 20);
  EXPECT_EQ(left_precedence(binary_record(vm, BOP_POW)), 50);
  EXPECT_EQ(right_precedence(binary_record(vm, BOP_POW)), 50);
  EXPECT_EQ(left_precedence(binary_record(vm, BOP_AMP)), 5);
  EXPECT_EQ(right_precedence(binary_record(vm, BOP_TILDE)), 70);
  const Descr* neg = unary_record(vm, UOP_TILDE);
  EXPECT_EQ(proc_of(neg), &op_negate);
  EXPECT_EQ(neg[0].v(), 1u);
  // Undefined operations accept any argument count, so calling one raises error 5.
  const Descr* undef = op_descriptor(vm, OP_UNDEFINED);
  for (int op : {BOP_AMP, BOP_AT, BOP_HASH, BOP_PCT, BOP_QUEST, BOP_TILDE}) {
    EXPECT_EQ(binary_record(vm, op)[0], undef[0]) << op;
    EXPECT_TRUE(binary_record(vm, op)[0].has(FLAG_FUNCTION));
  }
  for (int op : {UOP_BANG, UOP_CARET, UOP_BAR, UOP_HASH, UOP_PCT, UOP_SLASH})
    EXPECT_EQ(unary_record(vm, op)[0], undef[0]) << op;
}

}  // namespace
}  // namespace pellux
