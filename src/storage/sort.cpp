// SORT: reorders the rows of a one- or two-dimensional array by the values of one column.
//
// Equal keys are ordered by the row's position before sorting, so the order is total and any
// correct sort gives the one permutation the Shell sort below gives; the library sort is used.
// A key column holding a NaN has no total order, and then the Shell sort itself runs, so that
// the result is the one its particular sequence of comparisons produces.  The row references
// and the copy of the elements live outside the work space; nothing here allocates in it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "builtins/table.h"
#include "interp/errors.h"
#include "interp/interp.h"
#include "storage/aggregates.h"
#include "storage/convert.h"
#include "storage/storage.h"

namespace pellux {

namespace {

inline int sign_of(long double d) { return d < 0 ? -1 : d > 0 ? 1 : 0; }

inline bool is_nan_key(const Descr& d) { return d.v() == T_REAL && std::isnan(d.rval()); }

}  // namespace

int sort_compare(const Descr& x, const Descr& y) {
  const uint64_t tx = x.v(), ty = y.v();
  if (tx == T_INTEGER && ty == T_INTEGER) {
    return x.ival() < y.ival() ? -1 : x.ival() > y.ival() ? 1 : 0;
  }
  if (tx == T_REAL && ty == T_REAL) {
    const double a = x.rval(), b = y.rval();
    if (std::isnan(a) || std::isnan(b)) {
      const int64_t ia = x.ival(), ib = y.ival();
      return ia < ib ? -1 : ia > ib ? 1 : 0;
    }
    return a < b ? -1 : a > b ? 1 : 0;
  }
  if ((tx == T_INTEGER && ty == T_REAL && !std::isnan(y.rval())) ||
      (tx == T_REAL && ty == T_INTEGER && !std::isnan(x.rval()))) {
    // Compared exactly: every 64-bit integer and every double is exact in extended precision.
    const long double a = tx == T_INTEGER ? static_cast<long double>(x.ival()) : x.rval();
    const long double b = ty == T_INTEGER ? static_cast<long double>(y.ival()) : y.rval();
    return sign_of(a - b);
  }
  if (tx == T_STRING && ty == T_STRING && !x.has(FLAG_FUNCTION) && !y.has(FLAG_FUNCTION)) {
    if (x.a == y.a) return 0;
    const uint64_t lx = string_length(x), ly = string_length(y);
    const int c = std::memcmp(string_text(x), string_text(y), lx < ly ? lx : ly);
    if (c != 0) return c < 0 ? -1 : 1;
    return lx < ly ? -1 : lx > ly ? 1 : 0;
  }
  if (tx != ty) return tx < ty ? -1 : 1;
  return 0;
}

Exit bi_SORT(Vm& vm) {
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  const Descr arr = result(vm);
  if (arr.v() != T_ARRAY) return error_stmt(vm, 1);
  Pin pa(vm, arr);
  int64_t k;
  if (eval_value(vm) != X_VALUE) return X_FAIL;
  if (integer_argument(vm, result(vm), &k) != X_VALUE) return X_FAIL;

  Descr* a = pa->ptr();
  const uint64_t n = array_dims(a);
  result(vm) = *pa;
  if (n != 1 && n != 2) return X_VALUE;
  const uint64_t rows = array_dim(a, 1).v();
  const uint64_t cols = n == 2 ? array_dim(a, 2).v() : 1;
  const bool descending = k < 0;
  uint64_t column = k < 0 ? 0 - static_cast<uint64_t>(k) : static_cast<uint64_t>(k);
  if (column == 0) column = 1;
  if (column > cols || rows == 0) return X_VALUE;

  Descr* e = array_elements(a);
  const Descr* keys = e + rows * (column - 1);
  std::vector<uint64_t> order(rows);
  for (uint64_t i = 0; i < rows; ++i) order[i] = i;
  // True when row i must come after row j.
  auto after = [&](uint64_t i, uint64_t j) {
    int c = sort_compare(keys[i], keys[j]);
    if (descending) c = -c;
    return c != 0 ? c > 0 : i > j;
  };
  bool nan = false;
  for (uint64_t i = 0; i < rows && !nan; ++i) nan = is_nan_key(keys[i]);
  if (!nan) {
    std::sort(order.begin(), order.end(), [&](uint64_t i, uint64_t j) { return after(j, i); });
  } else {
    uint64_t gap = rows;
    do {
      gap = ((gap / 2) & ~uint64_t{1}) + 1;
      for (uint64_t i = gap; i < rows; ++i)
        for (uint64_t j = i; j >= gap && after(order[j - gap], order[j]); j -= gap)
          std::swap(order[j - gap], order[j]);
    } while (gap != 1);
  }

  // Whole rows, every column, moved to their new places.
  std::vector<Descr> copy(e, e + rows * cols);
  for (uint64_t i = 0; i < rows; ++i)
    for (uint64_t c = 0; c < cols; ++c) e[i + rows * c] = copy[order[i] + rows * c];
  return X_VALUE;
}

}  // namespace pellux
