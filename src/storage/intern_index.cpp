// The lookup index of the variable table.  The chain hash puts a text into one of 8192 chains
// and gives it a 15-bit order key; both depend on only a few characters of the text, so
// families of similar texts (numbered names, formatted records) share one chain and one key by
// the hundred thousand.  Lookups therefore go through this index, found by a hash of the whole
// text; the chain order matters only to a dump, which derives it.
//
// Each variable keeps its hash, so the table never reads a text except to compare one found
// under an equal tag.  Regeneration empties the table (sized for the survivors) and enters
// the survivors at their new addresses while compaction moves them.  The table's memory is
// reserved once, for as many variables as the work space can hold, and two areas take turns
// when it doubles, so no memory is mapped or unmapped while the program runs.
#include "storage/intern_index.h"

#include <bit>
#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "storage/descr.h"

namespace pellux::intern {

namespace {

// An entry: the low 24 bits of the variable's hash above 40 bits of its place (its offset in
// the work space in descriptors, plus one, so that no entry is 0).  The hash bits pick the
// slot of tables up to 2^24 slots, so growing such a table needs nothing from the variables
// themselves; above the slot bits they spare most comparisons of texts.
constexpr uint64_t EMPTY = 0;
constexpr int PLACE_BITS = 40;
constexpr uint64_t PLACE_MASK = (uint64_t{1} << PLACE_BITS) - 1;
constexpr uint64_t ENTRY_HASH_MASK = (uint64_t{1} << (64 - PLACE_BITS)) - 1;
constexpr uint64_t MIN_SLOTS = 4096;

inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

inline uint64_t entry_of(const InternIndex& ix, const Descr* var, uint64_t hash) {
  const uint64_t place = ((reinterpret_cast<uint64_t>(var) - ix.base) >> 4) + 1;
  return ((hash & ENTRY_HASH_MASK) << PLACE_BITS) | place;
}
inline Descr* var_of(const InternIndex& ix, uint64_t entry) {
  return reinterpret_cast<Descr*>(ix.base + (((entry & PLACE_MASK) - 1) << 4));
}
inline bool hash_matches(uint64_t entry, uint64_t hash) {
  return (entry >> PLACE_BITS) == (hash & ENTRY_HASH_MASK);
}

uint64_t pow2_at_least(uint64_t n) {
  uint64_t c = 1;
  while (c < n) c <<= 1;
  return c;
}

// Slots for `survivors` entries with room to grow to twice as many at half load.
uint64_t slots_for(uint64_t entries) {
  uint64_t want = pow2_at_least(4 * entries + 4);
  return want < MIN_SLOTS ? MIN_SLOTS : want;
}

// The largest table the areas are reserved for (8 GiB of address space each).
constexpr uint64_t MAX_SLOTS = uint64_t{1} << 30;

// The table is probed at random, so large pages spare it page faults and address-translation
// misses; only the first megabytes get them (a table grows into the rest only for programs
// with millions of strings).
uint64_t* obtain_slots(uint64_t count) {
  void* p = platform::area_obtain(count * sizeof(uint64_t));
  if (p != nullptr) {
    const uint64_t bytes = count * sizeof(uint64_t);
    platform::area_prefer_large_pages(p, bytes < (uint64_t{32} << 20) ? bytes : (uint64_t{32} << 20));
  }
  return static_cast<uint64_t*>(p);
}

void free_area(InternIndex& ix) {
  if (ix.slots != nullptr) platform::area_release(ix.slots, ix.capacity * sizeof(uint64_t));
  if (ix.spare != nullptr) platform::area_release(ix.spare, ix.capacity * sizeof(uint64_t));
  ix.slots = ix.spare = nullptr;
  ix.mask = 0;
  ix.capacity = 0;
  ix.live = 0;
}

inline void put(uint64_t* slots, uint64_t mask, uint64_t entry, uint64_t hash) {
  for (uint64_t i = hash & mask;; i = (i + 1) & mask) {
    if (slots[i] == EMPTY) {
      slots[i] = entry;
      return;
    }
  }
}

// The table at twice its size, rehashed into the spare area, which becomes the table; false
// when it is as large as it can be.
bool grow(InternIndex& ix) {
  const uint64_t count = 2 * (ix.mask + 1);
  if (count > ix.capacity) return false;
  std::memset(ix.spare, 0, count * sizeof(uint64_t));
  if (count - 1 <= ENTRY_HASH_MASK) {
    // The entries hold every hash bit their new slots need.
    for (uint64_t i = 0; i <= ix.mask; ++i) {
      const uint64_t e = ix.slots[i];
      if (e != EMPTY) put(ix.spare, count - 1, e, e >> PLACE_BITS);
    }
  } else {
    // A table this large reads each hash from its variable, scattered over the work space:
    // the variable a few slots ahead is fetched early so that the misses overlap.
    constexpr uint64_t AHEAD = 16;
    for (uint64_t i = 0; i <= ix.mask; ++i) {
      if (i + AHEAD <= ix.mask) {
        const uint64_t ahead = ix.slots[i + AHEAD];
        if (ahead != EMPTY) __builtin_prefetch(var_of(ix, ahead) + 3);
      }
      const uint64_t e = ix.slots[i];
      if (e != EMPTY) put(ix.spare, count - 1, e, stored_hash(var_of(ix, e)));
    }
  }
  std::swap(ix.slots, ix.spare);
  ix.mask = count - 1;
  ++ix.version;
  return true;
}

}  // namespace

uint64_t text_hash(const char* s, uint64_t n) {
  const auto* p = reinterpret_cast<const uint8_t*>(s);
  constexpr uint64_t K1 = 0xff51afd7ed558ccdull, K2 = 0xc4ceb9fe1a85ec53ull;
  uint64_t a = 0x9e3779b97f4a7c15ull ^ (n * 0xc2b2ae3d27d4eb4full);
  uint64_t b = 0x6a09e667f3bcc909ull ^ n;
  // Two independent lanes of 8 bytes each, so that long texts hash at the speed of the loads.
  while (n >= 16) {
    uint64_t w1, w2;
    std::memcpy(&w1, p, 8);
    std::memcpy(&w2, p + 8, 8);
    a = (a ^ w1) * K1;
    b = (b ^ w2) * K2;
    a ^= a >> 32;
    b ^= b >> 29;
    p += 16;
    n -= 16;
  }
  if (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    a = (a ^ w) * K1;
    a ^= a >> 32;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    // The last 1 to 7 bytes as a number, without a call: overlapping loads that end at the
    // text's end (never before its start), shifted into place.
    uint64_t w = 0;
    if constexpr (std::endian::native == std::endian::little) {
      if (p - reinterpret_cast<const uint8_t*>(s) >= 8 - static_cast<int64_t>(n)) {
        std::memcpy(&w, p + n - 8, 8);
        w >>= 8 * (8 - n);
      } else if (n >= 4) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        w = lo | (uint64_t{hi} << (8 * (n - 4)));
      } else {
        w = uint64_t{p[0]} | (uint64_t{p[n / 2]} << (8 * (n / 2))) | (uint64_t{p[n - 1]} << (8 * (n - 1)));
      }
    } else {
      std::memcpy(&w, p, n);
    }
    b = (b ^ w) * K2;
    b ^= b >> 29;
  }
  return mix(a ^ (b * K1)) >> 8;
}

bool start(Storage& st) {
  release(st);
  InternIndex& ix = st.index;
  // Every variable takes at least 80 bytes of the work space; the table stays at most half
  // full, so this many slots never run out.
  // Places are counted in descriptors from the work-space start, in 40 bits.
  if (st.ws_size / 16 >= PLACE_MASK) return false;
  uint64_t cap = pow2_at_least(2 * (st.ws_size / 80 + 1));
  if (cap < MIN_SLOTS) cap = MIN_SLOTS;
  if (cap > MAX_SLOTS) cap = MAX_SLOTS;
  ix.slots = obtain_slots(cap);
  ix.spare = obtain_slots(cap);
  ix.capacity = cap;
  if (ix.slots == nullptr || ix.spare == nullptr) {
    free_area(ix);
    ix = InternIndex{};
    return false;
  }
  ix.mask = MIN_SLOTS - 1;
  ix.base = reinterpret_cast<uint64_t>(st.ws_start);
  ix.enabled = true;
  return true;
}

void release(Storage& st) {
  free_area(st.index);
  st.index.enabled = false;
  ++st.index.version;
}

void disable(Storage& st) { release(st); }

Descr* find(const Storage& st, const char* s, uint64_t n, uint64_t hash, Probe* probe) {
  const InternIndex& ix = st.index;
  for (uint64_t i = hash & ix.mask;; i = (i + 1) & ix.mask) {
    uint64_t e = ix.slots[i];
    if (e == EMPTY) {
      probe->found = nullptr;
      probe->slot = i;
      probe->version = ix.version;
      return nullptr;
    }
    if (!hash_matches(e, hash)) continue;
    Descr* v = var_of(ix, e);
    if (var_length(v) == n && std::memcmp(var_text(v), s, n) == 0) {
      probe->found = v;
      return v;
    }
  }
}

void insert(Storage& st, Descr* var, uint64_t hash, const Probe* probe) {
  InternIndex& ix = st.index;
  if ((ix.live + 1) * 2 > ix.mask + 1 && !grow(ix)) {
    disable(st);
    return;
  }
  const uint64_t entry = entry_of(ix, var, hash);
  if (probe != nullptr && probe->version == ix.version && ix.slots[probe->slot] == EMPTY) {
    ix.slots[probe->slot] = entry;
  } else {
    put(ix.slots, ix.mask, entry, hash);
  }
  ++ix.live;
}

void begin_regeneration(Storage& st, uint64_t survivors) {
  InternIndex& ix = st.index;
  uint64_t want = slots_for(survivors);
  if (want > ix.capacity) want = ix.capacity;  // cannot happen: survivors fit the work space
  ++ix.version;
  ix.mask = want - 1;
  ix.live = 0;
  std::memset(ix.slots, 0, want * sizeof(uint64_t));
}

void reenter(Storage& st, Descr* new_address, uint64_t hash) {
  InternIndex& ix = st.index;
  put(ix.slots, ix.mask, entry_of(ix, new_address, hash), hash);
  ++ix.live;
}

bool rebuild(Storage& st) {
  if (st.bins == nullptr || st.ws_start == nullptr) return false;
  uint64_t count = 0;
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* t = reinterpret_cast<Descr*>(p);
    count += (t->fv & FLAG_STRING) != 0;
    p += block_length(t);
  }
  if (!start(st)) return false;
  InternIndex& ix = st.index;
  uint64_t want = slots_for(count);
  if (want > ix.capacity) {
    release(st);
    return false;
  }
  ix.mask = want - 1;
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* v = reinterpret_cast<Descr*>(p);
    if (v->fv & FLAG_STRING) put(ix.slots, ix.mask, entry_of(ix, v, stored_hash(v)), stored_hash(v));
    p += block_length(v);
  }
  ix.live = count;
  ++ix.version;
  ++ix.rebuilds;
  return true;
}

const char* check(const Storage& st) {
  const InternIndex& ix = st.index;
  if (!ix.enabled) return nullptr;
  uint64_t count = 0;
  for (uint8_t* p = st.ws_start; p < st.free_ptr;) {
    auto* v = reinterpret_cast<Descr*>(p);
    p += block_length(v);
    if (!(v->fv & FLAG_STRING)) continue;
    ++count;
    const uint64_t h = text_hash(var_text(v), var_length(v));
    if (stored_hash(v) != h) return "natural variable with a wrong stored hash";
    Probe probe;
    if (find(st, var_text(v), var_length(v), h, &probe) != v) return "variable missing from the lookup index";
  }
  if (count != ix.live) return "lookup index count differs from the work space";
  uint64_t used = 0;
  for (uint64_t i = 0; i <= ix.mask; ++i) used += ix.slots[i] != EMPTY;
  if (used != ix.live) return "lookup index holds stale entries";
  return nullptr;
}

}  // namespace pellux::intern
