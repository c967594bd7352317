// The I/O part of the Vm: the unit table and the first-line option field.
#pragma once
#include <cstdint>

namespace pellux {

struct UnitRecord;  // io/units.h

inline constexpr int UNIT_COUNT = 1000;

struct IoState {
  UnitRecord* units[UNIT_COUNT] = {};
  char first_line[256] = {};      // options delivered by the first-line probe
  bool first_line_present = false;
  uint64_t reads = 0;              // input association transfers
  uint64_t writes = 0;             // output association transfers
  char* record_buffer = nullptr;   // long records of input associations are read here
  uint64_t record_buffer_size = 0;
};

}  // namespace pellux
