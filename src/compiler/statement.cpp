// The statement compiler: label, subject, pattern, object and goto fields, the expression parser
// with operator precedence, and the writing of parse trees as object code.
//
// The parser keeps its nesting (parentheses, argument lists, references) in an explicit frame
// stack instead of C++ recursion, so deeply nested text cannot exhaust the native stack.  Parse
// nodes live in a vector reused from statement to statement; a node's code descriptor that
// points into the work space sits on the system stack until the statement is written.
#include <cstring>

#include "builtins/table.h"
#include "compiler/internal.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "io/io.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

const char* const MESSAGES[MSG_COUNT] = {
    "",
    "Erroneous label",
    "Previously defined label",
    "Erroneous subject",
    "Error in goto",
    "Illegal character in element",
    "Binary operator missing or in error",
    "Erroneous or missing break character",
    "Erroneous real number",
    "Improperly terminated statement",
    "Erroneous integer",
    "Unclosed literal",
};

}  // namespace

const char* compile_message(int msg) { return msg > 0 && msg < MSG_COUNT ? MESSAGES[msg] : ""; }

void CompilerWorkDeleter::operator()(CompilerWork* w) const { delete w; }

CompilerWork& compiler_work(Vm& vm) {
  if (!vm.cc.work) {
    vm.cc.work.reset(new CompilerWork());
    std::memset(vm.cc.work->image, ' ', sizeof vm.cc.work->image);
  }
  return *vm.cc.work;
}

// --- Code position ----------------------------------------------------------------------------------

namespace {

inline Descr* block_title(Vm& vm) { return sys(vm, SD_CC_BLOCK).ptr(); }
inline uint8_t* base_addr(Vm& vm) { return sys(vm, SD_CC_BASE).bytes(); }
inline uint8_t* code_limit(Vm& vm) {
  Descr* b = block_title(vm);
  return reinterpret_cast<uint8_t*>(b) + 16 + b->v() - vm.cc.limit_margin;
}
inline Descr* code_at(Vm& vm, uint64_t offset) {
  return reinterpret_cast<Descr*>(base_addr(vm) + offset);
}
inline Descr op_instruction(Vm& vm, OpCode op, uint64_t nargs) {
  return instruction(op_descriptor(vm, op), nargs);
}

// Moves the statement compiled so far into a new block with room for `ndescr` more
// descriptors; control that reaches the old place is sent on by a direct goto.  May allocate.
void new_code_block(Vm& vm, uint64_t ndescr) {
  CompilerState& cc = vm.cc;
  CompilerWork& w = compiler_work(vm);
  uint64_t used = cc.compile_offset - cc.stmt_start;
  Descr nb = allocate_block(vm, used + 16 * ndescr + BLOCK_EXTRA_BYTES, T_CODE);
  uint8_t* base = base_addr(vm);
  Descr* old_block = block_title(vm);
  Descr* start = reinterpret_cast<Descr*>(base + cc.stmt_start);
  if (used) std::memcpy(static_cast<void*>(nb.ptr() + 1), start + 1, used);
  start[1] = op_instruction(vm, OP_GOTO_CODE, 1);
  start[2] = op_instruction(vm, OP_LITERAL, 1);
  start[3] = nb;
  uint64_t keep = static_cast<uint64_t>(reinterpret_cast<uint8_t*>(start + 4) -
                                        reinterpret_cast<uint8_t*>(old_block + 1));
  give_back_tail(vm, old_block, keep);
  if (w.label_defined && sys(vm, SD_CC_LABEL).a) var_attr(sys(vm, SD_CC_LABEL).ptr()) = nb;
  sys(vm, SD_CC_BLOCK) = nb;
  sys(vm, SD_CC_BASE) = nb;
  uint64_t shift = cc.stmt_start;
  cc.compile_offset -= shift;
  if (cc.header_offset) cc.header_offset -= shift;
  if (w.fail_offset >= 0) w.fail_offset -= int64_t(shift);
  cc.stmt_start = 0;
}

// Makes sure `ndescr` descriptors can be written before the code limit is passed.
void ensure_room(Vm& vm, uint64_t ndescr) {
  if (ndescr == 0) return;
  if (base_addr(vm) + vm.cc.compile_offset + 16 * (ndescr - 1) > code_limit(vm))
    new_code_block(vm, ndescr);
}

}  // namespace

void emit(Vm& vm, const Descr& d) {
  ensure_room(vm, 1);
  vm.cc.compile_offset += 16;
  *code_at(vm, vm.cc.compile_offset) = d;
}

void give_back_tail(Vm& vm, Descr* block, uint64_t keep_body) {
  // Past the free pointer the space returns at once; inside the work space the tail becomes
  // a block of its own that nothing refers to, reclaimed by the next regeneration.
  shrink_last_block(vm, block, keep_body);
}

// --- Parse nodes ------------------------------------------------------------------------------------

namespace {

int new_node(Vm& vm, const Descr& code) {
  CompilerWork& w = compiler_work(vm);
  Node n;
  n.parent = n.first = n.last = n.next = -1;
  if (code.has(FLAG_POINTER)) {
    Descr* slot = sysstack_push(vm, code);
    n.slot = static_cast<int32_t>(slot - vm.st.stack.base);
    n.code = ZERO_DESCR;
  } else {
    n.slot = -1;
    n.code = code;
  }
  if (w.nodes.size() * 16 >= vm.st.ws_size) error_fatal(vm, 20);  // could never fit in code
  w.nodes.push_back(n);
  return static_cast<int>(w.nodes.size() - 1);
}

inline Descr node_code(Vm& vm, const Node& n) {
  return n.slot >= 0 ? vm.st.stack.base[n.slot] : n.code;
}

void attach(Vm& vm, int parent, int child) {
  std::vector<Node>& nodes = compiler_work(vm).nodes;
  Node& p = nodes[parent];
  nodes[child].parent = parent;
  nodes[child].next = -1;
  if (p.last >= 0) nodes[p.last].next = child;
  else p.first = child;
  p.last = child;
  if (p.slot < 0 && p.code.has(FLAG_FUNCTION)) p.code.set_v(p.code.v() + 1);
}

// Puts `repl` where `old` stands among its parent's children (the operand count is unchanged).
void replace_child(Vm& vm, int parent, int old, int repl) {
  std::vector<Node>& nodes = compiler_work(vm).nodes;
  Node& p = nodes[parent];
  int prev = -1;
  for (int c = p.first; c != old; c = nodes[c].next) prev = c;
  if (prev >= 0) nodes[prev].next = repl;
  else p.first = repl;
  if (p.last == old) p.last = repl;
  nodes[repl].next = nodes[old].next;
  nodes[repl].parent = parent;
  nodes[old].parent = -1;
  nodes[old].next = -1;
}

int literal_node(Vm& vm, const Descr& value) {
  int n = new_node(vm, op_instruction(vm, OP_LITERAL, 0));
  attach(vm, n, new_node(vm, value));
  return n;
}

inline const Descr* record_of(const Node& n) { return reinterpret_cast<const Descr*>(n.code.a); }

// --- Text cursor ------------------------------------------------------------------------------------

inline Spec cursor_spec(Vm& vm) {
  return Spec{sys(vm, SD_CC_LINE), Descr::make(vm.cc.cursor_offset, 0, vm.cc.cursor_length)};
}

ScanResult scan(Vm& vm, SyntaxTable table, Spec* token) {
  CompilerState& cc = vm.cc;
  Spec text = cursor_spec(vm);
  // The tables that only skip blanks (or look for ';') give the same outcome on the line
  // without its blank padding, which they need not walk.
  if ((table == SyntaxTable::Break || table == SyntaxTable::RequiredBlank ||
       table == SyntaxTable::SkipToEnd) &&
      cc.cursor_offset + cc.cursor_length > cc.content_end) {
    uint64_t visible = cc.content_end > cc.cursor_offset ? cc.content_end - cc.cursor_offset : 0;
    text.second.set_v(visible);
  }
  ScanResult r = syntax_scan(table, text, token);
  if (r.outcome == ScanOutcome::RanOut) {
    cc.cursor_offset += cc.cursor_length;
    cc.cursor_length = 0;
  } else {
    uint64_t consumed = text.second.a - cc.cursor_offset;
    cc.cursor_offset += consumed;
    cc.cursor_length -= consumed;
  }
  return r;
}

bool fail(Vm& vm, int msg) {
  vm.cc.message = msg;
  return false;
}

// Skips blanks and classifies what follows into the break type, reading on at the end of a
// line.
void skip_blanks(Vm& vm) {
  for (;;) {
    ScanResult r = scan(vm, SyntaxTable::Break, nullptr);
    if (r.outcome == ScanOutcome::Stopped) {
      vm.cc.break_type = r.type;
      return;
    }
    if (!end_of_line(vm)) {
      vm.cc.break_type = BRK_END;
      return;
    }
  }
}

// Forward over a required blank; false when no blank (nor the end of the text) follows.
bool required_blank(Vm& vm) {
  ScanResult r = scan(vm, SyntaxTable::RequiredBlank, nullptr);
  switch (r.outcome) {
    case ScanOutcome::Error:
      return false;
    case ScanOutcome::Stopped:
      vm.cc.break_type = r.type;
      return true;
    case ScanOutcome::RanOut:
      if (end_of_line(vm)) skip_blanks(vm);
      else vm.cc.break_type = BRK_END;
      return true;
  }
  return true;
}

Spec without_last(const Spec& s) {
  Spec r = s;
  r.second.set_v(s.second.v() - 1);
  return r;
}

// --- Expressions --------------------------------------------------------------------------------

enum class Parse { Ok, Error, NoElement };

// Pads a call with null-string arguments up to the function's declared count.
void pad_call(Vm& vm, int call) {
  const Descr* fd = compiler_work(vm).nodes[call].code.ptr();
  if (fd->has(FLAG_FUNCTION)) return;
  uint64_t declared = fd->v();
  while (compiler_work(vm).nodes[call].code.v() < declared)
    attach(vm, call, literal_node(vm, NULL_STRING));
}

// Element references call ITEM's private descriptor, not the cell of the name ITEM, so that
// a program may define a function of that name without changing what A<I> means.
Descr* item_cell(Vm& vm) { return vm.st.builtin_fds + 2 * BUILTIN_ITEM; }

// The expression parser.  With `element_only` the outermost level parses one element (the
// subject) instead of an expression.
Parse parse(Vm& vm, bool element_only, int* out) {
  CompilerState& cc = vm.cc;
  CompilerWork& w = compiler_work(vm);
  const size_t base = w.frames.size();
  int last = -1, pending = -1, outer = -1, inner = -1, elem = -1, root = -1;
  enum { START_ELEMENT, ELEMENT_DONE, EXPRESSION_DONE } state = START_ELEMENT;

  auto open = [&](FrameKind kind, int node) {
    if (w.frames.size() - base >= MAX_NESTING) error_fatal(vm, 21);
    w.frames.push_back(Frame{kind, node, outer, inner, last, pending});
    last = pending = -1;
    state = START_ELEMENT;
  };
  auto close = [&]() {
    const Frame& f = w.frames.back();
    outer = f.unary_outer;
    inner = f.unary_inner;
    last = f.last;
    pending = f.pending;
    w.frames.pop_back();
    state = ELEMENT_DONE;
  };
  auto top_of = [&](int n) {
    while (w.nodes[n].parent >= 0) n = w.nodes[n].parent;
    return n;
  };

  for (;;) {
    switch (state) {
      case START_ELEMENT: {
        skip_blanks(vm);
        if (cc.break_type != BRK_OTHER) {
          if (pending >= 0) return fail(vm, MSG_IMPROPER), Parse::Error;
          if (element_only && w.frames.size() == base) return Parse::NoElement;
          root = literal_node(vm, NULL_STRING);  // an empty expression is the null string
          state = EXPRESSION_DONE;
          break;
        }
        outer = inner = -1;
        for (;;) {
          uint64_t off = cc.cursor_offset, len = cc.cursor_length;
          ScanResult r = scan(vm, SyntaxTable::UnaryOperator, nullptr);
          if (r.outcome != ScanOutcome::Stopped) {
            cc.cursor_offset = off;
            cc.cursor_length = len;
            break;
          }
          int n = new_node(vm, instruction(unary_record_of_type(vm, r.type), 0));
          if (inner >= 0) attach(vm, inner, n);
          else outer = n;
          inner = n;
        }
        Spec tok;
        ScanResult r = scan(vm, SyntaxTable::Element, &tok);
        if (r.outcome == ScanOutcome::Error) return fail(vm, MSG_ELEMENT), Parse::Error;
        if (r.outcome == ScanOutcome::RanOut && r.type == EL_LITERAL)
          return fail(vm, MSG_UNCLOSED), Parse::Error;
        state = ELEMENT_DONE;
        switch (r.type) {
          case EL_LITERAL: {
            Spec text = tok;
            text.second = Descr::make(tok.second.a + 1, 0, tok.length() - 2);
            elem = literal_node(vm, make_variable(vm, text));
            break;
          }
          case EL_INTEGER: {
            int64_t v;
            if (!scan_integer(tok.chars(), tok.length(), &v)) return fail(vm, MSG_INTEGER), Parse::Error;
            elem = literal_node(vm, Descr::integer(v));
            break;
          }
          case EL_REAL: {
            uint64_t bits;
            if (!scan_real(tok.chars(), tok.length(), &bits)) return fail(vm, MSG_REAL), Parse::Error;
            elem = literal_node(vm, real_result(vm, bits));
            break;
          }
          case EL_NAME:
            elem = new_node(vm, make_variable(vm, tok));
            break;
          case EL_PAREN:
            open(FRAME_PAREN, -1);
            break;
          case EL_CALL: {
            Descr name = make_variable(vm, without_last(tok));
            Descr* cell = function_cell(vm, name, true);
            open(FRAME_CALL, new_node(vm, instruction(cell, 0)));
            break;
          }
          case EL_REFERENCE: {
            Descr* cell = item_cell(vm);
            tok.first = sys(vm, SD_CC_LINE);  // the text may have moved
            Descr name = make_variable(vm, without_last(tok));
            int n = new_node(vm, instruction(cell, 0));
            attach(vm, n, new_node(vm, name));
            open(FRAME_REFERENCE, n);
            break;
          }
          default:
            return fail(vm, MSG_ELEMENT), Parse::Error;
        }
        break;
      }

      case ELEMENT_DONE: {
        if (inner >= 0) {
          attach(vm, inner, elem);
          elem = outer;
        }
        if (pending >= 0) attach(vm, pending, elem);
        last = elem;
        if (element_only && w.frames.size() == base) {
          *out = elem;
          return Parse::Ok;
        }
        // The binary operator (or the end of the expression).
        if (!required_blank(vm)) {
          skip_blanks(vm);
          uint32_t b = cc.break_type;
          if (b != BRK_COMMA && b != BRK_RPAREN && b != BRK_END && b != BRK_RBRACKET)
            return fail(vm, MSG_BINARY), Parse::Error;
          root = top_of(last);
          state = EXPRESSION_DONE;
          break;
        }
        if (cc.break_type != BRK_OTHER) {
          root = top_of(last);
          state = EXPRESSION_DONE;
          break;
        }
        ScanResult r = scan(vm, SyntaxTable::BinaryOperator, nullptr);
        const Descr* rec = r.outcome == ScanOutcome::Error || r.type == 0
                               ? binary_record(vm, BOP_CONCAT)
                               : binary_record_of_type(vm, r.type);
        int op = new_node(vm, instruction(rec, 0));
        // Operators stacked above the last operand whose left precedence exceeds the new
        // operator's right precedence take the operand with them.
        int x = last;
        while (w.nodes[x].parent >= 0 &&
               left_precedence(record_of(w.nodes[w.nodes[x].parent])) > right_precedence(rec))
          x = w.nodes[x].parent;
        int p = w.nodes[x].parent;
        if (p >= 0) replace_child(vm, p, x, op);
        attach(vm, op, x);
        pending = op;
        state = START_ELEMENT;
        break;
      }

      case EXPRESSION_DONE: {
        if (w.frames.size() == base) {
          *out = root;
          return Parse::Ok;
        }
        const Frame f = w.frames.back();
        if (f.kind == FRAME_PAREN) {
          if (cc.break_type != BRK_RPAREN) return fail(vm, MSG_BREAK), Parse::Error;
          elem = root;
          close();
          break;
        }
        attach(vm, f.node, root);
        if (cc.break_type == BRK_COMMA) {
          last = pending = -1;
          state = START_ELEMENT;
          break;
        }
        if (cc.break_type != (f.kind == FRAME_CALL ? BRK_RPAREN : BRK_RBRACKET))
          return fail(vm, MSG_BREAK), Parse::Error;
        if (f.kind == FRAME_CALL) pad_call(vm, f.node);
        elem = f.node;
        close();
        break;
      }
    }
  }
}

}  // namespace

bool parse_expression(Vm& vm, int* root) { return parse(vm, false, root) == Parse::Ok; }

// --- Writing trees ------------------------------------------------------------------------------------

uint64_t tree_size(Vm& vm, int root) {
  const std::vector<Node>& nodes = compiler_work(vm).nodes;
  uint64_t count = 0;
  int n = root;
  for (;;) {
    ++count;
    if (nodes[n].first >= 0) {
      n = nodes[n].first;
      continue;
    }
    while (n != root && nodes[n].next < 0) n = nodes[n].parent;
    if (n == root) return count;
    n = nodes[n].next;
  }
}

// Parent before children, children in order.
void write_tree(Vm& vm, int root) {
  ensure_room(vm, tree_size(vm, root));
  const std::vector<Node>& nodes = compiler_work(vm).nodes;
  CompilerState& cc = vm.cc;
  Descr* out = code_at(vm, cc.compile_offset);
  int n = root;
  for (;;) {
    *++out = node_code(vm, nodes[n]);
    cc.compile_offset += 16;
    if (nodes[n].first >= 0) {
      n = nodes[n].first;
      continue;
    }
    while (n != root && nodes[n].next < 0) n = nodes[n].parent;
    if (n == root) return;
    n = nodes[n].next;
  }
}

Descr* begin_statement_work(Vm& vm) {
  CompilerWork& w = compiler_work(vm);
  w.nodes.clear();
  w.frames.clear();
  w.fail_offset = -1;
  w.label_defined = false;
  vm.cc.header_offset = 0;
  return vm.st.stack.top;
}

void end_statement_work(Vm& vm, Descr* stack_mark) {
  vm.st.stack.top = stack_mark;
  CompilerWork& w = compiler_work(vm);
  w.nodes.clear();
  w.frames.clear();
}

// --- Statements ------------------------------------------------------------------------------------

namespace {

enum class Body { Next, End, Error };

// A goto instruction node with its target tree.
int goto_node(Vm& vm, uint32_t type, int target) {
  bool direct = type >= GOTO_UNCOND_DIRECT;
  int n = new_node(vm, op_instruction(vm, direct ? OP_GOTO_CODE : OP_GOTO_LABEL, 0));
  attach(vm, n, target);
  return n;
}

// Scans a goto start and its target; *type is the goto type.
bool parse_goto(Vm& vm, uint32_t* type, int* node) {
  Spec tok;
  ScanResult r = scan(vm, SyntaxTable::GotoStart, &tok);
  if (r.outcome == ScanOutcome::RanOut) return fail(vm, MSG_IMPROPER);
  if (r.outcome == ScanOutcome::Error) {
    // `S` or `F` with nothing after it on the line: the statement ends inside the goto.
    const char* p = tok.chars();
    uint64_t n = tok.length(), i = 1;
    bool letter = n > 0 && (p[0] == 'S' || p[0] == 's' || p[0] == 'F' || p[0] == 'f');
    while (letter && i < n && (p[i] == ' ' || p[i] == '\t')) ++i;
    return fail(vm, letter && i == n ? MSG_IMPROPER : MSG_GOTO);
  }
  int target;
  if (!parse_expression(vm, &target)) return false;
  uint32_t closer = r.type >= GOTO_UNCOND_DIRECT ? BRK_RBRACKET : BRK_RPAREN;
  if (vm.cc.break_type != closer) return fail(vm, MSG_GOTO);
  *type = r.type;
  *node = goto_node(vm, r.type, target);
  return true;
}

inline bool is_success(uint32_t t) { return t == GOTO_SUCCESS || t == GOTO_SUCCESS_DIRECT; }
inline bool is_failure(uint32_t t) { return t == GOTO_FAILURE || t == GOTO_FAILURE_DIRECT; }

bool goto_field(Vm& vm) {
  CompilerState& cc = vm.cc;
  CompilerWork& w = compiler_work(vm);
  skip_blanks(vm);
  if (cc.break_type == BRK_END) return true;  // an empty goto field
  if (cc.break_type != BRK_OTHER) return fail(vm, MSG_GOTO);
  uint32_t type;
  int first;
  if (!parse_goto(vm, &type, &first)) return false;

  if (!is_success(type) && !is_failure(type)) {  // unconditional
    w.fail_offset = int64_t(cc.compile_offset);
    write_tree(vm, first);
    skip_blanks(vm);
    return cc.break_type == BRK_END || fail(vm, MSG_GOTO);
  }

  if (is_success(type)) {
    write_tree(vm, first);
    skip_blanks(vm);
    if (cc.break_type == BRK_END) {
      w.fail_offset = int64_t(cc.compile_offset);  // failure falls through
      return true;
    }
    uint32_t second_type;
    int second;
    if (cc.break_type != BRK_OTHER) return fail(vm, MSG_GOTO);
    if (!parse_goto(vm, &second_type, &second)) return false;
    if (!is_failure(second_type)) return fail(vm, MSG_GOTO);
    skip_blanks(vm);
    if (cc.break_type != BRK_END) return fail(vm, MSG_GOTO);
    w.fail_offset = int64_t(cc.compile_offset);
    write_tree(vm, second);
    return true;
  }

  // Failure first.
  skip_blanks(vm);
  if (cc.break_type == BRK_END) {
    // Success jumps over the failure goto.
    ensure_room(vm, 2 + tree_size(vm, first));
    emit(vm, op_instruction(vm, OP_JUMP, 1));
    emit(vm, ZERO_DESCR);
    w.fail_offset = int64_t(cc.compile_offset);
    uint64_t placeholder = cc.compile_offset;
    write_tree(vm, first);
    *code_at(vm, placeholder) = Descr::make(cc.compile_offset, 0, 0);
    return true;
  }
  uint32_t second_type;
  int second;
  if (cc.break_type != BRK_OTHER) return fail(vm, MSG_GOTO);
  if (!parse_goto(vm, &second_type, &second)) return false;
  if (!is_success(second_type)) return fail(vm, MSG_GOTO);
  skip_blanks(vm);
  if (cc.break_type != BRK_END) return fail(vm, MSG_GOTO);
  write_tree(vm, second);
  w.fail_offset = int64_t(cc.compile_offset);
  write_tree(vm, first);
  return true;
}

bool is_end_label(const Spec& label) {
  return label.length() == 3 &&
         (std::memcmp(label.chars(), "END", 3) == 0 || std::memcmp(label.chars(), "end", 3) == 0);
}

Body statement_body(Vm& vm) {
  CompilerState& cc = vm.cc;
  CompilerWork& w = compiler_work(vm);

  // Label.
  Spec label;
  ScanResult r = scan(vm, SyntaxTable::LabelStart, &label);
  if (r.outcome == ScanOutcome::Error) return fail(vm, MSG_LABEL), Body::Error;
  if (label.length() > 0) {
    emit(vm, op_instruction(vm, OP_REBASE, 0));
    sys(vm, SD_CC_BASE) = Descr::pointer(base_addr(vm) + cc.compile_offset, T_CODE);
    cc.compile_offset = 0;
    cc.stmt_start = 0;
    bool end = is_end_label(label);
    Descr var = make_variable(vm, label);
    sys(vm, SD_CC_LABEL) = var;
    if (var_attr(var.ptr()).a != 0 && !cc.allow_label_redefinition)
      return fail(vm, MSG_PREVIOUS_LABEL), Body::Error;
    // A run-time compilation keeps what the label meant before, to put it back if the
    // compilation fails.
    if (sys(vm, SD_CC_UNDO).a != 0) {
      add_pair(vm, SD_CC_UNDO, sys(vm, SD_CC_LABEL), var_attr(sys(vm, SD_CC_LABEL).ptr()));
      var = sys(vm, SD_CC_LABEL);
    }
    var_attr(var.ptr()) = sys(vm, SD_CC_BASE);
    w.label_defined = true;
    if (end) return Body::End;
  }

  // A label ends at a blank, a tab or ';', so this cannot fail unless the tables are wrong.
  if (!required_blank(vm)) error_fatal(vm, 17);
  if (cc.break_type == BRK_END) return Body::Next;

  emit(vm, op_instruction(vm, OP_STATEMENT, 1));
  emit(vm, ZERO_DESCR);
  cc.header_offset = cc.compile_offset;

  if (cc.break_type != BRK_COLON) {
    if (cc.break_type != BRK_OTHER) return fail(vm, MSG_SUBJECT), Body::Error;
    int subject;
    Parse p = parse(vm, true, &subject);
    if (p == Parse::Error) return Body::Error;
    if (p == Parse::NoElement) return fail(vm, MSG_SUBJECT), Body::Error;
    if (!required_blank(vm)) return fail(vm, MSG_BREAK), Body::Error;
    int body = subject;
    if (cc.break_type == BRK_OTHER) {
      int pattern;
      if (!parse_expression(vm, &pattern)) return Body::Error;
      if (cc.break_type == BRK_EQUALS) {
        int object;
        if (!parse_expression(vm, &object)) return Body::Error;
        body = new_node(vm, op_instruction(vm, OP_MATCH_REPLACE, 0));
        attach(vm, body, subject);
        attach(vm, body, pattern);
        attach(vm, body, object);
      } else {
        body = new_node(vm, op_instruction(vm, OP_MATCH, 0));
        attach(vm, body, subject);
        attach(vm, body, pattern);
      }
    } else if (cc.break_type == BRK_EQUALS) {
      int object;
      if (!parse_expression(vm, &object)) return Body::Error;
      body = new_node(vm, op_instruction(vm, OP_ASSIGN, 0));
      attach(vm, body, subject);
      attach(vm, body, object);
    }
    write_tree(vm, body);
    if (cc.break_type != BRK_END && cc.break_type != BRK_COLON)
      return fail(vm, MSG_BREAK), Body::Error;
  }

  if (cc.break_type == BRK_COLON && !goto_field(vm)) return Body::Error;

  uint64_t fail_offset = w.fail_offset >= 0 ? uint64_t(w.fail_offset) : cc.compile_offset;
  *code_at(vm, cc.header_offset) = Descr::make(uint64_t(cc.stmt_number), 0, fail_offset);
  return Body::Next;
}

// Skips what is left of a rejected statement.
void recover(Vm& vm) {
  if (vm.cc.break_type == BRK_END) return;
  ScanResult r = scan(vm, SyntaxTable::SkipToEnd, nullptr);
  if (r.outcome == ScanOutcome::Stopped) {
    vm.cc.break_type = BRK_END;
    return;
  }
  if (vm.cc.source_unit != 0) skip_to_new_statement(vm);
}

// The error procedure: the statement becomes the error instruction, the error is counted,
// listed and recovered from.
void report_error(Vm& vm) {
  CompilerState& cc = vm.cc;
  CompilerWork& w = compiler_work(vm);
  cc.compile_offset = cc.stmt_start;
  cc.header_offset = 0;
  w.fail_offset = -1;
  emit(vm, op_instruction(vm, OP_ERROR, 1));
  emit(vm, Descr::make(uint64_t(cc.stmt_number), 0, 0));

  cc.error_count += 1;
  if (cc.error_count > COMPILE_ERROR_LIMIT) {
    cc.error_count -= 1;
    if (!cc.at_statement_end) list_current_line(vm);
    error_fatal(vm, 26);
  }
  if (cc.listing && cc.source_unit != 0) {
    uint64_t n = RIGHT_FIELD - 1;
    if (!cc.at_statement_end) {
      list_current_line(vm);
      n -= cc.cursor_length;
    }
    std::memset(w.marker, ' ', n);
    w.marker[n] = '\'';
    write_record(vm, 6, w.marker, n + 1);
    char line[64] = "*** ";
    const char* msg = compile_message(cc.message);
    size_t len = std::strlen(msg);
    std::memcpy(line + 4, msg, len);
    write_record(vm, 6, line, 4 + len);
    write_record(vm, 6, " ", 1);
  }
}

}  // namespace

StmtResult compile_statement(Vm& vm) {
  CompilerState& cc = vm.cc;
  Descr* mark = begin_statement_work(vm);
  cc.break_type = 0;
  cc.message = MSG_NONE;
  cc.at_statement_end = false;
  cc.stmt_start = cc.compile_offset;
  cc.stmt_number += 1;
  sys(vm, SD_CC_LABEL) = ZERO_DESCR;

  Body b = statement_body(vm);
  end_statement_work(vm, mark);
  if (b == Body::Next) return StmtResult::Next;
  if (b == Body::End) return StmtResult::End;

  report_error(vm);
  if (cc.source_unit == 0) return StmtResult::Error;
  recover(vm);
  return StmtResult::Next;
}

}  // namespace pellux
