// The lookup index of the variable table (storage internals; see InternIndex in state.h).
#pragma once
#include <cstdint>

#include "storage/state.h"

namespace pellux::intern {

// A hash of the whole text (not the chain hash): picks the index slot and the entry tag.
uint64_t text_hash(const char* s, uint64_t n);

// Tables for a new variable table; false (index off) when the memory cannot be had.
bool start(Storage& st);
void release(Storage& st);
void disable(Storage& st);

// The variable with this text, or nullptr.
Descr* find(const Storage& st, const char* s, uint64_t n, uint64_t hash);
// Enters a variable that has just been linked into its chain.
void insert(Storage& st, Descr* var, uint64_t hash);

// The last variable of the chain `bin` with order key `key`, or nullptr.
Descr* group_tail(const Storage& st, uint64_t bin, uint64_t key);
void set_group_tail(Storage& st, uint64_t bin, uint64_t key, Descr* var);

// Regeneration: after the new addresses are known and before compaction, entries take the
// new addresses of marked variables and the others are removed; the group tails are made again
// while the chains are rebuilt; after compaction (free pointer set) the slots are made again
// when removals pile up.
void relocate(Storage& st);
void clear_groups(Storage& st);
void after_compaction(Storage& st);

// Makes the index again from the chains and the work space (also switches it on); false, with
// the index off, when memory is refused.
bool rebuild(Storage& st);

// Consistency with the chains (the heap verifier); nullptr when sound.
const char* check(const Storage& st);

}  // namespace pellux::intern
