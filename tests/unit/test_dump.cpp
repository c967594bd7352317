// Records of one dump entry: the single-line form and the splitting at the line limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/dump.h"

namespace pellux {
namespace {

std::vector<std::string> entry(const std::string& name, const std::string& text, bool is_string) {
  std::vector<std::string> records;
  dump_entry(
      name.data(), name.size(), text.data(), text.size(), is_string,
      [](void* ctx, const char* t, uint64_t n) {
        static_cast<std::vector<std::string>*>(ctx)->emplace_back(t, n);
      },
      &records);
  return records;
}

using Records = std::vector<std::string>;

TEST(DumpEntry, OneRecordWhenItFits) {
  EXPECT_EQ(entry("X", "A", true), Records{"X = 'A'"});
  EXPECT_EQ(entry("N", "3", false), Records{"N = 3"});
  EXPECT_EQ(entry("P", "PATTERN", false), Records{"P = PATTERN"});
  // Apostrophes inside a string are written as they are, not doubled.
  EXPECT_EQ(entry("S", "it's", true), Records{"S = 'it's'"});
}

TEST(DumpEntry, LimitCountsNameAndTextOnly) {
  // 15,088 characters of name and text together still make one record, although the line
  // itself is longer by the separator and the apostrophes.
  std::string name(88, 'N'), text(15000, 't');
  Records one = entry(name, text, true);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].size(), 15088u + 5);
  EXPECT_EQ(one[0], name + " = '" + text + "'");

  Records split = entry(name, text + "u", true);
  EXPECT_EQ(split, (Records{name + " = ", "'", text + "u", "'"}));

  Records bare = entry(name, std::string(15001, '7'), false);
  EXPECT_EQ(bare, (Records{name + " = ", std::string(15001, '7')}));
}

TEST(DumpEntry, LongNameIsWrittenOnItsOwn) {
  std::string name(15088, 'V');
  EXPECT_EQ(entry(name, "A", true), (Records{name, " = ", "'", "A", "'"}));
  EXPECT_EQ(entry(name, "12", false), (Records{name, " = ", "12"}));
  // One character shorter, the name goes with the separator.
  std::string shorter(15087, 'V');
  EXPECT_EQ(entry(shorter, "A", true), Records{shorter + " = 'A'"});
  EXPECT_EQ(entry(shorter, "AB", true), (Records{shorter + " = ", "'", "AB", "'"}));
}

TEST(DumpEntry, TwentyThousandCharacterString) {
  std::string text(20000, 'x');
  EXPECT_EQ(entry("BIG", text, true), (Records{"BIG = ", "'", text, "'"}));
}

}  // namespace
}  // namespace pellux
