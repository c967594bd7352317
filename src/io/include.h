// Include lines and the SNOPATH search, inside the record reader and the opening of units.
#pragma once
#include <cstdint>

#include "io/io.h"
#include "io/units.h"
#include "vm.h"

namespace pellux {

// Called after a text record that began with "-" was read on a unit with the include bit.
// False when the record is not an include line (it is delivered as it is).  For one, the
// unit's slot takes a new record for the included file (its outer record the current one) and
// true is returned, with *failed set when the include cannot be taken up (an empty or
// unusable name, or nesting too deep): the read then gives the error outcome.
bool take_include(Vm& vm, int64_t unit, const char* record, uint64_t length, bool* failed);

// After an included file was opened: true when it is one of the files that include it (a
// cycle), which is reported on the console.
bool include_cycle(const UnitRecord* u);

// Looks for a file that did not open under its plain name in each SNOPATH directory (taken
// relative to the start-up directory); on success the unit's name becomes the path found.
platform::Handle search_snopath(Vm& vm, UnitRecord* u);

}  // namespace pellux
