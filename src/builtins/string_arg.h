// The string argument of a built-in function, as the string and bit functions take it.
#pragma once
#include <cstdint>

#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

// The longest string whose natural variable fits in the largest block.
inline constexpr uint64_t MAX_STRING_LENGTH = MAX_BLOCK_BODY - 48;

// A string argument.  A STRING stays in its block, held by the pin, so its text must be read
// again (text()) after anything that may allocate; an INTEGER or REAL is converted to its text
// in the local buffer, which never moves, and becomes a string value only if a result needs it.
// Objects of this class are created in argument order and live to the end of the procedure
// (the pins are last-in first-out).
class StringArg {
 public:
  explicit StringArg(Vm& vm) : pin_(vm, NULL_STRING) {}
  StringArg(const StringArg&) = delete;
  StringArg& operator=(const StringArg&) = delete;

  // Evaluates the next operand and converts it; X_FAIL when the evaluation fails or the value
  // is not a string or a number (error 1).  May allocate.
  Exit load(Vm& vm) {
    if (eval_value(vm) != X_VALUE) return X_FAIL;
    const Descr v = result(vm);
    if (is_string(v)) {
      pin_.set(v);
      len_ = string_length(v);
      return X_VALUE;
    }
    if (v.v() == T_INTEGER) {
      len_ = format_integer(v.ival(), buf_);
    } else if (v.v() == T_REAL) {
      len_ = format_real(vm, v.a, buf_);
    } else {
      return error_stmt(vm, 1);
    }
    number_ = true;
    return X_VALUE;
  }

  const char* text() const { return number_ ? buf_ : string_text(*pin_); }
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(text()); }
  uint64_t length() const { return len_; }
  bool is_number() const { return number_; }
  // The STRING descriptor when the argument was one (NULL_STRING for a number).
  const Descr& descr() const { return *pin_; }

  // The argument as a string value.  May allocate.
  Descr value(Vm& vm) const { return number_ ? make_variable(vm, buf_, len_) : *pin_; }
  // The `len` characters from `offset` as a string value (within the argument).  May allocate.
  Descr slice(Vm& vm, uint64_t offset, uint64_t len) const {
    if (offset == 0 && len == len_) return value(vm);
    if (number_) return make_variable(vm, buf_ + offset, len);
    return make_variable(vm, Spec{*pin_, Descr::make(VAR_HEADER + offset, 0, len)});
  }

 private:
  Pin pin_;
  uint64_t len_ = 0;
  bool number_ = false;
  char buf_[REAL_TEXT_MAX];
};

}  // namespace pellux
