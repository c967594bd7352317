// The compiler part of the Vm.
#pragma once
#include <cstdint>
#include <memory>

#include "storage/descr.h"

namespace pellux {

// Working storage of the compiler outside the work space (line field and listing image, parse
// nodes, parser frames); defined in compiler/internal.h.
struct CompilerWork;
struct CompilerWorkDeleter {
  void operator()(CompilerWork* w) const;
};

struct CompilerState {
  int64_t stmt_number = 0;
  bool listing = false;
  bool left_numbers = true;
  int64_t error_count = 0;
  bool exec_despite_errors = false;
  int source_unit = 5;
  bool allow_label_redefinition = false;
  uint64_t compile_start = 0;

  // Compile position.  The code block and the code base are system descriptors (SD_CC_BLOCK,
  // SD_CC_BASE); these offsets count bytes from the code base.
  uint64_t compile_offset = 0;   // offset of the last descriptor written
  uint64_t stmt_start = 0;       // compile offset when the statement began
  uint64_t header_offset = 0;    // offset of the statement header (0: none)
  uint64_t limit_margin = 80;    // code limit = block end less this

  // Text cursor: SD_CC_LINE holds the text's block (a STRING) or the line field (a plain
  // address); the unscanned text starts `cursor_offset` bytes after it.
  uint64_t cursor_offset = 0;
  uint64_t cursor_length = 0;
  // Offset where only blanks remain in the line field (the padding); blank-skipping scans stop
  // there instead of walking the padding.  All ones when compiling from a string.
  uint64_t content_end = ~uint64_t{0};

  uint32_t break_type = 0;
  int message = 0;              // compile message of the last rejected statement
  bool at_statement_end = false;  // the statement ended on a new line already in the field
  bool line_listed = true;        // the line in the field has been listed (or needs no listing)

  // Operator records in the static area (compiler_prepare).
  Descr* binary_records = nullptr;
  Descr* unary_records = nullptr;

  std::unique_ptr<CompilerWork, CompilerWorkDeleter> work;
};

}  // namespace pellux
