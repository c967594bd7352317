// The command line: command text, matcher, help text and first-line options.
#include "runtime/cmdline.h"

#include <cstring>

#include "io/io.h"
#include "io/units.h"
#include "platform/platform.h"
#include "storage/storage.h"

namespace pellux {

using namespace platform;

void build_command_text(Vm& vm, int argc, const char* const* argv) {
  if (vm.rt.parm == nullptr) vm.rt.parm = static_cast<char*>(obtain_area(COMMAND_TEXT_MAX + 1));
  char* out = vm.rt.parm;
  uint64_t n = 0;
  for (int i = 0; i < argc && n < COMMAND_TEXT_MAX; ++i) {
    for (const char* a = argv[i]; *a && n < COMMAND_TEXT_MAX; ++a) out[n++] = *a;
    if (n < COMMAND_TEXT_MAX) out[n++] = 0;
  }
  vm.rt.parm_length = n;
}

namespace {

// A cursor over the text being matched, remembering the furthest position reached.
struct Cursor {
  const char* s;
  uint64_t n;
  uint64_t pos;
  uint64_t far;
  bool first_line;  // the first-line field: separators are blank, TAB and NUL (no CR)

  bool at_end() const { return pos >= n; }
  void reach() {
    if (pos > far) far = pos;
  }
  bool is_sep(char c) const { return c == ' ' || c == '\t' || c == 0 || (c == '\r' && !first_line); }

  bool lit(const char* w) {
    uint64_t k = std::strlen(w);
    if (n - pos < k || std::memcmp(s + pos, w, k) != 0) return false;
    pos += k;
    reach();
    return true;
  }
  // One or more separators.  The end of a text cut short at its size limit also ends an item.
  bool seps() {
    if (at_end()) return true;
    if (!is_sep(s[pos])) return false;
    while (!at_end() && is_sep(s[pos])) ++pos;
    reach();
    return true;
  }
  // 1 to max_digits decimal digits with a value that fits a signed 64-bit integer.
  bool digits(int max_digits, int64_t* value) {
    uint64_t v = 0;
    int k = 0;
    uint64_t p = pos;
    while (p < n && k < max_digits && s[p] >= '0' && s[p] <= '9') {
      uint64_t d = static_cast<uint64_t>(s[p] - '0');
      if (v > (static_cast<uint64_t>(INT64_MAX) - d) / 10) return false;
      v = v * 10 + d;
      ++p;
      ++k;
    }
    if (k == 0) return false;
    pos = p;
    reach();
    *value = static_cast<int64_t>(v);
    return true;
  }
};

void set_keyword_one(Vm& vm, UKw k) {
  if (vm.st.ukw) ukw(vm, k) = Descr::integer(1);
}

// "--work=" forms, tried in the order k, m, g, b, plain.
bool match_work(Vm& vm, Cursor& c) {
  static const struct {
    char lower, upper;
    int64_t scale;
  } forms[] = {{'k', 'K', 1024}, {'m', 'M', 1048576}, {'g', 'G', 1073741824}, {'b', 'B', 1}};
  uint64_t save = c.pos;
  if (!c.lit("--work=")) return false;
  int64_t n;
  if (!c.digits(19, &n)) {
    c.pos = save;
    return false;
  }
  uint64_t after_digits = c.pos;
  int64_t scale = 0;
  for (const auto& f : forms) {
    c.pos = after_digits;
    if (!c.at_end() && (c.s[c.pos] == f.lower || c.s[c.pos] == f.upper)) {
      ++c.pos;
      c.reach();
      if (c.seps()) {
        scale = f.scale;
        break;
      }
    }
  }
  if (scale == 0) {
    c.pos = after_digits;
    if (!c.seps()) {
      c.pos = save;
      return false;
    }
    scale = 1;
  }
  if (n > INT64_MAX / scale) {  // the product overflows
    c.pos = save;
    return false;
  }
  uint64_t size = static_cast<uint64_t>(n * scale);
  vm.rt.work_size = (size + 4095) & ~uint64_t{4095};
  return true;
}

// Options common to the command line and the first-line field: -v, -s, -d, -ex, --work=.
bool match_common_option(Vm& vm, Cursor& c) {
  uint64_t save = c.pos;
  if (c.lit("-v") && c.seps()) {
    vm.cc.listing = true;
    set_keyword_one(vm, K_STAT);
    return true;
  }
  c.pos = save;
  if (c.lit("-s") && c.seps()) {
    set_keyword_one(vm, K_STAT);
    return true;
  }
  c.pos = save;
  if (c.lit("-d") && c.seps()) {
    set_keyword_one(vm, K_DUMP);
    return true;
  }
  c.pos = save;
  if (c.lit("-ex") && c.seps()) {
    vm.cc.exec_despite_errors = true;
    return true;
  }
  c.pos = save;
  return false;
}

// Attributes after a file name: each a word followed by separators, applied in turn.
void match_attributes(Cursor& c, UnitRecord* u) {
  while (!c.at_end()) {
    uint64_t save = c.pos;
    const AttributeWord* w = match_attribute(c.s + c.pos, c.n - c.pos);
    if (w == nullptr) return;
    c.pos += w->length;
    c.reach();
    if (!c.seps()) {
      c.pos = save;
      return;
    }
    u->flags = apply_attribute(u->flags, *w);
  }
}

// Binds a file named on the command line; nullptr when the name is too long.
UnitRecord* bind_from_command_line(Vm& vm, int unit, const char* name, uint64_t len,
                                   bool explicit_unit) {
  if (len > UNIT_NAME_MAX) return nullptr;
  UnitRecord* u = vm.io.units[unit];
  if (u == nullptr) {
    u = new_unit_record(0);
    vm.io.units[unit] = u;
  }
  u->valid = UNIT_VALID;
  std::memcpy(u->name, name, len);
  u->name[len] = 0;
  if (explicit_unit) u->flags = UF_DEFAULT;
  if (unit == 5) u->flags |= UF_INCLUDE;
  return u;
}

// The end of a file item: the name runs from `start` to the cursor; a name too long fails the
// item (the cursor goes back to `save`), otherwise the unit is bound and its attributes follow.
bool finish_file_item(Vm& vm, Cursor& c, int unit, uint64_t start, uint64_t save, bool reset) {
  uint64_t len = c.pos - start;
  if (len > UNIT_NAME_MAX) {
    c.pos = save;
    return false;
  }
  c.reach();
  c.seps();
  UnitRecord* u = bind_from_command_line(vm, unit, c.s + start, len, reset);
  match_attributes(c, u);
  return true;
}

// "-" 1 to 3 digits, separators, a file name running to the next NUL, attributes.
bool match_unit_file(Vm& vm, Cursor& c) {
  uint64_t save = c.pos;
  int64_t unit;
  if (!c.lit("-") || !c.digits(3, &unit) || c.at_end() || !c.is_sep(c.s[c.pos]) || !c.seps() ||
      c.at_end()) {
    c.pos = save;
    return false;
  }
  uint64_t start = c.pos;
  while (!c.at_end() && c.s[c.pos] != 0) ++c.pos;
  return finish_file_item(vm, c, static_cast<int>(unit), start, save, true);
}

// A name up to the next separator, bound to unit 5 (flag word not reset), then attributes.
bool match_implicit_file(Vm& vm, Cursor& c) {
  if (c.at_end()) return false;
  char first = c.s[c.pos];
  if (first == '-' || first == ':' || c.is_sep(first)) return false;
  uint64_t save = c.pos;
  uint64_t start = c.pos;
  while (!c.at_end() && !c.is_sep(c.s[c.pos])) ++c.pos;
  return finish_file_item(vm, c, 5, start, save, false);
}

}  // namespace

CommandMatch match_command_text(Vm& vm, const char* text, uint64_t len) {
  Cursor c{text, len, 0, 0, false};
  // Skip the program path and its NUL.
  while (!c.at_end() && text[c.pos] != 0) ++c.pos;
  if (!c.at_end()) ++c.pos;
  // Empty or blank leading arguments hold no item.
  while (!c.at_end() && c.is_sep(text[c.pos])) ++c.pos;
  c.reach();

  while (!c.at_end()) {
    uint64_t save = c.pos;
    if (c.lit("--help")) return {CommandStatus::Help, c.far};
    if (match_common_option(vm, c)) continue;
    c.pos = save;
    int64_t value;
    if (c.lit("--test=") && c.digits(19, &value) && c.seps()) {
      vm.rt.test_number = value;
      continue;
    }
    c.pos = save;
    if (match_work(vm, c)) continue;
    if (match_unit_file(vm, c)) continue;
    if (text[c.pos] == ':') {
      c.pos = len;  // user data: the rest is the program's, through &PARM
      break;
    }
    if (match_implicit_file(vm, c)) continue;
    return {CommandStatus::Failed, c.far};
  }
  return {CommandStatus::Matched, c.far};
}

void write_help() {
  static const char* const lines[] = {
      "PELLUX SNOBOL4 interpreter, Version Beta 5.0",
      "Written by the PELLUX team",
      "To run: pellux [options...] [files...] [:user data]",
      "options:",
      "  --work=nnnn[b|k|m|g]  work space size",
      "  -ex                   execute even if have compile errors",
      "  -s                    produce statistics",
      "  -d                    set &DUMP to 1",
      "  -v                    produce source listing and statistics",
      "  --help                this help",
      "files:    if -nn is omitted it is assumed to be -5",
      "  [-nn] filename [attribs...]  where nn is i/o unit number",
      "attribs:                file attributes",
      "  -a = ascii text lines vs. -b = binary",
      "  -tabx vs. -ntabx      tab decoding/encoding",
      "  -r = replace on write vs. -ap = append on write",
      "  -vl = variable length ascii read vs. -fl = fixed length",
      "  -i vs. -ni            include & snopath processing on ascii reads",
      "  -std                  standard i/o, use name=in, out or err",
      "  -cr vs. -ncr          use carriage control characters",
      "Example:",
      "pellux -v myprogram.sno -1 datafileA.xxx -b",
  };
  for (const char* line : lines) {
    diag_write(line);
    diag_write("\r\n");
  }
}

void report_command_failure(const char* text, uint64_t len, uint64_t furthest) {
  diag_unsigned(furthest);
  diag_write("= cursor, Failed to understand all parameters on command line.\r\n");
  diag_write(text, len);
  diag_write("\"\r\n");
}

int apply_first_line_options(Vm& vm) {
  const char* f = vm.io.first_line;
  const uint64_t n = sizeof vm.io.first_line;
  uint64_t start = 0;
  while (start < n && f[start] != '-') ++start;
  Cursor c{f, n, start, start, true};
  int applied = 0;
  while (!c.at_end()) {
    if (!match_common_option(vm, c) && !match_work(vm, c)) break;
    ++applied;
  }
  return applied;
}

}  // namespace pellux
