// Pattern blocks as the collector and the scanner see them: the static built-in patterns, the
// node copy's offsets and saturating minima, and a constructed pattern across regeneration.
#include <gtest/gtest.h>

#include "pattern/nodes.h"
#include "pattern/pattern.h"
#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::str;
using testing_vm::TestVm;

// The node offsets reached from offset 0 by subsequent links, and the alternates seen.
struct Shape {
  std::vector<uint64_t> kinds;
  std::vector<uint64_t> alts;
  std::vector<uint64_t> subs;
};
Shape shape(const Descr* body, uint64_t slots) {
  Shape s;
  for (uint64_t i = 0; i < slots; i += node_slots(body + i)) {
    s.kinds.push_back(node_kind(body + i));
    s.alts.push_back(node_alt(body + i));
    s.subs.push_back(node_subs(body + i));
  }
  return s;
}

TEST(Pattern, BuiltinBlocksHaveTheirSizesAndNoPointerSlots) {
  TestVm t;
  const struct {
    PKw k;
    uint64_t slots;
  } expected[] = {{P_ARB, 9},  {P_BAL, 9},  {P_MAXARB, 12}, {P_REM, 4},
                  {P_FENCE, 3}, {P_ABORT, 3}, {P_FAIL, 3},    {P_SUCCEED, 3}};
  for (const auto& e : expected) {
    const Descr p = pkw(*t, e.k);
    ASSERT_EQ(p.v(), T_PATTERN);
    EXPECT_EQ(p.f(), 0) << "static patterns are not relocated";
    EXPECT_TRUE(in_static_area(*t, p.a));
    EXPECT_EQ(pattern_slots(p), e.slots) << e.k;
    const Descr* b = pattern_body(p);
    for (uint64_t i = 0; i < e.slots; ++i) {
      EXPECT_FALSE(b[i].is_title());
      EXPECT_FALSE(b[i].has(FLAG_POINTER));
    }
  }
  // ARB: null, null with ARB-step as its alternate, ARB-step its own alternate.
  Shape arb = shape(pattern_body(pkw(*t, P_ARB)), 9);
  EXPECT_EQ(arb.kinds, (std::vector<uint64_t>{NK_NULL, NK_NULL, NK_ARB_STEP}));
  EXPECT_EQ(arb.alts, (std::vector<uint64_t>{0, 6, 6}));
  EXPECT_EQ(arb.subs, (std::vector<uint64_t>{3, 0, 0}));
  Shape maxarb = shape(pattern_body(pkw(*t, P_MAXARB)), 12);
  EXPECT_EQ(maxarb.alts, (std::vector<uint64_t>{0, 6, 6, 0}));
  EXPECT_EQ(maxarb.subs, (std::vector<uint64_t>{3, 9, 9, 0}));
  // The variables of the same names start with the same values.
  EXPECT_EQ(var_value(str(*t, "ARB").ptr()), pkw(*t, P_ARB));
  EXPECT_EQ(var_value(str(*t, "REM").ptr()), pkw(*t, P_REM));
}

TEST(Pattern, NodeCopyMovesOffsetsAndSaturatesMinima) {
  // Two nodes: 0 (alt 3, subs 0 = end), 3 (alt 0, subs 0), with large minima.
  const Descr src[7] = {
      node_function(NK_NULL, false), node_link(3, 0), node_length(MIN_CAP - 1, 5),
      node_function(NK_LEN, true),   node_link(0, 0), node_length(7, 0), Descr::integer(7)};
  Descr dst[20] = {};
  const uint64_t end = copy_nodes(dst, 10 - 4, src, 7, 4, 6, 13);
  EXPECT_EQ(end, 13u);
  const Descr* a = dst + 6;
  EXPECT_EQ(node_alt(a), 9u);    // 3 + 6
  EXPECT_EQ(node_subs(a), 13u);  // end of the source: the end successor
  EXPECT_EQ(node_rest(a), MIN_CAP);  // saturated, not wrapped
  EXPECT_EQ(node_tail(a), 9u);
  const Descr* b = dst + 9;
  EXPECT_EQ(node_alt(b), 0u);  // no alternate stays none
  EXPECT_EQ(node_subs(b), 13u);
  EXPECT_EQ(node_rest(b), 11u);
  EXPECT_EQ(b[3], Descr::integer(7));
  EXPECT_EQ(sat_add(MIN_CAP, MIN_CAP), MIN_CAP);
  EXPECT_EQ(sat_add(~uint64_t{0}, 2), MIN_CAP);
  // The minimum length follows the first node's chain of alternates.
  EXPECT_EQ(pattern_min_length(src), 7u);
}

TEST(Pattern, FindTextFindsTheFirstOccurrence) {
  const uint8_t hay[] = "abcabcabd";
  EXPECT_EQ(find_text(hay, 9, reinterpret_cast<const uint8_t*>("abd"), 3), hay + 6);
  EXPECT_EQ(find_text(hay, 9, reinterpret_cast<const uint8_t*>("c"), 1), hay + 2);
  EXPECT_EQ(find_text(hay, 8, reinterpret_cast<const uint8_t*>("abd"), 3), nullptr);
  EXPECT_EQ(find_text(hay, 0, reinterpret_cast<const uint8_t*>("a"), 1), nullptr);
}

TEST(Pattern, ConstructedPatternFollowsItsStringsThroughRegeneration) {
  TestVm t;
  t.no_stress();
  // Garbage first, so that regeneration moves everything made after it.
  Descr garbage = make_variable(*t, std::string(5000, 'g'));
  (void)garbage;
  Pin left(*t, str(*t, "left text"));
  ASSERT_EQ(pattern_concat(*t, *left, pkw(*t, P_ARB)), X_VALUE);
  Pin p(*t, result(*t));
  ASSERT_EQ(p->v(), T_PATTERN);
  ASSERT_EQ(pattern_slots(*p), 4u + 9u);
  const uint64_t before = p->a;
  regenerate_storage(*t, 0);
  EXPECT_NE(p->a, before) << "the garbage should have made the block move";
  EXPECT_EQ(check_heap(*t), nullptr);
  const Descr* body = pattern_body(*p);
  EXPECT_EQ(node_kind(body), NK_LITERAL);
  EXPECT_EQ(body[3], *left);  // the literal's string was relocated with it
  EXPECT_EQ(node_rest(body), 9u);
  EXPECT_EQ(node_subs(body), 4u);
  EXPECT_EQ(node_kind(body + 4), NK_NULL);
  EXPECT_EQ(node_alt(body + 7), 10u);  // ARB's alternates moved by the literal's 4 slots
}

}  // namespace
}  // namespace pellux
