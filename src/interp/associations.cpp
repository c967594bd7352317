// Input and output associations: the pair lists (variable, association block) in
// SD_INPUT_ASSOC and SD_OUTPUT_ASSOC, with a filter in front (see AssocFilter).
#include "interp/associations.h"

#include "interp/errors.h"
#include "io/io.h"
#include "storage/aggregates.h"
#include "platform/platform.h"
#include "storage/convert.h"

namespace pellux {

namespace {

// The natural variable a pair's first descriptor names, or nullptr for an empty pair or
// anything that is not a variable.
Descr* pair_variable(const Descr& first) {
  if ((first.a | first.fv) == 0 || first.a == 0 || !first.has(FLAG_POINTER)) return nullptr;
  Descr* var = first.ptr();
  return var->has(FLAG_STRING) ? var : nullptr;
}

}  // namespace

void rebuild_assoc_filter(Vm& vm, AssocFilter& f, SysSlot slot) {
  const Descr& list = sys(vm, slot);
  f.list = list.a;
  f.watch = nullptr;
  for (uint64_t& w : f.bits) w = 0;
  if (list.a == 0) return;
  Descr* title = list.ptr();
  Descr* body = title + 1;
  uint64_t pairs = title->v() / 32;
  for (uint64_t i = 0; i < pairs; ++i) {
    const Descr& first = body[2 * i];
    if ((first.a | first.fv) == 0) {
      if (f.watch == nullptr) f.watch = &first;
      continue;
    }
    if (Descr* var = pair_variable(first)) {
      uint64_t key = var_link(var).v() & 1023;
      f.bits[key >> 6] |= uint64_t{1} << (key & 63);
    }
  }
}

const Descr* find_association(Vm& vm, SysSlot slot, Descr* var) {
  const Descr& list = sys(vm, slot);
  if (list.a == 0) return nullptr;
  Descr* at = locate_pair(list.ptr(), Descr::pointer(var, T_STRING));
  if (at == nullptr) return nullptr;
  const Descr& block = at[2];
  if (block.a == 0 || !block.has(FLAG_POINTER)) return nullptr;  // detached
  return block.ptr();
}

namespace {

// Records up to this length are read straight into a reserved string; longer ones into a
// buffer outside the work space, so that a large record length costs work space only for
// what a record actually delivers.
constexpr uint64_t DIRECT_RECORD_MAX = 65536;

// The outcome of a read that delivered no record, as the fetch reports it.
Exit read_failure(Vm& vm, ReadOutcome outcome) {
  if (outcome == ReadOutcome::EndOfFile) return X_FAIL;
  return error_stmt(vm, 11);
}

// The DirEnt object of the entry a directory read delivered, as the variable's value.
Exit directory_entry(Vm& vm, const Pin& var) {
  StackMark mark(vm);
  const IoState& io = vm.io;
  Descr v = make_variable(vm, io.entry_name.data(), io.entry_name.size());
  sysstack_push(vm, v);
  v = make_variable(vm, io.entry_type, std::strlen(io.entry_type));
  sysstack_push(vm, v);
  v = make_variable(vm, io.entry_date, 23);
  sysstack_push(vm, v);
  sysstack_push(vm, Descr::integer(io.entry_size));
  const Descr entry = make_data_object(vm, io.dirent_code, mark.base(), 4);
  var_value(var->ptr()) = entry;
  result(vm) = entry;
  return X_VALUE;
}

// The delivered length after &TRIM: trailing blanks removed.
uint64_t trimmed(const Vm& vm, const char* text, uint64_t delivered) {
  if (ukw_int(vm, K_TRIM) != 0)
    while (delivered > 0 && text[delivered - 1] == ' ') --delivered;
  return delivered;
}

// The side buffer for long records: `size` bytes, kept between reads.
char* record_buffer(Vm& vm, uint64_t size) {
  IoState& io = vm.io;
  if (io.record_buffer_size < size) {
    if (io.record_buffer != nullptr) platform::area_release(io.record_buffer, io.record_buffer_size);
    io.record_buffer = static_cast<char*>(platform::area_obtain(size));
    io.record_buffer_size = io.record_buffer != nullptr ? size : 0;
    if (io.record_buffer == nullptr) error_fatal(vm, 20);
  }
  return io.record_buffer;
}

}  // namespace

Exit input_fetch(Vm& vm, Descr* var, const Descr* assoc) {
  // Read everything needed from the association block before reserving: reserving may move it.
  int64_t unit = assoc[1].ival();
  uint64_t length = assoc[2].a;
  // A zero record length would be the first-line probe of the reader; an association always
  // reads records, so it gets the default input record length.
  if (length == 0) length = 80;
  vm.io.reads += 1;
  const int64_t maxlen = ukw_int(vm, K_MAXLNGTH);

  Pin pv(vm, Descr::pointer(var, T_STRING));
  uint64_t delivered = 0;
  Descr s;
  if (length <= DIRECT_RECORD_MAX) {
    char* text = reserve_string(vm, length);
    uint64_t hash;
    ReadOutcome outcome = read_record(vm, unit, text, length, &delivered, &hash);
    if (outcome != ReadOutcome::Record) {
      finish_string(vm, 0);
      if (outcome == ReadOutcome::DirEntry) return directory_entry(vm, pv);
      return read_failure(vm, outcome);
    }
    if (delivered > length) delivered = length;
    const uint64_t raw = delivered;
    delivered = trimmed(vm, text, delivered);
    if (static_cast<int64_t>(delivered) > maxlen) {
      finish_string(vm, 0);
      return error_stmt(vm, 15);
    }
    // The reader may know the hash of what it delivered (before trimming).
    s = hash != NO_KNOWN_HASH && delivered == raw ? finish_string_hashed(vm, delivered, hash)
                                                  : finish_string(vm, delivered);
  } else {
    // A record longer than &MAXLNGTH is an error whatever it holds, so no more than one byte
    // beyond that is ever read into the buffer.
    uint64_t size = length;
    if (maxlen >= 0 && size > static_cast<uint64_t>(maxlen) + 1) size = static_cast<uint64_t>(maxlen) + 1;
    char* text = record_buffer(vm, size);
    ReadOutcome outcome = read_record(vm, unit, text, size, &delivered);
    if (outcome == ReadOutcome::DirEntry) return directory_entry(vm, pv);
    if (outcome != ReadOutcome::Record) return read_failure(vm, outcome);
    if (delivered > size) delivered = size;
    delivered = trimmed(vm, text, delivered);
    if (static_cast<int64_t>(delivered) > maxlen) return error_stmt(vm, 15);
    s = make_variable(vm, text, delivered);
  }
  var_value(pv->ptr()) = s;
  result(vm) = s;
  return X_VALUE;
}

void output_write(Vm& vm, const Descr& value, const Descr* assoc) {
  int64_t unit = assoc[1].ival();
  char buf[REAL_TEXT_MAX];  // a real is long when &FLTDEC is large
  const char* text;
  uint64_t len;
  if (value.v() == T_STRING && !value.has(FLAG_FUNCTION)) {
    text = string_text(value);
    len = string_length(value);
  } else if (value.v() == T_INTEGER) {
    len = format_integer(value.ival(), buf);
    text = buf;
  } else if (value.v() == T_REAL) {
    len = format_real(vm, value.a, buf);
    text = buf;
  } else {
    Descr s = string_form(vm, value);
    text = string_text(s);
    len = string_length(s);
  }
  vm.io.writes += 1;
  write_record(vm, unit, text, len);
}

}  // namespace pellux
