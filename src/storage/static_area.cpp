// The static area (titled blocks outside the work space that never move), the start-up tables
// and their conversion to variables, pair lists and function descriptor cells.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "pattern/nodes.h"
#include "platform/platform.h"
#include "storage/intern_index.h"
#include "storage/storage.h"

namespace pellux {

namespace {

constexpr uint64_t STATIC_AREA_BYTES = 64ull << 20;  // reserved; pages are used as blocks grow
constexpr uint64_t CELL_CHUNK_DESCRS = 512;          // function cells per static block: 256

constexpr const char* DATATYPE_NAMES[] = {"STRING", "INTEGER", "PATTERN", "ARRAY", "REAL",
                                          "CODE", "NAME", "NAME", "EXPRESSION", "TABLE"};
constexpr uint64_t DATATYPE_CODES[] = {T_STRING, T_INTEGER, T_PATTERN, T_ARRAY, T_REAL,
                                       T_CODE, T_NAME, T_KNAME, T_EXPRESSION, T_TABLE};
constexpr int DATATYPE_COUNT = 10;

constexpr const char* UKW_NAMES[K_UNPROTECTED_COUNT] = {
    "TRIM", "TRACE", "STLIMIT", "FLTDEC", "FLTSIG", "STAT", "OUTPUT", "MAXLNGTH", "IOERR",
    "INPUT", "FULLSCAN", "FTRACE", "ERRLIMIT", "DUMP", "CODE", "ANCHOR", "ABEND"};
constexpr int64_t UKW_VALUES[K_UNPROTECTED_COUNT] = {
    0, 0, 9223372036854775807, 12, 14, 0, 1, 63999999952, 0, 1, 0, 0, 0, 0, 0, 0, 0};

constexpr const char* PKW_NAMES[P_PROTECTED_COUNT] = {
    "ERRTYPE", "ARB",   "BAL",  "FENCE",    "ABORT",   "FAIL",     "MAXARB", "REM",  "SUCCEED",
    "STFCOUNT", "LASTNO", "RTNTYPE", "STNO", "ALPHABET", "OS",      "UC",     "lc",   "DIG",
    "STCOUNT", "FNCLEVEL", "PARM", "INFINITY", "NAN",    "PI",      "E"};

// The pattern keywords, and the order in which their values are copied to the variables of the
// same names.
constexpr PKw PATTERN_KEYWORDS[] = {P_ARB, P_BAL, P_FENCE, P_ABORT, P_FAIL, P_MAXARB, P_REM, P_SUCCEED};
constexpr PKw PATTERN_COPY_ORDER[] = {P_ABORT, P_ARB, P_BAL, P_FAIL, P_FENCE, P_MAXARB, P_REM, P_SUCCEED};

constexpr const char* TRACE_NAMES[] = {"VALUE", "LABEL", "CALL", "RETURN", "KEYWORD"};

struct AssocDef {
  const char* name;
  int64_t unit;
  int64_t length;
};
constexpr AssocDef INPUT_ASSOCS[] = {{"INPUT", 5, 80}, {"TERMINAL", 97, 256}};
// Output associations carry a record length that does not limit what is written.
constexpr AssocDef OUTPUT_ASSOCS[] = {{"OUTPUT", 6, 0}, {"PUNCH", 7, 0}, {"TERMINAL", 98, 0}};

constexpr uint64_t FNAME_SPARE_PAIRS = 10;

[[noreturn]] void area_refused(uint64_t size) {
  platform::diag_last_error();
  platform::diag_write("Failed to allocate memory area of");
  platform::diag_decimal(static_cast<int64_t>(size));
  platform::diag_write(" bytes\r\n");
  platform::diag_write("Exiting Process\r\n");
  platform::exit_process(1);
}

void* obtain_area(uint64_t size) {
  void* p = platform::area_obtain(size);
  if (p == nullptr) area_refused(size);
  return p;
}

// A new static block, or nullptr when the static area is full.
Descr* static_block(Vm& vm, uint64_t ndescr) {
  Storage& st = vm.st;
  uint64_t len = 16 + 16 * ndescr;
  if (len > static_cast<uint64_t>(st.static_limit - st.static_end)) return nullptr;
  Descr* t = reinterpret_cast<Descr*>(st.static_end);
  t->a = reinterpret_cast<uint64_t>(t);
  t->fv = ((16 * ndescr) << 8) | FLAG_TITLE | FLAG_MARK;
  std::memset(t + 1, 0, 16 * ndescr);
  st.static_end += len;
  return t;
}

Descr* static_list(Vm& vm, uint64_t pairs, SysSlot slot) {
  Descr* t = static_block(vm, 2 * pairs);
  if (slot != SD_COUNT) vm.st.sys[slot] = Descr::pointer(t, T_PAIRLIST);
  return t;
}

// The names of the function-name list, pair by pair.
template <typename F>
void for_each_function_name(F&& f) {
  uint64_t pair = 0;
  char lower[32];
  auto lower_of = [&](const char* s) {
    size_t i = 0;
    for (; s[i] != 0 && i + 1 < sizeof lower; ++i) {
      char c = s[i];
      lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    lower[i] = 0;
    return static_cast<const char*>(lower);
  };
  for (int i = 0; i < BUILTIN_COUNT; ++i) {
    const BuiltinDef& b = BUILTINS[i];
    f(pair++, i, b.name);
    if (b.lower_case) f(pair++, i, lower_of(b.name));
    if (b.alias != nullptr) {
      f(pair++, i, b.alias);
      if (b.lower_case) f(pair++, i, lower_of(b.alias));
    }
  }
}

uint64_t function_name_count() {
  uint64_t n = 0;
  for_each_function_name([&](uint64_t, int, const char*) { ++n; });
  return n;
}

inline Descr function_pointer(const Descr* cell) {
  return Descr::make(reinterpret_cast<uint64_t>(cell), FLAG_FUNCTION | FLAG_POINTER, 0);
}

// Converts the names of a list of (first, name) pairs, from its last pair to its first.
void name_pairs(Vm& vm, Descr* list, const char* const* names, uint64_t count, int which) {
  for (uint64_t i = count; i-- > 0;) {
    Descr s = make_variable(vm, names[i]);
    pair_at(list, i)[which] = s;
  }
}

}  // namespace

// --- Static area ----------------------------------------------------------------------------------

Descr* static_alloc(Vm& vm, uint64_t ndescr) {
  Descr* t = static_block(vm, ndescr);
  if (t == nullptr) {
    platform::diag_write("#### static area exhausted\r\n");
    std::abort();
  }
  return t + 1;
}

// --- Start-up -----------------------------------------------------------------------------------

void storage_prepare(Vm& vm) {
  Storage& st = vm.st;

  st.static_start = static_cast<uint8_t*>(obtain_area(STATIC_AREA_BYTES));
  st.static_end = st.static_start;
  st.static_limit = st.static_start + STATIC_AREA_BYTES;
  st.static_area_size = STATIC_AREA_BYTES;

  // The chain heads: a permanently marked block of their own, outside the static sequence (the
  // chains are weak roots and are visited separately).
  st.bins_area_size = 16 * (BIN_COUNT + 2);
  st.bins_area = obtain_area(st.bins_area_size);
  Descr* bt = static_cast<Descr*>(st.bins_area);
  bt->a = reinterpret_cast<uint64_t>(bt);
  bt->fv = ((16 * (BIN_COUNT + 1)) << 8) | FLAG_TITLE | FLAG_MARK;
  st.bins = bt + 1;
  for (uint64_t b = 0; b < BIN_COUNT; ++b) st.bins[b] = Descr::make(0, FLAG_POINTER, 0);

  // The system descriptors come first so that the lists can be recorded in them.
  Descr* types = static_block(vm, 2 * DATATYPE_COUNT);
  Descr* ukw = static_block(vm, 2 * K_UNPROTECTED_COUNT);
  Descr* pkw = static_block(vm, 2 * P_PROTECTED_COUNT);
  st.sys = static_block(vm, SD_COUNT) + 1;
  st.ukw = ukw + 1;
  st.pkw = pkw + 1;
  st.sys[SD_DATATYPES] = Descr::pointer(types, T_PAIRLIST);
  for (int i = 0; i < DATATYPE_COUNT; ++i) pair_at(types, i)[0] = datatype_key(DATATYPE_CODES[i]);

  // Built-in function descriptors: entry, argument count (APPLY accepts any count); the second
  // descriptor is free for definition data.  These originals are private: every function name
  // gets a cell of its own holding a copy, so that DEFINE, OPSYN and UNLOAD of one name leave
  // the other names of the same built-in (and element references, which call ITEM's original)
  // alone.
  st.builtin_fds = static_block(vm, 2 * BUILTIN_COUNT) + 1;
  for (int i = 0; i < BUILTIN_COUNT; ++i) {
    st.builtin_fds[2 * i] = Descr::make(reinterpret_cast<uint64_t>(BUILTINS[i].proc),
                                        BUILTINS[i].any_count ? FLAG_FUNCTION : 0,
                                        static_cast<uint64_t>(BUILTINS[i].nargs));
  }
  const uint64_t name_count = function_name_count();
  Descr* name_cells = static_block(vm, 2 * name_count) + 1;
  Descr* fnames = static_list(vm, name_count + FNAME_SPARE_PAIRS, SD_FNAMES);
  for_each_function_name([&](uint64_t pair, int fn, const char*) {
    Descr* cell = name_cells + 2 * pair;
    cell[0] = st.builtin_fds[2 * fn];
    cell[1] = st.builtin_fds[2 * fn + 1];
    pair_at(fnames, pair)[0] = function_pointer(cell);
  });

  // Unprotected keywords.
  for (int k = 0; k < K_UNPROTECTED_COUNT; ++k) st.ukw[2 * k] = Descr::integer(UKW_VALUES[k]);

  // Protected keywords.  The built-in patterns live in static blocks of their own, made here
  // with their nodes.
  for (int k = 0; k < P_PROTECTED_COUNT; ++k) st.pkw[2 * k] = Descr::integer(0);
  for (PKw k : PATTERN_KEYWORDS) {
    Descr* block = static_block(vm, builtin_pattern_slots(k));
    fill_builtin_pattern(k, block + 1);
    st.pkw[2 * k] = Descr::make(reinterpret_cast<uint64_t>(block), 0, T_PATTERN);
  }
  for (PKw k : {P_RTNTYPE, P_ALPHABET, P_OS, P_UC, P_LC, P_DIG, P_PARM}) st.pkw[2 * k] = NULL_STRING;
  st.pkw[2 * P_INFINITY] = Descr::real_bits(0x7FF0000000000000ull);
  st.pkw[2 * P_NAN] = Descr::real_bits(0x7FF8000000000000ull);
  // pi and e in extended precision, rounded to double: pi = arccos(-1), e = 2^log2(e).
  long double pi = std::acos(-1.0L);
  long double log2e = 1.442695040888963407359924681001892137L;
  long double e = std::exp2(log2e);
  st.pkw[2 * P_PI] = Descr::real(static_cast<double>(pi));
  st.pkw[2 * P_E] = Descr::real(static_cast<double>(e));

  // Association blocks (unit, record length) and the association lists.
  Descr* in_list = static_list(vm, 2, SD_INPUT_ASSOC);
  Descr* out_list = static_list(vm, 3, SD_OUTPUT_ASSOC);
  for (uint64_t i = 0; i < 2; ++i) {
    Descr* block = static_block(vm, 2);
    block[1] = Descr::integer(INPUT_ASSOCS[i].unit);
    block[2] = Descr::integer(INPUT_ASSOCS[i].length);
    pair_at(in_list, i)[1] = Descr::pointer(block, 0);
  }
  for (uint64_t i = 0; i < 3; ++i) {
    Descr* block = static_block(vm, 2);
    block[1] = Descr::integer(OUTPUT_ASSOCS[i].unit);
    block[2] = Descr::integer(OUTPUT_ASSOCS[i].length);
    pair_at(out_list, i)[1] = Descr::pointer(block, 0);
  }

  // Trace kinds.
  Descr* traces = static_list(vm, 5, SD_TRACE_TYPES);
  for (uint64_t i = 0; i < 5; ++i) pair_at(traces, i)[0] = Descr::integer(static_cast<int64_t>(i + 1));

  for (int s = SD_STR_NULL; s <= SD_STR_FUNCTION; ++s) st.sys[s] = NULL_STRING;

  // The system stack.
  Descr* stack = static_cast<Descr*>(obtain_area(SYSSTACK_BYTES));
  st.stack.base = stack;
  st.stack.top = stack;
  st.stack.end = stack + SYSSTACK_BYTES / sizeof(Descr);
  st.stack.limit = st.stack.end - SYSSTACK_RESERVE_SLOTS;

  st.stress_period = 1;
}

// The part of the work space given large pages.
constexpr uint64_t LARGE_PAGE_SPAN = uint64_t{32} << 20;

void storage_init(Vm& vm, uint64_t work_size) {
  Storage& st = vm.st;
  if (work_size == 0) work_size = DEFAULT_WORK_SIZE;
  uint64_t size = (work_size + 4095) & ~uint64_t{4095};
  st.ws_start = static_cast<uint8_t*>(obtain_area(size));
  // The first cycle runs the free pointer through fresh memory up to the soft limit, which is
  // the hard limit until the first regeneration: large pages make that cheaper.  Only the
  // first megabytes get them, so a very large work space is not left to wait on the kernel
  // finding large pages.
  platform::area_prefer_large_pages(st.ws_start, size < LARGE_PAGE_SPAN ? size : LARGE_PAGE_SPAN);
  st.ws_size = size;
  st.hard_limit = st.ws_start + size;
  st.free_ptr = st.ws_start;
  st.soft_limit = st.hard_limit;
  // The block-start map of regeneration (pages are used only as far as the heap reaches);
  // without it regeneration steps back to titles one descriptor at a time.
  st.start_map_bytes = ((size / 16 + 63) / 64 + 1) * 8;
  st.start_map = static_cast<uint64_t*>(platform::area_obtain(st.start_map_bytes));
  if (st.start_map == nullptr) st.start_map_bytes = 0;
  // Room to list every block of a work space full of the smallest live blocks would be as
  // large as the work space; a list of one entry per 64 bytes covers every heap that is not
  // mostly tiny live blocks, and regeneration walks the heap when it overflows.
  st.live_list_cap = size / 64 + 1024;
  st.live_list = static_cast<uint64_t*>(platform::area_obtain(st.live_list_cap * sizeof(uint64_t)));
  if (st.live_list == nullptr) st.live_list_cap = 0;

#ifdef PELLUX_GC_STRESS
  if (const char* p = std::getenv("PELLUX_GC_PERIOD")) {
    char* end = nullptr;
    unsigned long long n = std::strtoull(p, &end, 10);
    set_stress_period(vm, (end != p && n > 0) ? n : 1);
  } else {
    set_stress_period(vm, 1);
  }
#endif

  // Without its index the variable table still works, through the chains alone.
  intern::start(st);

  // Names of the static lists become variables, each list from its last pair to its first.
  Descr* traces = pair_list(vm, SD_TRACE_TYPES);
  name_pairs(vm, traces, TRACE_NAMES, 5, 1);
  Descr* out_list = pair_list(vm, SD_OUTPUT_ASSOC);
  for (uint64_t i = 3; i-- > 0;) {
    Descr s = make_variable(vm, OUTPUT_ASSOCS[i].name);
    pair_at(out_list, i)[0] = s;
  }
  for (int k = P_PROTECTED_COUNT; k-- > 0;) {
    Descr s = make_variable(vm, PKW_NAMES[k]);
    st.pkw[2 * k + 1] = s;
  }
  for (int k = K_UNPROTECTED_COUNT; k-- > 0;) {
    Descr s = make_variable(vm, UKW_NAMES[k]);
    st.ukw[2 * k + 1] = s;
  }
  Descr* in_list = pair_list(vm, SD_INPUT_ASSOC);
  for (uint64_t i = 2; i-- > 0;) {
    Descr s = make_variable(vm, INPUT_ASSOCS[i].name);
    pair_at(in_list, i)[0] = s;
  }
  {
    uint64_t n = function_name_count();
    const char* names[BUILTIN_COUNT * 4];
    char lower[BUILTIN_COUNT * 4][32];
    for_each_function_name([&](uint64_t pair, int, const char* name) {
      const size_t len = std::min(std::strlen(name), sizeof lower[pair] - 1);
      std::memcpy(lower[pair], name, len);
      lower[pair][len] = 0;
      names[pair] = lower[pair];
    });
    Descr* fnames = pair_list(vm, SD_FNAMES);
    name_pairs(vm, fnames, names, n, 1);
    for (uint64_t i = 0; i < n; ++i) {
      Descr* p = pair_at(fnames, i);
      st.function_index.emplace(std::string(names[i]), p[0].ptr());
    }
  }
  Descr* types = pair_list(vm, SD_DATATYPES);
  name_pairs(vm, types, DATATYPE_NAMES, DATATYPE_COUNT, 1);

  // System strings.
  static constexpr struct {
    SysSlot slot;
    const char* text;
  } SYSTEM_STRINGS[] = {{SD_STR_EXTERNAL, "EXTERNAL"}, {SD_STR_END, "END"},     {SD_STR_END_LC, "end"},
                        {SD_STR_RETURN, "RETURN"},     {SD_STR_FRETURN, "FRETURN"},
                        {SD_STR_NRETURN, "NRETURN"},   {SD_STR_FUNCTION, "FUNCTION"}};
  st.sys[SD_STR_NULL] = NULL_STRING;
  for (const auto& s : SYSTEM_STRINGS) {
    Descr v = make_variable(vm, s.text);
    st.sys[s.slot] = v;
  }

  // Keyword values made at start-up.
  char alphabet[256];
  for (int i = 0; i < 256; ++i) alphabet[i] = static_cast<char>(i);
  Descr v = make_variable(vm, alphabet, 256);
  st.pkw[2 * P_ALPHABET] = v;
  v = make_variable(vm, platform::os_name());
  st.pkw[2 * P_OS] = v;
  v = make_variable(vm, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  st.pkw[2 * P_UC] = v;
  v = make_variable(vm, "abcdefghijklmnopqrstuvwxyz");
  st.pkw[2 * P_LC] = v;
  v = make_variable(vm, "0123456789");
  st.pkw[2 * P_DIG] = v;
  v = vm.rt.parm != nullptr ? make_variable(vm, vm.rt.parm, vm.rt.parm_length) : NULL_STRING;
  st.pkw[2 * P_PARM] = v;

  // ARB and &ARB (and the other pattern keywords) give the same built-in pattern.
  for (PKw k : PATTERN_COPY_ORDER) {
    Descr name = make_variable(vm, PKW_NAMES[k]);
    var_value(name.ptr()) = st.pkw[2 * k];
  }

  st.initialised = true;
}

void storage_release(Vm& vm) {
  Storage& st = vm.st;
  intern::release(st);
  if (st.ws_start != nullptr) platform::area_release(st.ws_start, st.ws_size);
  if (st.start_map != nullptr) platform::area_release(st.start_map, st.start_map_bytes);
  if (st.live_list != nullptr) platform::area_release(st.live_list, st.live_list_cap * sizeof(uint64_t));
  if (st.static_start != nullptr) platform::area_release(st.static_start, st.static_area_size);
  if (st.bins_area != nullptr) platform::area_release(st.bins_area, st.bins_area_size);
  if (st.stack.base != nullptr) platform::area_release(st.stack.base, SYSSTACK_BYTES);
  st = Storage{};
}

// --- Pair lists ---------------------------------------------------------------------------------

Descr* locate_pair(Descr* list, const Descr& key) {
  uint64_t n = pair_count(list);
  Descr* p = list + 1;
  for (uint64_t i = 0; i < n; ++i, p += 2) {
    if (p[0] == key) return p - 1;
  }
  return nullptr;
}

Descr* locate_pair_second(Descr* list, const Descr& key) {
  uint64_t n = pair_count(list);
  Descr* p = list + 1;
  for (uint64_t i = 0; i < n; ++i, p += 2) {
    if (p[1] == key) return p - 1;
  }
  return nullptr;
}

void add_pair(Vm& vm, SysSlot slot, const Descr& first, const Descr& second) {
  Descr* list = pair_list(vm, slot);
  uint64_t n = pair_count(list);
  for (uint64_t i = 0; i < n; ++i) {
    Descr* p = pair_at(list, i);
    if (p[0] == ZERO_DESCR) {
      p[0] = first;
      p[1] = second;
      return;
    }
  }
  // Full: the list is copied into a larger block (type 2) with the new pair after the old
  // ones.  It grows by a quarter so that a long run of additions copies the list only a
  // logarithmic number of times; the pairs beyond the new one stay empty for later additions.
  Pin pf(vm, first);
  Pin ps(vm, second);
  uint64_t pairs = n + n / 4 + 1;
  Descr grown = allocate_block(vm, 32 * pairs, T_PAIRLIST);
  list = pair_list(vm, slot);
  Descr* nb = grown.ptr();
  std::memcpy(static_cast<void*>(nb + 1), list + 1, 32 * n);
  pair_at(nb, n)[0] = *pf;
  pair_at(nb, n)[1] = *ps;
  vm.st.sys[slot] = Descr::pointer(nb, T_PAIRLIST);
}

// --- Function descriptor cells ----------------------------------------------------------------

Descr* function_cell(Vm& vm, const Descr& name, bool create) {
  if (name.a == 0) return nullptr;
  Storage& st = vm.st;
  // The index by text finds a name among hundreds in one probe; the pair list stays the record
  // that keeps the names alive and that the rest of the system reads.
  const std::string_view text(string_text(name), string_length(name));
  auto hit = st.function_index.find(text);
  if (hit != st.function_index.end()) return hit->second;
  if (!create) return nullptr;
  if (st.cell_next == st.cell_end) {
    Descr* chunk = static_block(vm, CELL_CHUNK_DESCRS);
    if (chunk == nullptr) error_fatal(vm, 20);
    st.cell_next = chunk + 1;
    st.cell_end = chunk + 1 + CELL_CHUNK_DESCRS;
  }
  Descr* cell = st.cell_next;
  st.cell_next += 2;
  cell[0] = *op_descriptor(vm, OP_UNDEFINED);
  cell[1] = ZERO_DESCR;
  st.function_index.emplace(std::string(text), cell);
  add_pair(vm, SD_FNAMES, function_pointer(cell), name);
  return cell;
}

}  // namespace pellux
