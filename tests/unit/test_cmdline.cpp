// The command line: command text, matcher, help text and first-line options.
#include <cstring>
#include <string>
#include <vector>

#include "io_fixture.h"
#include "runtime/cmdline.h"

namespace pellux::testing_io {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// A literal with its embedded NULs.
template <size_t N>
std::string bytes(const char (&s)[N]) {
  return std::string(s, N - 1);
}

class CmdlineTest : public IoTest {
 protected:
  // Builds the command text from "pellux" and the arguments, then matches it.
  CommandMatch run(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/pellux");
    std::vector<const char*> argv;
    for (auto& a : args) argv.push_back(a.c_str());
    build_command_text(vm(), static_cast<int>(argv.size()), argv.data());
    return match_command_text(vm(), vm().rt.parm, vm().rt.parm_length);
  }
  bool ok(std::vector<std::string> args) { return run(std::move(args)).status == CommandStatus::Matched; }
  std::string parm() const { return std::string(vm_->rt.parm, vm_->rt.parm_length); }
  UnitRecord* unit(int n) { return vm().io.units[n]; }
  void first_line(const std::string& s) {
    std::memset(vm().io.first_line, 0, sizeof vm().io.first_line);
    std::memcpy(vm().io.first_line, s.data(), s.size());
  }
};

TEST_F(CmdlineTest, CommandText) {
  EXPECT_TRUE(ok({"prog.sno", "", "-1", "my file"}));
  EXPECT_EQ(parm(), bytes("/usr/bin/pellux\0prog.sno\0\0-1\0my file\0"));
  // The copy stops at 32,767 bytes.
  std::string big(40000, 'a');
  run({big});
  EXPECT_EQ(vm().rt.parm_length, COMMAND_TEXT_MAX);
  EXPECT_EQ(parm().substr(0, 16), std::string("/usr/bin/pellux\0", 16));
}

TEST_F(CmdlineTest, HelpNeedsOnlyThePrefix) {
  EXPECT_EQ(run({"--helpme"}).status, CommandStatus::Help);
  EXPECT_EQ(run({"prog.sno", "-s", "--help"}).status, CommandStatus::Help);
  EXPECT_NE(unit(5), nullptr);  // items before it were applied
  EXPECT_EQ(run({"-help"}).status, CommandStatus::Failed);

  CaptureStderr();
  write_help();
  std::string h = GetCapturedStderr();
  EXPECT_EQ(h.rfind("PELLUX", 0), 0u);
  EXPECT_NE(h.find("Version Beta 5.0"), std::string::npos);
  EXPECT_NE(h.find("\r\nTo run: pellux [options...] [files...] [:user data]\r\noptions:\r\n"
                   "  --work=nnnn[b|k|m|g]  work space size\r\n"),
            std::string::npos);
  EXPECT_NE(h.find("\r\n  -i vs. -ni            include & snopath processing on ascii reads\r\n"),
            std::string::npos);
  const std::string tail = "Example:\r\npellux -v myprogram.sno -1 datafileA.xxx -b\r\n";
  EXPECT_EQ(h.substr(h.size() - tail.size()), tail);
  int lines = 0;
  for (size_t i = 0; (i = h.find("\r\n", i)) != std::string::npos; i += 2) ++lines;
  EXPECT_EQ(lines, 22);
  EXPECT_EQ(h.find('\n'), h.find("\r\n") + 1);  // no bare line feeds
}

TEST_F(CmdlineTest, Options) {
  EXPECT_TRUE(ok({"-v"}));
  EXPECT_TRUE(vm().cc.listing);
  EXPECT_EQ(keyword(K_STAT), 1);
  EXPECT_EQ(keyword(K_DUMP), 0);
  EXPECT_FALSE(vm().cc.exec_despite_errors);
  EXPECT_TRUE(ok({"-d", "-ex", "--test=42"}));
  EXPECT_EQ(keyword(K_DUMP), 1);
  EXPECT_TRUE(vm().cc.exec_despite_errors);
  EXPECT_EQ(vm().rt.test_number, 42);
  set_keyword(K_STAT, 0);
  EXPECT_TRUE(ok({"-s"}));
  EXPECT_EQ(keyword(K_STAT), 1);
  EXPECT_FALSE(ok({"--test="}));
  EXPECT_FALSE(ok({"--test=12345678901234567890"}));  // 20 digits
  EXPECT_FALSE(ok({"-sv"}));
}

TEST_F(CmdlineTest, WorkSpaceSizes) {
  struct Case {
    const char* arg;
    uint64_t size;
  } cases[] = {
      {"--work=100k", 102400},     {"--work=5000", 8192},       {"--work=4096b", 4096},
      {"--work=4097B", 8192},      {"--work=2M", 2097152},      {"--work=1g", 1073741824},
      {"--work=3K", 4096},         {"--work=0", 0},
      {"--work=9223372036854775807", uint64_t{1} << 63},
  };
  for (const auto& c : cases) {
    vm().rt.work_size = 1;
    EXPECT_TRUE(ok({c.arg})) << c.arg;
    EXPECT_EQ(vm().rt.work_size, c.size) << c.arg;
  }
  EXPECT_TRUE(ok({"--work=1m", "--work=8k"}));  // the last one wins
  EXPECT_EQ(vm().rt.work_size, 8192u);
  vm().rt.work_size = 77;
  for (const char* bad : {"--work=9223372036854775808", "--work=9007199254740992k",
                          "--work=8589934592g", "--work=12345678901234567890", "--work=",
                          "--work=10x", "--work=k", "--work=10kb"}) {
    EXPECT_EQ(run({bad}).status, CommandStatus::Failed) << bad;
    EXPECT_EQ(vm().rt.work_size, 77u) << bad;
  }
}

TEST_F(CmdlineTest, FailureReportsFurthestPosition) {
  // "-vl" matches "-v" and then finds no separator.
  CommandMatch m = run({"-vl", "prog.sno"});
  EXPECT_EQ(m.status, CommandStatus::Failed);
  EXPECT_EQ(m.furthest, 16u + 2u);
  EXPECT_EQ(unit(5), nullptr);  // nothing after the failure is applied
  CaptureStderr();
  report_command_failure(vm().rt.parm, vm().rt.parm_length, m.furthest);
  EXPECT_EQ(GetCapturedStderr(),
            bytes("18= cursor, Failed to understand all parameters on command line.\r\n"
                  "/usr/bin/pellux\0-vl\0prog.sno\0\"\r\n"));
  // Options before the failure stay applied.
  m = run({"-d", "prog.sno", "-1000", "x"});
  EXPECT_EQ(m.status, CommandStatus::Failed);
  EXPECT_EQ(keyword(K_DUMP), 1);
  EXPECT_NE(unit(5), nullptr);
  EXPECT_EQ(m.furthest, 16u + 3 + 9 + 4);  // "-" and three digits
}

TEST_F(CmdlineTest, FileBindingsAndAttributes) {
  EXPECT_TRUE(ok({"prog.sno", "-b", "-1", "data.txt", "-ap", "-ncr"}));
  ASSERT_NE(unit(5), nullptr);
  EXPECT_STREQ(unit(5)->name, "prog.sno");
  EXPECT_EQ(unit(5)->flags, UF_BINARY | UF_NOTAB | UF_NOCR | UF_NOEOF);  // -b cleared -i
  ASSERT_NE(unit(1), nullptr);
  EXPECT_STREQ(unit(1)->name, "data.txt");
  EXPECT_EQ(unit(1)->flags, UF_NOEOF | UF_APPEND | UF_NOCR);
  EXPECT_EQ(unit(1)->access, 0);
  EXPECT_EQ(unit(1)->open_mark, 0);  // binding does not open
  // Options may follow files; "-ex" is not the attribute "-e".
  EXPECT_TRUE(ok({"-7", "seven", "-vl", "-e", "-ex", "-s"}));
  EXPECT_EQ(unit(7)->flags, UF_NOEOF | UF_VARLEN | UF_E | UF_STD);
  EXPECT_TRUE(vm().cc.exec_despite_errors);
  EXPECT_FALSE(ok({"prog.sno", "-bogus"}));
}

TEST_F(CmdlineTest, ExplicitAndImplicitUnitFive) {
  EXPECT_TRUE(ok({"-5", "a.sno"}));
  EXPECT_EQ(unit(5)->flags, UF_NOEOF | UF_INCLUDE);
  close_unit(vm(), 5);
  EXPECT_TRUE(ok({"a.sno"}));
  EXPECT_EQ(unit(5)->flags, UF_INCLUDE);
  // The implicit form keeps the flag word of an existing record.
  EXPECT_TRUE(ok({"-5", "a.sno", "-ap", "b.sno"}));
  EXPECT_STREQ(unit(5)->name, "b.sno");
  EXPECT_EQ(unit(5)->flags, UF_NOEOF | UF_INCLUDE | UF_APPEND);
}

TEST_F(CmdlineTest, UnitNumbersAndNames) {
  EXPECT_TRUE(ok({"-999", "x"}));
  EXPECT_NE(unit(999), nullptr);
  EXPECT_TRUE(ok({"-0", "zero"}));
  EXPECT_STREQ(unit(0)->name, "zero");
  EXPECT_TRUE(ok({"-012", "twelve"}));
  EXPECT_STREQ(unit(12)->name, "twelve");
  EXPECT_FALSE(ok({"-1000", "x"}));
  EXPECT_FALSE(ok({"-0005", "x"}));
  EXPECT_FALSE(ok({"-3"}));  // no file name
  // A unit-file name runs to the end of its argument; an implicit one stops at a blank.
  EXPECT_TRUE(ok({"-3", "my file.txt", "-b"}));
  EXPECT_STREQ(unit(3)->name, "my file.txt");
  EXPECT_EQ(unit(3)->flags & UF_BINARY, UF_BINARY);
  close_unit(vm(), 5);
  EXPECT_TRUE(ok({"my prog.sno"}));
  EXPECT_STREQ(unit(5)->name, "prog.sno");  // "my" bound first, then "prog.sno"
  // Names of 1,024 characters are kept; longer ones fail the item.
  std::string n1024(1024, 'n'), n1025(1025, 'n');
  EXPECT_TRUE(ok({"-4", n1024}));
  EXPECT_EQ(std::strlen(unit(4)->name), 1024u);
  EXPECT_FALSE(ok({"-6", n1025}));
  EXPECT_EQ(unit(6), nullptr);
  EXPECT_FALSE(ok({n1025}));
}

TEST_F(CmdlineTest, UserDataAndSeparators) {
  EXPECT_TRUE(ok({"prog.sno", ":", "-zz", "--bogus", "-1000"}));
  EXPECT_STREQ(unit(5)->name, "prog.sno");
  EXPECT_NE(parm().find(bytes("\0:\0-zz\0--bogus\0-1000\0")), std::string::npos);
  EXPECT_TRUE(ok({":anything at all"}));
  // Empty arguments, blanks, TABs and CRs are separators.
  EXPECT_TRUE(ok({"", "-s\t", " ", "-d\r", ""}));
  EXPECT_TRUE(ok({}));
  EXPECT_TRUE(ok({"-s -d"}));
}

TEST_F(CmdlineTest, FirstLineOptions) {
  vm().rt.work_size = 1;
  first_line("sr/bin/pellux -s --work=64m");
  EXPECT_EQ(apply_first_line_options(vm()), 2);
  EXPECT_EQ(keyword(K_STAT), 1);
  EXPECT_EQ(vm().rt.work_size, 64u << 20);

  first_line(" -d");
  EXPECT_EQ(apply_first_line_options(vm()), 1);
  EXPECT_EQ(keyword(K_DUMP), 1);

  // The first item not understood ends the options silently.
  set_keyword(K_STAT, 0);
  set_keyword(K_DUMP, 0);
  first_line("x -v\t-zz -d");
  CaptureStderr();
  EXPECT_EQ(apply_first_line_options(vm()), 1);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_TRUE(vm().cc.listing);
  EXPECT_EQ(keyword(K_DUMP), 0);

  // File items and --help mean nothing here; CR is no separator.
  first_line("-1 x -s");
  EXPECT_EQ(apply_first_line_options(vm()), 0);
  first_line("--help");
  EXPECT_EQ(apply_first_line_options(vm()), 0);
  first_line("-ex\r");
  EXPECT_EQ(apply_first_line_options(vm()), 0);
  first_line("no options");
  EXPECT_EQ(apply_first_line_options(vm()), 0);
  // 255 characters fill the field but for its last NUL.
  first_line(std::string(251, ' ') + "-ex");
  EXPECT_EQ(apply_first_line_options(vm()), 1);
}

TEST_F(CmdlineTest, ProgramFileFromTheCommandLine) {
  // The file named on the command line is what unit 5 reads, first-line probe included.
  write_file("p.sno", "#!/x -d\n  line one\n");
  std::string p = path("p.sno");
  ASSERT_TRUE(ok({p}));
  std::string t;
  EXPECT_EQ(read(5, 0, &t), ReadOutcome::Record);
  EXPECT_TRUE(vm().io.first_line_present);
  EXPECT_EQ(apply_first_line_options(vm()), 1);
  EXPECT_EQ(keyword(K_DUMP), 1);
  EXPECT_EQ(read(5, 12, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "  line one  ");  // the implicit form reads fixed-length records
  close_unit(vm(), 5);

  // A missing program file, and a directory given as one.
  for (const std::string& name : {path("missing.sno"), dir_.string()}) {
    ASSERT_TRUE(ok({name}));
    CaptureStderr();
    EXPECT_EQ(read(5, 0, &t), ReadOutcome::Error);
    EXPECT_EQ(GetCapturedStderr(), "Error opening file or directory:\r\n" + name);
    EXPECT_EQ(read(5, 80, &t), ReadOutcome::Error);
    close_unit(vm(), 5);
  }
}

}  // namespace
}  // namespace pellux::testing_io
