// Natural variables: the hash, the 8192 chains, interning (make_variable and the in-place
// reserve/finish protocol), keyword lookup, CLEAR and the sorted list for the dump.
#include <cstring>
#include <memory>
#include <new>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "storage/intern_index.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }

// Body size of a natural variable of n characters: value, attribute and link, then the text
// rounded up to 16.
inline uint64_t var_body(uint64_t n) { return (n + 63) & ~uint64_t{15}; }

// The chain walk of a text: the variable when it is there (the index is off).
inline Descr* find_in_chain(Vm& vm, const char* text, uint64_t len, uint32_t bin, uint32_t key) {
  for (Descr* v = vm.st.bins[bin].ptr(); v != nullptr; v = var_link(v).ptr()) {
    uint64_t k = var_link(v).v();
    if (k > key) break;
    if (k == key && var_length(v) == len && std::memcmp(var_text(v), text, len) == 0) return v;
  }
  return nullptr;
}

// The variable of a text, or nullptr.  *hash receives the index hash when the index is on.
inline Descr* find_text(Vm& vm, const char* text, uint64_t len, uint64_t* hash) {
  Storage& st = vm.st;
  if (st.index.enabled) {
    *hash = intern::text_hash(text, len);
    return intern::find(st, text, len, *hash);
  }
  *hash = 0;
  uint32_t bin, key;
  hash_text(text, len, &bin, &key);
  return find_in_chain(vm, text, len, bin, key);
}

// The link after which a new variable with this order key joins chain `bin`: after the last
// variable whose key is not greater.  A new variable lies above every other one, so among
// equal keys it goes last, which keeps each chain in creation order within a key.
Descr* insertion_link(Vm& vm, uint32_t bin, uint32_t key) {
  Storage& st = vm.st;
  Descr* prev = &st.bins[bin];
  if (st.index.enabled) {
    if (Descr* tail = intern::group_tail(st, bin, key)) return &var_link(tail);
    // A key new to the chain: step over the smaller keys a group at a time.
    for (Descr* v = prev->ptr(); v != nullptr && var_link(v).v() < key; v = prev->ptr()) {
      Descr* tail = intern::group_tail(st, bin, var_link(v).v());
      prev = &var_link(tail != nullptr ? tail : v);
    }
    return prev;
  }
  for (Descr* v = prev->ptr(); v != nullptr && var_link(v).v() <= key; v = var_link(v).ptr()) {
    prev = &var_link(v);
  }
  return prev;
}

// Writes the header of a natural variable of `len` characters at the free pointer.
inline Descr* write_header(Vm& vm, uint64_t len) {
  Descr* v = reinterpret_cast<Descr*>(vm.st.free_ptr);
  v->a = reinterpret_cast<uint64_t>(v);
  v->fv = (len << 8) | FLAG_TITLE | FLAG_STRING;
  var_value(v) = NULL_STRING;
  var_attr(v) = ZERO_DESCR;
  var_link(v) = ZERO_DESCR;
  return v;
}

// Makes the variable at the free pointer (header written, text in place, not yet interned) a
// member of the table: pads the text, links it into its chain, enters it in the index and
// advances the free pointer past it.
Descr link_new(Vm& vm, Descr* v, uint64_t len, uint64_t hash) {
  Storage& st = vm.st;
  char* text = var_text(v);
  uint64_t padded = (len + 15) & ~uint64_t{15};
  std::memset(text + len, 0, padded - len);
  uint32_t bin, key;
  hash_text(text, len, &bin, &key);
  Descr* prev = insertion_link(vm, bin, key);
  var_link(v) = Descr::make(prev->a, 0, key);
  prev->a = reinterpret_cast<uint64_t>(v);
  st.bins_used[bin / 64] |= uint64_t{1} << (bin % 64);
  st.free_ptr += VAR_HEADER + padded;
  if (st.index.enabled) {
    intern::insert(st, v, hash);
    if (st.index.enabled) intern::set_group_tail(st, bin, key, v);
  }
  return Descr::pointer(v, T_STRING);
}

[[noreturn, maybe_unused]] void storage_fault(const char* what) {
  platform::diag_write("#### ");
  platform::diag_write(what);
  platform::diag_write("\r\n");
  std::abort();
}

inline bool in_work_space(const Vm& vm, const char* p) {
  auto a = reinterpret_cast<const uint8_t*>(p);
  return a >= vm.st.ws_start && a < vm.st.hard_limit;
}

// Makes room for a natural variable of `body` bytes below the soft limit, regenerating when it
// does not fit (or at every call in the collector-stress build).  No room: fatal error 20.
void make_room_for_variable(Vm& vm, uint64_t body) {
  Storage& st = vm.st;
  if (body > MAX_BLOCK_BODY) error_fatal(vm, 23);
#ifndef NDEBUG
  if (st.reserve_active) storage_fault("allocation between reserve_string and finish_string");
  if (st.no_alloc_depth > 0) storage_fault("allocation inside a no-allocation region");
#endif
  uint64_t need = body + 16;
#ifdef PELLUX_GC_STRESS
  if (++st.stress_counter >= st.stress_period) {
    st.stress_counter = 0;
    stress_regenerate(vm);
  }
#endif
  if (need <= room_below_soft_limit(vm)) return;
  int64_t available = 0;
  if (!collect_storage(vm, static_cast<int64_t>(body), &available)) error_fatal(vm, 20);
  if (need > room_below_soft_limit(vm)) {
    // The soft-limit rule left less than the block beyond the free pointer although the work
    // space has room: lift the soft limit just enough.
    st.soft_limit = st.free_ptr + need;
  }
}

// The slow path of make_variable: the text is not interned yet.  When room has to be made and
// the text lies in the work space, it is kept across the regeneration either through a pin on
// the block holding it (spec_block, a descriptor of the block) or in a copy outside.
Descr new_variable(Vm& vm, const char* text, uint64_t len, uint64_t hash, uint64_t spec_block) {
  [[maybe_unused]] Storage& st = vm.st;
  if (len > MAX_BLOCK_BODY) error_fatal(vm, 23);
  uint64_t body = var_body(len);
  uint64_t need = body + 16;
  bool fits = need <= room_below_soft_limit(vm);
#ifdef PELLUX_GC_STRESS
  fits = fits && st.stress_counter + 1 < st.stress_period;
#endif
  if (!fits && in_work_space(vm, text)) {
    if (spec_block != 0 && (spec_block & 15) == 0 &&
        in_work_space(vm, reinterpret_cast<char*>(spec_block))) {
      uint64_t offset = reinterpret_cast<uint64_t>(text) - spec_block;
      Pin holder(vm, Descr::make(spec_block, FLAG_POINTER, 0));
      make_room_for_variable(vm, body);
      text = reinterpret_cast<const char*>(holder->a + offset);
      Descr* v = write_header(vm, len);
      std::memmove(var_text(v), text, len);
      return link_new(vm, v, len, hash);
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[len]);
    if (!copy) error_fatal(vm, 20);
    std::memcpy(copy.get(), text, len);
    make_room_for_variable(vm, body);
    Descr* v = write_header(vm, len);
    std::memcpy(var_text(v), copy.get(), len);
    return link_new(vm, v, len, hash);
  }
  make_room_for_variable(vm, body);
  Descr* v = write_header(vm, len);
  std::memmove(var_text(v), text, len);
  return link_new(vm, v, len, hash);
}

}  // namespace

// --- The chain hash -----------------------------------------------------------------------------

void hash_text(const char* s, uint64_t n, uint32_t* bin, uint32_t* key) {
  const auto* u = reinterpret_cast<const uint8_t*>(s);
  uint64_t h1 = n, h2 = n;
  uint64_t rounds = (n >> 1) | 1;
  if (rounds > 37) rounds = 37;
  for (uint64_t i = 0; i < rounds; ++i) {
    uint64_t c1 = u[n - 1 - i];
    uint64_t c2 = u[i];
    h1 = rotl(h1, 5) + c1;
    h2 = rotl(h2, 3) ^ c1;
    h1 = rotl(h1, 4) + c2;
    h2 = rotl(h2, 6) ^ c2;
  }
  *bin = static_cast<uint32_t>((h1 % 131072) / 16);
  *key = static_cast<uint32_t>((h2 % 65536) % 32768);
}

// --- Interning ----------------------------------------------------------------------------------

Descr make_variable(Vm& vm, const char* text, uint64_t len) {
  if (len == 0) return NULL_STRING;
  uint64_t hash;
  if (Descr* v = find_text(vm, text, len, &hash)) return Descr::pointer(v, T_STRING);
  return new_variable(vm, text, len, hash, 0);
}

Descr make_variable(Vm& vm, const Spec& spec) {
  uint64_t len = spec.length();
  if (len == 0) return NULL_STRING;
  const char* text = spec.chars();
  uint64_t hash;
  if (Descr* v = find_text(vm, text, len, &hash)) return Descr::pointer(v, T_STRING);
  return new_variable(vm, text, len, hash, spec.first.a);
}

Descr lookup_variable(Vm& vm, const char* text, uint64_t len) {
  if (len == 0) return ZERO_DESCR;
  uint64_t hash;
  Descr* v = find_text(vm, text, len, &hash);
  return v != nullptr ? Descr::pointer(v, T_STRING) : ZERO_DESCR;
}

char* reserve_string(Vm& vm, uint64_t len) {
  Storage& st = vm.st;
#ifndef NDEBUG
  if (st.reserve_active) storage_fault("reserve_string while a string is already reserved");
#endif
  st.reserve_length = len;
  if (len == 0) {
    // Nothing will be written; finish_string(0) gives the null string.
    static char nothing[16];
    st.reserve_active = true;
    return nothing;
  }
  if (len > MAX_BLOCK_BODY) error_fatal(vm, 23);
  make_room_for_variable(vm, var_body(len));
  Descr* v = write_header(vm, len);
  st.reserve_active = true;
  return var_text(v);
}

Descr finish_string(Vm& vm, uint64_t final_len) {
  Storage& st = vm.st;
#ifndef NDEBUG
  if (!st.reserve_active) storage_fault("finish_string without reserve_string");
  if (final_len > st.reserve_length) storage_fault("finish_string longer than reserved");
#endif
  st.reserve_active = false;
  if (final_len == 0) return NULL_STRING;
  Descr* v = reinterpret_cast<Descr*>(st.free_ptr);
  uint64_t hash;
  if (Descr* found = find_text(vm, var_text(v), final_len, &hash)) {
    return Descr::pointer(found, T_STRING);
  }
  v->set_v(final_len);
  return link_new(vm, v, final_len, hash);
}

// --- Keywords -------------------------------------------------------------------------------------

Descr* find_unprotected_keyword(Vm& vm, const Descr& name) {
  for (int k = 0; k < K_UNPROTECTED_COUNT; ++k) {
    if (vm.st.ukw[2 * k + 1] == name) return &vm.st.ukw[2 * k];
  }
  return nullptr;
}

Descr* find_protected_keyword(Vm& vm, const Descr& name) {
  for (int k = 0; k < P_PROTECTED_COUNT; ++k) {
    if (vm.st.pkw[2 * k + 1] == name) return &vm.st.pkw[2 * k];
  }
  return nullptr;
}

// --- CLEAR and the dump order ---------------------------------------------------------------------

void clear_variables(Vm& vm) {
  for (uint64_t b = 0; b < BIN_COUNT; ++b) {
    for (Descr* v = vm.st.bins[b].ptr(); v != nullptr; v = var_link(v).ptr()) {
      var_value(v) = NULL_STRING;
    }
  }
}

Exit bi_CLEAR(Vm& vm) {
  if (eval_value(vm) == X_FAIL) return X_FAIL;
  clear_variables(vm);
  result(vm) = NULL_STRING;
  return X_VALUE;
}

namespace {

// Text order: unsigned bytes over the shorter length, then the shorter text first.
inline bool text_less_equal(Descr* a, Descr* b) {
  uint64_t la = var_length(a), lb = var_length(b);
  int c = std::memcmp(var_text(a), var_text(b), la < lb ? la : lb);
  return c < 0 || (c == 0 && la <= lb);
}

// Stable merge of two lists linked through the variables' link A fields.
Descr* merge_lists(Descr* a, Descr* b) {
  Descr head{};
  Descr* tail = &head;  // only its A is used, as a link
  while (a != nullptr && b != nullptr) {
    if (text_less_equal(a, b)) {
      tail->a = reinterpret_cast<uint64_t>(a);
      tail = &var_link(a);
      a = var_link(a).ptr();
    } else {
      tail->a = reinterpret_cast<uint64_t>(b);
      tail = &var_link(b);
      b = var_link(b).ptr();
    }
  }
  tail->a = reinterpret_cast<uint64_t>(a != nullptr ? a : b);
  return head.ptr();
}

}  // namespace

void sort_variables(Vm& vm) {
  // The chains stop being chains: the index goes, and nothing is looked up again.
  intern::disable(vm.st);
  vm.st.chains_sorted = true;
  Descr* bins = vm.st.bins;
  // One list of every variable with a value, in chain order.
  Descr collected{};
  Descr* tail = &collected;
  uint64_t count = 0;
  for (uint64_t b = 0; b < BIN_COUNT; ++b) {
    Descr* v = bins[b].ptr();
    bins[b].a = 0;
    while (v != nullptr) {
      Descr* next = var_link(v).ptr();
      if (!(var_value(v) == NULL_STRING)) {
        tail->a = reinterpret_cast<uint64_t>(v);
        tail = &var_link(v);
        ++count;
      }
      v = next;
    }
  }
  tail->a = 0;
  // Bottom-up merge sort of the linked list: runs of width 1, 2, 4, ... merged pairwise.
  Descr* list = collected.ptr();
  for (uint64_t width = 1; width < count; width *= 2) {
    Descr result_head{};
    Descr* out = &result_head;
    Descr* rest = list;
    while (rest != nullptr) {
      Descr* a = rest;
      Descr* p = a;
      for (uint64_t i = 1; i < width && var_link(p).a != 0; ++i) p = var_link(p).ptr();
      Descr* b = var_link(p).ptr();
      var_link(p).a = 0;
      rest = nullptr;
      if (b != nullptr) {
        Descr* q = b;
        for (uint64_t i = 1; i < width && var_link(q).a != 0; ++i) q = var_link(q).ptr();
        rest = var_link(q).ptr();
        var_link(q).a = 0;
      }
      Descr* merged = merge_lists(a, b);
      out->a = reinterpret_cast<uint64_t>(merged);
      while (var_link(merged).a != 0) merged = var_link(merged).ptr();
      out = &var_link(merged);
    }
    out->a = 0;
    list = result_head.ptr();
  }
  bins[0].a = reinterpret_cast<uint64_t>(list);
  for (uint64_t& w : vm.st.bins_used) w = 0;
  vm.st.bins_used[0] = 1;
}

}  // namespace pellux
