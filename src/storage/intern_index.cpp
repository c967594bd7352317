// The lookup index of the variable table.  The chain hash puts a text into one of 8192 chains
// and gives it a 15-bit order key; both depend on only a few characters of the text (the last
// rounds and a few at fixed distances), so families of similar texts (numbered names, formatted
// records) can share one chain and one key by the hundred thousand.  The chains keep their
// defined order regardless; this index finds a text by a hash of all of it, and the group tails
// find where a new variable joins its chain without walking it.
#include "storage/intern_index.h"

#include <cstring>

#include "platform/platform.h"
#include "storage/descr.h"

namespace pellux::intern {

namespace {

// Calls f(bin) for every chain whose used bit is set.
template <typename F>
void for_used_bins(const Storage& st, F&& f) {
  for (uint64_t w = 0; w < BIN_COUNT / 64; ++w) {
    for (uint64_t bits = st.bins_used[w]; bits != 0; bits &= bits - 1) {
      f(w * 64 + static_cast<uint64_t>(__builtin_ctzll(bits)));
    }
  }
}

constexpr uint64_t EMPTY = 0;
constexpr uint64_t REMOVED = 1;
constexpr uint64_t ADDR_MASK = (uint64_t{1} << 48) - 1;
constexpr uint64_t MIN_SLOTS = 4096;
constexpr uint64_t MIN_GROUPS = 2048;

inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

inline uint64_t tag_of(uint64_t hash) { return hash & ~ADDR_MASK; }
inline Descr* var_of(uint64_t entry) { return reinterpret_cast<Descr*>(entry & ADDR_MASK); }
inline uint64_t group_id(uint64_t bin, uint64_t key) { return bin * 32768 + key + 1; }

uint64_t pow2_at_least(uint64_t n) {
  uint64_t c = 1;
  while (c < n) c <<= 1;
  return c;
}

template <typename T>
T* obtain(uint64_t count) {
  return static_cast<T*>(platform::area_obtain(count * sizeof(T)));
}

void free_slots(Storage& st) {
  InternIndex& ix = st.index;
  if (ix.slots != nullptr) platform::area_release(ix.slots, (ix.mask + 1) * sizeof(uint64_t));
  ix.slots = nullptr;
  ix.mask = 0;
  ix.live = ix.removed = 0;
}

void free_groups(Storage& st) {
  InternIndex& ix = st.index;
  if (ix.groups != nullptr) {
    platform::area_release(ix.groups, (ix.group_mask + 1) * sizeof(InternIndex::Group));
  }
  ix.groups = nullptr;
  ix.group_mask = 0;
  ix.group_live = 0;
}

inline void put_slot(uint64_t* slots, uint64_t mask, uint64_t entry, uint64_t hash) {
  for (uint64_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots[i] <= REMOVED) {
      slots[i] = entry;
      return;
    }
  }
}

inline void put_group(InternIndex::Group* groups, uint64_t mask, uint64_t id, Descr* tail) {
  for (uint64_t i = mix(id) & mask;; i = (i + 1) & mask) {
    if (groups[i].id == id || groups[i].id == 0) {
      groups[i].id = id;
      groups[i].tail = tail;
      return;
    }
  }
}

// A group table of at least `want` slots holding the present groups; false when refused.
bool resize_groups(Storage& st, uint64_t want) {
  InternIndex& ix = st.index;
  uint64_t cap = pow2_at_least(want < MIN_GROUPS ? MIN_GROUPS : want);
  auto* fresh = obtain<InternIndex::Group>(cap);
  if (fresh == nullptr) return false;
  if (ix.groups != nullptr) {
    for (uint64_t i = 0; i <= ix.group_mask; ++i) {
      if (ix.groups[i].id != 0) put_group(fresh, cap - 1, ix.groups[i].id, ix.groups[i].tail);
    }
  }
  uint64_t live = ix.group_live;
  free_groups(st);
  ix.groups = fresh;
  ix.group_mask = cap - 1;
  ix.group_live = live;
  return true;
}

bool rebuild_slots(Storage& st);

}  // namespace

uint64_t text_hash(const char* s, uint64_t n) {
  const auto* p = reinterpret_cast<const uint8_t*>(s);
  uint64_t h = 0x9e3779b97f4a7c15ull ^ (n * 0xc2b2ae3d27d4eb4full);
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0xff51afd7ed558ccdull;
    h ^= h >> 32;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0xff51afd7ed558ccdull;
    h ^= h >> 32;
  }
  return mix(h);
}

bool start(Storage& st) {
  release(st);
  InternIndex& ix = st.index;
  ix.slots = obtain<uint64_t>(MIN_SLOTS);
  ix.groups = obtain<InternIndex::Group>(MIN_GROUPS);
  if (ix.slots == nullptr || ix.groups == nullptr) {
    if (ix.slots != nullptr) platform::area_release(ix.slots, MIN_SLOTS * sizeof(uint64_t));
    if (ix.groups != nullptr) platform::area_release(ix.groups, MIN_GROUPS * sizeof(InternIndex::Group));
    ix = InternIndex{};
    return false;
  }
  ix.mask = MIN_SLOTS - 1;
  ix.group_mask = MIN_GROUPS - 1;
  ix.enabled = true;
  return true;
}

void release(Storage& st) {
  free_slots(st);
  free_groups(st);
  st.index.enabled = false;
}

void disable(Storage& st) { release(st); }

Descr* find(const Storage& st, const char* s, uint64_t n, uint64_t hash) {
  const InternIndex& ix = st.index;
  uint64_t tag = tag_of(hash);
  for (uint64_t i = hash & ix.mask;; i = (i + 1) & ix.mask) {
    uint64_t e = ix.slots[i];
    if (e == EMPTY) return nullptr;
    if (e == REMOVED || tag_of(e) != tag) continue;
    Descr* v = var_of(e);
    if (var_length(v) == n && std::memcmp(var_text(v), s, n) == 0) return v;
  }
}

void insert(Storage& st, Descr* var, uint64_t hash) {
  InternIndex& ix = st.index;
  if ((ix.live + ix.removed + 1) * 2 > ix.mask + 1) {
    // Grow (or clear out removals): the variable is already below the free pointer, so the
    // rebuild takes it in with the others.
    if (!rebuild_slots(st)) disable(st);
    return;
  }
  for (uint64_t i = hash & ix.mask;; i = (i + 1) & ix.mask) {
    if (ix.slots[i] <= REMOVED) {
      if (ix.slots[i] == REMOVED) --ix.removed;
      ix.slots[i] = tag_of(hash) | reinterpret_cast<uint64_t>(var);
      ++ix.live;
      return;
    }
  }
}

Descr* group_tail(const Storage& st, uint64_t bin, uint64_t key) {
  const InternIndex& ix = st.index;
  uint64_t id = group_id(bin, key);
  for (uint64_t i = mix(id) & ix.group_mask;; i = (i + 1) & ix.group_mask) {
    if (ix.groups[i].id == id) return ix.groups[i].tail;
    if (ix.groups[i].id == 0) return nullptr;
  }
}

void set_group_tail(Storage& st, uint64_t bin, uint64_t key, Descr* var) {
  InternIndex& ix = st.index;
  uint64_t id = group_id(bin, key);
  for (uint64_t i = mix(id) & ix.group_mask;; i = (i + 1) & ix.group_mask) {
    if (ix.groups[i].id == id) {
      ix.groups[i].tail = var;
      return;
    }
    if (ix.groups[i].id == 0) break;
  }
  if ((ix.group_live + 1) * 2 > ix.group_mask + 1 && !resize_groups(st, 2 * (ix.group_mask + 1))) {
    disable(st);
    return;
  }
  put_group(ix.groups, ix.group_mask, id, var);
  ++ix.group_live;
}

void relocate(Storage& st) {
  InternIndex& ix = st.index;
  for (uint64_t i = 0; i <= ix.mask; ++i) {
    uint64_t e = ix.slots[i];
    if (e <= REMOVED) continue;
    Descr* v = var_of(e);
    if (v->fv & FLAG_MARK) {
      ix.slots[i] = tag_of(e) | v->a;  // the title holds the new address
    } else {
      ix.slots[i] = REMOVED;
      --ix.live;
      ++ix.removed;
    }
  }
}

void clear_groups(Storage& st) {
  InternIndex& ix = st.index;
  // The tails are made again for the surviving variables only (relocate has just counted
  // them).  A table far larger than they need, left by a burst of short-lived strings, is given
  // back instead of cleared, so this step costs what the survivors need.
  uint64_t want = pow2_at_least(2 * ix.live + 2 < MIN_GROUPS ? MIN_GROUPS : 2 * ix.live + 2);
  if (want * 4 <= ix.group_mask + 1) {
    if (auto* fresh = obtain<InternIndex::Group>(want)) {
      free_groups(st);
      ix.groups = fresh;
      ix.group_mask = want - 1;
      return;
    }
  }
  std::memset(static_cast<void*>(ix.groups), 0, (ix.group_mask + 1) * sizeof(InternIndex::Group));
  ix.group_live = 0;
}

void after_compaction(Storage& st) {
  InternIndex& ix = st.index;
  if (ix.removed * 4 > ix.mask + 1 || (ix.mask + 1 > MIN_SLOTS && ix.live * 16 < ix.mask + 1)) {
    if (!rebuild_slots(st)) disable(st);
  }
}

namespace {

// The index slots made again from the work space, walked in address order (every natural
// variable below the free pointer is in its chain; a linear walk reads the texts in memory
// order instead of chasing the chains).  The group tails are left as they are.
bool rebuild_slots(Storage& st) {
  InternIndex& ix = st.index;
  uint64_t count = 0;
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* t = reinterpret_cast<Descr*>(p);
    count += (t->fv & FLAG_STRING) != 0;
    p += block_length(t);
  }
  // Room for the variables to double before the next rebuild, at half load.  A table of the
  // right size is cleared and used again.
  uint64_t cap = pow2_at_least(4 * count + 4);
  if (cap < MIN_SLOTS) cap = MIN_SLOTS;
  bool same = ix.slots != nullptr && cap == ix.mask + 1;
  uint64_t* slots = same ? ix.slots : obtain<uint64_t>(cap);
  if (slots == nullptr) return false;
  if (same) std::memset(slots, 0, cap * sizeof(uint64_t));
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* v = reinterpret_cast<Descr*>(p);
    if (v->fv & FLAG_STRING) {
      uint64_t h = text_hash(var_text(v), var_length(v));
      put_slot(slots, cap - 1, tag_of(h) | reinterpret_cast<uint64_t>(v), h);
    }
    p += block_length(v);
  }
  if (!same) free_slots(st);
  ix.slots = slots;
  ix.mask = cap - 1;
  ix.live = count;
  ix.removed = 0;
  ++ix.rebuilds;
  return true;
}

// The group tails made again from the chains.
bool rebuild_groups(Storage& st) {
  InternIndex& ix = st.index;
  uint64_t groups = 0;
  for_used_bins(st, [&](uint64_t b) {
    uint64_t last = ~uint64_t{0};
    for (Descr* v = st.bins[b].ptr(); v != nullptr; v = var_link(v).ptr()) {
      if (var_link(v).v() != last) ++groups;
      last = var_link(v).v();
    }
  });
  uint64_t gcap = pow2_at_least(4 * groups + 4);
  if (gcap < MIN_GROUPS) gcap = MIN_GROUPS;
  auto* table = obtain<InternIndex::Group>(gcap);
  if (table == nullptr) return false;
  for_used_bins(st, [&](uint64_t b) {
    for (Descr* v = st.bins[b].ptr(); v != nullptr; v = var_link(v).ptr()) {
      put_group(table, gcap - 1, group_id(b, var_link(v).v()), v);
    }
  });
  free_groups(st);
  ix.groups = table;
  ix.group_mask = gcap - 1;
  ix.group_live = groups;
  return true;
}

}  // namespace

bool rebuild(Storage& st) {
  if (st.bins == nullptr || st.ws_start == nullptr) return false;
  if (!rebuild_groups(st) || !rebuild_slots(st)) {
    release(st);
    return false;
  }
  st.index.enabled = true;
  return true;
}

const char* check(const Storage& st) {
  const InternIndex& ix = st.index;
  if (!ix.enabled) return nullptr;
  uint64_t count = 0, groups = 0;
  for (uint64_t b = 0; b < BIN_COUNT; ++b) {
    for (Descr* v = st.bins[b].ptr(); v != nullptr; v = var_link(v).ptr()) {
      ++count;
      uint64_t h = text_hash(var_text(v), var_length(v));
      if (find(st, var_text(v), var_length(v), h) != v) return "variable missing from the lookup index";
      Descr* next = var_link(v).ptr();
      bool last_of_group = next == nullptr || var_link(next).v() != var_link(v).v();
      if (last_of_group) {
        ++groups;
        if (group_tail(st, b, var_link(v).v()) != v) return "wrong group tail in the lookup index";
      }
    }
  }
  if (count != ix.live) return "lookup index count differs from the chains";
  if (groups != ix.group_live) return "group count differs from the chains";
  uint64_t used = 0;
  for (uint64_t i = 0; i <= ix.mask; ++i) used += ix.slots[i] > REMOVED;
  if (used != ix.live) return "lookup index holds stale entries";
  return nullptr;
}

}  // namespace pellux::intern
