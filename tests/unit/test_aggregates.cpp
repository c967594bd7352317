// Table chains as blocks (slots, trailer, extension blocks, keys compared as whole
// descriptors), the large-table index agreeing with the scan, and SORT's key order.
#include <cmath>
#include <limits>

#include "storage/aggregates.h"
#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::TestVm;

// The slot whose NAME a lookup returned: the value descriptor at A + 16.
Descr* slot_of(const Descr& name) { return name.ptr() + 1; }

TEST(Aggregates, TableGrowsByExtensionBlocksOfTheRecordedSize) {
  TestVm t;
  Vm& vm = *t;
  Pin table(vm, make_table(vm, 1, 2));
  Descr* first = table->ptr();
  EXPECT_EQ(first->v(), 32u * 2);
  EXPECT_EQ(table_trailer(first)[0].a, 32u * 3);
  EXPECT_EQ(table_trailer(first)[1], Descr::make(1, 0, 0));
  EXPECT_EQ(first[1], NULL_STRING);
  EXPECT_EQ(first[2], ZERO_DESCR);

  Pin k1(vm, Descr::integer(1));
  Pin k2(vm, make_variable(vm, "1"));
  Descr n1 = table_lookup(vm, &*table, &*k1);
  EXPECT_EQ(slot_of(n1), table->ptr() + 1);
  // "1" is another key: the only block is full, so an extension of two slots is linked.
  Descr n2 = table_lookup(vm, &*table, &*k2);
  first = table->ptr();
  Descr* ext = table_next(first);
  ASSERT_NE(ext, nullptr);
  EXPECT_EQ(table_slots(ext), 2u);
  EXPECT_EQ(slot_of(n2), ext + 1);
  EXPECT_EQ(ext[2], *k2);
  EXPECT_EQ(ext[4], ZERO_DESCR);
  EXPECT_EQ(table_trailer(ext)[0].a, 32u * 3);
  // Found again without growing; 0.0 and -0.0 are different keys.
  EXPECT_EQ(slot_of(table_lookup(vm, &*table, &*k1)), table->ptr() + 1);
  Pin z(vm, Descr::real(0.0));
  Pin mz(vm, Descr::real(-0.0));
  EXPECT_EQ(slot_of(table_lookup(vm, &*table, &*z)), table_next(table->ptr()) + 3);
  // The chain is full again: -0.0 starts a third block.
  Descr nmz = table_lookup(vm, &*table, &*mz);
  EXPECT_EQ(slot_of(nmz), table_next(table_next(table->ptr())) + 1);
  EXPECT_EQ(slot_of(table_lookup(vm, &*table, &*z)), table_next(table->ptr()) + 3);
}

TEST(Aggregates, IndexedLookupFindsWhatTheScanFinds) {
  TestVm t;
  Vm& vm = *t;
  // 100 slots, so the index is used; keys are entered twice by hand (as CONVERT may), and
  // the first of each must be found.
  Pin table(vm, make_table(vm, 100, 10));
  for (int i = 0; i < 100; ++i) table->ptr()[2 + 2 * i] = Descr::integer(i % 40);
  for (int i = 0; i < 40; ++i) {
    Pin k(vm, Descr::integer(i));
    EXPECT_EQ(slot_of(table_lookup(vm, &*table, &*k)), table->ptr() + 1 + 2 * i);
  }
  // New keys go to the extension blocks in order, and are then found there.
  for (int i = 100; i < 125; ++i) {
    Pin k(vm, Descr::integer(i));
    Descr n = table_lookup(vm, &*table, &*k);
    EXPECT_EQ(slot_of(n)[1], *k);
  }
  Descr* b = table->ptr();
  int blocks = 0;
  for (; b != nullptr; b = table_next(b)) ++blocks;
  EXPECT_EQ(blocks, 4);  // 100 + 10 + 10 + 10 slots for 125 keys
  Pin k(vm, Descr::integer(124));
  Descr* last = table_next(table_next(table_next(table->ptr())));
  EXPECT_EQ(slot_of(table_lookup(vm, &*table, &*k)), last + 1 + 2 * 4);
}

TEST(Aggregates, SortKeyOrder) {
  TestVm t;
  Vm& vm = *t;
  // Integers against reals exactly, beyond the 53 bits of a double.
  EXPECT_GT(sort_compare(Descr::integer(9007199254740993), Descr::real(9007199254740992.0)), 0);
  EXPECT_EQ(sort_compare(Descr::integer(3), Descr::real(3.0)), 0);
  EXPECT_LT(sort_compare(Descr::real(-0.5), Descr::integer(0)), 0);
  // Strings by unsigned bytes, a prefix first; strings before every other type.
  Pin a(vm, make_variable(vm, "ab"));
  Pin b(vm, make_variable(vm, "a"));
  Pin hi(vm, make_variable(vm, "\xff"));
  EXPECT_GT(sort_compare(*a, *b), 0);
  EXPECT_GT(sort_compare(*hi, *a), 0);
  EXPECT_LT(sort_compare(NULL_STRING, *b), 0);
  EXPECT_LT(sort_compare(*hi, Descr::integer(-5)), 0);
  // Other values of one type are equal; NaN compares by bit pattern.
  EXPECT_EQ(sort_compare(Descr::make(16, FLAG_POINTER, T_TABLE), Descr::make(32, FLAG_POINTER, T_TABLE)), 0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_GT(sort_compare(Descr::real(nan), Descr::real(1.0)), 0);
  EXPECT_LT(sort_compare(Descr::real(-nan), Descr::real(1.0)), 0);
}

}  // namespace
}  // namespace pellux
