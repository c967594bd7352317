// The statement compiler: the object code written for small statements, gotos, calls,
// precedence, code blocks, and the compilation of strings.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builtins/table.h"
#include "compiler/compiler.h"
#include "compiler/internal.h"
#include "compiler/syntax.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::TestVm;
using testing_vm::text_of;

const char* const OP_NAMES[OP_COUNT] = {"rebase", "stmt",  "lit",   "jump", "goto", "goto<>",
                                        "assign", "match", "match=", "end", "error", "undef"};
const char* const BINARY_NAMES[BOP_COUNT] = {"&", "|", "cat", "@", "+", "-", "#", "/",
                                              "*", "%", "**", "$", ".", "?", "~"};
const char* const UNARY_NAMES[UOP_COUNT] = {"u+", "u-", "u.", "u$", "u&", "u~", "u?", "u@",
                                            "u*", "u!", "u^", "u|", "u#", "u%", "u/"};

// One descriptor of object code as a word: instructions as name/count, variables by their
// text, literals as 'text', #integer or real text, headers as hdr(statement,failure offset).
std::string render(Vm& vm, const Descr& d, bool after_literal, bool after_statement) {
  if (after_statement) return "hdr(" + std::to_string(d.a) + "," + std::to_string(d.v()) + ")";
  if (d.has(FLAG_FUNCTION)) {
    const Descr* fd = d.ptr();
    std::string name = "call";
    for (int i = 0; i < OP_COUNT; ++i)
      if (fd == op_descriptor(vm, OpCode(i))) name = OP_NAMES[i];
    for (int i = 0; i < BOP_COUNT; ++i)
      if (fd == binary_record(vm, i)) name = BINARY_NAMES[i];
    for (int i = 0; i < UOP_COUNT; ++i)
      if (fd == unary_record(vm, i)) name = UNARY_NAMES[i];
    if (fd == vm.st.builtin_fds + 2 * BUILTIN_ITEM) name = "item";
    return name + "/" + std::to_string(d.v());
  }
  if (is_string(d)) return after_literal ? "'" + text_of(d) + "'" : text_of(d);
  if (is_integer(d)) return "#" + std::to_string(d.ival());
  if (is_real(d)) {
    char buf[64];
    return std::string(buf, format_real(d.a, 14, 12, buf));
  }
  if (d.v() == T_CODE) return "block";
  return "?" + std::to_string(d.a);
}

// The object code of a compiled CODE string, up to its END instruction, one word per
// descriptor.  A direct transfer into a further block (written when a block fills) is
// followed without being shown.
std::string code_words(Vm& vm, const Descr& block) {
  std::string out;
  const Descr* p = block.ptr() + 1;
  const Descr* end = block.ptr() + 1 + block.ptr()->v() / 16;
  bool literal = false, statement = false;
  for (; p < end; ++p) {
    if (p->has(FLAG_FUNCTION) && p->ptr() == op_descriptor(vm, OP_GOTO_CODE) &&
        p[1].ptr() == op_descriptor(vm, OP_LITERAL) && p[2].v() == T_CODE) {
      p = p[2].ptr();
      end = p + 1 + p->v() / 16;
      continue;
    }
    std::string w = render(vm, *p, literal, statement);
    literal = w == "lit/1";
    statement = w == "stmt/1";
    if (!out.empty()) out += ' ';
    out += w;
    if (w == "end/0") break;
  }
  return out;
}

std::string compile(TestVm& t, const char* text) {
  Descr code;
  if (!compile_code(*t, make_variable(*t, text), &code)) return "syntax error";
  Pin p(*t, code);
  return code_words(*t, *p);
}

TEST(Compiler, StatementBodies) {
  TestVm t;
  convert_init();
  // Prefix order: the operator before its operands.
  EXPECT_EQ(compile(t, " X = A + B * C"),
            "stmt/1 hdr(1,144) assign/2 X +/2 A */2 B C end/0");
  EXPECT_EQ(compile(t, " X"), "stmt/1 hdr(2,48) X end/0");
  EXPECT_EQ(compile(t, " X 'A'"), "stmt/1 hdr(3,96) match/2 X lit/1 'A' end/0");
  EXPECT_EQ(compile(t, " X 'A' = 12"), "stmt/1 hdr(4,128) match=/3 X lit/1 'A' lit/1 #12 end/0");
  // An empty object is the null string.
  EXPECT_EQ(compile(t, " X ="), "stmt/1 hdr(5,96) assign/2 X lit/1 '' end/0");
  EXPECT_EQ(compile(t, " X = 1.5"), "stmt/1 hdr(6,96) assign/2 X lit/1 1.5 end/0");
  EXPECT_EQ(compile(t, " $X = -.Y"), "stmt/1 hdr(7,128) assign/2 u$/1 X u-/1 u./1 Y end/0");
  EXPECT_EQ(compile(t, " X = (A B)"), "stmt/1 hdr(8,112) assign/2 X cat/2 A B end/0");
  EXPECT_EQ(compile(t, " X = \"it's\""), "stmt/1 hdr(9,96) assign/2 X lit/1 'it's' end/0");
  // A statement with only a label writes only the label's rebase; an empty one nothing.
  EXPECT_EQ(compile(t, "L"), "rebase/0 end/0");
  EXPECT_EQ(compile(t, ""), "end/0");
  // Statements separated by ';' are numbered one after the other.
  EXPECT_EQ(compile(t, " X = 1; Y = 2"),
            "stmt/1 hdr(12,96) assign/2 X lit/1 #1 stmt/1 hdr(13,192) assign/2 Y lit/1 #2 end/0");
}

TEST(Compiler, Precedence) {
  TestVm t;
  EXPECT_EQ(compile(t, " X = A + B + C"), "stmt/1 hdr(1,144) assign/2 X +/2 +/2 A B C end/0");
  EXPECT_EQ(compile(t, " X = A ** B ** C"), "stmt/1 hdr(2,144) assign/2 X **/2 A **/2 B C end/0");
  EXPECT_EQ(compile(t, " X = A ^ B ! C"), "stmt/1 hdr(3,144) assign/2 X **/2 A **/2 B C end/0");
  EXPECT_EQ(compile(t, " X = A B | C D"),
            "stmt/1 hdr(4,176) assign/2 X |/2 cat/2 A B cat/2 C D end/0");
  EXPECT_EQ(compile(t, " X = A * B + C / D - E"),
            "stmt/1 hdr(5,208) assign/2 X -/2 +/2 */2 A B //2 C D E end/0");
  EXPECT_EQ(compile(t, " X = A . B | C $ D"),
            "stmt/1 hdr(6,176) assign/2 X |/2 ./2 A B $/2 C D end/0");
  EXPECT_EQ(compile(t, " X = A ~ B ~ C"), "stmt/1 hdr(7,144) assign/2 X ~/2 A ~/2 B C end/0");
  EXPECT_EQ(compile(t, " X = A & B - C"), "stmt/1 hdr(8,144) assign/2 X &/2 A -/2 B C end/0");
  EXPECT_EQ(compile(t, " X = -A ** B"), "stmt/1 hdr(9,128) assign/2 X **/2 u-/1 A B end/0");
  // The concatenation blank before an operator that has no blank after it.
  EXPECT_EQ(compile(t, " X = A -B"), "stmt/1 hdr(10,128) assign/2 X cat/2 A u-/1 B end/0");
  // The subject is one element: the pattern starts after it.
  EXPECT_EQ(compile(t, " A B | C D"), "stmt/1 hdr(11,144) match/2 A |/2 B cat/2 C D end/0");
}

TEST(Compiler, Calls) {
  TestVm t;
  // An undefined function accepts any count: F() has one null argument and no padding.
  EXPECT_EQ(compile(t, " F()"), "stmt/1 hdr(1,80) call/1 lit/1 '' end/0");
  EXPECT_EQ(compile(t, " F(A,)"), "stmt/1 hdr(2,96) call/2 A lit/1 '' end/0");
  EXPECT_EQ(compile(t, " F(A, B C)"), "stmt/1 hdr(3,112) call/2 A cat/2 B C end/0");
  // A built-in is padded with null strings up to its declared count; extra arguments stay.
  EXPECT_EQ(compile(t, " SUBSTR(S)"), "stmt/1 hdr(4,128) call/3 S lit/1 '' lit/1 '' end/0");
  EXPECT_EQ(compile(t, " LEN(1,2)"), "stmt/1 hdr(5,112) call/2 lit/1 #1 lit/1 #2 end/0");
  // References call ITEM with the variable first.
  EXPECT_EQ(compile(t, " A<1,J>"), "stmt/1 hdr(6,112) item/3 A lit/1 #1 J end/0");
  EXPECT_EQ(compile(t, " A[F(X)] = B<>"),
            "stmt/1 hdr(7,176) assign/2 item/2 A call/1 X item/2 B lit/1 '' end/0");
  // The call names the function's cell.
  Descr code;
  ASSERT_TRUE(compile_code(*t, make_variable(*t, " G(1)"), &code));
  Descr* cell = function_cell(*t, make_variable(*t, "G"), false);
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(code.ptr()[3].ptr(), cell);
}

TEST(Compiler, Gotos) {
  TestVm t;
  // Unconditional: the failure offset designates the goto too.
  EXPECT_EQ(compile(t, " X = 1 :(L)"), "stmt/1 hdr(1,96) assign/2 X lit/1 #1 goto/1 L end/0");
  EXPECT_EQ(compile(t, " X :<C>"), "stmt/1 hdr(2,48) X goto<>/1 C end/0");
  // Success only: failure falls through past the goto.
  EXPECT_EQ(compile(t, " X :S(L)"), "stmt/1 hdr(3,80) X goto/1 L end/0");
  // Both orders compile to the same code.
  std::string sf = compile(t, " X :S(A)F(B)");
  EXPECT_EQ(sf, "stmt/1 hdr(4,80) X goto/1 A goto/1 B end/0");
  std::string fs = compile(t, " X :F(B)S(A)");
  EXPECT_EQ(fs.substr(fs.find(')')), sf.substr(sf.find(')')));
  EXPECT_EQ(compile(t, " X :s[A] f(B)"), "stmt/1 hdr(6,80) X goto<>/1 A goto/1 B end/0");
  // Failure only: success jumps over the failure goto.
  EXPECT_EQ(compile(t, " X :F(L)"), "stmt/1 hdr(7,80) X jump/1 ?112 goto/1 L end/0");
  EXPECT_EQ(compile(t, " :($('L' N))"),
            "stmt/1 hdr(8,32) goto/1 u$/1 cat/2 lit/1 'L' N end/0");
  // An empty goto field means no goto.
  EXPECT_EQ(compile(t, " X :"), "stmt/1 hdr(9,48) X end/0");
}

TEST(Compiler, SyntaxErrorsFailStringCompilation) {
  TestVm t;
  for (const char* bad : {" A-B", " X = 'abc", " X = (1", " F(1", " A<1)", " X = A +", " X 'A'B",
                          " X = 1e", " X = 1.5e+ ", " = 1", " X :(L", " X :S(A)S(B)", " X :(A) Y",
                          " X :Q(A)", " X :S", " X = 99999999999999999999", "=L X", " X=1",
                          " X = A=", " X = (A B"}) {
    Descr code;
    EXPECT_FALSE(compile_code(*t, make_variable(*t, bad), &code)) << bad;
  }
  EXPECT_EQ(t->cc.message, MSG_BREAK);
  // Statement numbers go on across compilations, failed ones included.
  Descr code;
  ASSERT_FALSE(compile_code(*t, make_variable(*t, " X = 1; X = 'A"), &code));
  EXPECT_EQ(t->cc.stmt_number, 22);
}

TEST(Compiler, CompileMessages) {
  TestVm t;
  struct Case {
    const char* text;
    int msg;
  } cases[] = {
      {"=L", MSG_LABEL},          {" = 1", MSG_SUBJECT},         {" ) X", MSG_SUBJECT},
      {" X :(L) Y", MSG_GOTO},    {" X :(L>", MSG_GOTO},         {" X :F(A)F(B)", MSG_GOTO},
      {" X = A-B", MSG_ELEMENT},  {" X = 1e ", MSG_ELEMENT},     {" X = 'a'B", MSG_BINARY},
      {" X = 'a'=", MSG_BINARY},  {" X(1", MSG_BREAK},           {" X = Y Z )", MSG_BREAK},
      {" X = 1 +", MSG_IMPROPER}, {" X :S", MSG_IMPROPER},       {" X = 'ab", MSG_UNCLOSED},
      {" X = 9223372036854775808", MSG_INTEGER},
  };
  for (const Case& c : cases) {
    Descr code;
    t->cc.message = MSG_NONE;
    EXPECT_FALSE(compile_code(*t, make_variable(*t, c.text), &code)) << c.text;
    EXPECT_EQ(t->cc.message, c.msg) << c.text << ": " << compile_message(t->cc.message);
  }
  EXPECT_STREQ(compile_message(MSG_BINARY), "Binary operator missing or in error");
  EXPECT_STREQ(compile_message(MSG_UNCLOSED), "Unclosed literal");
}

TEST(Compiler, LabelsPointAtTheirRebase) {
  TestVm t;
  Descr code;
  ASSERT_TRUE(compile_code(*t, make_variable(*t, " X = 1;LAB Y = 2"), &code));
  Pin p(*t, code);
  Descr lab = make_variable(*t, "LAB");
  const Descr& attr = var_attr(lab.ptr());
  ASSERT_TRUE(attr.has(FLAG_POINTER));
  const Descr* rebase = attr.ptr();
  EXPECT_EQ(rebase, p->ptr() + 7);
  EXPECT_EQ(render(*t, *rebase, false, false), "rebase/0");
  EXPECT_EQ(render(*t, rebase[1], false, false), "stmt/1");
  // Offsets count from the rebase: the header's failure offset designates Y's literal.
  EXPECT_EQ(rebase[2].v(), 96u);
  EXPECT_EQ(render(*t, rebase[6], true, false), "#2");
  // Before translation has finished a label cannot be redefined; afterwards (at run time) an
  // existing label moves to the new code.
  EXPECT_FALSE(compile_code(*t, make_variable(*t, "LAB"), &code));
  EXPECT_EQ(t->cc.message, MSG_PREVIOUS_LABEL);
  EXPECT_EQ(var_attr(make_variable(*t, "LAB").ptr()).ptr(), p->ptr() + 7);
  t->cc.allow_label_redefinition = true;
  ASSERT_TRUE(compile_code(*t, make_variable(*t, "LAB"), &code));
  EXPECT_EQ(var_attr(make_variable(*t, "LAB").ptr()).ptr(), code.ptr() + 1);
}

TEST(Compiler, ExpressionStrings) {
  TestVm t;
  auto expr = [&](const char* text) -> std::string {
    Descr e;
    if (!compile_expression(*t, make_variable(*t, text), &e)) return "fails";
    EXPECT_EQ(e.v(), T_EXPRESSION);
    Pin p(*t, e);
    std::string out;
    Descr* b = p->ptr();
    bool lit = false;
    for (uint64_t i = 1; i <= b->v() / 16; ++i) {
      std::string w = render(*t, b[i], lit, false);
      lit = w == "lit/1";
      out += (out.empty() ? "" : " ") + w;
    }
    return out;
  };
  EXPECT_EQ(expr("1 + 2"), "+/2 lit/1 #1 lit/1 #2");
  EXPECT_EQ(expr("A B C"), "cat/2 cat/2 A B C");
  EXPECT_EQ(expr(""), "lit/1 ''");
  EXPECT_EQ(expr("  X  "), "X");
  EXPECT_EQ(expr("INPUT()"), "call/5 lit/1 '' lit/1 '' lit/1 '' lit/1 '' lit/1 ''");
  EXPECT_EQ(expr("1 +"), "fails");
  EXPECT_EQ(expr("A)"), "fails");
  EXPECT_EQ(expr("A = B"), "fails");
  EXPECT_EQ(expr("1; 2"), "fails");
  EXPECT_EQ(expr("1;"), "fails");
}

// Follows the object code the way control flows through it (statement after statement, into
// the next block at a direct transfer) and collects the statement numbers.
std::vector<int64_t> statement_order(Vm& vm, const Descr* block) {
  std::vector<int64_t> numbers;
  const Descr* p = block;
  const Descr* goto_code = op_descriptor(vm, OP_GOTO_CODE);
  for (;;) {
    ++p;
    if (!p->has(FLAG_FUNCTION)) continue;
    const Descr* fd = p->ptr();
    if (fd == op_descriptor(vm, OP_END)) return numbers;
    if (fd == op_descriptor(vm, OP_STATEMENT)) {
      numbers.push_back(int64_t((++p)->a));
    } else if (fd == goto_code && p[1].ptr() == op_descriptor(vm, OP_LITERAL) &&
               p[2].v() == T_CODE) {
      p = p[2].ptr();
    }
  }
}

TEST(Compiler, LongCodeContinuesInNewBlocks) {
  TestVm t;
  // Each statement writes more descriptors than it has characters (INPUT() is padded to five
  // arguments), so the first block fills and the code goes on in further blocks.
  std::string text;
  const int count = 300;
  for (int i = 0; i < count; ++i) {
    if (i % 10 == 0) {
      text += 'L';
      text += std::to_string(i);
    }
    text += " INPUT();";
  }
  Descr code;
  ASSERT_TRUE(compile_code(*t, make_variable(*t, text), &code));
  Pin p(*t, code);
  std::vector<int64_t> order = statement_order(*t, p->ptr());
  ASSERT_EQ(order.size(), size_t(count)) << code_words(*t, *p);
  for (int i = 1; i < count; ++i) ASSERT_EQ(order[i], order[0] + i);
  // Every label still points at its own statement after the moves: the descriptor after its
  // position (a rebase or the title of the block it moved to) is the statement instruction.
  int moved = 0;
  for (int i = 0; i < count; i += 10) {
    const Descr* at = var_attr(make_variable(*t, "L" + std::to_string(i)).ptr()).ptr();
    if (at->is_title()) ++moved;
    else EXPECT_EQ(at->ptr(), op_descriptor(*t, OP_REBASE)) << i;
    ASSERT_EQ(at[1].ptr(), op_descriptor(*t, OP_STATEMENT)) << i;
    EXPECT_EQ(int64_t(at[2].a), order[0] + i) << i;
  }
  EXPECT_GT(moved, 0);
  // The blocks survive a regeneration with their labels.
  regenerate_storage(*t, 0);
  EXPECT_EQ(statement_order(*t, p->ptr()).size(), size_t(count));
}

TEST(Compiler, DeepNestingDoesNotRecurse) {
  TestVm t(16'000'000);
  const int depth = 100000;
  std::string text = " X = " + std::string(depth, '(') + "1" + std::string(depth, ')');
  EXPECT_EQ(compile(t, text.c_str()), "stmt/1 hdr(1,96) assign/2 X lit/1 #1 end/0");
  std::string calls = " X = ";
  for (int i = 0; i < depth; ++i) calls += "F(";
  calls += std::string(depth, ')');
  Descr code;
  ASSERT_TRUE(compile_code(*t, make_variable(*t, calls), &code));
  // Unclosed: an error, not a crash.
  std::string open = " X = " + std::string(depth, '(') + "1";
  EXPECT_FALSE(compile_code(*t, make_variable(*t, open), &code));
  EXPECT_EQ(t->cc.message, MSG_BREAK);
}

}  // namespace
}  // namespace pellux
