// Storage registers, the static area and the system stack: the storage part of the Vm.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "storage/descr.h"

namespace pellux {

// Fixed system descriptors in the static area.  They are roots of regeneration, so a pointer
// kept here survives any allocation.  Subsystems keep their working registers here.
enum SysSlot : int {
  SD_RESULT,          // the result descriptor of every procedure
  SD_WORK,            // scratch working descriptor
  SD_CODE_BASE,       // interpreter: address of the executing code position
  SD_START_CODE,      // code position where execution begins
  SD_CC_BLOCK,        // compiler: current code block
  SD_CC_BASE,         // compiler: current code base
  SD_CC_LABEL,        // compiler: label variable of the statement being compiled
  SD_CC_LINE,         // compiler: text cursor block (when compiling from a string)
  SD_STR_NULL,        // system strings
  SD_STR_EXTERNAL,
  SD_STR_END,
  SD_STR_END_LC,
  SD_STR_RETURN,
  SD_STR_FRETURN,
  SD_STR_NRETURN,
  SD_STR_FUNCTION,
  SD_DATATYPES,       // data-type pair list (static, replaced when it grows)
  SD_FNAMES,          // function-name pair list
  SD_INPUT_ASSOC,     // input association pair list
  SD_OUTPUT_ASSOC,    // output association pair list
  SD_TRACE_TYPES,     // trace-type pair list
  SD_CC_UNDO,         // compiler: (label, previous code) pairs of a run-time compilation
  SD_TRACE_VALUE,     // trace associations (name, trace code), one list per kind: VALUE
  SD_TRACE_LABEL,     //   LABEL
  SD_TRACE_CALL,      //   CALL
  SD_TRACE_RETURN,    //   RETURN
  SD_TRACE_KEYWORD,   //   KEYWORD
  SD_SPARE_FIRST,
  SD_COUNT = 64
};

// Unprotected keywords, in the order of their pair list.
enum UKw : int {
  K_TRIM, K_TRACE, K_STLIMIT, K_FLTDEC, K_FLTSIG, K_STAT, K_OUTPUT, K_MAXLNGTH, K_IOERR,
  K_INPUT, K_FULLSCAN, K_FTRACE, K_ERRLIMIT, K_DUMP, K_CODE, K_ANCHOR, K_ABEND,
  K_UNPROTECTED_COUNT
};

// Protected keywords, in the order of their pair list.
enum PKw : int {
  P_ERRTYPE, P_ARB, P_BAL, P_FENCE, P_ABORT, P_FAIL, P_MAXARB, P_REM, P_SUCCEED, P_STFCOUNT,
  P_LASTNO, P_RTNTYPE, P_STNO, P_ALPHABET, P_OS, P_UC, P_LC, P_DIG, P_STCOUNT, P_FNCLEVEL,
  P_PARM, P_INFINITY, P_NAN, P_PI, P_E,
  P_PROTECTED_COUNT
};

// The explicit system stack: descriptor slots in a memory area of their own, scanned by
// regeneration from base up to top (exclusive).
struct SysStack {
  Descr* base = nullptr;
  Descr* top = nullptr;    // next free slot
  Descr* limit = nullptr;  // first slot past the usable area
  Descr* end = nullptr;    // end of the memory area: the slots past `limit` are a reserve that
                           // is opened up when error 21 is raised, so termination can still pin
};

inline constexpr uint64_t SYSSTACK_BYTES = 7ull << 20;      // 7 MiB of descriptor slots
inline constexpr uint64_t SYSSTACK_RESERVE_SLOTS = 4096;

inline constexpr uint64_t BIN_COUNT = 8192;
inline constexpr uint64_t MAX_BLOCK_BODY = 64000000000ull;
inline constexpr uint64_t DEFAULT_WORK_SIZE = 30000000;

// The lookup index of the variable table: an open-addressing table of (16-bit tag << 48) |
// variable address, found by a hash of the whole text.  Every natural variable keeps that hash
// (56 bits) in the V of its link descriptor, so the table is grown and remade after
// regeneration without reading a text again.  The order in which DUMP lists variables (by the
// bin and order key of the chain hash, then by creation, which is address order) is derived
// when a dump asks for it; nothing is kept in that order at creation.  The table lives in
// memory areas outside the work space, reserved once; when they cannot be had, the index is
// switched off and lookups walk the work space.
struct InternIndex {
  bool enabled = false;
  uint64_t* slots = nullptr;  // 0 empty, else (hash bits << 40) | (place in the work space + 1)
  uint64_t base = 0;          // the work-space start the places count from
  uint64_t* spare = nullptr;  // a second area of the same size: growing rehashes into it
  uint64_t mask = 0;          // slots in use - 1 (a power of two)
  uint64_t capacity = 0;      // slots of each area: enough for every variable the work space
                              // can hold; pages are used only as far as the table reaches
  uint64_t live = 0;
  uint64_t version = 0;       // changes whenever entries move: invalidates a remembered slot
  uint64_t rebuilds = 0;
};

// Hash of a function name's text, usable with string_view keys without making a string.
struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct Storage {
  // Work space registers.
  uint8_t* ws_start = nullptr;
  uint8_t* hard_limit = nullptr;
  uint8_t* free_ptr = nullptr;
  uint8_t* soft_limit = nullptr;
  uint64_t ws_size = 0;

  // Regeneration bookkeeping.
  uint64_t regen_count = 0;
  uint64_t regen_request = 0;
  uint64_t bytes_reclaimed = 0;
  uint64_t bytes_available = 0;
  uint64_t stress_period = 0;   // collector-stress build: regenerate every N allocations
  uint64_t stress_counter = 0;
  uint64_t stress_regen_count = 0;  // those extra regenerations (not in regen_count)

  // Static area: titled blocks laid end to end in a memory area outside the work space.
  uint8_t* static_start = nullptr;
  uint8_t* static_end = nullptr;    // end of blocks made so far
  uint8_t* static_limit = nullptr;  // end of the memory area

  // 8192 chain heads (+1 spare), a permanently marked block.  Chain order is derived when a
  // dump needs it (see InternIndex); the head of bin 0 holds the list sorted by text that the
  // terminal dump walks.
  Descr* bins = nullptr;
  Descr* sys = nullptr;   // system descriptors, indexed by SysSlot
  Descr* ukw = nullptr;   // unprotected keyword pair list body: value of keyword k at ukw[2k]
  Descr* pkw = nullptr;   // protected keyword pair list body: value of keyword k at pkw[2k]
  Descr* builtin_fds = nullptr;  // built-in function descriptors, two descriptors each (private
                                 // originals: the names have cells of their own)
  // Function name text -> its function descriptor cell (cells never move, texts never change).
  std::unordered_map<std::string, Descr*, NameHash, std::equal_to<>> function_index;

  // Function descriptor cells of names defined at run time: carved from static blocks, so they
  // never move and are scanned as roots with the rest of the static area.
  Descr* cell_next = nullptr;
  Descr* cell_end = nullptr;

  // In-place string building (reserve_string .. finish_string).
  bool reserve_active = false;
  uint64_t reserve_length = 0;

  // Regeneration internals.
  bool in_regeneration = false;
  uint64_t mark_stack_cap = ~uint64_t{0};  // entries of the explicit mark stack (tests lower it)
  uint64_t regen_mark_deferrals = 0;       // blocks left for the address walk (last regeneration)
  int no_alloc_depth = 0;                  // NoAllocGuard nesting (checked in debug builds)

  // Block starts of dynamic storage, one bit per 16 bytes, made afresh by each regeneration so
  // that the block of an interior pointer is found a word (64 descriptors) at a time.
  uint64_t* start_map = nullptr;
  uint64_t start_map_bytes = 0;

  // The live blocks of a regeneration, listed so that the steps after marking visit only them
  // (a memory area reserved once; pages are used only as far as the list reaches).
  uint64_t* live_list = nullptr;
  uint64_t live_list_cap = 0;

  // Memory areas, for storage_release.
  uint64_t static_area_size = 0;
  void* bins_area = nullptr;
  uint64_t bins_area_size = 0;

  InternIndex index;
  bool chains_sorted = false;  // sort_variables has made the sorted list (termination only)

  SysStack stack;
  // Type codes of DATA: the last code given out (the first DATA type is 101).
  uint64_t datatype_counter = 100;
  // The lookup indexes of large tables (kept by the table module, outside the work space).
  std::shared_ptr<void> table_indexes;
  bool initialised = false;  // start-up initialisation of the tables has finished
};

}  // namespace pellux
