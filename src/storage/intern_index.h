// The lookup index of the variable table (storage internals; see InternIndex in state.h).
#pragma once
#include <cstdint>

#include "storage/state.h"

namespace pellux::intern {

// A 56-bit hash of the whole text (not the chain hash): picks the slot and the entry tag, and
// is kept in the V of the variable's link descriptor.
uint64_t text_hash(const char* s, uint64_t n);
inline uint64_t stored_hash(const Descr* var) { return var[3].v(); }

// Starts fetching the slot where a lookup of this hash begins, for a text that will be looked
// up soon.
inline void prefetch_slot(const Storage& st, uint64_t hash) {
  if (st.index.enabled) __builtin_prefetch(&st.index.slots[hash & st.index.mask]);
}

// Tables for a new variable table; false (index off) when the memory cannot be had.
bool start(Storage& st);
void release(Storage& st);
void disable(Storage& st);

// Where a lookup ended: the variable found, or the empty slot where the text would go (valid
// while the index version is unchanged).
struct Probe {
  Descr* found;
  uint64_t slot;
  uint64_t version;
};
// The variable with this text, or nullptr (with the slot for an insertion in probe).
Descr* find(const Storage& st, const char* s, uint64_t n, uint64_t hash, Probe* probe);
// Enters a variable that has just been made, at the probe's slot when it is still valid.
void insert(Storage& st, Descr* var, uint64_t hash, const Probe* probe);

// Regeneration: before compaction, with the number of natural variables that survive, the
// table is emptied (sized for them); during compaction each survivor is entered at its new
// address.
void begin_regeneration(Storage& st, uint64_t survivors);
void reenter(Storage& st, Descr* new_address, uint64_t hash);

// Makes the index again from the work space (also switches it on); false, with the index off,
// when memory is refused.
bool rebuild(Storage& st);

// Consistency with the work space (the heap verifier); nullptr when sound.
const char* check(const Storage& st);

}  // namespace pellux::intern
