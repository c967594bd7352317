// The unit and record layer: attribute words, binding, reading, writing and closing.
#include <string>
#include <vector>

#include "io_fixture.h"

namespace pellux::testing_io {
namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

uint16_t flags_after(const char* attrs, uint16_t start = 0) {
  uint16_t f = start;
  std::string a = attrs;
  size_t i = 0;
  while (i < a.size()) {
    if (a[i] == ' ') {
      ++i;
      continue;
    }
    const AttributeWord* w = match_attribute(a.data() + i, a.size() - i);
    EXPECT_NE(w, nullptr) << "at " << a.substr(i);
    if (!w) break;
    f = apply_attribute(f, *w);
    i += w->length;
  }
  return f;
}

// --- Attribute words ------------------------------------------------------------------------------

TEST(AttributeWords, PrefixOrderAndSetThenClear) {
  EXPECT_EQ(flags_after("-b"), UF_BINARY | UF_NOTAB | UF_NOCR | UF_NOEOF);
  // "-a" only clears the binary bit: the rest of "-b" stays.
  EXPECT_EQ(flags_after("-b -a"), UF_NOTAB | UF_NOCR | UF_NOEOF);
  EXPECT_EQ(flags_after("-lr -lw"), UF_LW);
  EXPECT_EQ(flags_after("-std -i -dir"), UF_NOBUF | UF_DIR | UF_BINARY | UF_NOTAB | UF_VARLEN);
  EXPECT_EQ(flags_after("-e"), UF_E | UF_STD);
  EXPECT_EQ(flags_after("-e -ne"), UF_STD);
  EXPECT_EQ(flags_after("-ap"), UF_APPEND);
  EXPECT_EQ(flags_after("-ap -r"), 0);
  EXPECT_EQ(flags_after("-nef"), UF_NOEOF);
  EXPECT_EQ(flags_after("-nef -ef"), 0);
  EXPECT_EQ(flags_after("-nbuf -buf"), 0);
  EXPECT_EQ(flags_after("-ntabx -tabx"), 0);
  EXPECT_EQ(flags_after("-pr -npr"), 0);
  EXPECT_EQ(flags_after("-i -ni"), 0);
  EXPECT_EQ(flags_after("-ncr -cr"), 0);
  EXPECT_EQ(flags_after("-vl -fl"), 0);
  EXPECT_EQ(flags_after("-b -i"), UF_NOTAB | UF_NOCR | UF_NOEOF | UF_INCLUDE);
  EXPECT_EQ(flags_after("-b -pr -e -b"), UF_BINARY | UF_NOTAB | UF_NOCR | UF_NOEOF | UF_STD);
  // Longer words win over their prefixes.
  EXPECT_STREQ(match_attribute("-apx", 4)->word, "-ap");
  EXPECT_STREQ(match_attribute("-nef", 4)->word, "-nef");
  EXPECT_STREQ(match_attribute("-ne", 3)->word, "-ne");
  EXPECT_STREQ(match_attribute("-buf", 4)->word, "-buf");
  EXPECT_EQ(match_attribute("-x", 2), nullptr);
  EXPECT_EQ(match_attribute("-", 1), nullptr);
}

// --- Binding ----------------------------------------------------------------------------------------

TEST_F(IoTest, RunTimeBindingRules) {
  const char* name = "data";
  EXPECT_TRUE(bind_unit(vm(), 3, Direction::Read, name, 4, "-std-a", 6));
  ASSERT_NE(vm().io.units[3], nullptr);
  EXPECT_EQ(vm().io.units[3]->flags, UF_NOEOF | UF_STD | UF_NOBUF);
  EXPECT_EQ(vm().io.units[3]->access, ACCESS_READ);
  EXPECT_STREQ(vm().io.units[3]->name, "data");
  EXPECT_EQ(vm().io.units[3]->valid, UNIT_VALID);
  // Rebinding keeps the flag word and replaces the direction and the name.
  EXPECT_TRUE(bind_unit(vm(), 3, Direction::Write, "x", 1, " -ap\t-ncr ", 10));
  EXPECT_EQ(vm().io.units[3]->flags, UF_NOEOF | UF_STD | UF_NOBUF | UF_APPEND | UF_NOCR);
  EXPECT_EQ(vm().io.units[3]->access, ACCESS_WRITE);
  EXPECT_STREQ(vm().io.units[3]->name, "x");

  CaptureStderr();
  EXPECT_FALSE(bind_unit(vm(), 0, Direction::Read, name, 4, "", 0));
  EXPECT_FALSE(bind_unit(vm(), 1000, Direction::Read, name, 4, "", 0));
  EXPECT_EQ(GetCapturedStderr(), "Unit number out of range\r\nUnit number out of range\r\n");

  // Refused bindings leave the slot as it was.
  std::string long_name(512, 'n');
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, long_name.data(), 512, "", 0));
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, "", 0, "", 0));
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, "a\0b", 3, "", 0));
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, name, 4, "-b -zz", 6));
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, name, 4, "b", 1));
  std::string long_attrs(512, ' ');
  EXPECT_FALSE(bind_unit(vm(), 4, Direction::Read, name, 4, long_attrs.data(), 512));
  EXPECT_EQ(vm().io.units[4], nullptr);
  EXPECT_TRUE(bind_unit(vm(), 4, Direction::Read, long_name.data(), 511, "", 0));
}

// --- Reading ----------------------------------------------------------------------------------------

TEST_F(IoTest, VariableAndFixedLengthRecords) {
  write_file("f", "ab\r\ncd");
  bind(1, Direction::Read, "f", "-vl");
  std::string t;
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "ab");
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "cd");
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::EndOfFile);
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Error);  // after end of file was reported
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Error);

  bind(2, Direction::Read, "f");
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "ab" + std::string(78, ' '));
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "cd" + std::string(78, ' '));
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::EndOfFile);
  EXPECT_EQ(vm().io.units[2]->eof_state, EOF_REPORTED);
}

TEST_F(IoTest, EmptyLinesAndCarriageReturnsAnywhere) {
  write_file("f", "\n\r\na\rb\r\n\n");
  bind(1, Direction::Read, "f", "-vl");
  std::string t;
  std::vector<std::string> got;
  while (read(1, 10, &t) == ReadOutcome::Record) got.push_back(t);
  EXPECT_EQ(got, (std::vector<std::string>{"", "", "ab", ""}));
}

TEST_F(IoTest, LongLinesAreCutAndTheRestSkipped) {
  write_file("f", "abcdefghij\nxy\nklmnopq");
  bind(1, Direction::Read, "f", "-vl");
  std::string t;
  EXPECT_EQ(read(1, 4, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "abcd");
  EXPECT_EQ(read(1, 4, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "xy");
  EXPECT_EQ(read(1, 4, &t), ReadOutcome::Record);  // a long last line without a line feed
  EXPECT_EQ(t, "klmn");
  EXPECT_EQ(read(1, 4, &t), ReadOutcome::EndOfFile);
  // Exactly full: the line feed right after is just the line end.
  write_file("g", "abcd\nef\n");
  bind(2, Direction::Read, "g", "-vl");
  EXPECT_EQ(read(2, 4, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "abcd");
  EXPECT_EQ(read(2, 4, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "ef");
}

TEST_F(IoTest, TabExpansion) {
  write_file("f", "abc\tX\n\tY\nabcdefgh\tZ\nabcdefg\tQ\nabcdefgh\tR\n");
  bind(1, Direction::Read, "f", "-vl");
  std::string t;
  read(1, 80, &t);
  EXPECT_EQ(t, "abc     X");  // TAB in column 3: 5 blanks
  read(1, 80, &t);
  EXPECT_EQ(t, "        Y");
  read(1, 80, &t);
  EXPECT_EQ(t, "abcdefgh        Z");  // TAB in column 8: 8 blanks
  read(1, 80, &t);
  EXPECT_EQ(t, "abcdefg Q");  // TAB in column 7: 1 blank
  // The blanks of a TAB stop at the end of the record; the rest of the line is skipped.
  read(1, 10, &t);
  EXPECT_EQ(t, "abcdefgh  ");
  EXPECT_EQ(read(1, 10, &t), ReadOutcome::EndOfFile);

  bind(2, Direction::Read, "f", "-vl -ntabx");
  read(2, 80, &t);
  EXPECT_EQ(t, "abc\tX");
}

TEST_F(IoTest, EndOfFileMark) {
  write_file("f", "\x1a" "abc\n");
  bind(1, Direction::Read, "f", "-vl -ef");
  std::string t;
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::EndOfFile);
  bind(2, Direction::Read, "f", "-vl");  // the run-time default has -nef: byte 26 is data
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "\x1a" "abc");

  write_file("g", "ab\x1a" "cd\nef\n");
  bind(3, Direction::Read, "g", "-vl -ef");
  EXPECT_EQ(read(3, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "ab");
  EXPECT_EQ(read(3, 80, &t), ReadOutcome::EndOfFile);
  // An end mark in the skipped rest of a long line also ends the file.
  write_file("h", "abcdef\x1a\nnext\n");
  bind(4, Direction::Read, "h", "-vl -ef");
  EXPECT_EQ(read(4, 3, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "abc");
  EXPECT_EQ(read(4, 3, &t), ReadOutcome::EndOfFile);
}

TEST_F(IoTest, BinaryRecords) {
  write_file("f", "x\r\n");
  bind(1, Direction::Read, "f", "-b");
  std::string t;
  EXPECT_EQ(read(1, 2, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "x\r");
  EXPECT_EQ(read(1, 2, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "\n");
  EXPECT_EQ(read(1, 2, &t), ReadOutcome::EndOfFile);
  EXPECT_EQ(read(1, 2, &t), ReadOutcome::Error);

  // A file that is an exact multiple of the record length ends without an empty record.
  write_file("g", std::string(8192, 'q'));
  bind(2, Direction::Read, "g", "-b");
  EXPECT_EQ(read(2, 4096, &t), ReadOutcome::Record);
  EXPECT_EQ(read(2, 4096, &t), ReadOutcome::Record);
  EXPECT_EQ(t, std::string(4096, 'q'));
  EXPECT_EQ(read(2, 4096, &t), ReadOutcome::EndOfFile);
  // Records longer than one read block are gathered from several.
  bind(3, Direction::Read, "g", "-b");
  EXPECT_EQ(read(3, 5000, &t), ReadOutcome::Record);
  EXPECT_EQ(t.size(), 5000u);
  EXPECT_EQ(read(3, 5000, &t), ReadOutcome::Record);
  EXPECT_EQ(t.size(), 3192u);
  EXPECT_EQ(vm().io.units[3]->vseek, 8192);
}

TEST_F(IoTest, ManyLinesAcrossReadBlocks) {
  std::string content, expect;
  for (int i = 0; i < 3000; ++i) {
    std::string line = "line " + std::to_string(i) + std::string(i % 37, '.');
    content += line + (i % 2 ? "\r\n" : "\n");
  }
  write_file("f", content);
  bind(1, Direction::Read, "f", "-vl");
  std::string t;
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(read(1, 100, &t), ReadOutcome::Record) << i;
    ASSERT_EQ(t, "line " + std::to_string(i) + std::string(i % 37, '.'));
  }
  EXPECT_EQ(read(1, 100, &t), ReadOutcome::EndOfFile);
  EXPECT_EQ(vm().io.units[1]->vseek, static_cast<int64_t>(content.size()));
}

TEST_F(IoTest, FirstLineProbe) {
  write_file("a", "#!/usr/bin/pellux -s --work=64m\r\n  OUTPUT = 1\n");
  bind(5, Direction::Read, "a", "-vl");
  std::string t;
  EXPECT_EQ(read(5, 0, &t), ReadOutcome::Record);
  EXPECT_TRUE(vm().io.first_line_present);
  EXPECT_STREQ(vm().io.first_line, "sr/bin/pellux -s --work=64m");
  EXPECT_EQ(read(5, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "  OUTPUT = 1");
  close_unit(vm(), 5);

  write_file("b", "-PRM -d\nX\n");
  bind(5, Direction::Read, "b", "-vl");
  read(5, 0, &t);
  EXPECT_STREQ(vm().io.first_line, " -d");
  read(5, 80, &t);
  EXPECT_EQ(t, "X");
  close_unit(vm(), 5);

  // No option line: nothing is consumed.
  write_file("c", "-PR\nY\n");
  bind(5, Direction::Read, "c", "-vl");
  read(5, 0, &t);
  EXPECT_FALSE(vm().io.first_line_present);
  EXPECT_EQ(vm().io.first_line[0], 0);
  read(5, 80, &t);
  EXPECT_EQ(t, "-PR");
  close_unit(vm(), 5);

  // A long option line keeps 255 characters; the whole line is consumed.
  write_file("d", "-PRM" + std::string(300, 's') + "\nZ\n");
  bind(5, Direction::Read, "d", "-vl");
  read(5, 0, &t);
  EXPECT_EQ(std::string(vm().io.first_line), std::string(255, 's'));
  EXPECT_EQ(vm().io.first_line[255], 0);
  read(5, 80, &t);
  EXPECT_EQ(t, "Z");
  close_unit(vm(), 5);

  // A short "#!" line and an empty file.
  write_file("e", "#!\nW\n");
  bind(5, Direction::Read, "e", "-vl");
  read(5, 0, &t);
  EXPECT_TRUE(vm().io.first_line_present);
  EXPECT_EQ(vm().io.first_line[0], 0);
  read(5, 80, &t);
  EXPECT_EQ(t, "W");
  close_unit(vm(), 5);
  // Files shorter than the marker lose nothing.
  write_file("short", "ab");
  bind(5, Direction::Read, "short", "-vl");
  read(5, 0, &t);
  EXPECT_FALSE(vm().io.first_line_present);
  EXPECT_EQ(read(5, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "ab");
  EXPECT_EQ(read(5, 80, &t), ReadOutcome::EndOfFile);
  close_unit(vm(), 5);
  write_file("bang", "#!");
  bind(5, Direction::Read, "bang", "-vl");
  read(5, 0, &t);
  EXPECT_TRUE(vm().io.first_line_present);
  EXPECT_EQ(read(5, 80, &t), ReadOutcome::EndOfFile);
  close_unit(vm(), 5);
  write_file("empty", "");
  bind(5, Direction::Read, "empty", "-vl");
  EXPECT_EQ(read(5, 0, &t), ReadOutcome::Record);
  EXPECT_EQ(read(5, 80, &t), ReadOutcome::EndOfFile);
}

TEST_F(IoTest, IncludeLinesOnlyWithTheIncludeBit) {
  write_file("f", "-include \"x\"\nplain\n");
  std::string t;
  // With the include bit: the missing file ends its include with an error, then the outer
  // file goes on.
  bind(1, Direction::Read, "f", "-vl -i");
  CaptureStderr();
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Error);
  GetCapturedStderr();
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "plain");
  // Without it the include line is a record like any other.
  bind(2, Direction::Read, "f", "-vl");
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "-include \"x\"");
}

TEST_F(IoTest, UnopenableFiles) {
  std::string t;
  bind(1, Direction::Read, "missing");
  CaptureStderr();
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Error);
  EXPECT_EQ(GetCapturedStderr(), "Error opening file or directory:\r\n" + path("missing"));
  CaptureStderr();
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Error);  // every later read fails, silently
  EXPECT_EQ(GetCapturedStderr(), "");

  // A directory is not a file.
  std::filesystem::create_directory(path("sub"));
  bind(2, Direction::Read, "sub");
  CaptureStderr();
  EXPECT_EQ(read(2, 80, &t), ReadOutcome::Error);
  EXPECT_NE(GetCapturedStderr().find("Error opening file or directory:"), std::string::npos);

  // &ERRLIMIT > 0 suppresses the message.
  set_keyword(K_ERRLIMIT, 3);
  bind(3, Direction::Read, "missing");
  CaptureStderr();
  EXPECT_EQ(read(3, 80, &t), ReadOutcome::Error);
  EXPECT_EQ(GetCapturedStderr(), "");
  set_keyword(K_ERRLIMIT, 0);

  // Unreadable file (meaningless when the tests run with every permission).
  write_file("locked", "secret\n");
  std::filesystem::permissions(path("locked"), std::filesystem::perms::none);
  std::ifstream probe(path("locked"));
  if (!probe.is_open()) {
    bind(4, Direction::Read, "locked");
    CaptureStderr();
    EXPECT_EQ(read(4, 80, &t), ReadOutcome::Error);
    EXPECT_NE(GetCapturedStderr().find("Error opening file or directory:"), std::string::npos);
  }

  // A file that opens but cannot be read (reading address 0 of this process's memory).
  if (std::filesystem::exists("/proc/self/mem")) {
    ASSERT_TRUE(bind_unit(vm(), 6, Direction::Read, "/proc/self/mem", 14, "", 0));
    CaptureStderr();
    EXPECT_EQ(read(6, 80, &t), ReadOutcome::Error);
    EXPECT_EQ(GetCapturedStderr(), "For file name = \"/proc/self/mem\"\r\n");
    EXPECT_EQ(vm().io.units[6]->error, 1);
    EXPECT_EQ(read(6, 80, &t), ReadOutcome::Error);
    ASSERT_TRUE(bind_unit(vm(), 7, Direction::Read, "/proc/self/mem", 14, "-b", 2));
    CaptureStderr();
    EXPECT_EQ(read(7, 80, &t), ReadOutcome::Error);
    EXPECT_NE(GetCapturedStderr().find("For file name"), std::string::npos);
  }

  // After ENDFILE the unit is forgotten: a new binding reads again.
  close_unit(vm(), 1);
  EXPECT_EQ(vm().io.units[1], nullptr);
  write_file("missing", "now here\n");
  bind(1, Direction::Read, "missing", "-vl");
  EXPECT_EQ(read(1, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "now here");
}

TEST_F(IoTest, ReadUnitRangeAndDirectoryUnits) {
  std::string t;
  EXPECT_EQ(read(1000, 80, &t), ReadOutcome::Error);
  EXPECT_EQ(read(-1, 80, &t), ReadOutcome::Error);
  CaptureStderr();
  EXPECT_EQ(read(0, 80, &t), ReadOutcome::Error);
  EXPECT_EQ(GetCapturedStderr(), "Unit number out of range\r\n");
  // A directory unit opens without a handle, its name ending "/*"; its reads deliver entries
  // (an empty directory has "." and ".."), then end of file once, then errors.
  std::filesystem::create_directory(path("d"));
  bind(9, Direction::Read, "d", "-dir");
  EXPECT_EQ(read(9, 80, &t), ReadOutcome::DirEntry);
  EXPECT_EQ(vm().io.entry_name, ".");
  EXPECT_EQ(vm().io.units[9]->handle, platform::NO_HANDLE);
  EXPECT_EQ(std::string(vm().io.units[9]->name), path("d") + "/*");
  EXPECT_EQ(read(9, 80, &t), ReadOutcome::DirEntry);
  EXPECT_EQ(vm().io.entry_name, "..");
  EXPECT_EQ(read(9, 80, &t), ReadOutcome::EndOfFile);
  EXPECT_EQ(read(9, 80, &t), ReadOutcome::Error);
  // A directory that cannot be listed gives an error at the first read.
  bind(10, Direction::Read, "no_such_dir", "-dir");
  EXPECT_EQ(read(10, 80, &t), ReadOutcome::Error);
}

// --- Writing ---------------------------------------------------------------------------------------

TEST_F(IoTest, TabCompression) {
  bind(1, Direction::Write, "out");
  EXPECT_TRUE(write(1, std::string(16, ' ') + "x"));
  EXPECT_TRUE(write(1, std::string(9, ' ') + "x"));
  EXPECT_TRUE(write(1, std::string(7, ' ') + "x"));
  EXPECT_TRUE(write(1, "abcdefg x"));
  EXPECT_TRUE(write(1, "ab   "));
  EXPECT_TRUE(write(1, "a\tb"));      // a TAB in the text moves to the next stop
  EXPECT_TRUE(write(1, "abc  \td"));  // blanks and a TAB merge into one TAB
  EXPECT_TRUE(write(1, "a  \r\n   b"));  // line breaks inside reset the columns
  EXPECT_TRUE(write(1, ""));
  EXPECT_TRUE(write(1, "  \t "));
  EXPECT_EQ(file_bytes("out"),
            "\t\tx\r\n"
            "\t x\r\n"
            "       x\r\n"
            "abcdefg x\r\n"
            "ab\r\n"
            "a\tb\r\n"
            "abc\td\r\n"
            "a\r\n   b\r\n"
            "\r\n"
            "\r\n");
}

TEST_F(IoTest, LineEndsAndRawModes) {
  bind(1, Direction::Write, "a", "-ncr");
  write(1, "  x  ");
  EXPECT_EQ(file_bytes("a"), "  x\n");
  bind(2, Direction::Write, "b", "-ntabx");
  write(2, "        x  ");
  EXPECT_EQ(file_bytes("b"), "        x  \r\n");
  bind(3, Direction::Write, "c", "-b");
  write(3, std::string("\0\r\n  ", 5));
  write(3, "z");
  EXPECT_EQ(file_bytes("c"), std::string("\0\r\n  z", 6));
  // Text without tab conversion larger than the staging buffer.
  bind(4, Direction::Write, "d", "-ntabx -ncr");
  std::string big(UNIT_BUFFER_SIZE + 10, 'k');
  write(4, big);
  EXPECT_EQ(file_bytes("d"), big + "\n");
}

TEST_F(IoTest, CompressedRecordsLargerThanTheBuffer) {
  // 2.4 MB of staged output: the staging buffer is written out several times within one record.
  const int n = 300000;
  std::string text, expect;
  for (int i = 0; i < n; ++i) text += "abcdefg ";
  text += "        z   ";
  for (int i = 0; i < n - 1; ++i) expect += "abcdefg ";
  expect += "abcdefg\t\tz\r\n";
  bind(1, Direction::Write, "big");
  EXPECT_TRUE(write(1, text));
  EXPECT_EQ(file_bytes("big"), expect);
}

TEST_F(IoTest, AppendAndReplace) {
  write_file("a", "old\r\n");
  bind(1, Direction::Write, "a", "-ap");
  write(1, "new");
  EXPECT_EQ(vm().io.units[1]->vseek, 5);
  EXPECT_EQ(file_bytes("a"), "old\r\nnew\r\n");
  write_file("b", "old contents\r\n");
  bind(2, Direction::Write, "b");
  write(2, "x");
  EXPECT_EQ(file_bytes("b"), "x\r\n");
  bind(3, Direction::Write, "fresh", "-ap");
  write(3, "y");
  EXPECT_EQ(file_bytes("fresh"), "y\r\n");
}

TEST_F(IoTest, WriteFailures) {
  // A unit used for reading cannot be written, opened or not.
  write_file("r", "line\n");
  bind(1, Direction::Read, "r");
  CaptureStderr();
  EXPECT_FALSE(write(1, "x"));
  EXPECT_EQ(GetCapturedStderr(), "already open for read while trying to open for write ####\r\n");
  std::string t;
  bind(2, Direction::Read, "r");
  read(2, 10, &t);
  CaptureStderr();
  EXPECT_FALSE(write(2, "x"));
  EXPECT_EQ(GetCapturedStderr(), "attempt to write to IO unit open for read ####\r\n");

  // A file that cannot be created.
  bind(3, Direction::Write, "no/such/dir/file");
  CaptureStderr();
  EXPECT_FALSE(write(3, "x"));
  std::string err = GetCapturedStderr();
  EXPECT_EQ(err.rfind("error opening file\r\nGetLastError=2 0000000000000002\r\n", 0), 0u) << err;
  EXPECT_EQ(keyword(K_IOERR), 2);

  // A device that refuses every byte.
  if (std::filesystem::exists("/dev/full")) {
    const char* full = "/dev/full";
    ASSERT_TRUE(bind_unit(vm(), 4, Direction::Write, full, 9, "", 0));
    CaptureStderr();
    EXPECT_FALSE(write(4, "x"));
    EXPECT_EQ(GetCapturedStderr(), "#### more serious write error\r\n");
    EXPECT_EQ(keyword(K_IOERR), 28);
    set_keyword(K_ERRLIMIT, 1);
    CaptureStderr();
    EXPECT_FALSE(write(4, "x"));
    EXPECT_EQ(GetCapturedStderr(), "");
    set_keyword(K_ERRLIMIT, 0);
    // Success resets &IOERR.
    bind(5, Direction::Write, "ok");
    EXPECT_TRUE(write(5, "fine"));
    EXPECT_EQ(keyword(K_IOERR), 0);
  }
}

TEST_F(IoTest, StandardStreamsAndAutomaticBinding) {
  CaptureStdout();
  EXPECT_TRUE(write(7, "to stdout"));
  EXPECT_EQ(GetCapturedStdout(), "to stdout\r\n");
  ASSERT_NE(vm().io.units[7], nullptr);
  EXPECT_EQ(vm().io.units[7]->flags, UF_NOEOF | UF_STD | UF_NOBUF);
  EXPECT_STREQ(vm().io.units[7]->name, "out");

  for (const char* name : {"err", "ERR"}) {
    ASSERT_TRUE(bind_unit(vm(), 8, Direction::Write, name, 3, "-std -ncr", 9));
    CaptureStderr();
    EXPECT_TRUE(write(8, "to stderr"));
    EXPECT_EQ(GetCapturedStderr(), "to stderr\n");
    close_unit(vm(), 8);
  }
  ASSERT_TRUE(bind_unit(vm(), 8, Direction::Write, "OUT", 3, "-std", 4));
  CaptureStdout();
  EXPECT_TRUE(write(8, "x"));
  EXPECT_EQ(GetCapturedStdout(), "x\r\n");
  close_unit(vm(), 8);

  ASSERT_TRUE(bind_unit(vm(), 8, Direction::Write, "stderr", 6, "-std", 4));
  CaptureStderr();
  CaptureStdout();
  EXPECT_FALSE(write(8, "lost"));
  EXPECT_FALSE(write(8, "lost"));
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(GetCapturedStderr(),
            "was not standard output \"out\" or standard error \"err\" name ####\r\n");

  EXPECT_EXIT(write(0, "x"), ::testing::ExitedWithCode(1),
              "invalid unit area encountered ####\r\nExiting Process\r\n");
  EXPECT_EXIT(write(1000, "x"), ::testing::ExitedWithCode(1), "invalid unit area");
}

TEST_F(IoTest, CloseWritesEndMarkOnlyWhenAsked) {
  bind(1, Direction::Write, "plain");
  write(1, "a");
  close_unit(vm(), 1);
  EXPECT_EQ(file_bytes("plain"), "a\r\n");
  EXPECT_EQ(vm().io.units[1], nullptr);
  bind(2, Direction::Write, "marked", "-ef");
  write(2, "a");
  close_unit(vm(), 2);
  EXPECT_EQ(file_bytes("marked"), "a\r\n\x1a");
  bind(3, Direction::Write, "binary", "-b -ef");  // "-ef" clears binary; -ncr stays
  write(3, "a");
  close_unit(vm(), 3);
  EXPECT_EQ(file_bytes("binary"), "a\n\x1a");
  // A marked file reads back as its lines, then end of file.
  bind(4, Direction::Read, "marked", "-vl -ef");
  std::string t;
  EXPECT_EQ(read(4, 80, &t), ReadOutcome::Record);
  EXPECT_EQ(t, "a");
  EXPECT_EQ(read(4, 80, &t), ReadOutcome::EndOfFile);
  // Closing an unbound unit does nothing.
  close_unit(vm(), 50);
  close_unit(vm(), 5000);
}

}  // namespace
}  // namespace pellux::testing_io
