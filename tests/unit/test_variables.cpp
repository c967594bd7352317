// Natural variables and the static tables: the hash, interning, in-place strings, keywords,
// the function-name list, pair lists, CLEAR and the dump order.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "builtins/table.h"
#include "storage/intern_index.h"
#include "storage/storage.h"
#include "test_vm.h"

namespace pellux {
namespace {

using testing_vm::str;
using testing_vm::TestVm;
using testing_vm::text_of;

TEST(VariablesHash, ValuesAndTheBytesThatCount) {
  uint32_t bin, key;
  // One character: one round over s[0] twice (h1 = 1617, h2 = 4609); two: s[1] then s[0].
  hash_text("A", 1, &bin, &key);
  EXPECT_EQ(bin, 101u);
  EXPECT_EQ(key, 4609u);
  hash_text("AB", 2, &bin, &key);
  EXPECT_EQ(bin, 134u);
  EXPECT_EQ(key, 5313u);

  // Length 3 hashes s[2] and s[0] only.
  uint32_t b2, k2;
  hash_text("ABC", 3, &bin, &key);
  hash_text("AZC", 3, &b2, &k2);
  EXPECT_EQ(bin, b2);
  EXPECT_EQ(key, k2);
  hash_text("ABD", 3, &b2, &k2);
  EXPECT_FALSE(bin == b2 && key == k2);

  // Only the first and last 37 bytes of a long text count.
  std::string a(200, 'x'), b(200, 'x');
  b[100] = 'y';
  hash_text(a.data(), a.size(), &bin, &key);
  hash_text(b.data(), b.size(), &b2, &k2);
  EXPECT_EQ(bin, b2);
  EXPECT_EQ(key, k2);
  b = a;
  b[36] = 'y';
  hash_text(b.data(), b.size(), &b2, &k2);
  EXPECT_FALSE(bin == b2 && key == k2);
  for (const char* s : {"x", "hello", "0123456789012345678901234567890123456789012"}) {
    hash_text(s, std::strlen(s), &bin, &key);
    EXPECT_LT(bin, 8192u);
    EXPECT_LT(key, 32768u);
  }
}

// Numbered texts of one length: the chain hash gives them a handful of chains and keys.
std::string numbered(int i) {
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "LINE%08d", i);
  return std::string(buf, static_cast<size_t>(n));
}

TEST(VariablesInterning, FamiliesOfSimilarTextsStayFastAndOrdered) {
  TestVm t(64'000'000);
  Vm& vm = *t;
  t.no_stress();
  const int n = 100000;
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < n; ++i) {
    Descr v = str(vm, numbered(i));
    var_value(v.ptr()) = Descr::integer(i);
  }
  for (int i = 0; i < n; ++i) ASSERT_EQ(var_value(str(vm, numbered(i)).ptr()).ival(), i);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Walking the shared chain would take minutes; the index takes well under a second.
  EXPECT_LT(seconds, 10.0);
  // The table order of one bin and key still lists its variables in creation order.
  uint32_t bin, key;
  hash_text("LINE00000000", 12, &bin, &key);
  int64_t last = -1, same = 0;
  std::vector<Descr*> order;
  variables_in_dump_order(vm, false, &order);
  for (Descr* v : order) {
    uint32_t b, k;
    hash_text(var_text(v), var_length(v), &b, &k);
    if (b != bin || k != key || var_length(v) != 12 || std::memcmp(var_text(v), "LINE", 4) != 0) continue;
    int64_t value = var_value(v).ival();
    EXPECT_GT(value, last);
    last = value;
    ++same;
  }
  EXPECT_GT(same, 1000);
  regenerate_storage(vm, 0);
  EXPECT_EQ(check_heap(vm), nullptr);
  EXPECT_EQ(var_value(lookup_variable(vm, "LINE00054321", 12).ptr()).ival(), 54321);
}

TEST(VariablesInterning, IndexFollowsDropsAndCanBeSwitchedOff) {
  TestVm t(16'000'000);
  Vm& vm = *t;
  t.no_stress();
  // Many variables that die at once: the index keeps only the survivors, in a table sized
  // for them.
  for (int i = 0; i < 20000; ++i) str(vm, numbered(i));
  Pin kept(vm, str(vm, "KEPT"));
  EXPECT_GT(vm.st.index.mask + 1, 40000u);
  regenerate_storage(vm, 0);
  EXPECT_LT(vm.st.index.live, 2000u);
  EXPECT_LT(vm.st.index.mask + 1, 40000u);
  EXPECT_EQ(lookup_variable(vm, "LINE00000007", 12), ZERO_DESCR);
  EXPECT_EQ(lookup_variable(vm, "KEPT", 4), *kept);
  EXPECT_EQ(check_heap(vm), nullptr);

  // Without the index a walk of the work space gives the same answers, and the variables made
  // meanwhile join the index when it is rebuilt.
  intern::disable(vm.st);
  ASSERT_FALSE(vm.st.index.enabled);
  EXPECT_EQ(str(vm, "KEPT"), *kept);
  for (int i = 0; i < 3000; ++i) {
    Descr v = str(vm, numbered(i));
    var_value(v.ptr()) = Descr::integer(i);
  }
  EXPECT_EQ(var_value(str(vm, numbered(2999)).ptr()).ival(), 2999);
  regenerate_storage(vm, 0);
  EXPECT_EQ(check_heap(vm), nullptr);
  ASSERT_TRUE(intern::rebuild(vm.st));
  EXPECT_EQ(check_heap(vm), nullptr);
  for (int i = 0; i < 3000; i += 7) EXPECT_EQ(var_value(str(vm, numbered(i)).ptr()).ival(), i);
  Descr added = str(vm, "AFTER_REBUILD");
  EXPECT_EQ(str(vm, "AFTER_REBUILD"), added);
}

TEST(VariablesInterning, EqualTextsShareOneBlock) {
  TestVm t;
  Vm& vm = *t;
  EXPECT_EQ(make_variable(vm, "", 0), NULL_STRING);
  EXPECT_EQ(lookup_variable(vm, "NOT_MADE_YET", 12), ZERO_DESCR);
  // Null-valued variables live only while something refers to them: the tests pin them.
  Pin a(vm, str(vm, "ALPHA"));
  EXPECT_EQ(a->f(), FLAG_POINTER);
  EXPECT_EQ(a->v(), T_STRING);
  EXPECT_EQ(str(vm, "ALPHA"), *a);
  EXPECT_EQ(lookup_variable(vm, "ALPHA", 5), *a);
  EXPECT_NE(str(vm, "ALPHAB"), *a);
  Pin lower(vm, str(vm, "alpha"));
  EXPECT_NE(*lower, *a);
  // Texts with NUL and high bytes are texts like any other.
  const char odd[] = {'\0', '\xff', 'z'};
  Pin o(vm, make_variable(vm, odd, 3));
  EXPECT_EQ(make_variable(vm, odd, 3), *o);
  EXPECT_EQ(string_length(*o), 3u);
  EXPECT_EQ(std::memcmp(string_text(*o), odd, 3), 0);

  // Same bin and key, told apart by the text, kept in insertion order in the table order.
  Pin abc(vm, str(vm, "ABC"));
  Pin azc(vm, str(vm, "AZC"));
  Pin a0c(vm, str(vm, "A0C"));
  EXPECT_NE(*abc, *azc);
  EXPECT_NE(*a0c, *azc);
  EXPECT_EQ(str(vm, "AZC"), *azc);
  EXPECT_EQ(str(vm, "ABC"), *abc);
  uint32_t bin, key;
  hash_text("ABC", 3, &bin, &key);
  std::vector<std::string> same_key;
  std::vector<Descr*> order;
  variables_in_dump_order(vm, true, &order);
  for (Descr* v : order) {
    uint32_t b, k;
    hash_text(var_text(v), var_length(v), &b, &k);
    if (b == bin && k == key) same_key.emplace_back(var_text(v), var_length(v));
  }
  std::vector<std::string> inserted{"ABC", "AZC", "A0C"};
  ASSERT_GE(same_key.size(), 3u);
  std::vector<std::string> ours;
  for (auto& s : same_key) {
    if (s == "ABC" || s == "AZC" || s == "A0C") ours.push_back(s);
  }
  EXPECT_EQ(ours, inserted);
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(VariablesInterning, SpecifiersIntoMovingBlocks) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  allocate_block(vm, 8000, T_ARRAY);  // garbage below, so the source moves
  Descr src = str(vm, "prefix-SUBSTRING-suffix");
  Spec part{src, Descr::make(VAR_HEADER + 7, 0, 9)};
  // Force the slow path to regenerate: the source block moves under the specifier.
  vm.st.soft_limit = vm.st.free_ptr;
  uint64_t count = vm.st.regen_count;
  Descr sub = make_variable(vm, part);
  EXPECT_EQ(vm.st.regen_count, count + 1);
  EXPECT_EQ(text_of(sub), "SUBSTRING");
  // The plain-text overload copes with text in the work space too.
  Descr src2 = str(vm, "another-PIECE-here");
  allocate_block(vm, 8000, T_ARRAY);
  Pin keep(vm, src2);
  regenerate_storage(vm, 0);
  allocate_block(vm, 4000, T_ARRAY);
  vm.st.soft_limit = vm.st.free_ptr;
  Descr piece = make_variable(vm, string_text(*keep) + 8, 5);
  EXPECT_EQ(text_of(piece), "PIECE");
  EXPECT_EQ(make_variable(vm, Spec::of_string(*keep)), *keep);
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(VariablesInterning, ReserveAndFinishInPlace) {
  TestVm t;
  Vm& vm = *t;
  t.no_stress();
  Descr existing = str(vm, "BUILT");
  uint8_t* free_before = vm.st.free_ptr;
  char* p = reserve_string(vm, 10);
  std::memcpy(p, "BUILT", 5);
  EXPECT_EQ(finish_string(vm, 5), existing);
  EXPECT_EQ(vm.st.free_ptr, free_before);  // abandoned in place

  p = reserve_string(vm, 40);
  std::memcpy(p, "FRESHLY_BUILT", 13);
  Descr fresh = finish_string(vm, 13);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(fresh.a), free_before);
  EXPECT_EQ(vm.st.free_ptr, free_before + 80);
  EXPECT_EQ(text_of(fresh), "FRESHLY_BUILT");
  EXPECT_EQ(str(vm, "FRESHLY_BUILT"), fresh);
  EXPECT_EQ(var_value(fresh.ptr()), NULL_STRING);

  reserve_string(vm, 8);
  EXPECT_EQ(finish_string(vm, 0), NULL_STRING);
  reserve_string(vm, 0);
  EXPECT_EQ(finish_string(vm, 0), NULL_STRING);
  EXPECT_EQ(check_heap(vm), nullptr);

  // When the reservation does not fit, room is made by regenerating first.
  vm.st.soft_limit = vm.st.free_ptr + 32;
  uint64_t count = vm.st.regen_count;
  p = reserve_string(vm, 100);
  EXPECT_EQ(vm.st.regen_count, count + 1);
  std::memset(p, 'r', 100);
  Descr r = finish_string(vm, 100);
  EXPECT_EQ(text_of(r), std::string(100, 'r'));
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(VariablesKeywords, ListsInOrderWithInitialValues) {
  TestVm t;
  Vm& vm = *t;
  const char* unprotected[] = {"TRIM", "TRACE", "STLIMIT", "FLTDEC", "FLTSIG", "STAT",
                               "OUTPUT", "MAXLNGTH", "IOERR", "INPUT", "FULLSCAN", "FTRACE",
                               "ERRLIMIT", "DUMP", "CODE", "ANCHOR", "ABEND"};
  int64_t values[] = {0, 0, INT64_MAX, 12, 14, 0, 1, 63999999952, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  Descr* ulist = vm.st.ukw - 1;
  ASSERT_EQ(pair_count(ulist), 17u);
  for (int k = 0; k < 17; ++k) {
    EXPECT_EQ(text_of(vm.st.ukw[2 * k + 1]), unprotected[k]);
    EXPECT_EQ(ukw(vm, static_cast<UKw>(k)), Descr::integer(values[k])) << unprotected[k];
    EXPECT_EQ(find_unprotected_keyword(vm, str(vm, unprotected[k])), &ukw(vm, static_cast<UKw>(k)));
    EXPECT_EQ(find_protected_keyword(vm, str(vm, unprotected[k])), nullptr);
  }
  const char* protected_names[] = {"ERRTYPE", "ARB", "BAL", "FENCE", "ABORT", "FAIL", "MAXARB",
                                   "REM", "SUCCEED", "STFCOUNT", "LASTNO", "RTNTYPE", "STNO",
                                   "ALPHABET", "OS", "UC", "lc", "DIG", "STCOUNT", "FNCLEVEL",
                                   "PARM", "INFINITY", "NAN", "PI", "E"};
  ASSERT_EQ(pair_count(vm.st.pkw - 1), 25u);
  for (int k = 0; k < 25; ++k) {
    EXPECT_EQ(text_of(vm.st.pkw[2 * k + 1]), protected_names[k]);
    EXPECT_EQ(find_protected_keyword(vm, str(vm, protected_names[k])), &pkw(vm, static_cast<PKw>(k)));
  }
  EXPECT_EQ(find_protected_keyword(vm, str(vm, "LC")), nullptr);
  EXPECT_EQ(find_unprotected_keyword(vm, str(vm, "trim")), nullptr);
  for (PKw k : {P_ERRTYPE, P_STFCOUNT, P_LASTNO, P_STNO, P_STCOUNT, P_FNCLEVEL}) {
    EXPECT_EQ(pkw(vm, k), Descr::integer(0));
  }
  EXPECT_EQ(pkw(vm, P_RTNTYPE), NULL_STRING);

  std::string alphabet = text_of(pkw(vm, P_ALPHABET));
  ASSERT_EQ(alphabet.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(static_cast<uint8_t>(alphabet[i]), i);
  EXPECT_EQ(text_of(pkw(vm, P_UC)), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  EXPECT_EQ(text_of(pkw(vm, P_LC)), "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(text_of(pkw(vm, P_DIG)), "0123456789");
  EXPECT_EQ(text_of(pkw(vm, P_OS)), "Linux");
  EXPECT_EQ(pkw(vm, P_INFINITY), Descr::real_bits(0x7FF0000000000000ull));
  EXPECT_EQ(pkw(vm, P_NAN), Descr::real_bits(0x7FF8000000000000ull));
  EXPECT_EQ(pkw(vm, P_PI), Descr::real(3.141592653589793));
  EXPECT_EQ(pkw(vm, P_E), Descr::real(2.718281828459045));

  // The built-in patterns: distinct static blocks, shared with the variables of their names.
  PKw patterns[] = {P_ARB, P_BAL, P_FENCE, P_ABORT, P_FAIL, P_MAXARB, P_REM, P_SUCCEED};
  std::vector<uint64_t> seen;
  for (PKw k : patterns) {
    Descr p = pkw(vm, k);
    EXPECT_EQ(p.v(), T_PATTERN);
    EXPECT_EQ(p.f(), 0);
    EXPECT_TRUE(in_static_area(vm, p.a));
    for (uint64_t s : seen) EXPECT_NE(s, p.a);
    seen.push_back(p.a);
    EXPECT_EQ(var_value(vm.st.pkw[2 * k + 1].ptr()), p);
  }
  // They survive regeneration as values of those variables (chains are roots when valued).
  regenerate_storage(vm, 0);
  EXPECT_EQ(var_value(lookup_variable(vm, "ARB", 3).ptr()), pkw(vm, P_ARB));
}

TEST(VariablesKeywords, ParmFromTheCommandText) {
  auto vm = std::make_unique<Vm>();
  char parm[] = "pellux\0prog.sno";
  vm->rt.parm = parm;
  vm->rt.parm_length = sizeof parm - 1;
  storage_prepare(*vm);
  interp_prepare(*vm);
  compiler_prepare(*vm);
  storage_init(*vm, 1'000'000);
  EXPECT_EQ(text_of(pkw(*vm, P_PARM)), std::string(parm, sizeof parm - 1));
  EXPECT_TRUE(vm->st.initialised);
  storage_release(*vm);
}

TEST(VariablesStaticLists, DataTypesSystemStringsAssociationsTraceKinds) {
  TestVm t;
  Vm& vm = *t;
  Descr* types = pair_list(vm, SD_DATATYPES);
  ASSERT_EQ(pair_count(types), 10u);
  const std::pair<uint64_t, const char*> want[] = {
      {1, "STRING"}, {6, "INTEGER"}, {3, "PATTERN"}, {4, "ARRAY"}, {7, "REAL"},
      {8, "CODE"},   {9, "NAME"},    {10, "NAME"},   {11, "EXPRESSION"}, {5, "TABLE"}};
  for (uint64_t i = 0; i < 10; ++i) {
    EXPECT_EQ(pair_at(types, i)[0], datatype_key(want[i].first));
    EXPECT_EQ(text_of(pair_at(types, i)[1]), want[i].second);
  }
  Descr* hit = locate_pair(types, datatype_key(T_KNAME));
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(text_of(hit[2]), "NAME");
  EXPECT_EQ(locate_pair(types, datatype_key(2)), nullptr);

  const std::pair<SysSlot, const char*> strings[] = {
      {SD_STR_EXTERNAL, "EXTERNAL"}, {SD_STR_END, "END"},       {SD_STR_END_LC, "end"},
      {SD_STR_RETURN, "RETURN"},     {SD_STR_FRETURN, "FRETURN"}, {SD_STR_NRETURN, "NRETURN"},
      {SD_STR_FUNCTION, "FUNCTION"}};
  EXPECT_EQ(sys(vm, SD_STR_NULL), NULL_STRING);
  for (auto [slot, text] : strings) EXPECT_EQ(sys(vm, slot), str(vm, text));

  auto assoc = [&](SysSlot list, const char* name, int64_t unit, int64_t length) {
    Descr* p = locate_pair(pair_list(vm, list), str(vm, name));
    ASSERT_NE(p, nullptr) << name;
    Descr block = p[2];
    EXPECT_EQ(block.f(), FLAG_POINTER);
    EXPECT_EQ(block.ptr()[1], Descr::integer(unit)) << name;
    EXPECT_EQ(block.ptr()[2], Descr::integer(length)) << name;
  };
  EXPECT_EQ(pair_count(pair_list(vm, SD_INPUT_ASSOC)), 2u);
  assoc(SD_INPUT_ASSOC, "INPUT", 5, 80);
  assoc(SD_INPUT_ASSOC, "TERMINAL", 97, 256);
  EXPECT_EQ(pair_count(pair_list(vm, SD_OUTPUT_ASSOC)), 3u);
  assoc(SD_OUTPUT_ASSOC, "OUTPUT", 6, 0);
  assoc(SD_OUTPUT_ASSOC, "PUNCH", 7, 0);
  assoc(SD_OUTPUT_ASSOC, "TERMINAL", 98, 0);

  Descr* traces = pair_list(vm, SD_TRACE_TYPES);
  const char* kinds[] = {"VALUE", "LABEL", "CALL", "RETURN", "KEYWORD"};
  ASSERT_EQ(pair_count(traces), 5u);
  for (uint64_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pair_at(traces, i)[0], Descr::integer(static_cast<int64_t>(i + 1)));
    EXPECT_EQ(text_of(pair_at(traces, i)[1]), kinds[i]);
  }
}

TEST(VariablesStaticLists, AddPairFillsThenGrows) {
  TestVm t;
  Vm& vm = *t;
  Descr* original = pair_list(vm, SD_INPUT_ASSOC);
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) {
    names.push_back("ASSOC_" + std::to_string(i));
    Descr block = allocate_block(vm, 32, T_PAIRLIST);
    block.ptr()[1] = Descr::integer(i);
    Pin b(vm, block);
    Descr name = str(vm, names.back());
    add_pair(vm, SD_INPUT_ASSOC, name, Descr::pointer(b->ptr(), 0));
  }
  Descr* grown = pair_list(vm, SD_INPUT_ASSOC);
  EXPECT_NE(grown, original);
  EXPECT_EQ(sys(vm, SD_INPUT_ASSOC).v(), T_PAIRLIST);
  EXPECT_FALSE(in_static_area(vm, grown->a));
  regenerate_storage(vm, 0);
  Descr* list = pair_list(vm, SD_INPUT_ASSOC);
  EXPECT_EQ(text_of(pair_at(list, 0)[0]), "INPUT");
  EXPECT_EQ(text_of(pair_at(list, 1)[0]), "TERMINAL");
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(text_of(pair_at(list, 2 + i)[0]), names[i]);
    EXPECT_EQ(pair_at(list, 2 + i)[1].ptr()[1].ival(), i);
  }
  for (uint64_t i = 42; i < pair_count(list); ++i) EXPECT_EQ(pair_at(list, i)[0], ZERO_DESCR);
  // An emptied pair is filled before the list grows again.
  pair_at(list, 5)[0] = ZERO_DESCR;
  pair_at(list, 5)[1] = ZERO_DESCR;
  uint64_t pairs = pair_count(list);
  while (pair_count(pair_list(vm, SD_INPUT_ASSOC)) == pairs &&
         locate_pair(pair_list(vm, SD_INPUT_ASSOC), ZERO_DESCR) != nullptr) {
    add_pair(vm, SD_INPUT_ASSOC, str(vm, "FILLER"), Descr::integer(0));
  }
  EXPECT_EQ(text_of(pair_at(pair_list(vm, SD_INPUT_ASSOC), 5)[0]), "FILLER");
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(VariablesFunctionNames, BuiltinNamesAndCells) {
  TestVm t;
  Vm& vm = *t;
  Descr* fnames = pair_list(vm, SD_FNAMES);
  ASSERT_EQ(pair_count(fnames), 266u);
  std::vector<std::string> names;
  for (uint64_t i = 0; i < 256; ++i) {
    Descr* p = pair_at(fnames, i);
    EXPECT_EQ(p[0].f(), FLAG_FUNCTION | FLAG_POINTER);
    names.push_back(text_of(p[1]));
  }
  for (uint64_t i = 256; i < 266; ++i) EXPECT_EQ(pair_at(fnames, i)[0], ZERO_DESCR);
  EXPECT_EQ(names[0], "AND");
  EXPECT_EQ(names[1], "and");
  EXPECT_EQ(names[2], "ANY");
  EXPECT_EQ(names[254], "R2HEXX");
  EXPECT_EQ(names[255], "r2hexx");

  auto cell = [&](const char* n) { return function_cell(vm, str(vm, n), false); };
  for (int i = 0; i < BUILTIN_COUNT; ++i) {
    Descr* fd = cell(BUILTINS[i].name);
    ASSERT_NE(fd, nullptr) << BUILTINS[i].name;
    EXPECT_EQ(fd->a, reinterpret_cast<uint64_t>(BUILTINS[i].proc));
    EXPECT_EQ(fd->v(), static_cast<uint64_t>(BUILTINS[i].nargs));
    EXPECT_EQ(fd->f(), BUILTINS[i].any_count ? FLAG_FUNCTION : 0);
  }
  EXPECT_STREQ(BUILTINS[BUILTIN_ITEM].name, "ITEM");
  // Every name has a cell of its own, starting with the same descriptor as its other names.
  auto same_function = [&](const char* a, const char* b) {
    Descr* ca = cell(a);
    Descr* cb = cell(b);
    EXPECT_NE(ca, cb) << a << " " << b;
    EXPECT_EQ(ca[0], cb[0]) << a << " " << b;
  };
  same_function("io_findunit", "IO_FINDUNIT");
  same_function("REV", "REVERSE");
  same_function("rev", "reverse");
  same_function("rev", "REV");
  EXPECT_NE(cell("LOAD"), nullptr);
  EXPECT_EQ(cell("load"), nullptr);
  EXPECT_EQ(cell("unload"), nullptr);
  EXPECT_EQ(cell("Len"), nullptr);
  EXPECT_EQ(cell("INPUT")->v(), 5u);
  EXPECT_EQ(cell("TRACE")->v(), 4u);

  // New names: cells with the undefined operation, first in the spare pairs, then growing the
  // list; cells never move.
  std::vector<Descr*> cells;
  for (int i = 0; i < 30; ++i) {
    Descr* c = function_cell(vm, str(vm, "USER_FN_" + std::to_string(i)), true);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c[0], *op_descriptor(vm, OP_UNDEFINED));
    EXPECT_EQ(c[1], ZERO_DESCR);
    cells.push_back(c);
    if (i == 9) {
      EXPECT_EQ(pair_list(vm, SD_FNAMES), fnames);
    }
  }
  EXPECT_NE(pair_list(vm, SD_FNAMES), fnames);
  EXPECT_EQ(text_of(pair_at(pair_list(vm, SD_FNAMES), 256)[1]), "USER_FN_0");
  regenerate_storage(vm, 0);
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(function_cell(vm, str(vm, "USER_FN_" + std::to_string(i)), false), cells[i]);
    EXPECT_EQ(function_cell(vm, str(vm, "USER_FN_" + std::to_string(i)), true), cells[i]);
  }
  EXPECT_EQ(function_cell(vm, NULL_STRING, true), nullptr);
  EXPECT_EQ(check_heap(vm), nullptr);
}

TEST(VariablesClearAndSort, ClearKeepsLabelsAndKeywordsSortOrdersByText) {
  TestVm t;
  Vm& vm = *t;
  ukw(vm, K_ANCHOR) = Descr::integer(1);
  Pin label_code(vm, allocate_block(vm, 16, T_CODE));
  const char* words[] = {"b", "a", "ab", "B", "abc", "A", "\xff", "aa"};
  for (const char* w : words) {
    Descr v = str(vm, w);
    var_value(v.ptr()) = Descr::integer(1);
  }
  Descr lbl = str(vm, "LBL");
  var_attr(lbl.ptr()) = *label_code;
  var_value(lbl.ptr()) = Descr::integer(2);
  clear_variables(vm);
  for (const char* w : words) EXPECT_EQ(var_value(str(vm, w).ptr()), NULL_STRING) << w;
  EXPECT_EQ(var_attr(str(vm, "LBL").ptr()), *label_code);
  EXPECT_EQ(var_value(str(vm, "LBL").ptr()), NULL_STRING);
  EXPECT_EQ(ukw(vm, K_ANCHOR), Descr::integer(1));
  EXPECT_EQ(pkw(vm, P_ARB).v(), T_PATTERN);
  EXPECT_EQ(text_of(pkw(vm, P_UC)), "ABCDEFGHIJKLMNOPQRSTUVWXYZ");

  // Only valued variables make the dump list, in unsigned byte order, shorter first.
  for (const char* w : words) {
    Descr v = str(vm, w);
    var_value(v.ptr()) = Descr::integer(3);
  }
  sort_variables(vm);
  std::vector<std::string> order;
  for (Descr* v = vm.st.bins[0].ptr(); v; v = var_link(v).ptr()) order.emplace_back(var_text(v), var_length(v));
  std::vector<std::string> want{"A", "B", "a", "aa", "ab", "abc", "b", "\xff"};
  EXPECT_EQ(order, want);
  for (uint64_t b = 1; b < BIN_COUNT; ++b) EXPECT_EQ(vm.st.bins[b].a, 0u);
  // The dump goes on formatting values, which may allocate and regenerate: the merged list
  // survives that.
  Descr made = str(vm, "MADE_DURING_THE_DUMP");
  var_value(made.ptr()) = Descr::integer(4);
  regenerate_storage(vm, 0);
  EXPECT_EQ(check_heap(vm), nullptr);
  order.clear();
  for (Descr* v = vm.st.bins[0].ptr(); v; v = var_link(v).ptr()) order.emplace_back(var_text(v), var_length(v));
  EXPECT_EQ(order, want);
}

}  // namespace
}  // namespace pellux
