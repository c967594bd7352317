// The translation driver: reads the program line by line, classifies lines, handles control
// lines, writes the listing, hands statements to the statement compiler, processes END and
// leaves translation mode.  Also the run-time compilation of strings (CODE, EVAL).
#include <cstring>

#include "compiler/compiler.h"
#include "compiler/internal.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "io/io.h"
#include "runtime/termination.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline constexpr uint64_t MAX_FIRST_CODE_CHARS = 65536;

enum class LineKind { Skip, Continue, NewStatement };

inline bool blank(char c) { return c == ' ' || c == '\t'; }

void set_cursor_to_line(Vm& vm, uint64_t column) {
  CompilerWork& w = compiler_work(vm);
  sys(vm, SD_CC_LINE) = Descr::make(reinterpret_cast<uint64_t>(w.line()), 0, 0);
  vm.cc.cursor_offset = column;
  vm.cc.cursor_length = LINE_WIDTH - column;
}

void blank_number_fields(CompilerWork& w) {
  std::memset(w.image, ' ', NUMBER_WIDTH);
  std::memset(w.image + RIGHT_FIELD, ' ', NUMBER_WIDTH);
}

// Writes a statement number, left-aligned, into the field the left-number switch selects.
void number_line(Vm& vm, int64_t number) {
  CompilerWork& w = compiler_work(vm);
  blank_number_fields(w);
  char digits[32];
  uint64_t len = format_integer(number, digits);
  if (len > NUMBER_WIDTH) len = NUMBER_WIDTH;
  std::memcpy(vm.cc.left_numbers ? w.image : w.image + RIGHT_FIELD, digits, len);
}

// Length of a line without its trailing blanks and tabs (records usually arrive padded with
// blanks to the full width, so the padding is skipped a word at a time).
uint64_t content_length(const char* line, uint64_t len) {
  constexpr uint64_t BLANKS = 0x2020202020202020ull;
  while (len >= 8) {
    uint64_t word;
    std::memcpy(&word, line + len - 8, 8);
    if (word != BLANKS) break;
    len -= 8;
  }
  while (len > 0 && blank(line[len - 1])) --len;
  return len;
}

// Reads the next source line into the line field (listing the previous one first).
void read_line(Vm& vm) {
  list_current_line(vm);
  CompilerWork& w = compiler_work(vm);
  uint64_t len = 0;
  ReadOutcome o = read_record(vm, vm.cc.source_unit, w.line(), LINE_WIDTH, &len);
  if (o != ReadOutcome::Record) error_fatal(vm, 11);
  if (len > LINE_WIDTH) len = LINE_WIDTH;
  std::memset(w.line() + len, ' ', LINE_WIDTH - len);
  vm.cc.content_end = content_length(w.line(), len);
  vm.cc.line_listed = false;
  set_cursor_to_line(vm, 0);
}

// The word of a control line starting at `p` (up to a blank, tab or ';'); returns its length.
uint64_t control_word(const char* p, const char* end) {
  const char* q = p;
  while (q < end && !blank(*q) && *q != ';') ++q;
  return static_cast<uint64_t>(q - p);
}

const char* skip_line_blanks(const char* p, const char* end) {
  while (p < end && blank(*p)) ++p;
  return p;
}

inline bool word_is(const char* p, uint64_t len, const char* w) {
  return len == std::strlen(w) && std::memcmp(p, w, len) == 0;
}

LineKind control_line(Vm& vm) {
  CompilerWork& w = compiler_work(vm);
  const char* end = w.line() + LINE_WIDTH;
  const char* p = skip_line_blanks(w.line() + 1, end);
  uint64_t len = control_word(p, end);
  if (word_is(p, len, "UNLIST")) {
    vm.cc.listing = false;
    return LineKind::Skip;
  }
  if (word_is(p, len, "LIST")) {
    vm.cc.listing = true;
    const char* q = skip_line_blanks(p + len, end);
    uint64_t len2 = control_word(q, end);
    if (len2 > 0) vm.cc.left_numbers = word_is(q, len2, "LEFT");
  } else if (word_is(p, len, "EJECT")) {
    if (vm.cc.listing) write_record(vm, 6, "\f", 1);
  }
  blank_number_fields(w);
  return LineKind::Skip;
}

// Classifies the line in the field by its first column.
LineKind new_line(Vm& vm) {
  Spec first{sys(vm, SD_CC_LINE), Descr::make(0, 0, 1)};
  ScanResult r = syntax_scan(SyntaxTable::LineType, first, nullptr);
  switch (r.type) {
    case LINE_COMMENT:
      if (vm.cc.listing) blank_number_fields(compiler_work(vm));
      return LineKind::Skip;
    case LINE_CONTROL:
      set_cursor_to_line(vm, 1);
      return control_line(vm);
    case LINE_CONTINUATION:
      set_cursor_to_line(vm, 1);
      if (vm.cc.listing) number_line(vm, vm.cc.stmt_number);
      return LineKind::Continue;
    default:
      if (vm.cc.listing) number_line(vm, vm.cc.stmt_number + 1);
      return LineKind::NewStatement;
  }
}

// The END statement: its instruction, its listing, the start label.  Returns the start
// label's code position, or a zero descriptor when there is none.
Descr finish_end_statement(Vm& vm) {
  emit(vm, instruction(op_descriptor(vm, OP_END), 0));
  list_current_line(vm);
  Spec rest = Spec{sys(vm, SD_CC_LINE), Descr::make(vm.cc.cursor_offset, 0, vm.cc.cursor_length)};
  const char* p = rest.chars();
  const char* end = p + rest.length();
  if (p == end || *p == ';') return ZERO_DESCR;
  p = skip_line_blanks(p, end);
  if (p == end || *p == ';') return ZERO_DESCR;
  Spec text = Spec::raw(p, static_cast<uint64_t>(end - p));
  Spec label;
  ScanResult r = syntax_scan(SyntaxTable::LabelStart, text, &label);
  if (r.outcome == ScanOutcome::Error || label.length() == 0) error_fatal(vm, 27);
  const char* q = skip_line_blanks(label.chars() + label.length(), end);
  if (q != end) error_fatal(vm, 27);
  Descr var = lookup_variable(vm, label.chars(), label.length());
  if (var.a == 0 || var_attr(var.ptr()).a == 0) error_fatal(vm, 27);
  return var_attr(var.ptr());
}

// Gives back the part of the current code block past the last descriptor written.
void give_back_unused_code(Vm& vm) {
  Descr* block = sys(vm, SD_CC_BLOCK).ptr();
  uint8_t* last = sys(vm, SD_CC_BASE).bytes() + vm.cc.compile_offset;
  give_back_tail(vm, block, static_cast<uint64_t>(last - reinterpret_cast<uint8_t*>(block)));
}

// Opens a code block for a compilation: body bytes, code limit margin.  May allocate.
void open_code_block(Vm& vm, uint64_t body, uint64_t margin) {
  Descr b = allocate_block(vm, body, T_CODE);
  sys(vm, SD_CC_BLOCK) = b;
  sys(vm, SD_CC_BASE) = b;
  vm.cc.compile_offset = 0;
  vm.cc.stmt_start = 0;
  vm.cc.limit_margin = margin;
}

// Compiling from a string: no source unit and no listing for the duration.
class StringMode {
 public:
  explicit StringMode(Vm& vm) : cc_(vm.cc), unit_(cc_.source_unit), listing_(cc_.listing) {
    cc_.source_unit = 0;
    cc_.listing = false;
  }
  ~StringMode() {
    cc_.source_unit = unit_;
    cc_.listing = listing_;
  }
  StringMode(const StringMode&) = delete;
  StringMode& operator=(const StringMode&) = delete;

 private:
  CompilerState& cc_;
  int unit_;
  bool listing_;
};

void close_compilation(Vm& vm) {
  sys(vm, SD_CC_BLOCK) = ZERO_DESCR;
  sys(vm, SD_CC_BASE) = ZERO_DESCR;
  sys(vm, SD_CC_LABEL) = ZERO_DESCR;
  sys(vm, SD_CC_LINE) = ZERO_DESCR;
  vm.cc.content_end = ~uint64_t{0};
  vm.cc.compile_offset = 0;
  vm.cc.stmt_start = 0;
  vm.cc.cursor_offset = 0;
  vm.cc.cursor_length = 0;
}

// Points the text cursor at a string (a blank for the null string).
void set_cursor_to_string(Vm& vm, const Descr& str) {
  static const char one_blank[] = " ";
  if (str.a == 0) {
    sys(vm, SD_CC_LINE) = Descr::make(reinterpret_cast<uint64_t>(one_blank), 0, 0);
    vm.cc.cursor_offset = 0;
    vm.cc.cursor_length = 1;
  } else {
    sys(vm, SD_CC_LINE) = str;
    vm.cc.cursor_offset = VAR_HEADER;
    vm.cc.cursor_length = string_length(str);
  }
  vm.cc.content_end = ~uint64_t{0};
  compiler_work(vm).text_exhausted = false;
}

}  // namespace

void list_current_line(Vm& vm) {
  if (vm.cc.line_listed) return;
  vm.cc.line_listed = true;
  if (!vm.cc.listing || vm.cc.source_unit == 0) return;
  CompilerWork& w = compiler_work(vm);
  write_record(vm, 6, w.image, content_length(w.image, IMAGE_WIDTH));
}

bool end_of_line(Vm& vm) {
  if (vm.cc.source_unit == 0) {
    compiler_work(vm).text_exhausted = true;
    return false;
  }
  for (;;) {
    read_line(vm);
    switch (new_line(vm)) {
      case LineKind::Skip:
        continue;
      case LineKind::Continue:
        return true;
      case LineKind::NewStatement:
        vm.cc.at_statement_end = true;
        return false;
    }
  }
}

void skip_to_new_statement(Vm& vm) {
  for (;;) {
    read_line(vm);
    if (new_line(vm) == LineKind::NewStatement) {
      vm.cc.at_statement_end = true;
      vm.cc.break_type = BRK_END;
      return;
    }
  }
}

void compiler_prepare(Vm& vm) {
  build_operator_records(vm);
  compiler_work(vm);
}

void translate(Vm& vm) {
  CompilerState& cc = vm.cc;
  compiler_work(vm);
  cc.stmt_number = 0;
  cc.error_count = 0;
  cc.line_listed = true;
  cc.at_statement_end = false;

  // The first code block: 1,500 descriptors with its title.
  open_code_block(vm, FIRST_BLOCK_BYTES - 16, 80);
  sys(vm, SD_START_CODE) = sys(vm, SD_CC_BLOCK);
  vm.rt.compile_start = read_timer();
  cc.compile_start = vm.rt.compile_start;

  // Up to the first line that starts a statement.
  for (;;) {
    read_line(vm);
    LineKind k = new_line(vm);
    if (k == LineKind::NewStatement) break;
    if (k == LineKind::Continue) {
      // A continuation with no statement before it starts one in column 2.
      if (cc.listing) number_line(vm, cc.stmt_number + 1);
      break;
    }
  }

  while (compile_statement(vm) != StmtResult::End) {
  }

  Descr start = finish_end_statement(vm);
  if (start.a != 0) sys(vm, SD_START_CODE) = start;

  if (cc.error_count != 0) {
    write_report(vm, "\\^M\\^J\\# Syntax error(s) detected in source program", {cc.error_count});
    ukw(vm, K_ABEND).a += 1;
    if (!cc.exec_despite_errors) exit_process(vm);
  } else if (ukw_int(vm, K_STAT) != 0 && cc.listing) {
    write_report(vm, "\\^M\\^JNo syntax errors detected in source program");
  }

  // Leave translation mode.
  cc.source_unit = 0;
  cc.listing = false;
  give_back_unused_code(vm);
  close_compilation(vm);
  uint64_t now = read_timer();
  vm.rt.compile_time = now - vm.rt.compile_start;
  vm.rt.exec_start = now;
  vm.rt.exec_started = true;
  cc.allow_label_redefinition = true;
}

namespace {

// Labels defined by a run-time compilation are recorded with what they meant before, so that
// a compilation that fails leaves every label as it was.
void start_label_record(Vm& vm) {
  sys(vm, SD_CC_UNDO) = allocate_block(vm, 32 * 4, T_PAIRLIST);
}

void finish_label_record(Vm& vm, bool undo) {
  if (undo) {
    Descr* list = pair_list(vm, SD_CC_UNDO);
    for (uint64_t i = pair_count(list); i-- > 0;) {
      const Descr* p = pair_at(list, i);
      if (p[0].a != 0) var_attr(p[0].ptr()) = p[1];
    }
  }
  sys(vm, SD_CC_UNDO) = ZERO_DESCR;
}

}  // namespace

bool compile_code(Vm& vm, const Descr& text, Descr* code) {
  CompilerState& cc = vm.cc;
  Pin held(vm, text);
  start_label_record(vm);
  StringMode mode(vm);
  set_cursor_to_string(vm, *held);
  // Room for about one descriptor per character; longer code continues in further blocks.
  uint64_t len = cc.cursor_length;
  open_code_block(vm, len < MAX_FIRST_CODE_CHARS ? 16 * len + 96 : 16 * MAX_FIRST_CODE_CHARS + 96, 96);
  Pin first(vm, sys(vm, SD_CC_BLOCK));  // the CODE value: the block execution starts in
  cc.error_count = 0;
  bool ok = true;
  while (cc.cursor_length > 0) {
    StmtResult r = compile_statement(vm);
    if (r == StmtResult::Error) {
      ok = false;
      break;
    }
    if (r == StmtResult::End) break;
  }
  emit(vm, instruction(op_descriptor(vm, OP_END), 0));
  give_back_unused_code(vm);
  close_compilation(vm);
  finish_label_record(vm, !ok);
  if (!ok) return false;
  *code = *first;
  return true;
}

bool compile_expression(Vm& vm, const Descr& text, Descr* expression) {
  CompilerState& cc = vm.cc;
  StringMode mode(vm);
  set_cursor_to_string(vm, text);
  Descr* mark = begin_statement_work(vm);
  cc.break_type = 0;
  int root;
  bool ok = parse_expression(vm, &root) && cc.break_type == BRK_END &&
            compiler_work(vm).text_exhausted;
  if (ok) {
    // The block holds exactly the tree; its root is the descriptor after the title.
    open_code_block(vm, 16 * tree_size(vm, root), 0);
    write_tree(vm, root);
    *expression = Descr::pointer(sys(vm, SD_CC_BLOCK).ptr(), T_EXPRESSION);
  }
  end_statement_work(vm, mark);
  close_compilation(vm);
  return ok;
}

}  // namespace pellux
