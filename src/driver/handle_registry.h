// Maps the positive 32-bit values the host holds to live handles. A value is
// a slot number plus a generation count, so a closed handle's value is not
// issued again soon, and any value that is not live is recognised without
// touching the memory it might once have named.
#pragma once

#include <cstdint>

#include "driver/handle.h"

namespace iffjpeg {

// Registers a handle; returns its value (> 0), or 0 when every slot is taken.
int32_t RegisterHandle(IFFHandle* handle);
// The live handle for value, or null.
IFFHandle* LookUpHandle(int32_t value);
// Removes value from the registry and returns its handle, or null.
IFFHandle* UnregisterHandle(int32_t value);

}  // namespace iffjpeg
