// Natural variables: the hash, the 8192 chains, interning (make_variable and the in-place
// reserve/finish protocol), keyword lookup, CLEAR and the sorted list for the dump.
#include <algorithm>
#include <bit>
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

// The variable of a text, or nullptr.  *hash receives the text's hash, *probe where the index
// lookup ended.  Without the index (its memory was refused) the work space is walked.
inline Descr* find_text(Vm& vm, const char* text, uint64_t len, uint64_t* hash, intern::Probe* probe,
                        bool hash_known = false) {
  Storage& st = vm.st;
  if (!hash_known) *hash = intern::text_hash(text, len);
  if (st.index.enabled) return intern::find(st, text, len, *hash, probe);
  probe->version = ~uint64_t{0};
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* v = reinterpret_cast<Descr*>(p);
    p += block_length(v);
    if ((v->fv & FLAG_STRING) && intern::stored_hash(v) == *hash && var_length(v) == len &&
        std::memcmp(var_text(v), text, len) == 0)
      return v;
  }
  return nullptr;
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
// member of the table: pads the text, keeps its hash in the link, enters it in the index and
// advances the free pointer past it.
Descr link_new(Vm& vm, Descr* v, uint64_t len, uint64_t hash, const intern::Probe& probe) {
  Storage& st = vm.st;
  char* text = var_text(v);
  uint64_t padded = (len + 15) & ~uint64_t{15};
  if (padded != len) {
    // Fewer than 16 bytes of padding: clear them in the text's last 16-byte unit, two words
    // rewritten whole, rather than through a call.
    char* last = text + padded - 16;
    const uint64_t keep = len - (padded - 16);  // text bytes in that unit: 1 to 15
    uint64_t w[2];
    std::memcpy(w, last, 16);
    if constexpr (std::endian::native == std::endian::little) {
      if (keep < 8) {
        w[0] &= (uint64_t{1} << (8 * keep)) - 1;
        w[1] = 0;
      } else {
        w[1] &= (uint64_t{1} << (8 * (keep - 8))) - 1;
      }
      std::memcpy(last, w, 16);
    } else {
      std::memset(text + len, 0, padded - len);
    }
  }
  var_link(v) = Descr::make(0, 0, hash);
  st.free_ptr += VAR_HEADER + padded;
  if (st.index.enabled) intern::insert(st, v, hash, &probe);
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
Descr new_variable(Vm& vm, const char* text, uint64_t len, uint64_t hash, const intern::Probe& probe,
                   uint64_t spec_block) {
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
      return link_new(vm, v, len, hash, probe);
    }
    std::unique_ptr<char[]> copy(new (std::nothrow) char[len]);
    if (!copy) error_fatal(vm, 20);
    std::memcpy(copy.get(), text, len);
    make_room_for_variable(vm, body);
    Descr* v = write_header(vm, len);
    std::memcpy(var_text(v), copy.get(), len);
    return link_new(vm, v, len, hash, probe);
  }
  make_room_for_variable(vm, body);
  Descr* v = write_header(vm, len);
  std::memmove(var_text(v), text, len);
  return link_new(vm, v, len, hash, probe);
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
  intern::Probe probe;
  if (Descr* v = find_text(vm, text, len, &hash, &probe)) return Descr::pointer(v, T_STRING);
  return new_variable(vm, text, len, hash, probe, 0);
}

Descr make_variable(Vm& vm, const Spec& spec) {
  uint64_t len = spec.length();
  if (len == 0) return NULL_STRING;
  const char* text = spec.chars();
  uint64_t hash;
  intern::Probe probe;
  if (Descr* v = find_text(vm, text, len, &hash, &probe)) return Descr::pointer(v, T_STRING);
  return new_variable(vm, text, len, hash, probe, spec.first.a);
}

Descr lookup_variable(Vm& vm, const char* text, uint64_t len) {
  if (len == 0) return ZERO_DESCR;
  uint64_t hash;
  intern::Probe probe;
  Descr* v = find_text(vm, text, len, &hash, &probe);
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

namespace {

Descr finish(Vm& vm, uint64_t final_len, uint64_t hash, bool hash_known) {
  Storage& st = vm.st;
#ifndef NDEBUG
  if (!st.reserve_active) storage_fault("finish_string without reserve_string");
  if (final_len > st.reserve_length) storage_fault("finish_string longer than reserved");
#endif
  st.reserve_active = false;
  if (final_len == 0) return NULL_STRING;
  Descr* v = reinterpret_cast<Descr*>(st.free_ptr);
#ifdef PELLUX_GC_STRESS
  if (hash_known && hash != intern::text_hash(var_text(v), final_len))
    storage_fault("finish_string given a wrong hash");
#endif
  intern::Probe probe;
  if (Descr* found = find_text(vm, var_text(v), final_len, &hash, &probe, hash_known)) {
    return Descr::pointer(found, T_STRING);
  }
  v->set_v(final_len);
  return link_new(vm, v, final_len, hash, probe);
}

}  // namespace

Descr finish_string(Vm& vm, uint64_t final_len) { return finish(vm, final_len, 0, false); }

Descr finish_string_hashed(Vm& vm, uint64_t final_len, uint64_t hash) {
  return finish(vm, final_len, hash, true);
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
  for_each_variable(vm, [](Descr* v) { var_value(v) = NULL_STRING; });
}

void variables_in_dump_order(Vm& vm, bool with_null, std::vector<Descr*>* out) {
  struct Entry {
    uint32_t bin, key;
    Descr* var;
  };
  std::vector<Entry> entries;
  for_each_variable(vm, [&](Descr* v) {
    if (!with_null && var_value(v) == NULL_STRING) return;
    uint32_t bin, key;
    hash_text(var_text(v), var_length(v), &bin, &key);
    entries.push_back(Entry{bin, key, v});
  });
  // Bin, then order key, then creation: variables are made at the free pointer and compaction
  // keeps their order, so creation order is address order.
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.bin != b.bin) return a.bin < b.bin;
    if (a.key != b.key) return a.key < b.key;
    return a.var < b.var;
  });
  out->clear();
  out->reserve(entries.size());
  for (const Entry& e : entries) out->push_back(e.var);
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
  vm.st.chains_sorted = true;
  Descr* bins = vm.st.bins;
  // One list of every variable with a value, in dump order, linked through the link A fields
  // (with FLAG_POINTER, so that regeneration relocates them; the hash in V stays, so lookups
  // still work).
  std::vector<Descr*> order;
  variables_in_dump_order(vm, false, &order);
  Descr collected{};
  Descr* tail = &collected;
  for (Descr* v : order) {
    tail->a = reinterpret_cast<uint64_t>(v);
    tail = &var_link(v);
  }
  tail->a = 0;
  const uint64_t count = order.size();
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
  for (uint64_t b = 0; b < BIN_COUNT; ++b) bins[b].a = 0;
  bins[0].a = reinterpret_cast<uint64_t>(list);
  for (Descr* v = list; v != nullptr; v = var_link(v).ptr()) var_link(v).set_f(FLAG_POINTER);
}

}  // namespace pellux
