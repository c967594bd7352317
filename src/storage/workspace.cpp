// The work space: bump allocation, storage regeneration (mark, new addresses, pointer adjustment,
// compaction), the soft limit, COLLECT, the system stack and the heap verifier.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "storage/convert.h"
#include "storage/intern_index.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr uint8_t LIVE_BITS = FLAG_MARK | FLAG_SCANNED;

[[noreturn]] void internal_fault(const char* what) {
  platform::diag_write("#### ");
  platform::diag_write(what);
  platform::diag_write("\r\n");
  std::abort();
}

inline void check_may_allocate(Vm& vm) {
#ifndef NDEBUG
  if (vm.st.no_alloc_depth > 0) internal_fault("allocation inside a no-allocation region");
  if (vm.st.reserve_active) internal_fault("allocation between reserve_string and finish_string");
  if (vm.st.in_regeneration) internal_fault("allocation during storage regeneration");
#else
  (void)vm;
#endif
}

[[noreturn]] void work_space_exceeded(Vm& vm) {
  platform::diag_write("Work space exceeded\r\n");
  error_fatal(vm, 23);
}

// The block-start map: made by one walk of dynamic storage at the start of a regeneration.
struct StartMap {
  uint64_t* bits = nullptr;  // nullptr: no map, step back descriptor by descriptor
  uint64_t base = 0;

  // Sets the bit of every block, and calls root(block) for each natural variable, in the
  // same walk.
  template <typename F>
  void build(Storage& st, F&& root) {
    bits = st.start_map;
    base = reinterpret_cast<uint64_t>(st.ws_start);
    if (bits != nullptr) {
      uint64_t slots = static_cast<uint64_t>(st.free_ptr - st.ws_start) / 16;
      std::memset(bits, 0, ((slots + 63) / 64) * 8);
    }
    for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
      Descr* t = reinterpret_cast<Descr*>(p);
      if (bits != nullptr) {
        uint64_t i = static_cast<uint64_t>(p - st.ws_start) / 16;
        bits[i / 64] |= uint64_t{1} << (i % 64);
      }
      p += block_length(t);
      if (t->fv & FLAG_STRING) root(t);
    }
  }

  // The block containing a descriptor address of dynamic storage.
  Descr* block_of(uint64_t a) const {
    if (bits == nullptr) return find_title(a);
    uint64_t i = (a - base) / 16;
    uint64_t w = i / 64;
    uint64_t word = bits[w] & (~uint64_t{0} >> (63 - i % 64));
    while (word == 0) word = bits[--w];
    return reinterpret_cast<Descr*>(base + 16 * (w * 64 + 63 - static_cast<uint64_t>(__builtin_clzll(word))));
  }
};

// ---------------------------------------------------------------------------------------------
// Marking.  Reachable blocks are marked and their contents examined through an explicit stack
// of block addresses kept in the free part of the work space (above the free pointer), so no
// structure, however deep, recurses on the machine stack.  When that stack is full a newly
// marked block is left marked but unscanned, and a walk of dynamic storage in address order
// picks it up later: every block left behind the walk's position lowers `lowest`, and the walk
// jumps back there.  Marking ends when no marked block is left unscanned.
struct Marker {
  const StartMap* map;
  uint8_t* ws;      // work-space start
  uint8_t* free;    // free pointer at entry
  Descr** stack_base;
  Descr** sp;
  Descr** stack_end;
  uint8_t* walk_pos;  // blocks below this address are not visited again by the current walk
  uint8_t* lowest;    // lowest block left unscanned behind the walk (nullptr: none)
  uint64_t new_marks = 0;
  uint64_t deferrals = 0;
  // Every block marked, in the order marked, while it fits: the live blocks of a heap that is
  // mostly garbage are then found by sorting this list instead of walking all of storage.
  uint64_t* marked = nullptr;
  uint64_t marked_cap = 0;
  uint64_t marked_count = 0;

  void record(Descr* t) {
    if (marked_count < marked_cap) marked[marked_count] = reinterpret_cast<uint64_t>(t);
    ++marked_count;
  }

  bool in_dynamic(uint64_t a) const {
    return a >= reinterpret_cast<uint64_t>(ws) && a < reinterpret_cast<uint64_t>(free);
  }

  void defer(Descr* t) {
    ++deferrals;
    uint8_t* p = reinterpret_cast<uint8_t*>(t);
    if (p < walk_pos && (lowest == nullptr || p < lowest)) lowest = p;
  }

  // A descriptor examined in a root or a block body: follow it when it points into dynamic
  // storage.  Pointers into the static area need nothing: static blocks are always marked and
  // examined as roots.
  void examine(const Descr& d) {
    if (!(d.fv & FLAG_POINTER) || !in_dynamic(d.a)) return;
    Descr* t = map->block_of(d.a);
    if (t->fv & FLAG_MARK) return;  // already scanned, stacked or left for the walk
    t->fv |= FLAG_MARK;
    ++new_marks;
    record(t);
    if (sp < stack_end) *sp++ = t;
    else defer(t);
  }

  // Examines the contents of a dynamic block: value and attribute of a natural variable (never
  // its text or chain link), every body descriptor of an ordinary block.
  void scan(Descr* t) {
    t->fv |= FLAG_SCANNED;
    if (t->fv & FLAG_STRING) {
      examine(var_value(t));
      examine(var_attr(t));
      return;
    }
    Descr* d = t + 1;
    Descr* end = d + t->v() / 16;
    for (; d < end; ++d) examine(*d);
  }

  void drain() {
    while (sp > stack_base) {
      Descr* t = *--sp;
      if (!(t->fv & FLAG_SCANNED)) scan(t);
    }
  }
};

inline bool chain_root(Descr* var) {
  return !(var_value(var) == NULL_STRING && var_attr(var) == ZERO_DESCR);
}

void mark_phase(Vm& vm, Marker& m) {
  Storage& st = vm.st;
  // The variables that are roots were marked and stacked by the walk that made the block map.
  m.drain();
  // The static area, block by block (function cells included).
  for (uint8_t* p = st.static_start; p < st.static_end;) {
    Descr* t = reinterpret_cast<Descr*>(p);
    Descr* end = t + 1 + t->v() / 16;
    for (Descr* d = t + 1; d < end; ++d) {
      m.examine(*d);
      m.drain();
    }
    p += t->v() + 16;
  }
  // The system stack.
  for (Descr* d = st.stack.base; d < st.stack.top; ++d) {
    m.examine(*d);
    m.drain();
  }
  // Blocks marked but left unscanned: walk dynamic storage in address order from the lowest.
  while (m.lowest != nullptr) {
    uint8_t* p = m.lowest;
    m.lowest = nullptr;
    while (p < m.free) {
      Descr* t = reinterpret_cast<Descr*>(p);
      m.walk_pos = p;
      if ((t->fv & LIVE_BITS) == FLAG_MARK) {
        m.scan(t);
        m.drain();
        if (m.lowest != nullptr) break;  // something was left behind the walk: go back to it
      }
      p += block_length(t);
    }
  }
}

// Pointer adjustment of one descriptor, once every marked block's title holds its new address.
inline void adjust(Descr& d, const StartMap& map, uint64_t lo, uint64_t hi) {
  if (!(d.fv & FLAG_POINTER) || d.is_title() || d.a < lo || d.a >= hi) return;
  Descr* t = map.block_of(d.a);
  d.a -= reinterpret_cast<uint64_t>(t) - t->a;
}

}  // namespace

// --- Allocation -----------------------------------------------------------------------------------

Descr allocate_block(Vm& vm, uint64_t body, uint64_t type) {
  Storage& st = vm.st;
  check_may_allocate(vm);
  if (body > MAX_BLOCK_BODY) work_space_exceeded(vm);
  body = (body + 15) & ~uint64_t{15};  // a body is always whole descriptors
  uint64_t need = body + 16;
#ifdef PELLUX_GC_STRESS
  if (++st.stress_counter >= st.stress_period) {
    st.stress_counter = 0;
    stress_regenerate(vm);
  }
#endif
  if (need > static_cast<uint64_t>(st.soft_limit - st.free_ptr)) {
    regenerate_storage(vm, need);
    if (need > static_cast<uint64_t>(st.soft_limit - st.free_ptr)) work_space_exceeded(vm);
  }
  Descr* block = reinterpret_cast<Descr*>(st.free_ptr);
  st.free_ptr += need;
  block->a = reinterpret_cast<uint64_t>(block);
  block->fv = (body << 8) | FLAG_TITLE;
  std::memset(block + 1, 0, body);
  return Descr::make(block->a, FLAG_POINTER, type);
}

void shrink_last_block(Vm& vm, Descr* block, uint64_t body) {
  Storage& st = vm.st;
  uint64_t old_body = block->v();
  body = (body + 15) & ~uint64_t{15};  // whole descriptors: what is in use stays
  if (body >= old_body) return;
  uint8_t* old_end = reinterpret_cast<uint8_t*>(block) + 16 + old_body;
  uint8_t* new_end = reinterpret_cast<uint8_t*>(block) + 16 + body;
  block->set_v(body);
  if (old_end == st.free_ptr) {
    st.free_ptr = new_end;
    return;
  }
  // Something was allocated after the block: the tail becomes an unreferenced block of its own,
  // which the next regeneration reclaims.
  Descr* rest = reinterpret_cast<Descr*>(new_end);
  rest->a = reinterpret_cast<uint64_t>(rest);
  rest->fv = ((old_body - body - 16) << 8) | FLAG_TITLE;
}

Descr* find_title(uint64_t addr) {
  Descr* d = reinterpret_cast<Descr*>(addr & ~uint64_t{15});
  while (!d->is_title()) --d;
  return d;
}

bool in_storage(const Vm& vm, uint64_t addr) {
  return (addr >= reinterpret_cast<uint64_t>(vm.st.ws_start) &&
          addr < reinterpret_cast<uint64_t>(vm.st.hard_limit)) ||
         in_static_area(vm, addr);
}

// --- Regeneration -----------------------------------------------------------------------------------

namespace {

// One regeneration.  `counted` is false for the extra regenerations of the collector-stress
// build: they move everything like any other but leave the count, the soft limit and the
// figures of the statistics alone, so that a program reports what it would in any build.
bool regenerate(Vm& vm, uint64_t request, bool counted) {
  Storage& st = vm.st;
  if (st.in_regeneration) internal_fault("storage regeneration entered recursively");
  if (st.ws_start == nullptr) return false;
  st.in_regeneration = true;
  st.regen_request = request;

  uint8_t* const ws = st.ws_start;
  uint8_t* const old_free = st.free_ptr;

  StartMap map;

  // 1-2. Marking, with the free part of the work space as the mark stack.
  Marker m;
  m.map = &map;
  m.ws = ws;
  m.free = old_free;
  uintptr_t stack_start = (reinterpret_cast<uintptr_t>(old_free) + 7) & ~uintptr_t{7};
  uint64_t cap = stack_start < reinterpret_cast<uintptr_t>(st.hard_limit)
                     ? (reinterpret_cast<uintptr_t>(st.hard_limit) - stack_start) / sizeof(Descr*)
                     : 0;
  if (cap > st.mark_stack_cap) cap = st.mark_stack_cap;
  m.stack_base = reinterpret_cast<Descr**>(stack_start);
  m.sp = m.stack_base;
  m.stack_end = m.stack_base + cap;
  // Everything marked from the roots is "behind" a walk that has not started yet.
  m.walk_pos = st.hard_limit;
  m.lowest = nullptr;
  m.marked = st.live_list;
  m.marked_cap = st.live_list != nullptr ? st.live_list_cap : 0;
  // The variable table: weak references; a variable that is null-valued and not a label is
  // no root.  Every natural variable is in the table, so the walk that makes the block map
  // finds the roots too; they are marked and stacked, and scanned once the map is complete.
  map.build(st, [&m](Descr* v) {
    if (!chain_root(v) || (v->fv & FLAG_MARK)) return;
    v->fv |= FLAG_MARK;
    ++m.new_marks;
    m.record(v);
    if (m.sp < m.stack_end) *m.sp++ = v;
    else m.defer(v);
  });
  mark_phase(vm, m);
  st.regen_mark_deferrals = m.deferrals;

  // 3. New addresses, in address order.  The live blocks are listed on the side as well, so
  // that the later steps visit only them (when there are more than the list holds, they walk
  // the whole of dynamic storage instead).
  uint64_t t = reinterpret_cast<uint64_t>(ws);
  uint64_t surviving_variables = 0;
  uint64_t live_blocks = 0;
  uint64_t* const live_list = st.live_list;
  const uint64_t live_cap = live_list != nullptr ? st.live_list_cap : 0;
  // Few survivors among many blocks (one per 256 bytes of storage or fewer): sort the list the
  // marking made; otherwise walk storage, which also lists the live blocks in address order.
  if (m.marked_count <= live_cap &&
      m.marked_count <= static_cast<uint64_t>(old_free - ws) / 256) {
    std::sort(live_list, live_list + m.marked_count);
    live_blocks = m.marked_count;
    for (uint64_t i = 0; i < live_blocks; ++i) {
      Descr* b = reinterpret_cast<Descr*>(live_list[i]);
      b->a = t;
      t += block_length(b);
      surviving_variables += (b->fv & FLAG_STRING) != 0;
    }
  } else {
    for (uint8_t* p = ws; p < old_free;) {
      Descr* b = reinterpret_cast<Descr*>(p);
      uint64_t len = block_length(b);
      if (b->fv & FLAG_MARK) {
        b->a = t;
        t += len;
        surviving_variables += (b->fv & FLAG_STRING) != 0;
        if (live_blocks < live_cap) live_list[live_blocks] = reinterpret_cast<uint64_t>(p);
        ++live_blocks;
      }
      p += len;
    }
  }
  const bool listed = live_blocks <= live_cap;
  // Calls f(block) for every live block in address order.
  auto for_live_blocks = [&](auto&& f) {
    if (listed) {
      for (uint64_t i = 0; i < live_blocks; ++i) f(reinterpret_cast<Descr*>(live_list[i]));
      return;
    }
    for (uint8_t* p = ws; p < old_free;) {
      Descr* b = reinterpret_cast<Descr*>(p);
      p += block_length(b);
      if (b->fv & FLAG_MARK) f(b);
    }
  };

  // The lookup index is emptied for the survivors, which compaction enters again.
  if (st.index.enabled) intern::begin_regeneration(st, surviving_variables);
  const bool indexed = st.index.enabled;

  // 4. Pointer adjustment.
  const uint64_t lo = reinterpret_cast<uint64_t>(ws);
  const uint64_t hi = reinterpret_cast<uint64_t>(old_free);
  // 4.1 The terminal dump's sorted list starts at the head of bin 0.
  if (st.chains_sorted) adjust(st.bins[0], map, lo, hi);
  // 4.2 The static area.
  for (uint8_t* p = st.static_start; p < st.static_end;) {
    Descr* b = reinterpret_cast<Descr*>(p);
    Descr* end = b + 1 + b->v() / 16;
    for (Descr* d = b + 1; d < end; ++d) adjust(*d, map, lo, hi);
    p += b->v() + 16;
  }
  // 4.3 The system stack.
  for (Descr* d = st.stack.base; d < st.stack.top; ++d) adjust(*d, map, lo, hi);
  // 4.4 Blocks of dynamic storage: a natural variable's value, attribute and link (a link is a
  // pointer only in the terminal dump's sorted list; its text is never examined), every body
  // descriptor of the others.
  for_live_blocks([&](Descr* b) {
    if (b->fv & FLAG_STRING) {
      adjust(var_value(b), map, lo, hi);
      adjust(var_attr(b), map, lo, hi);
      adjust(var_link(b), map, lo, hi);
    } else {
      Descr* end = b + 1 + b->v() / 16;
      for (Descr* d = b + 1; d < end; ++d) adjust(*d, map, lo, hi);
    }
  });

  // 5. Compaction, in address order (a block never moves up).
  // The blocks after a moved one lie above its new end, so a move never overwrites a block
  // still to be visited.
  uint8_t* target = ws;
  for_live_blocks([&](Descr* b) {
    const uint64_t len = block_length(b);
    b->fv &= ~uint64_t{LIVE_BITS};
    if (b->a != reinterpret_cast<uint64_t>(target)) {
      platform::diag_write("#### self pointer does not match target move address GCmv\r\n");
      b->a = reinterpret_cast<uint64_t>(target);
    }
    if (target != reinterpret_cast<uint8_t*>(b)) std::memmove(target, b, len);
    Descr* moved = reinterpret_cast<Descr*>(target);  // the old place may be overwritten
    if (indexed && (moved->fv & FLAG_STRING)) intern::reenter(st, moved, intern::stored_hash(moved));
    target += len;
  });

  st.free_ptr = target;
#ifdef PELLUX_GC_STRESS
  // What compaction left behind is garbage: overwrite it, so that code still reading a moved
  // block through an old pointer reads nonsense instead of the right bytes by luck.
  std::memset(target, 0xA5, static_cast<size_t>(old_free - target));
#endif

  if (!counted) {
    ++st.stress_regen_count;
    st.in_regeneration = false;
#ifdef PELLUX_GC_STRESS
    verify_heap(vm);
#endif
    return static_cast<uint64_t>(st.hard_limit - target) > request;
  }

  // 6. Bookkeeping.
  ++st.regen_count;
  st.bytes_reclaimed = static_cast<uint64_t>(old_free - target);
  st.bytes_available = static_cast<uint64_t>(st.hard_limit - target);

  // 7. The new soft limit: room for the live storage to grow to four times its size, and at
  // least four times the request beyond the free pointer.
  uint64_t live = static_cast<uint64_t>(target - ws);
  uint64_t room = st.bytes_available;
  uint8_t* soft = (live <= (static_cast<uint64_t>(st.hard_limit - ws)) / 4) ? ws + 4 * live
                                                                            : st.hard_limit;
  if (static_cast<uint64_t>(soft - target) <= request) {
    soft = (request <= room / 4) ? target + 4 * request : st.hard_limit;
  }
  st.soft_limit = soft;

  st.in_regeneration = false;
#ifdef PELLUX_GC_STRESS
  verify_heap(vm);
#endif
  // 8.
  return st.bytes_available > request;
}

}  // namespace

bool regenerate_storage(Vm& vm, uint64_t request) { return regenerate(vm, request, true); }

void stress_regenerate(Vm& vm) {
  if (vm.st.ws_start != nullptr) regenerate(vm, 0, false);
}

bool collect_storage(Vm& vm, int64_t n, int64_t* available) {
  regenerate_storage(vm, n > 0 ? static_cast<uint64_t>(n) : 0);
  int64_t avail = static_cast<int64_t>(vm.st.hard_limit - vm.st.free_ptr) - 16;
  if (available != nullptr) *available = avail;
  return n <= avail;
}

// COLLECT(n): regenerate; the bytes available, or failure when fewer than n are.
Exit bi_COLLECT(Vm& vm) {
  Exit x = eval_value(vm);
  if (x == X_FAIL) return X_FAIL;
  int64_t n = 0;
  if (integer_argument(vm, result(vm), &n) == X_FAIL) return X_FAIL;
  if (n < 0) return error_stmt(vm, 14);
  int64_t avail = 0;
  if (!collect_storage(vm, n, &avail)) return X_FAIL;
  result(vm) = Descr::integer(avail);
  return X_VALUE;
}

void set_stress_period(Vm& vm, uint64_t period) {
  vm.st.stress_period = period == 0 ? 1 : period;
  vm.st.stress_counter = 0;
}

// --- System stack, pins and guards -------------------------------------------------------------------

Descr* sysstack_push_slow(Vm& vm, const Descr& d) {
  SysStack& s = vm.st.stack;
#ifndef NDEBUG
  if (vm.st.in_regeneration) internal_fault("pin taken during storage regeneration");
#endif
  if (s.top >= s.limit) {
    if (s.limit < s.end) {
      // Open the reserve so that the error report can still pin what it needs.
      s.limit = s.end;
      error_fatal(vm, 21);
    }
    internal_fault("system stack exhausted");
  }
  *s.top = d;
  return s.top++;
}

void Pin::pin_order_violation() { internal_fault("pins released out of order"); }

NoAllocGuard::NoAllocGuard(Vm& vm) : vm_(vm) {
#ifndef NDEBUG
  ++vm_.st.no_alloc_depth;
#endif
}

NoAllocGuard::~NoAllocGuard() {
#ifndef NDEBUG
  --vm_.st.no_alloc_depth;
#endif
}

// --- Heap verifier -----------------------------------------------------------------------------------

namespace {

struct HeapChecker {
  Vm& vm;
  uint8_t* ws;
  uint8_t* free;
  // One bit per 16-byte slot of dynamic storage: set where a block starts.
  uint64_t* starts = nullptr;
  uint64_t words = 0;
  uint64_t area_size = 0;

  bool is_start(uint64_t a) const {
    uint64_t i = (a - reinterpret_cast<uint64_t>(ws)) / 16;
    return (starts[i / 64] >> (i % 64)) & 1;
  }
  void set_start(uint64_t a) {
    uint64_t i = (a - reinterpret_cast<uint64_t>(ws)) / 16;
    starts[i / 64] |= uint64_t{1} << (i % 64);
  }
  // The start of the block that contains a (the nearest block start at or below it).
  uint64_t containing(uint64_t a) const {
    uint64_t i = (a - reinterpret_cast<uint64_t>(ws)) / 16;
    for (;;) {
      uint64_t w = starts[i / 64] & (~uint64_t{0} >> (63 - i % 64));
      if (w != 0) {
        return reinterpret_cast<uint64_t>(ws) + 16 * ((i / 64) * 64 + 63 - __builtin_clzll(w));
      }
      if (i < 64) return reinterpret_cast<uint64_t>(ws);
      i = (i / 64) * 64 - 1;
    }
  }

  const char* pointer(const Descr& d) const {
    if (!(d.fv & FLAG_POINTER) || d.a == 0) return nullptr;
    if (in_static_area(vm, d.a)) return nullptr;
    if (d.a < reinterpret_cast<uint64_t>(ws) || d.a >= reinterpret_cast<uint64_t>(free)) {
      return "pointer descriptor outside the work space and the static area";
    }
    if (d.a & 15) return "pointer descriptor not on a descriptor boundary";
    uint64_t block = containing(d.a);
    Descr* t = reinterpret_cast<Descr*>(block);
    if ((t->fv & FLAG_STRING) && d.a - block >= VAR_HEADER) {
      return "pointer descriptor into the text of a string";
    }
    if (reinterpret_cast<uint64_t>(find_title(d.a)) != block) {
      return "pointer descriptor whose block title cannot be found";
    }
    return nullptr;
  }
};

}  // namespace

const char* check_heap(Vm& vm) {
  Storage& st = vm.st;
  if (st.ws_start == nullptr) return nullptr;
  HeapChecker c{vm, st.ws_start, st.free_ptr};
  uint64_t slots = static_cast<uint64_t>(st.free_ptr - st.ws_start) / 16 + 1;
  c.words = (slots + 63) / 64;
  c.area_size = c.words * 8;
  c.starts = static_cast<uint64_t*>(platform::area_obtain(c.area_size));
  if (c.starts == nullptr) return "no memory for the heap check";
  struct Release {
    HeapChecker& c;
    ~Release() { platform::area_release(c.starts, c.area_size); }
  } release{c};

  // Blocks end to end, each with a title holding its own address.
  uint8_t* p = st.ws_start;
  while (p < st.free_ptr) {
    Descr* t = reinterpret_cast<Descr*>(p);
    if (!t->is_title()) return "block without a title";
    if (t->a != reinterpret_cast<uint64_t>(t)) return "block title does not hold its own address";
    if (t->fv & (FLAG_MARK | FLAG_SCANNED)) return "block left marked after regeneration";
    uint64_t len = block_length(t);
    if (len > static_cast<uint64_t>(st.free_ptr - p)) return "block extends past the free pointer";
    c.set_start(reinterpret_cast<uint64_t>(p));
    p += len;
  }
  if (p != st.free_ptr) return "block lengths do not add up to the free pointer";

  // Every pointer in a block body, a static block, a stack slot or a chain.
  for (p = st.ws_start; p < st.free_ptr;) {
    Descr* t = reinterpret_cast<Descr*>(p);
    if (t->fv & FLAG_STRING) {
      if (const char* e = c.pointer(var_value(t))) return e;
      if (const char* e = c.pointer(var_attr(t))) return e;
    } else {
      Descr* end = t + 1 + t->v() / 16;
      for (Descr* d = t + 1; d < end; ++d) {
        if (d->is_title()) return "title flags inside a block body";
        if (const char* e = c.pointer(*d)) return e;
      }
    }
    p += block_length(t);
  }
  for (p = st.static_start; p < st.static_end;) {
    Descr* t = reinterpret_cast<Descr*>(p);
    if (t->a != reinterpret_cast<uint64_t>(t) || (t->fv & 0xff) != (FLAG_TITLE | FLAG_MARK)) {
      return "static block with a bad title";
    }
    Descr* end = t + 1 + t->v() / 16;
    for (Descr* d = t + 1; d < end; ++d) {
      if (const char* e = c.pointer(*d)) return e;
    }
    p += t->v() + 16;
  }
  if (p != st.static_end) return "static block lengths do not add up";
  for (Descr* d = st.stack.base; d < st.stack.top; ++d) {
    if (const char* e = c.pointer(*d)) return e;
  }
  if (st.chains_sorted) {
    for (Descr* v = st.bins[0].ptr(); v != nullptr; v = var_link(v).ptr()) {
      uint64_t a = reinterpret_cast<uint64_t>(v);
      if (a < reinterpret_cast<uint64_t>(st.ws_start) || a >= reinterpret_cast<uint64_t>(st.free_ptr) ||
          !c.is_start(a) || !(v->fv & FLAG_STRING)) {
        return "sorted variable list link that is not a natural variable";
      }
    }
  }
  return intern::check(st);
}

void verify_heap(Vm& vm) {
  if (const char* e = check_heap(vm)) {
    platform::diag_write("#### heap verification failed: ");
    internal_fault(e);
  }
}

}  // namespace pellux
