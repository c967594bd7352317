// The interpreter loop on hand-built object code (exits of nested activations, failure
// offsets, exit 4 from a statement body), operand skipping, and the association filter.
#include <gtest/gtest.h>

#include <vector>

#include "interp/associations.h"
#include "interp/interp.h"
#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::str;
using testing_vm::TestVm;

// Procedures for test instructions, with function descriptors outside the work space.
Exit proc_fail(Vm&) { return X_FAIL; }
Exit proc_name_noinput(Vm& vm) {
  result(vm) = Descr::make(sys(vm, SD_STR_END).a, FLAG_POINTER, T_NAME);
  return X_NAME_NOINPUT;
}
int count_calls = 0;
Exit proc_count(Vm&) {
  ++count_calls;
  return X_VALUE;
}
Descr fd_fail[2] = {Descr::make(reinterpret_cast<uint64_t>(&proc_fail), 0, 0), ZERO_DESCR};
Descr fd_noinput[2] = {Descr::make(reinterpret_cast<uint64_t>(&proc_name_noinput), 0, 0), ZERO_DESCR};
Descr fd_count[2] = {Descr::make(reinterpret_cast<uint64_t>(&proc_count), 0, 0), ZERO_DESCR};

// Builds a code block from descriptors and makes it the code base (offset 0).
class Code {
 public:
  explicit Code(Vm& vm) : vm_(vm) {}
  Code& op(OpCode o, uint64_t n) { return add(instruction(op_descriptor(vm_, o), n)); }
  Code& call(const Descr* fd, uint64_t n) { return add(instruction(fd, n)); }
  Code& add(const Descr& d) {
    ds_.push_back(d);
    return *this;
  }
  // Offset of the descriptor that will be added next.
  uint64_t here() const { return 16 * (ds_.size() + 1); }
  Descr* start() {
    // The descriptors are held on the system stack while the block is allocated, so that
    // regeneration keeps (and relocates) the variables they point to.
    Descr* held = nullptr;
    for (const Descr& d : ds_) {
      Descr* slot = sysstack_push(vm_, d);
      if (held == nullptr) held = slot;
    }
    Descr block = allocate_block(vm_, 16 * ds_.size(), T_CODE);
    Descr* body = block.ptr() + 1;
    for (size_t i = 0; i < ds_.size(); ++i) body[i] = held[i];
    sysstack_pop(vm_, ds_.size());
    sys(vm_, SD_CODE_BASE) = Descr::make(block.a, FLAG_POINTER, T_CODE);
    vm_.in.code_offset = 0;
    return block.ptr();
  }

 private:
  Vm& vm_;
  std::vector<Descr> ds_;
};

Descr header(uint64_t stno, uint64_t fail) { return Descr::make(stno, 0, fail); }

TEST(InterpLoop, GotoReturnKindsLeaveANestedActivation) {
  TestVm t;
  Vm& vm = *t;
  struct Case {
    SysSlot label;
    Exit expected;
  } cases[] = {{SD_STR_RETURN, X_VALUE}, {SD_STR_FRETURN, X_FAIL}, {SD_STR_NRETURN, X_NAME}};
  for (const Case& c : cases) {
    Code code(vm);
    code.op(OP_STATEMENT, 1).add(header(4, 0)).op(OP_GOTO_LABEL, 1).add(sys(vm, c.label));
    code.start();
    int64_t level = vm.in.level;
    EXPECT_EQ(run_loop(vm), c.expected);
    EXPECT_EQ(vm.in.level, level);
    EXPECT_FALSE(vm.in.goto_return);
    EXPECT_EQ(pkw_int(vm, P_STNO), 4);
  }
}

TEST(InterpLoop, FailureGoesToTheFailureOffsetAndIsCounted) {
  TestVm t;
  Vm& vm = *t;
  pkw(vm, P_STNO) = Descr::integer(3);
  Code code(vm);
  code.op(OP_STATEMENT, 1);
  uint64_t hdr_at = code.here();
  code.add(ZERO_DESCR).call(fd_fail, 0).op(OP_GOTO_LABEL, 1).add(sys(vm, SD_STR_RETURN));
  uint64_t fail_offset = code.here() - 16;  // the descriptor before the failure goto
  code.op(OP_GOTO_LABEL, 1).add(sys(vm, SD_STR_FRETURN));
  Descr* block = code.start();
  block[hdr_at / 16] = header(7, fail_offset);
  int64_t failures = pkw_int(vm, P_STFCOUNT);
  int64_t count = pkw_int(vm, P_STCOUNT);
  EXPECT_EQ(run_loop(vm), X_FAIL);  // took the FRETURN after the failure
  EXPECT_EQ(pkw_int(vm, P_STFCOUNT), failures + 1);
  EXPECT_EQ(pkw_int(vm, P_STCOUNT), count + 1);
  EXPECT_EQ(pkw_int(vm, P_STNO), 7);
  EXPECT_EQ(pkw_int(vm, P_LASTNO), 3);
}

TEST(InterpLoop, ExitFourFromAStatementBodyIsNotAReturn) {
  TestVm t;
  Vm& vm = *t;
  Code code(vm);
  code.op(OP_STATEMENT, 1).add(header(1, 0)).call(fd_noinput, 0);
  code.op(OP_STATEMENT, 1).add(header(2, 0)).op(OP_GOTO_LABEL, 1).add(sys(vm, SD_STR_RETURN));
  code.start();
  EXPECT_EQ(run_loop(vm), X_VALUE);
  EXPECT_EQ(pkw_int(vm, P_STNO), 2);
}

TEST(InterpLoop, JumpRebaseAndPlainDescriptors) {
  TestVm t;
  Vm& vm = *t;
  count_calls = 0;
  Code code(vm);
  code.op(OP_STATEMENT, 1).add(header(1, 0)).op(OP_JUMP, 1);
  uint64_t jump_operand = code.here();
  code.add(ZERO_DESCR);
  code.call(fd_count, 0);  // jumped over
  uint64_t target = code.here() - 16;
  // Plain descriptors between instructions are skipped by the loop.
  code.add(Descr::integer(99)).add(str(vm, "plain"));
  uint64_t rebase_at = code.here();
  code.op(OP_REBASE, 0).call(fd_count, 0);
  code.op(OP_GOTO_LABEL, 1).add(sys(vm, SD_STR_RETURN));
  Descr* block = code.start();
  block[jump_operand / 16] = Descr::make(target, 0, 0);
  EXPECT_EQ(run_loop(vm), X_VALUE);
  EXPECT_EQ(count_calls, 1);
  // After op_rebase the base is the rebase descriptor itself.
  EXPECT_EQ(sys(vm, SD_CODE_BASE).a, reinterpret_cast<uint64_t>(block) + rebase_at);
}

TEST(InterpOperands, SkipOperandStepsOverNestedInstructions) {
  TestVm t;
  Vm& vm = *t;
  // fd_count with 2 operands: a literal and another two-operand call with a variable and a
  // literal; then a marker that must be the next descriptor after the skip.
  Code code(vm);
  code.call(fd_count, 2).op(OP_LITERAL, 1).add(Descr::integer(1));
  code.call(fd_count, 2).add(str(vm, "V")).op(OP_LITERAL, 1).add(Descr::integer(2));
  uint64_t after = code.here() - 16;
  code.add(Descr::integer(42));
  code.start();
  skip_operand(vm);
  EXPECT_EQ(vm.in.code_offset, after);
}

TEST(InterpOperands, EvalNameAndValueOfPlainDescriptors) {
  TestVm t;
  Vm& vm = *t;
  Pin v(vm, str(vm, "SOMEVAR"));
  var_value(v->ptr()) = Descr::integer(12);
  Code code(vm);
  code.add(*v).add(*v).op(OP_LITERAL, 1).add(Descr::integer(5));
  code.start();
  ASSERT_EQ(eval_value(vm), X_VALUE);
  EXPECT_EQ(result(vm), Descr::integer(12));
  ASSERT_EQ(eval_name(vm), X_NAME);
  EXPECT_EQ(result(vm), Descr::make(v->a, FLAG_POINTER, T_NAME));
  ASSERT_EQ(eval_value(vm), X_VALUE);
  EXPECT_EQ(result(vm), Descr::integer(5));
}

// --- The association filter ------------------------------------------------------------------

Descr assoc_block(Vm& vm, int64_t unit, int64_t length) {
  Descr b = allocate_block(vm, 32, 0);
  b.ptr()[1] = Descr::integer(unit);
  b.ptr()[2] = Descr::integer(length);
  return Descr::make(b.a, FLAG_POINTER, 0);
}

const Descr* output_of(Vm& vm, const char* name) {
  Descr v = str(vm, name);
  return output_association(vm, v.ptr());
}

TEST(AssocFilter, PredefinedAssociations) {
  TestVm t;
  Vm& vm = *t;
  const Descr* out = output_of(vm, "OUTPUT");
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out[1].ival(), 6);
  ASSERT_NE(output_of(vm, "PUNCH"), nullptr);
  EXPECT_EQ(output_of(vm, "PUNCH")[1].ival(), 7);
  EXPECT_EQ(output_of(vm, "TERMINAL")[1].ival(), 98);
  Descr in = str(vm, "INPUT");
  const Descr* ia = input_association(vm, in.ptr());
  ASSERT_NE(ia, nullptr);
  EXPECT_EQ(ia[1].ival(), 5);
  EXPECT_EQ(ia[2].ival(), 80);
  Descr term = str(vm, "TERMINAL");
  ia = input_association(vm, term.ptr());
  ASSERT_NE(ia, nullptr);
  EXPECT_EQ(ia[1].ival(), 97);
  EXPECT_EQ(ia[2].ival(), 256);
  EXPECT_EQ(output_of(vm, "INPUT"), nullptr);
  EXPECT_EQ(output_of(vm, "output"), nullptr);
  // The keyword switches them off.
  ukw(vm, K_OUTPUT) = Descr::integer(0);
  EXPECT_EQ(output_of(vm, "OUTPUT"), nullptr);
}

TEST(AssocFilter, FollowsPairsAddedGrownAndMoved) {
  TestVm t;
  Vm& vm = *t;
  // Warm the filter, then add many associations: the list fills its empty pairs, is copied
  // longer, and the filter must notice every step.
  EXPECT_EQ(output_of(vm, "NEW0"), nullptr);
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    names.push_back("NEW" + std::to_string(i));
    Pin blk(vm, assoc_block(vm, 100 + i, 0));
    Pin var(vm, str(vm, names.back()));
    add_pair(vm, SD_OUTPUT_ASSOC, *var, *blk);
    const Descr* a = output_of(vm, names.back().c_str());
    ASSERT_NE(a, nullptr) << names.back();
    EXPECT_EQ(a[1].ival(), 100 + i);
  }
  // Garbage before the list makes regeneration move it.
  for (int i = 0; i < 100; ++i) allocate_block(vm, 64, 0);
  regenerate_storage(vm, 0);
  for (int i = 0; i < 40; ++i) {
    const Descr* a = output_of(vm, names[i].c_str());
    ASSERT_NE(a, nullptr) << names[i];
    EXPECT_EQ(a[1].ival(), 100 + i);
  }
  EXPECT_NE(output_of(vm, "OUTPUT"), nullptr);
  EXPECT_EQ(output_of(vm, "NEW40"), nullptr);
  EXPECT_EQ(output_of(vm, "OTHER"), nullptr);
}

TEST(AssocFilter, DetachedPairIsNoAssociation) {
  TestVm t;
  Vm& vm = *t;
  Descr var = str(vm, "OUTPUT");
  Descr* at = locate_pair(sys(vm, SD_OUTPUT_ASSOC).ptr(), var);
  ASSERT_NE(at, nullptr);
  at[2] = ZERO_DESCR;
  EXPECT_EQ(output_of(vm, "OUTPUT"), nullptr);
  EXPECT_NE(output_of(vm, "PUNCH"), nullptr);
}

TEST(InterpDepth, NativeStackLimitIsErrorTwentyOne) {
  TestVm t;
  Vm& vm = *t;
  check_depth(vm);  // no limit known: nothing happens
  char here;
  vm.in.native_stack_limit = reinterpret_cast<uintptr_t>(&here) + 4096;
  EXPECT_EXIT(check_depth(vm), ::testing::ExitedWithCode(1), "");
  vm.in.native_stack_limit = 0;
}

}  // namespace
}  // namespace pellux
