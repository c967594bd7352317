// The pattern matcher's part of the Vm: the history stack, the save stack, the capture list,
// the frames of deferred patterns being matched, and the character-set cache.
//
// Every stack here is shared by all the matches that are active at once (a match started from
// inside another one, through an unevaluated expression, begins its regions at the current
// tops and gives them back when it ends).  None of them holds a pointer into the work space:
// the patterns and values that the collector may move are kept on the system stack, and these
// stacks refer to those system-stack slots, which never move.
#pragma once
#include <cstdint>
#include <memory>

#include "storage/descr.h"

namespace pellux {

// Capacity of the history stack: one more entry is error 16.
inline constexpr uint64_t HISTORY_CAPACITY = 6665;
// Every cursor on the save stack belongs to a node whose history entry is still on the
// history stack, so twice the history's capacity is never reached by a sound pattern.
inline constexpr uint64_t SAVE_CAPACITY = 2 * HISTORY_CAPACITY;
// A capture lives as long as its capture-remove entry, and a deferred frame as long as its
// plain-failure entry: neither can outnumber the history entries.
inline constexpr uint64_t CAPTURE_CAPACITY = HISTORY_CAPACITY;
inline constexpr uint64_t FRAME_CAPACITY = HISTORY_CAPACITY;
// Deepest bracket nesting BAL accepts.
inline constexpr uint64_t BAL_DEPTH = 32767;

// A history entry.  `alt` is the alternate offset of the node entered (0: nothing to try), or
// a routine (ROUTINE_BIT set) called when backtracking reaches the entry.  `data` is the
// routine's operand, or for a node entry the activation or start it carries.  `pos` is the
// cursor when the entry was pushed; `tail_flag` holds the node's tail minimum above the
// length-failure flag (bit 0).
struct HistoryEntry {
  uint64_t alt;
  uint64_t data;
  int64_t pos;
  uint64_t tail_flag;
};

// A conditional assignment recorded by a successful path: the matched part [start, end) of
// the subject, and where its name is (the pattern held in a system-stack slot, node offset).
struct Capture {
  int64_t start;
  int64_t end;
  Descr* pattern_slot;
  uint64_t node;
};

// A deferred pattern being matched: the pattern and node it was entered from, the limit in
// force there, and the system-stack slot holding the pattern being matched.
struct DeferFrame {
  Descr* outer_slot;
  uint64_t node;
  int64_t limit;
  Descr* inner_slot;
};

// One cached membership table of a character set, keyed by the address of the interned string
// that gave it.  `count` is the number of member characters, `single` the member when there is
// one.
struct SetTable {
  uint64_t key = 0;
  uint32_t count = 0;
  uint8_t single = 0;
  uint8_t member[256] = {};
};
inline constexpr uint64_t SET_CACHE_SIZE = 64;

struct PatternState {
  bool ready = false;
  std::unique_ptr<HistoryEntry[]> history;
  uint64_t history_top = 0;
  std::unique_ptr<int64_t[]> saves;
  uint64_t save_top = 0;
  std::unique_ptr<Capture[]> captures;
  uint64_t capture_top = 0;
  std::unique_ptr<DeferFrame[]> frames;
  uint64_t frame_top = 0;
  std::unique_ptr<uint8_t[]> brackets;  // BAL's open brackets, BAL_DEPTH + 1 entries

  // The set tables; they are keyed by addresses, so a regeneration (seen through the storage
  // counters) empties the cache.
  std::unique_ptr<SetTable[]> set_cache;
  uint64_t set_cache_epoch = 0;
  SetTable scratch;  // the table of a set that is not an interned string (an integer's digits)
};

}  // namespace pellux
