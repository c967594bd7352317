// Internals shared by the translation driver and the statement compiler (and their tests).
#pragma once
#include <cstdint>
#include <vector>

#include "compiler/state.h"
#include "compiler/syntax.h"
#include "storage/descr.h"
#include "vm.h"

namespace pellux {

inline constexpr uint64_t LINE_WIDTH = 4096;       // columns of the line field
inline constexpr uint64_t NUMBER_WIDTH = 8;        // each number field of the listing
inline constexpr uint64_t IMAGE_WIDTH = NUMBER_WIDTH + LINE_WIDTH + 1 + NUMBER_WIDTH;  // 4113
inline constexpr uint64_t RIGHT_FIELD = NUMBER_WIDTH + LINE_WIDTH + 1;                  // 4105
inline constexpr uint64_t FIRST_BLOCK_BYTES = 24000;  // first code block, title included
inline constexpr uint64_t BLOCK_EXTRA_BYTES = 3200;   // room added to a new code block
inline constexpr int64_t COMPILE_ERROR_LIMIT = 800;
inline constexpr size_t MAX_NESTING = 1000000;     // open parentheses, calls and references

// Compile messages.
enum CompileMessage : int {
  MSG_NONE,
  MSG_LABEL,
  MSG_PREVIOUS_LABEL,
  MSG_SUBJECT,
  MSG_GOTO,
  MSG_ELEMENT,
  MSG_BINARY,
  MSG_BREAK,
  MSG_REAL,
  MSG_IMPROPER,
  MSG_INTEGER,
  MSG_UNCLOSED,
  MSG_COUNT
};
const char* compile_message(int msg);

// A parse-tree node.  Code descriptors that point into the work space are kept on the system
// stack (slot >= 0), so regeneration relocates them while the statement is being compiled.
struct Node {
  Descr code;       // the code descriptor when slot < 0
  int32_t slot;     // index of the code descriptor on the system stack, or -1
  int32_t parent, first, last, next;
};

// A nested expression in progress: the element that opened it and the state of the
// expression around it.
enum FrameKind : uint8_t { FRAME_PAREN, FRAME_CALL, FRAME_REFERENCE };
struct Frame {
  FrameKind kind;
  int32_t node;            // call or reference node
  int32_t unary_outer, unary_inner;
  int32_t last, pending;   // enclosing expression: last operand, operator awaiting its operand
};

struct CompilerWork {
  char image[IMAGE_WIDTH + 7];  // listing image; the line field starts at column 9
  char marker[RIGHT_FIELD + 8];
  std::vector<Node> nodes;
  std::vector<Frame> frames;
  int64_t fail_offset = -1;     // failure offset set by a goto, or -1
  bool label_defined = false;   // the statement's label was given this statement's code
  bool text_exhausted = false;  // string mode: the end of the text ended the statement
  char* line() { return image + NUMBER_WIDTH; }
};

CompilerWork& compiler_work(Vm& vm);

// --- Statement compiler (statement.cpp) ------------------------------------------------------------
enum class StmtResult { Next, End, Error };
// Compiles one statement from the text cursor; reports and recovers from syntax errors itself.
StmtResult compile_statement(Vm& vm);
// Parses one expression from the text cursor; on success the tree root is in *root and the
// break type tells what ended it.  A syntax error sets the message and returns false.
bool parse_expression(Vm& vm, int* root);
// Number of descriptors the tree writes, and the writer (opens a new code block if needed).
uint64_t tree_size(Vm& vm, int root);
void write_tree(Vm& vm, int root);
// Appends one descriptor at the compile position.
void emit(Vm& vm, const Descr& d);
// Starts the working storage of a statement (parse nodes, system-stack slots).
Descr* begin_statement_work(Vm& vm);
void end_statement_work(Vm& vm, Descr* stack_mark);
// Gives back the unused tail of a code block (any block, not only the last one).
void give_back_tail(Vm& vm, Descr* block, uint64_t keep_body);

// --- Translation driver (translate.cpp) -------------------------------------------------------------
// The blank-skipping step ran out of text: reads on.  True when a continuation line was read
// (scanning resumes on it); false at the end of the statement.
bool end_of_line(Vm& vm);
// Lists the line in the field if listing is on and it has not been listed yet.
void list_current_line(Vm& vm);
// Reads lines for error recovery until a new-statement line is in the field.
void skip_to_new_statement(Vm& vm);

}  // namespace pellux
