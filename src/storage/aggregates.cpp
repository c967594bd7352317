// Arrays, tables and programmer-defined data types: ARRAY, PROTOTYPE, ITEM (and the element
// references compiled as calls of its private descriptor), TABLE, DATA with its constructors
// and field functions, VALUE, FIELD, COPY, and the conversions between tables and arrays.
//
// Every descriptor that points into the work space is kept on the system stack across any call
// that may allocate, and raw pointers into blocks are taken afresh after such a call.
#include "storage/aggregates.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "builtins/table.h"
#include "compiler/syntax.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

// The NAME of the descriptor at `slot` (16 bytes before it).
inline Descr name_of_slot(const Descr* slot) {
  return Descr::make(reinterpret_cast<uint64_t>(slot - 1), FLAG_POINTER, T_NAME);
}

// Raises the fatal "work space exceeded" of a block beyond the size limit.
[[noreturn]] void too_large(Vm& vm, uint64_t type) {
  allocate_block(vm, ~uint64_t{0}, type);
  __builtin_unreachable();
}

// Extents above this are kept clamped in V (56 bits); only an array with no elements can have
// one, and no reference into it can succeed.
inline constexpr uint64_t EXTENT_CLAMP = (uint64_t{1} << 56) - 1;

struct Dimension {
  int64_t low;
  uint64_t extent;
};

// Parses an array prototype: dimensions separated by commas, each h (bounds 1..h, h >= 1) or
// l:h (extent h - l + 1 >= 0).  False for any malformed prototype or an element count that
// overflows.  Never allocates.
bool parse_array_prototype(const char* s, uint64_t len, std::vector<Dimension>* dims,
                           uint64_t* elements) {
  unsigned __int128 product = 1;
  uint64_t start = 0;
  for (;;) {
    uint64_t end = start;
    while (end < len && s[end] != ',') ++end;
    const char* d = s + start;
    const uint64_t dlen = end - start;
    uint64_t colon = 0;
    while (colon < dlen && d[colon] != ':') ++colon;
    Dimension dim;
    if (colon == dlen) {
      int64_t h;
      if (dlen == 0 || !scan_integer(d, dlen, &h) || h < 1) return false;
      dim = {1, static_cast<uint64_t>(h)};
    } else {
      int64_t l, h;
      if (colon == 0 || colon + 1 >= dlen || !scan_integer(d, colon, &l) ||
          !scan_integer(d + colon + 1, dlen - colon - 1, &h))
        return false;
      const __int128 extent = static_cast<__int128>(h) - l + 1;
      if (extent < 0 || extent > static_cast<__int128>(~uint64_t{0})) return false;
      dim = {l, static_cast<uint64_t>(extent)};
    }
    dims->push_back(dim);
    product *= dim.extent;
    if (product > ~uint64_t{0}) return false;  // overflowed, even if a later extent is 0
    if (end == len) break;
    start = end + 1;
  }
  *elements = static_cast<uint64_t>(product);
  return true;
}

// The last block of a table's chain.
Descr* last_block(Descr* block) {
  while (Descr* next = table_next(block)) block = next;
  return block;
}

// Fills a fresh table block: values null, keys zero, trailer = extension size and link 1.
void init_table_block(Descr* block, uint64_t slots, uint64_t extension_bytes) {
  for (uint64_t i = 0; i < slots; ++i) block[1 + 2 * i] = NULL_STRING;
  Descr* trailer = block + 1 + 2 * slots;
  trailer[0] = Descr::make(extension_bytes, 0, 0);
  trailer[1] = Descr::make(1, 0, 0);
}

}  // namespace

// --- ARRAY and PROTOTYPE ----------------------------------------------------------------------------

Exit bi_ARRAY(Vm& vm) {
  StackMark mark(vm);
  Descr p;
  if (string_operand(vm, &p) != X_VALUE) return X_FAIL;
  sysstack_push(vm, p);
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  sysstack_push(vm, result(vm));

  std::vector<Dimension> dims;
  uint64_t elements = 0;
  const Descr proto = mark.base()[0];
  if (!parse_array_prototype(string_text(proto), string_length(proto), &dims, &elements))
    return error_stmt(vm, 6);
  const unsigned __int128 body =
      (static_cast<unsigned __int128>(dims.size()) + 2 + elements) * 16;
  if (body >= MAX_BLOCK_BODY) too_large(vm, T_ARRAY);

  Descr block = allocate_block(vm, static_cast<uint64_t>(body), T_ARRAY);
  Descr* a = block.ptr();
  const uint64_t n = dims.size();
  a[ARRAY_PROTO] = mark.base()[0];
  a[ARRAY_DIMS] = Descr::make(n, 0, 0);
  for (uint64_t k = 0; k < n; ++k) {
    const Dimension& d = dims[n - 1 - k];
    a[ARRAY_FIRST_DIM + k] = Descr::make(static_cast<uint64_t>(d.low), 0,
                                         d.extent > EXTENT_CLAMP ? EXTENT_CLAMP : d.extent);
  }
  const Descr init = mark.base()[1];
  Descr* e = a + ARRAY_FIRST_DIM + n;
  for (uint64_t i = 0; i < elements; ++i) e[i] = init;
  return succeed(vm, block);
}

Exit bi_PROTOTYPE(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr a = result(vm);
  if (a.v() != T_ARRAY) return error_stmt(vm, 3);
  return succeed(vm, a.ptr()[ARRAY_PROTO]);
}

// --- TABLE and the lookup ---------------------------------------------------------------------------

Descr make_table(Vm& vm, uint64_t slots, uint64_t extension) {
  Descr t = allocate_block(vm, 32 * (slots + 1), T_TABLE);
  init_table_block(t.ptr(), slots, 32 * (extension + 1));
  return t;
}

namespace {

// --- The lookup index of a large table ------------------------------------------------------------
//
// A table of more than INDEX_THRESHOLD slots gets an index outside the work space: an
// open-addressing hash of key descriptor -> slot, holding only the first occurrence of each key
// (so duplicates made by CONVERT resolve as the scan does), and the last block of the chain with
// its first empty slot, so that an append costs no walk.  Slot addresses and string keys move
// when storage is regenerated, so every index belongs to one regeneration epoch: the first
// lookup after a regeneration drops them all (dead tables' indexes with them) and each table
// still in use builds its index again at its next lookup.  When memory for an index is refused
// the table is looked up by the scan.
inline constexpr uint64_t INDEX_THRESHOLD = 32;

struct TableIndex {
  // An entry is (16-bit tag of the key's hash << 48) | the slot's address (its value
  // descriptor; the key follows it), 0 when empty.  A matching tag is confirmed by comparing
  // the key in the slot, which the caller reads or writes next anyway.
  static constexpr uint64_t ADDRESS_MASK = (uint64_t{1} << 48) - 1;
  uint64_t* entries = nullptr;
  uint64_t mask = 0;
  uint64_t used = 0;
  Descr* last = nullptr;  // last block of the chain
  uint64_t next_free = 0; // first empty slot of the last block
  bool refused = false;   // no memory: use the scan

  TableIndex() = default;
  TableIndex(const TableIndex&) = delete;
  TableIndex& operator=(const TableIndex&) = delete;
  ~TableIndex() { std::free(entries); }

  static uint64_t hash(const Descr& k) {
    // The finaliser of a 64-bit mix: string keys differ only in their (16-aligned) address.
    uint64_t h = k.a ^ (k.fv * 0x9E3779B97F4A7C15ull);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 33);
  }
  Descr* find(const Descr& k) const {
    const uint64_t h = hash(k);
    const uint64_t tag = h >> 48;
    for (uint64_t i = h & mask;; i = (i + 1) & mask) {
      const uint64_t e = entries[i];
      if (e == 0) return nullptr;
      if ((e >> 48) == tag) {
        Descr* slot = reinterpret_cast<Descr*>(e & ADDRESS_MASK);
        if (slot[1] == k) return slot;
      }
    }
  }
  // Inserts a key known to be absent.
  void put(const Descr& k, Descr* slot) {
    const uint64_t h = hash(k);
    uint64_t i = h & mask;
    while (entries[i] != 0) i = (i + 1) & mask;
    entries[i] = (h >> 48 << 48) | reinterpret_cast<uint64_t>(slot);
    ++used;
  }
  // Room for one more entry (load at most one half); false when memory is refused.
  bool reserve(uint64_t n) {
    if (entries != nullptr && 2 * (n + 1) <= mask + 1) return true;
    uint64_t cap = 64;
    while (cap < 2 * (n + 1)) cap *= 2;
    uint64_t* fresh = static_cast<uint64_t*>(std::calloc(cap, sizeof(uint64_t)));
    if (fresh == nullptr) return false;
    uint64_t* old = entries;
    const uint64_t old_cap = entries ? mask + 1 : 0;
    entries = fresh;
    mask = cap - 1;
    used = 0;
    for (uint64_t i = 0; i < old_cap; ++i) {
      if (old[i] == 0) continue;
      Descr* slot = reinterpret_cast<Descr*>(old[i] & ADDRESS_MASK);
      put(slot[1], slot);
    }
    std::free(old);
    return true;
  }
};

struct TableIndexSet {
  uint64_t epoch = 0;
  std::unordered_map<uint64_t, TableIndex> by_table;  // first block's address -> index
};

inline uint64_t regeneration_epoch(const Vm& vm) {
  return vm.st.regen_count + vm.st.stress_regen_count;
}

TableIndexSet& index_set(Vm& vm) {
  if (!vm.st.table_indexes) vm.st.table_indexes = std::make_shared<TableIndexSet>();
  TableIndexSet& set = *static_cast<TableIndexSet*>(vm.st.table_indexes.get());
  if (set.epoch != regeneration_epoch(vm)) {
    set.by_table.clear();
    set.epoch = regeneration_epoch(vm);
  }
  return set;
}

// The index of a table, built when the chain is large enough; nullptr for a small table or
// one whose index memory was refused.  Never allocates in the work space.
TableIndex* table_index(Vm& vm, Descr* table) {
  TableIndexSet& set = index_set(vm);
  const uint64_t key = reinterpret_cast<uint64_t>(table);
  auto it = set.by_table.find(key);
  if (it != set.by_table.end()) return it->second.refused ? nullptr : &it->second;
  uint64_t total = 0;
  for (Descr* b = table; b != nullptr && total <= INDEX_THRESHOLD; b = table_next(b))
    total += table_slots(b);
  if (total <= INDEX_THRESHOLD) return nullptr;
  // Entries hold 48-bit slot addresses; a work space beyond that range uses the scan.
  if (reinterpret_cast<uint64_t>(vm.st.hard_limit) > TableIndex::ADDRESS_MASK) return nullptr;

  TableIndex* ix;
  try {
    ix = &set.by_table[key];
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  total = 0;
  for (Descr* b = table; b != nullptr; b = table_next(b)) total += table_slots(b);
  if (!ix->reserve(total)) {
    ix->refused = true;
    return nullptr;
  }
  for (Descr* b = table;; b = table_next(b)) {
    const uint64_t slots = table_slots(b);
    Descr* s = b + 1;
    uint64_t i = 0;
    for (; i < slots; ++i, s += 2) {
      if (s[1] == ZERO_DESCR) break;
      if (ix->find(s[1]) == nullptr) ix->put(s[1], s);
    }
    if (table_next(b) == nullptr) {
      ix->last = b;
      ix->next_free = i;
      break;
    }
  }
  return ix;
}

}  // namespace

Descr table_lookup(Vm& vm, const Descr* table, const Descr* key) {
  if (TableIndex* ix = table_index(vm, table->ptr())) {
    const Descr k = *key;
    if (Descr* s = ix->find(k)) return name_of_slot(s);
    if (ix->next_free < table_slots(ix->last) && ix->reserve(ix->used + 1)) {
      Descr* s = ix->last + 1 + 2 * ix->next_free;
      s[1] = k;
      ix->put(k, s);
      ++ix->next_free;
      return name_of_slot(s);
    }
    if (ix->next_free >= table_slots(ix->last) && ix->reserve(ix->used + 1)) {
      // A new extension block; the index is still good if it did not regenerate storage.
      const uint64_t epoch = regeneration_epoch(vm);
      const uint64_t ext_bytes = table_trailer(ix->last)[0].a;
      Descr ext = allocate_block(vm, ext_bytes, T_TABLE);
      Descr* nb = ext.ptr();
      init_table_block(nb, ext_bytes / 32 - 1, ext_bytes);
      const bool still_good = regeneration_epoch(vm) == epoch;
      Descr* last = still_good ? ix->last : last_block(table->ptr());
      table_trailer(last)[1] = Descr::pointer(nb, 0);
      nb[2] = *key;
      if (still_good) {
        ix->last = nb;
        ix->next_free = 1;
        ix->put(*key, nb + 1);
      }
      return name_of_slot(nb + 1);
    }
    // No memory for the entry: the index is dropped and the scan below takes over.
    index_set(vm).by_table.erase(reinterpret_cast<uint64_t>(table->ptr()));
    index_set(vm).by_table[reinterpret_cast<uint64_t>(table->ptr())].refused = true;
  }
  {
    const Descr k = *key;
    Descr* block = table->ptr();
    for (;;) {
      const uint64_t slots = table_slots(block);
      Descr* s = block + 1;
      for (uint64_t i = 0; i < slots; ++i, s += 2)
        if (s[1] == k) return name_of_slot(s);
      Descr* next = table_next(block);
      if (next == nullptr) break;
      block = next;
    }
    // Absent: the first empty slot of the last block (only the last block has any).
    const uint64_t slots = table_slots(block);
    Descr* s = block + 1;
    for (uint64_t i = 0; i < slots; ++i, s += 2) {
      if (s[1] == ZERO_DESCR) {
        s[1] = k;
        return name_of_slot(s);
      }
    }
  }
  // The last block is full: an extension block of the size its trailer records.
  const uint64_t ext_bytes = table_trailer(last_block(table->ptr()))[0].a;
  Descr ext = allocate_block(vm, ext_bytes, T_TABLE);
  Descr* nb = ext.ptr();
  init_table_block(nb, ext_bytes / 32 - 1, ext_bytes);
  table_trailer(last_block(table->ptr()))[1] = Descr::pointer(nb, 0);
  nb[2] = *key;  // extensions always have a slot: TABLE and CONVERT give them 10 or more
  return name_of_slot(nb + 1);
}

Exit bi_TABLE(Vm& vm) {
  int64_t n, m;
  if (integer_operand(vm, &n) != X_VALUE) return X_FAIL;
  if (integer_operand(vm, &m) != X_VALUE) return X_FAIL;
  if (n < 0 || m < 0) return error_stmt(vm, 14);
  if (n == 0) n = 10;
  if (m == 0) m = 10;
  const unsigned __int128 first = (static_cast<unsigned __int128>(n) + 1) * 32;
  const unsigned __int128 ext = (static_cast<unsigned __int128>(m) + 1) * 32;
  if (first >= MAX_BLOCK_BODY || ext >= MAX_BLOCK_BODY) too_large(vm, T_TABLE);
  return succeed(vm, make_table(vm, static_cast<uint64_t>(n), static_cast<uint64_t>(m)));
}

// --- ITEM -------------------------------------------------------------------------------------------

Exit bi_ITEM(Vm& vm) {
  const uint64_t nargs = vm.in.current_nargs;
  StackMark mark(vm);
  Descr agg = NULL_STRING;
  if (nargs > 0) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    agg = result(vm);
  }
  sysstack_push(vm, agg);
  const uint64_t nsubs = nargs > 0 ? nargs - 1 : 0;

  if (agg.v() == T_TABLE) {
    if (nsubs != 1) return error_stmt(vm, 25);
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    sysstack_push(vm, result(vm));
    result(vm) = table_lookup(vm, mark.base(), mark.base() + 1);
    return X_NAME;
  }
  if (agg.v() != T_ARRAY) return error_stmt(vm, 3);
  const uint64_t n = array_dims(agg.ptr());
  if (nsubs > n) return error_stmt(vm, 25);

  // The subscripts, as integers; missing trailing ones are 0.
  int64_t small[8];
  std::vector<int64_t> large;
  int64_t* subs = small;
  if (n > 8) {
    large.assign(n, 0);
    subs = large.data();
  }
  for (uint64_t k = 0; k < n; ++k) subs[k] = 0;
  for (uint64_t k = 0; k < nsubs; ++k)
    if (integer_operand(vm, &subs[k]) != X_VALUE) return X_FAIL;

  Descr* a = mark.base()[0].ptr();
  uint64_t index = 0;
  for (uint64_t k = n; k >= 1; --k) {
    const Descr& d = array_dim(a, k);
    const uint64_t offset = static_cast<uint64_t>(subs[k - 1]) - d.a;
    if (offset >= d.v()) return X_FAIL;
    index = index * d.v() + offset;
  }
  result(vm) = name_of_slot(array_elements(a) + index);
  return X_NAME;
}

// --- DATA, constructors, field functions, VALUE, FIELD -----------------------------------------------

namespace {

// Definition block of a constructor: type code, type name, field names.
inline constexpr uint64_t DDEF_CODE = 1, DDEF_NAME = 2, DDEF_FIRST_FIELD = 3;

inline void advance_one(Spec& text) {
  text.second = Descr::make(text.second.a + 1, 0, text.length() - 1);
}

struct Token {
  uint64_t offset, length;
};

// NAME(F1,...,Fk) with at least one field and nothing after the closing parenthesis.
bool parse_data_prototype(const Descr& p, Token* name, std::vector<Token>* fields) {
  Spec text = Spec::of_string(p);
  Spec tok;
  ScanResult r = syntax_scan(SyntaxTable::PrototypeNameStart, text, &tok);
  if (r.outcome != ScanOutcome::Stopped || r.type != PROTO_LPAREN || tok.length() == 0) return false;
  *name = Token{tok.second.a, tok.length()};
  advance_one(text);
  for (;;) {
    r = syntax_scan(SyntaxTable::PrototypeNameStart, text, &tok);
    if (r.outcome != ScanOutcome::Stopped || r.type == PROTO_LPAREN) return false;
    if (tok.length() == 0) return false;
    fields->push_back(Token{tok.second.a, tok.length()});
    advance_one(text);
    if (r.type == PROTO_RPAREN) break;
  }
  return text.length() == 0 && !fields->empty();
}

// The field-access mechanism: the NAME of x's field at the offset that the pair list of
// (type code, offset) in the cell's second descriptor gives for x's type; with no cell, the
// static list of VALUE (STRING and NAME at offset 0).  The cell is taken before the argument
// is evaluated (nested calls change the current descriptor); cells never move.
Exit field_of(Vm& vm, const Descr* cell) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  Descr x = result(vm);
  if (is_null_string(x)) return error_stmt(vm, 8);
  if (x.v() == T_INTEGER) x = int_to_string(vm, x.ival());
  if (cell == nullptr) {
    if (x.v() != T_STRING && x.v() != T_NAME) return error_stmt(vm, 1);
    result(vm) = Descr::make(x.a, FLAG_POINTER, T_NAME);
    return X_NAME;
  }
  // The list is read only now: evaluating or converting may have moved it.
  const Descr* list = cell[1].ptr();
  const Descr* pair = locate_pair(const_cast<Descr*>(list), datatype_key(x.v()));
  if (pair == nullptr) return error_stmt(vm, 1);
  result(vm) = Descr::make(x.a + pair[2].a, FLAG_POINTER, T_NAME);
  return X_NAME;
}

}  // namespace

Exit field_access(Vm& vm) {
  return field_of(vm, static_cast<const Descr*>(vm.in.current_fd));
}

Exit bi_VALUE(Vm& vm) { return field_of(vm, nullptr); }

Exit data_constructor(Vm& vm) {
  const Descr* cell = static_cast<const Descr*>(vm.in.current_fd);
  const uint64_t nargs = vm.in.current_nargs;
  const uint64_t nfields = cell->v();
  StackMark mark(vm);
  sysstack_push(vm, cell[1]);  // the definition this call uses
  for (uint64_t i = 0; i < nargs; ++i) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    if (i < nfields) sysstack_push(vm, result(vm));
  }
  const Descr def = mark.base()[0];
  const uint64_t code = def.ptr()[DDEF_CODE].a;
  Descr obj = allocate_block(vm, 16 * nfields, code);
  Descr* o = obj.ptr();
  const Descr* args = mark.base() + 1;
  for (uint64_t i = 0; i < nfields; ++i) o[1 + i] = i < nargs ? args[i] : NULL_STRING;
  return succeed(vm, obj);
}

Descr make_data_object(Vm& vm, uint64_t code, const Descr* values, uint64_t count) {
  Descr obj = allocate_block(vm, 16 * count, code);
  for (uint64_t i = 0; i < count; ++i) obj.ptr()[1 + i] = values[i];
  return obj;
}

Exit bi_DATA(Vm& vm) {
  Descr p;
  if (string_operand(vm, &p) != X_VALUE) return X_FAIL;
  return define_data_type(vm, p);
}

Exit define_data_type(Vm& vm, const Descr& prototype) {
  StackMark mark(vm);
  const Descr p = prototype;
  sysstack_push(vm, p);
  Token tname;
  std::vector<Token> fields;
  if (!parse_data_prototype(p, &tname, &fields)) return error_stmt(vm, 6);
  auto token_var = [&](const Token& t) {
    return make_variable(vm, Spec{mark.base()[0], Descr::make(t.offset, 0, t.length)});
  };
  // Slots: [0] prototype, [1] type name, [2..] field names.
  const Descr tvar = token_var(tname);
  sysstack_push(vm, tvar);
  for (const Token& t : fields) {
    const Descr f = token_var(t);
    sysstack_push(vm, f);
  }
  if (vm.st.datatype_counter + 1 >= 1000000000) return error_stmt(vm, 13);
  const uint64_t code = ++vm.st.datatype_counter;
  const Descr key = datatype_key(code);
  add_pair(vm, SD_DATATYPES, key, mark.base()[1]);

  const uint64_t k = fields.size();
  for (uint64_t i = 0; i < k; ++i) {
    Descr* cell = function_cell(vm, mark.base()[2 + i], true);
    const Descr offset = Descr::make(16 * i, 0, 0);
    if (cell[0].a == reinterpret_cast<uint64_t>(&field_access) && cell[1].has(FLAG_POINTER)) {
      // Another type's field of the same name: one more pair (an empty one, or a longer list).
      Descr* list = cell[1].ptr();
      const uint64_t n = pair_count(list);
      bool placed = false;
      for (uint64_t j = 0; j < n && !placed; ++j) {
        Descr* pr = pair_at(list, j);
        if (pr[0] == ZERO_DESCR) {
          pr[0] = key;
          pr[1] = offset;
          placed = true;
        }
      }
      if (placed) continue;
      Descr grown = allocate_block(vm, 32 * (n + 1), T_PAIRLIST);  // cells never move
      list = cell[1].ptr();
      std::memcpy(static_cast<void*>(grown.ptr() + 1), list + 1, 32 * n);
      pair_at(grown.ptr(), n)[0] = key;
      pair_at(grown.ptr(), n)[1] = offset;
      cell[1] = Descr::pointer(grown.ptr(), T_PAIRLIST);
    } else {
      Descr list = allocate_block(vm, 32, T_PAIRLIST);
      pair_at(list.ptr(), 0)[0] = key;
      pair_at(list.ptr(), 0)[1] = offset;
      cell[0] = Descr::make(reinterpret_cast<uint64_t>(&field_access), 0, 1);
      cell[1] = Descr::pointer(list.ptr(), T_PAIRLIST);
    }
  }

  Descr* cell = function_cell(vm, mark.base()[1], true);
  Descr def = allocate_block(vm, 16 * (k + 2), code);
  Descr* d = def.ptr();
  d[DDEF_CODE] = key;
  for (uint64_t i = 0; i < k + 1; ++i) d[DDEF_NAME + i] = mark.base()[1 + i];
  cell[0] = Descr::make(reinterpret_cast<uint64_t>(&data_constructor), FLAG_FUNCTION, k);
  cell[1] = Descr::pointer(d, code);
  return succeed(vm, NULL_STRING);
}

Exit bi_FIELD(Vm& vm) {
  Descr t;
  if (string_operand(vm, &t) != X_VALUE) return X_FAIL;
  Pin pt(vm, t);
  int64_t i;
  if (integer_operand(vm, &i) != X_VALUE) return X_FAIL;
  if (i <= 0) return X_FAIL;
  const Descr* cell = function_cell(vm, *pt, false);
  if (cell == nullptr || cell[0].a != reinterpret_cast<uint64_t>(&data_constructor))
    return error_stmt(vm, 10);
  if (static_cast<uint64_t>(i) > cell[0].v()) return X_FAIL;
  return succeed(vm, cell[1].ptr()[DDEF_FIRST_FIELD + static_cast<uint64_t>(i) - 1]);
}

// --- COPY -------------------------------------------------------------------------------------------

Exit bi_COPY(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr x = result(vm);
  const uint64_t type = x.v();
  // Data objects are the types DATA entered; other codes (values of external functions) are
  // not blocks this program made.
  const bool copyable =
      type == T_ARRAY || type == T_PATTERN || type == T_CODE ||
      (type > T_DATA_BASE && type <= vm.st.datatype_counter &&
       locate_pair(sys(vm, SD_DATATYPES).ptr(), datatype_key(type)) != nullptr);
  if (!copyable || x.a == 0 || x.has(FLAG_FUNCTION) || !in_storage(vm, x.a))
    return error_stmt(vm, 1);
  Pin px(vm, x);
  Descr* title = find_title(x.a);
  const uint64_t body = title->v();
  const uint64_t offset = x.a - reinterpret_cast<uint64_t>(title);
  Descr copy = allocate_block(vm, body, type);
  title = find_title(px->a);
  std::memcpy(static_cast<void*>(copy.ptr() + 1), title + 1, body);
  copy.a += offset;
  return succeed(vm, copy);
}

// --- CONVERT between tables and arrays ---------------------------------------------------------------

Exit convert_table_to_array(Vm& vm, const Descr* table) {
  uint64_t r = 0;
  for (Descr* b = table->ptr(); b != nullptr; b = table_next(b)) {
    const uint64_t slots = table_slots(b);
    for (uint64_t i = 0; i < slots; ++i)
      if (!is_null_string(b[1 + 2 * i])) ++r;
  }
  if (r == 0) return X_FAIL;
  char buf[INTEGER_TEXT_MAX + 2];
  uint64_t len = format_integer(static_cast<int64_t>(r), buf);
  buf[len++] = ',';
  buf[len++] = '2';
  Pin proto(vm, make_variable(vm, buf, len));
  Descr block = allocate_block(vm, 16 * (4 + 2 * r), T_ARRAY);
  Descr* a = block.ptr();
  a[ARRAY_PROTO] = *proto;
  a[ARRAY_DIMS] = Descr::make(2, 0, 0);
  a[ARRAY_FIRST_DIM] = Descr::make(1, 0, 2);      // second dimension: 1..2
  a[ARRAY_FIRST_DIM + 1] = Descr::make(1, 0, r);  // first dimension: 1..r
  Descr* e = a + ARRAY_FIRST_DIM + 2;
  uint64_t row = 0;
  for (Descr* b = table->ptr(); b != nullptr; b = table_next(b)) {
    const uint64_t slots = table_slots(b);
    for (uint64_t i = 0; i < slots; ++i) {
      if (is_null_string(b[1 + 2 * i])) continue;
      e[row] = b[2 + 2 * i];
      e[row + r] = b[1 + 2 * i];
      ++row;
    }
  }
  return succeed(vm, block);
}

Exit convert_array_to_table(Vm& vm, const Descr* array) {
  const Descr* a = array->ptr();
  if (array_dims(a) != 2 || array_dim(a, 2).v() != 2) return X_FAIL;
  const uint64_t r = array_dim(a, 1).v();
  Descr t = make_table(vm, r, 10);
  Descr* tb = t.ptr();
  Descr* e = array_elements(array->ptr());
  for (uint64_t i = 0; i < r; ++i) {
    tb[1 + 2 * i] = e[i + r];
    tb[2 + 2 * i] = e[i];
  }
  return succeed(vm, t);
}

}  // namespace pellux
