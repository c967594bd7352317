// Storage: the work space with allocation and regeneration, the static area, interned strings
// (natural variables), keywords, pair lists and the system stack.
//
// Every function marked "may allocate" can run storage regeneration, which moves every block of
// the work space.  A descriptor that points into the work space and is held in a C++ local
// across such a call must be pinned (Pin below) or kept in a system descriptor; raw Descr*
// pointers into blocks must be re-derived after the call.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "storage/descr.h"
#include "vm.h"

namespace pellux {

// --- Start-up -----------------------------------------------------------------------------------
// Creates the static area (keyword values, system descriptors, built-in function descriptors,
// data-type list, ...) and the system stack.  Runs before the command line is matched, so that
// the matcher can set &STAT and &DUMP.  Needs no work space.
void storage_prepare(Vm& vm);
// Reserves the work space (rounded up to 4,096) and runs the start-up initialisation of the
// tables: names converted to variables, system strings, &ALPHABET/&UC/&lc/&DIG/&OS/&PARM/...,
// pattern keyword values copied to the variables of the same names.  May allocate.
void storage_init(Vm& vm, uint64_t work_size);
// Gives back the memory areas (unit tests).
void storage_release(Vm& vm);
// Period of the collector-stress build (regenerate every N allocations; PELLUX_GC_PERIOD).
void set_stress_period(Vm& vm, uint64_t period);

// --- Allocation ---------------------------------------------------------------------------------
// A new block of `body` bytes (a multiple of 16), zero body, title A=self F=FLAG_TITLE V=body.
// Returns A=block F=FLAG_POINTER V=type.  Too large or no room after one regeneration:
// "Work space exceeded" and fatal error 23.  May allocate.
Descr allocate_block(Vm& vm, uint64_t body, uint64_t type);
// Shrinks the most recently allocated block (it must end at the free pointer) to `body` bytes,
// giving the rest back to the free space.
void shrink_last_block(Vm& vm, Descr* block, uint64_t body);
// One regeneration for a request of `request` bytes; true when more than that is free after.
bool regenerate_storage(Vm& vm, uint64_t request);
// The extra regeneration of the collector-stress build: moves everything, but is not counted
// and leaves the soft limit and the statistics figures as they were.
void stress_regenerate(Vm& vm);
// Regenerates, then succeeds when n <= bytes available (returned in *available).
bool collect_storage(Vm& vm, int64_t n, int64_t* available);
// Title of the block containing the address (steps back 16 bytes at a time to a title).  The
// address must be a descriptor of a block (never a byte inside a string's text).
Descr* find_title(uint64_t addr);
// Bytes between the free pointer and the soft limit: what can be allocated without regenerating.
inline uint64_t room_below_soft_limit(const Vm& vm) {
  return static_cast<uint64_t>(vm.st.soft_limit - vm.st.free_ptr);
}
// True when the address lies in the work space or in the static area.
bool in_storage(const Vm& vm, uint64_t addr);

// --- Static area ----------------------------------------------------------------------------------
// A new permanently marked block of `ndescr` body descriptors in the static area (start-up
// only).  Returns the body (the descriptor after the title).  Never moves.  The body is scanned
// as descriptors by regeneration: keep raw tables (bytes, C structures) elsewhere.
Descr* static_alloc(Vm& vm, uint64_t ndescr);
// True when the address lies in the static area.
inline bool in_static_area(const Vm& vm, uint64_t addr) {
  return addr >= reinterpret_cast<uint64_t>(vm.st.static_start) &&
         addr < reinterpret_cast<uint64_t>(vm.st.static_end);
}
inline Descr& sys(Vm& vm, SysSlot s) { return vm.st.sys[s]; }
inline Descr& result(Vm& vm) { return vm.st.sys[SD_RESULT]; }

// --- Keywords -------------------------------------------------------------------------------------
inline Descr& ukw(Vm& vm, UKw k) { return vm.st.ukw[2 * k]; }
inline Descr& pkw(Vm& vm, PKw k) { return vm.st.pkw[2 * k]; }
inline int64_t ukw_int(const Vm& vm, UKw k) { return static_cast<int64_t>(vm.st.ukw[2 * k].a); }
inline int64_t pkw_int(const Vm& vm, PKw k) { return static_cast<int64_t>(vm.st.pkw[2 * k].a); }
// Value cell of the unprotected / protected keyword whose name is the variable `name`; nullptr
// when it is not one.
Descr* find_unprotected_keyword(Vm& vm, const Descr& name);
Descr* find_protected_keyword(Vm& vm, const Descr& name);

// --- Natural variables ------------------------------------------------------------------------------
// The STRING descriptor of the text (the null string for length 0).  The text must not lie in
// the work space (use the Spec overload for that).  May allocate.
Descr make_variable(Vm& vm, const char* text, uint64_t len);
inline Descr make_variable(Vm& vm, std::string_view s) { return make_variable(vm, s.data(), s.size()); }
// Text given by a specifier, which may point into a block of the work space.  May allocate.
Descr make_variable(Vm& vm, const Spec& spec);
// In-place string building: reserve room for `len` characters at the free pointer (regenerating
// first if needed) and return where the text goes; nothing else may allocate before
// finish_string, which interns the first `final_len` characters.  May allocate.
char* reserve_string(Vm& vm, uint64_t len);
Descr finish_string(Vm& vm, uint64_t final_len);
// finish_string for a text whose string-index hash (intern::text_hash) is already known.
Descr finish_string_hashed(Vm& vm, uint64_t final_len, uint64_t hash);
// Looks a text up without creating it; the null descriptor (A = 0, V = 0) when absent.
Descr lookup_variable(Vm& vm, const char* text, uint64_t len);
// Calls f(variable) for every natural variable, in address (creation) order.  f must not
// allocate.
template <typename F>
void for_each_variable(Vm& vm, F&& f) {
  for (uint8_t* p = vm.st.ws_start; p < vm.st.free_ptr;) {
    Descr* t = reinterpret_cast<Descr*>(p);
    p += block_length(t);
    if (t->fv & FLAG_STRING) f(t);
  }
}
// Sets every natural variable's value to the null string (CLEAR).
void clear_variables(Vm& vm);
// The variables in the order DUMP lists them: by bin and order key of the chain hash, then in
// creation order; only those with a value unless with_null.  The list holds addresses, which
// the next regeneration invalidates.  Allocates only outside the work space.
void variables_in_dump_order(Vm& vm, bool with_null, std::vector<Descr*>* out);
// Links every variable whose value is not the null string into one list in text order at the
// head of bin 0 (terminal dump only).
void sort_variables(Vm& vm);
// The hash of a text: bin number 0..8191 and 15-bit order key.
void hash_text(const char* s, uint64_t n, uint32_t* bin, uint32_t* key);

// --- Pair lists ---------------------------------------------------------------------------------
// A pair list is a block (title + pairs of descriptors).  The lists kept in system descriptors:
//   SD_DATATYPES    (datatype_key(code), name)         STRING INTEGER PATTERN ARRAY REAL CODE
//                                                      NAME(9) NAME(10) EXPRESSION TABLE, then DATA
//   SD_FNAMES       (function cell pointer, F = FLAG_FUNCTION|FLAG_POINTER; name)
//   SD_INPUT_ASSOC  (variable, association block)      INPUT (5, 80), TERMINAL (97, 256)
//   SD_OUTPUT_ASSOC (variable, association block)      OUTPUT (6), PUNCH (7), TERMINAL (98)
//   SD_TRACE_TYPES  (INTEGER kind 1..5, name)          VALUE LABEL CALL RETURN KEYWORD
// An association block is a block of two INTEGER descriptors, the unit and the record length;
// the pair's second descriptor points at its title (A = block, F = FLAG_POINTER, V = 0).
inline Descr* pair_list(Vm& vm, SysSlot s) { return vm.st.sys[s].ptr(); }
inline uint64_t pair_count(const Descr* list) { return list->v() / 32; }
// The first descriptor of pair i (its second follows it).
inline Descr* pair_at(Descr* list, uint64_t i) { return list + 1 + 2 * i; }
inline Descr datatype_key(uint64_t code) { return Descr::integer(static_cast<int64_t>(code)); }
inline constexpr int64_t TRACE_KIND_VALUE = 1, TRACE_KIND_LABEL = 2, TRACE_KIND_CALL = 3,
                         TRACE_KIND_RETURN = 4, TRACE_KIND_KEYWORD = 5;
// Searches the list (a pointer to its title) for the first pair whose first descriptor equals
// key in both words; returns the address 16 bytes before that pair, or nullptr.
Descr* locate_pair(Descr* list, const Descr& key);
// The same, matching the pair's second descriptor.
Descr* locate_pair_second(Descr* list, const Descr& key);
// Adds a pair to the list held in system descriptor `slot` (first empty pair, else the list is
// copied one pair longer, type 2, and the slot re-pointed).  May allocate.
void add_pair(Vm& vm, SysSlot slot, const Descr& first, const Descr& second);

// --- Function descriptor cells ----------------------------------------------------------------
// The function descriptor cell of a function name (a natural variable): two descriptors that
// never move and are roots of regeneration (entry + count, then definition data).  Built-ins
// have theirs from start-up.  With `create`, an unknown name gets a new cell holding the
// undefined-operation descriptor and a pair in the function-name list; otherwise nullptr.
// May allocate when creating.
Descr* function_cell(Vm& vm, const Descr& name, bool create);

// --- The system stack and pins ------------------------------------------------------------------
// Raises fatal error 21 when the system stack is full.  Never called by regeneration.
Descr* sysstack_push_slow(Vm& vm, const Descr& d);
inline Descr* sysstack_push(Vm& vm, const Descr& d) {
#ifdef NDEBUG
  SysStack& s = vm.st.stack;
  if (s.top < s.limit) {
    *s.top = d;
    return s.top++;
  }
#endif
  return sysstack_push_slow(vm, d);
}
inline uint64_t sysstack_depth(const Vm& vm) {
  return static_cast<uint64_t>(vm.st.stack.top - vm.st.stack.base);
}
inline void sysstack_pop(Vm& vm, uint64_t n = 1) { vm.st.stack.top -= n; }

// A descriptor held on the system stack for the lifetime of this object, so that regeneration
// relocates it.  Strictly last-in first-out; neither copyable nor movable.
class Pin {
 public:
  Pin(Vm& vm, const Descr& d) : vm_(vm), slot_(sysstack_push(vm, d)) {}
  explicit Pin(Vm& vm) : Pin(vm, ZERO_DESCR) {}
  ~Pin() {
#ifndef NDEBUG
    if (vm_.st.stack.top != slot_ + 1) pin_order_violation();
#endif
    vm_.st.stack.top = slot_;
  }
  Pin(const Pin&) = delete;
  Pin& operator=(const Pin&) = delete;
  Pin(Pin&&) = delete;
  Pin& operator=(Pin&&) = delete;

  Descr& operator*() const { return *slot_; }
  Descr* operator->() const { return slot_; }
  Descr get() const { return *slot_; }
  void set(const Descr& d) const { *slot_ = d; }

 private:
  [[noreturn]] static void pin_order_violation();
  Vm& vm_;
  Descr* slot_;
};

// Restores the system stack to where it was, whatever way the procedure leaves: for a
// procedure that pushes a varying number of slots (operands, saved values) with sysstack_push.
class StackMark {
 public:
  explicit StackMark(Vm& vm) : vm_(vm), mark_(vm.st.stack.top) {}
  ~StackMark() { vm_.st.stack.top = mark_; }
  StackMark(const StackMark&) = delete;
  StackMark& operator=(const StackMark&) = delete;
  Descr* base() const { return mark_; }

 private:
  Vm& vm_;
  Descr* mark_;
};

// Debug-only guard: while one is alive, any allocation is an assertion failure.
class NoAllocGuard {
 public:
  explicit NoAllocGuard(Vm& vm);
  ~NoAllocGuard();
  NoAllocGuard(const NoAllocGuard&) = delete;
  NoAllocGuard& operator=(const NoAllocGuard&) = delete;

 private:
  Vm& vm_;
};

// Collector-stress build: checks every block title, lengths, and that every pointer lands in a
// block.  Aborts with a message on the first inconsistency.
void verify_heap(Vm& vm);
// The same check, returning the first problem found (nullptr when the heap is sound).
const char* check_heap(Vm& vm);

}  // namespace pellux
