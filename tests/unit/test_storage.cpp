// The work space: block sizes, regeneration (roots, weak chains, relocation of interior
// pointers, deep structures), the soft limit, collect_storage, shrinking and the verifier.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::str;
using testing_vm::TestVm;
using testing_vm::text_of;

uint64_t used(Vm& vm) { return static_cast<uint64_t>(vm.st.free_ptr - vm.st.ws_start); }

TEST(StorageBlocks, SizesTitlesAndZeroedBodies) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  uint64_t before = used(vm);
  Descr b = allocate_block(vm, 0, T_ARRAY);
  EXPECT_EQ(used(vm) - before, 16u);
  EXPECT_EQ(b.f(), FLAG_POINTER);
  EXPECT_EQ(b.v(), T_ARRAY);
  EXPECT_EQ(b.ptr()->a, b.a);
  EXPECT_EQ(b.ptr()->f(), FLAG_TITLE);
  EXPECT_EQ(b.ptr()->v(), 0u);

  // A body left dirty by a dead block is zeroed when the space is handed out again.
  {
    Pin keep(vm, allocate_block(vm, 64, T_ARRAY));
    Descr dirty = allocate_block(vm, 160, T_ARRAY);
    std::memset(dirty.ptr() + 1, 0xAB, 160);
  }
  regenerate_storage(vm, 0);
  Descr fresh = allocate_block(vm, 160, T_CODE);
  for (int i = 1; i <= 10; ++i) EXPECT_EQ(fresh.ptr()[i], ZERO_DESCR) << i;

  // Natural variables: 64 bytes of header and the text rounded up to 16.
  const std::pair<const char*, uint64_t> cases[] = {
      {"q", 80}, {"0123456789abcdef", 80}, {"0123456789abcdefg", 96}};
  for (auto [text, size] : cases) {
    before = used(vm);
    Descr s = str(vm, text);
    EXPECT_EQ(used(vm) - before, size) << text;
    EXPECT_EQ(block_length(s.ptr()), size) << text;
    EXPECT_EQ(s.ptr()->f(), FLAG_TITLE | FLAG_STRING);
  }
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(StorageRegeneration, InteriorNameFollowsItsElementWhenTheBlockMoves) {
  // With the block-start map and, as when its memory is refused, without it.
  for (bool with_map : {true, false}) {
    TestVm t;
    Vm& vm = *t;
    t.no_stress();
    uint64_t* map = vm.st.start_map;
    if (!with_map) vm.st.start_map = nullptr;
    regenerate_storage(vm, 1 << 20);    // room for what follows without regenerating
    allocate_block(vm, 4096, T_ARRAY);  // garbage below, so the array moves down
    const int n = 20000;
    Descr arr = allocate_block(vm, 16 * n, T_ARRAY);
    for (int i = 0; i < n; ++i) arr.ptr()[1 + i] = Descr::integer(100 + i);
    // Only NAMEs hold the array: an interior pointer keeps its whole block alive.
    Pin near(vm, Descr::make(reinterpret_cast<uint64_t>(arr.ptr() + 1 + 7) - 16, FLAG_POINTER, T_NAME));
    Pin far(vm, Descr::make(reinterpret_cast<uint64_t>(arr.ptr() + n) - 16, FLAG_POINTER, T_NAME));
    uint64_t old_addr = near->a;
    regenerate_storage(vm, 0);
    EXPECT_NE(near->a, old_addr);
    EXPECT_EQ(reinterpret_cast<Descr*>(near->a + 16)->ival(), 107);
    EXPECT_EQ(reinterpret_cast<Descr*>(far->a + 16)->ival(), 100 + n - 1);
    Descr* title = find_title(near->a);
    EXPECT_EQ(title, find_title(far->a));
    EXPECT_EQ(title->v(), 16u * n);
    EXPECT_EQ(reinterpret_cast<uint64_t>(title), title->a);
    EXPECT_EQ(title[1].ival(), 100);
    EXPECT_EQ(check_heap(vm), nullptr);
    vm.st.start_map = map;
  }
}

TEST(StorageRegeneration, ChainsAreWeakForNullUnlabelledVariables) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  Descr gone = str(vm, "DROPPED_WHEN_NULL");
  uint64_t gone_len = block_length(gone.ptr());
  Descr valued = str(vm, "KEPT_BY_VALUE");
  var_value(valued.ptr()) = Descr::integer(42);
  str(vm, "KEPT_AS_LABEL");
  {
    Descr code = allocate_block(vm, 32, T_CODE);
    code.ptr()[1] = Descr::integer(9);
    var_attr(str(vm, "KEPT_AS_LABEL").ptr()) = code;
  }
  Descr reset = str(vm, "RESET_TO_NULL");
  var_value(reset.ptr()) = Descr::integer(1);
  var_value(reset.ptr()) = NULL_STRING;
  // A null-valued variable that something else refers to stays.
  Pin referred(vm, str(vm, "HELD_BY_A_PIN"));

  uint64_t before = used(vm);
  regenerate_storage(vm, 0);
  EXPECT_GE(before - used(vm), gone_len);
  EXPECT_EQ(lookup_variable(vm, "DROPPED_WHEN_NULL", 17), ZERO_DESCR);
  EXPECT_EQ(lookup_variable(vm, "RESET_TO_NULL", 13), ZERO_DESCR);
  Descr v = lookup_variable(vm, "KEPT_BY_VALUE", 13);
  ASSERT_NE(v.a, 0u);
  EXPECT_EQ(var_value(v.ptr()).ival(), 42);
  Descr l = lookup_variable(vm, "KEPT_AS_LABEL", 13);
  ASSERT_NE(l.a, 0u);
  ASSERT_EQ(var_attr(l.ptr()).v(), T_CODE);
  EXPECT_EQ(var_attr(l.ptr()).ptr()[1].ival(), 9);  // the label's code moved with it
  EXPECT_EQ(lookup_variable(vm, "HELD_BY_A_PIN", 13), *referred);

  // Made again, the dropped variable is a fresh null-valued one.
  Descr again = str(vm, "DROPPED_WHEN_NULL");
  EXPECT_EQ(var_value(again.ptr()), NULL_STRING);
  EXPECT_EQ(text_of(again), "DROPPED_WHEN_NULL");
  EXPECT_EQ(check_heap(vm), nullptr);  // includes chain order by key
}

TEST(StorageRegeneration, ReachabilityFromEveryKindOfRoot) {
  TestVm t;
  Vm& vm = *t;
  // A string held only by a block held only by a system descriptor.
  {
    Descr b = allocate_block(vm, 32, T_ARRAY);
    sys(vm, SD_WORK) = b;
    Descr s = str(vm, "ONLY_IN_A_BLOCK");
    sys(vm, SD_WORK).ptr()[1] = s;
  }
  // A block held by a keyword value and a block held by a pinned descriptor.
  {
    Descr b = allocate_block(vm, 16, T_TABLE);
    b.ptr()[1] = Descr::integer(5);
    ukw(vm, K_TRIM) = b;  // not a real keyword value, but the list is a root like any other
  }
  Pin pinned(vm, allocate_block(vm, 16, T_CODE));
  pinned->ptr()[1] = Descr::integer(6);
  // Function cells are roots too.
  Descr fname = str(vm, "CELL_OWNER");
  Descr* cell = function_cell(vm, fname, true);
  {
    Descr def = allocate_block(vm, 16, T_ARRAY);
    def.ptr()[1] = Descr::integer(7);
    cell[1] = def;
  }
  // Garbage: an unreferenced block between them.
  allocate_block(vm, 1024, T_ARRAY);

  for (int round = 0; round < 3; ++round) {
    regenerate_storage(vm, 0);
    ASSERT_EQ(check_heap(vm), nullptr);
    EXPECT_EQ(text_of(sys(vm, SD_WORK).ptr()[1]), "ONLY_IN_A_BLOCK");
    EXPECT_EQ(ukw(vm, K_TRIM).ptr()[1].ival(), 5);
    EXPECT_EQ(pinned->ptr()[1].ival(), 6);
    EXPECT_EQ(function_cell(vm, lookup_variable(vm, "CELL_OWNER", 10), false), cell);
    EXPECT_EQ(cell[1].ptr()[1].ival(), 7);
  }
  ukw(vm, K_TRIM) = Descr::integer(0);
}

// A linked list of n two-descriptor blocks (value, next); `descending` links each new block
// to the previous one, so the links point down in memory; otherwise they point up.
Descr build_list(Vm& vm, int n, bool descending) {
  Pin head(vm, ZERO_DESCR);
  Pin tail(vm, ZERO_DESCR);
  for (int i = 0; i < n; ++i) {
    Descr b = allocate_block(vm, 32, T_DATA_BASE + 1);
    b.ptr()[1] = Descr::integer(i);
    if (descending) {
      b.ptr()[2] = *head;
      head.set(b);
    } else {
      if (tail->a == 0) head.set(b);
      else tail->ptr()[2] = b;
      tail.set(b);
    }
    if (i % 3 == 0) allocate_block(vm, 16, T_ARRAY);  // interleaved garbage
  }
  return *head;
}

void expect_list(const Descr& head, int n, bool descending) {
  int count = 0;
  for (Descr d = head; d.a != 0; d = d.ptr()[2]) {
    int64_t want = descending ? n - 1 - count : count;
    ASSERT_EQ(d.ptr()[1].ival(), want);
    ++count;
  }
  EXPECT_EQ(count, n);
}

TEST(StorageRegeneration, DeepStructuresWithABoundedMarkStack) {
  for (uint64_t cap : {~uint64_t{0}, uint64_t{64}, uint64_t{1}, uint64_t{0}}) {
    for (bool descending : {false, true}) {
      TestVm t(16'000'000);
      Vm& vm = *t;
      t.no_stress();
      const int n = 30000;
      Pin list(vm, build_list(vm, n, descending));
      vm.st.mark_stack_cap = cap;
      // The list of live blocks overflows too (moving then walks the whole heap).
      if (cap == 64) vm.st.live_list_cap = 100;
      regenerate_storage(vm, 0);
      ASSERT_EQ(check_heap(vm), nullptr) << cap << " " << descending;
      expect_list(*list, n, descending);
      if (cap == 0) {
        EXPECT_GT(vm.st.regen_mark_deferrals, 0u);
      }
      // Everything else (the interleaved garbage) went away.
      uint64_t live_after = used(vm);
      regenerate_storage(vm, 0);
      EXPECT_EQ(used(vm), live_after);
      expect_list(*list, n, descending);
    }
  }
}

TEST(StorageSoftLimit, FourTimesLiveAndExactFit) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  if (vm.st.regen_count == 0) {
    EXPECT_EQ(vm.st.soft_limit, vm.st.hard_limit);  // until the first regeneration
  }
  EXPECT_EQ(vm.st.ws_size % 4096, 0u);
  regenerate_storage(vm, 0);
  uint64_t live = used(vm);
  EXPECT_EQ(vm.st.soft_limit, vm.st.ws_start + 4 * live);
  EXPECT_EQ(vm.st.bytes_available, static_cast<uint64_t>(vm.st.hard_limit - vm.st.free_ptr));

  // An allocation that ends exactly at the soft limit does not regenerate; the next one does.
  uint64_t count = vm.st.regen_count;
  uint64_t room = room_below_soft_limit(vm);
  allocate_block(vm, room - 16, T_ARRAY);
  EXPECT_EQ(vm.st.regen_count, count);
  EXPECT_EQ(vm.st.free_ptr, vm.st.soft_limit);
  allocate_block(vm, 0, T_ARRAY);
  EXPECT_EQ(vm.st.regen_count, count + 1);

  // A request larger than the room left by the four-times rule gets four times the request.
  regenerate_storage(vm, 0);
  uint64_t big = 8 * used(vm);
  regenerate_storage(vm, big);
  EXPECT_EQ(vm.st.soft_limit, vm.st.free_ptr + 4 * big);
  // ... capped at the hard limit.
  regenerate_storage(vm, vm.st.ws_size);
  EXPECT_EQ(vm.st.soft_limit, vm.st.hard_limit);
}

TEST(StorageSoftLimit, StressRegenerationIsNotCounted) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  regenerate_storage(vm, 0);
  uint64_t count = vm.st.regen_count;
  uint8_t* soft = vm.st.soft_limit;
  uint64_t reclaimed = vm.st.bytes_reclaimed;
  Pin keep(vm, allocate_block(vm, 32, T_ARRAY));
  keep->ptr()[2] = Descr::integer(8);
  allocate_block(vm, 3200, T_ARRAY);
  uint8_t* before = vm.st.free_ptr;
  stress_regenerate(vm);
  EXPECT_EQ(vm.st.free_ptr, before - 3216);  // the garbage went
  EXPECT_EQ(keep->ptr()[2].ival(), 8);
  EXPECT_EQ(vm.st.regen_count, count);
  EXPECT_EQ(vm.st.soft_limit, soft);
  EXPECT_EQ(vm.st.bytes_reclaimed, reclaimed);
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(StorageSoftLimit, AllocationRegeneratesOnceAndReclaims) {
  TestVm t(1'000'000);
  Vm& vm = *t;
  t.no_stress();
  Pin keep(vm, allocate_block(vm, 1600, T_ARRAY));
  keep->ptr()[100] = Descr::integer(77);
  // Garbage well beyond the work space in total: regeneration makes room every time.
  for (int i = 0; i < 2000; ++i) allocate_block(vm, 4000, T_ARRAY);
  EXPECT_GT(vm.st.regen_count, 0u);
  EXPECT_EQ(keep->ptr()[100].ival(), 77);
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(StorageCollect, AvailableBytesAndFailure) {
  TestVm t;
  Vm& vm = *t;
  allocate_block(vm, 50000, T_ARRAY);  // garbage
  int64_t avail = -1;
  EXPECT_TRUE(collect_storage(vm, 0, &avail));
  EXPECT_EQ(avail, vm.st.hard_limit - vm.st.free_ptr - 16);
  EXPECT_LT(used(vm), 50000u);
  EXPECT_TRUE(collect_storage(vm, avail, &avail));
  EXPECT_FALSE(collect_storage(vm, avail + 1, &avail));
  EXPECT_FALSE(collect_storage(vm, static_cast<int64_t>(vm.st.ws_size) * 2, &avail));
  // A huge request leaves the soft limit at the hard limit, without overflow.
  EXPECT_FALSE(collect_storage(vm, INT64_MAX, &avail));
  EXPECT_EQ(vm.st.soft_limit, vm.st.hard_limit);
}

TEST(StorageShrink, LastBlockAndBlockWithSuccessors) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  Pin code(vm, allocate_block(vm, 1600, T_CODE));
  uint8_t* end_before = vm.st.free_ptr;
  shrink_last_block(vm, code->ptr(), 320);
  EXPECT_EQ(code->ptr()->v(), 320u);
  EXPECT_EQ(vm.st.free_ptr, end_before - 1280);

  // Not the last block any more: the tail becomes a dead block of its own.
  Pin code2(vm, allocate_block(vm, 1600, T_CODE));
  code2->ptr()[3] = Descr::integer(3);
  Pin after(vm, str(vm, "ALLOCATED_AFTER_THE_CODE"));
  var_value(after->ptr()) = Descr::integer(1);
  shrink_last_block(vm, code2->ptr(), 160);
  ASSERT_EQ(check_heap(vm), nullptr);
  uint64_t before = used(vm);
  regenerate_storage(vm, 0);
  EXPECT_EQ(before - used(vm), 1600u - 160u);
  EXPECT_EQ(code2->ptr()[3].ival(), 3);
  EXPECT_EQ(text_of(*after), "ALLOCATED_AFTER_THE_CODE");
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(StorageVerifier, AcceptsAMixedHeapAndCatchesCorruption) {
  TestVm t;
  Vm& vm = *t;
  Pin arr(vm, allocate_block(vm, 16 * 20, T_ARRAY));
  for (int i = 0; i < 20; ++i) {
    Descr s = make_variable(vm, std::string(1 + i * 7, static_cast<char>('a' + i)));
    arr->ptr()[1 + i] = s;
  }
  Pin name(vm, Descr::make(reinterpret_cast<uint64_t>(arr->ptr() + 4), FLAG_POINTER, T_NAME));
  Pin kname(vm, Descr::make(reinterpret_cast<uint64_t>(&ukw(vm, K_ANCHOR)) - 16, FLAG_POINTER, T_KNAME));
  regenerate_storage(vm, 0);
  EXPECT_EQ(check_heap(vm), nullptr);
  EXPECT_EQ(text_of(reinterpret_cast<Descr*>(name->a + 16)[0]), std::string(29, 'e'));
  EXPECT_EQ(reinterpret_cast<Descr*>(kname->a + 16), &ukw(vm, K_ANCHOR));

  // A pointer into a string's text, a broken self pointer, a dangling pointer.
  Descr* slot = &arr->ptr()[1];
  Descr saved = *slot;
  *slot = Descr::make(saved.a + 64, FLAG_POINTER, T_NAME);
  EXPECT_NE(check_heap(vm), nullptr);
  *slot = Descr::make(reinterpret_cast<uint64_t>(vm.st.free_ptr) + 64, FLAG_POINTER, T_ARRAY);
  EXPECT_NE(check_heap(vm), nullptr);
  *slot = saved;
  EXPECT_EQ(check_heap(vm), nullptr);
  arr->ptr()->a += 16;
  EXPECT_NE(check_heap(vm), nullptr);
  arr->ptr()->a -= 16;
  EXPECT_EQ(check_heap(vm), nullptr);
}

int exit_code_nonzero(int status) {
  for (int c = 1; c < 256; ++c) {
    if (::testing::ExitedWithCode(c)(status)) return true;
  }
  return false;
}

TEST(StorageDeathTest, OversizedBlockIsFatalError23) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TestVm t;
        allocate_block(*t, MAX_BLOCK_BODY + 16, T_ARRAY);
      },
      exit_code_nonzero, "Work space exceeded");
  EXPECT_EXIT(
      {
        TestVm t(1'000'000);
        Pin keep(*t, allocate_block(*t, 600'000, T_ARRAY));
        allocate_block(*t, 600'000, T_ARRAY);
      },
      exit_code_nonzero, "Work space exceeded");
}

TEST(StorageDeathTest, SystemStackOverflowIsFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TestVm t;
        for (;;) sysstack_push(*t, Descr::integer(1));
      },
      exit_code_nonzero, "");
}

#ifndef NDEBUG
TEST(StorageDeathTest, MisusedPinsAndAllocationGuardsAreCaught) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TestVm t;
        auto* outer = new Pin(*t, Descr::integer(1));
        Pin inner(*t, Descr::integer(2));
        delete outer;  // released before the pin taken after it
      },
      "pins released out of order");
  EXPECT_DEATH(
      {
        TestVm t;
        NoAllocGuard guard(*t);
        allocate_block(*t, 16, T_ARRAY);
      },
      "no-allocation region");
  EXPECT_DEATH(
      {
        TestVm t;
        reserve_string(*t, 10);
        allocate_block(*t, 16, T_ARRAY);
      },
      "between reserve_string and finish_string");
}
#endif

}  // namespace
}  // namespace pellux
