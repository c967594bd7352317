// Records of one dump entry: the single-line form and the splitting at the line limit.
#include <gtest/gtest.h>

#include <algorithm>
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

// --- The walk over the variable table and the terminal dump -----------------------------------

#include "runtime/termination.h"
#include "storage/convert.h"
#include "term_fixture.h"

namespace pellux {
namespace {

using Lines = std::vector<std::string>;
using DumpWalk = testing_term::OutputTest;

std::vector<std::string> with_prefix(const Lines& lines, const std::vector<std::string>& names) {
  // The lines among `lines` that belong to one of the named variables, in their order.
  Lines out;
  for (const auto& l : lines)
    for (const auto& n : names)
      if (l.rfind(n + " = ", 0) == 0) out.push_back(l);
  return out;
}

TEST_F(DumpWalk, ListsEveryNonNullVariableInTableOrder) {
  convert_init();
  set_var("X", make_variable(vm(), "A"));
  set_var("N", Descr::integer(3));
  set_var("R", Descr::real(2.5));
  set_var("E", make_variable(vm(), "gone"));
  set_var("E", NULL_STRING);
  set_var("Q", make_variable(vm(), "don't"));
  dump_variables(vm());
  Lines r = records();
  // Chains in bin order: the one-letter names hash to bins N 114, Q 118, R 119, X 125.
  EXPECT_EQ(with_prefix(r, {"N", "Q", "X", "R", "E"}),
            (Lines{"N = 3", "Q = 'don't'", "R = 2.5", "X = 'A'"}));
  // The built-in pattern variables are listed by their string form.
  EXPECT_EQ(with_prefix(r, {"ARB"}), Lines{"ARB = PATTERN"});
  // The table is still usable afterwards.
  EXPECT_EQ(var_value(lookup_variable(vm(), "N", 1).ptr()), Descr::integer(3));
}

TEST_F(DumpWalk, TerminalDumpSortsAndListsTheKeywords) {
  convert_init();
  set_var("B", make_variable(vm(), "b"));
  set_var("AB", Descr::integer(-2));
  set_var("A", Descr::real(0.5));
  set_var("a", make_variable(vm(), "lower"));
  set_var("Z", NULL_STRING);
  ukw(vm(), K_TRIM) = Descr::integer(5);
  ukw(vm(), K_DUMP) = Descr::integer(1);
  terminal_dump(vm());
  Lines r = records();
  ASSERT_GE(r.size(), 3u + 17);
  EXPECT_EQ(r[0], "");
  EXPECT_EQ(r[1], "Dump of variables at termination:");
  EXPECT_EQ(r[2], "Natural variables:");
  Lines vars(r.begin() + 3, r.end() - 18);
  EXPECT_EQ(with_prefix(vars, {"A", "AB", "B", "a", "Z"}),
            (Lines{"A = 0.5", "AB = -2", "B = 'b'", "a = 'lower'"}));
  // Everything between the headings is in byte order of the names.
  for (size_t i = 1; i < vars.size(); ++i) {
    std::string prev = vars[i - 1].substr(0, vars[i - 1].find(" = "));
    std::string cur = vars[i].substr(0, vars[i].find(" = "));
    EXPECT_LT(prev, cur);
  }
  Lines keywords(r.end() - 18, r.end());
  EXPECT_EQ(keywords, (Lines{"Unprotected keywords:", "&ABEND = 0", "&ANCHOR = 0", "&CODE = 0",
                             "&DUMP = 1", "&ERRLIMIT = 0", "&FTRACE = 0", "&FULLSCAN = 0",
                             "&INPUT = 1", "&IOERR = 0", "&MAXLNGTH = 63999999952",
                             "&OUTPUT = 1", "&STAT = 0", "&FLTSIG = 14", "&FLTDEC = 12",
                             "&STLIMIT = 9223372036854775807", "&TRACE = 0", "&TRIM = 5"}));
}

TEST_F(DumpWalk, LongValueIsSplitIntoRecords) {
  std::string text(20000, 'x');
  set_var("BIG", make_variable(vm(), text));
  dump_variables(vm());
  Lines r = records();
  // The record layer drops the blank that ends the name record.
  auto at = std::find(r.begin(), r.end(), "BIG =");
  ASSERT_NE(at, r.end());
  ASSERT_GE(r.end() - at, 4);
  EXPECT_EQ(at[1], "'");
  EXPECT_EQ(at[2], text);
  EXPECT_EQ(at[3], "'");
}

}  // namespace
}  // namespace pellux
