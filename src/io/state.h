// The I/O part of the Vm: the unit table and the first-line option field.
#pragma once
#include <cstdint>
#include <string>

namespace pellux {

struct UnitRecord;  // io/units.h

inline constexpr int UNIT_COUNT = 1000;

struct IoState {
  UnitRecord* units[UNIT_COUNT] = {};
  char first_line[256] = {};      // options delivered by the first-line probe
  bool first_line_present = false;
  uint64_t reads = 0;              // input association transfers
  uint64_t writes = 0;             // output association transfers
  uint64_t dirent_code = 0;        // data type of directory entries (DirEnt)
  // The entry a directory read delivered: name, type text, date text, size.
  std::string entry_name;
  const char* entry_type = "";
  char entry_date[24] = {};
  int64_t entry_size = 0;
  UnitRecord* stdin_buffer = nullptr;  // read-ahead of standard input, shared by its units
  char* record_buffer = nullptr;   // long records of input associations are read here
  uint64_t record_buffer_size = 0;
};

}  // namespace pellux
