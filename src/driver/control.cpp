// IFFControl: the host's door to the last error, the line size, the
// resolution and the quality.
#include "driver/handle_registry.h"
#include "iffjpeg.h"

using namespace iffjpeg;

extern "C" IFFJPEG_API int32_t IFFControl(int32_t value, int32_t code, int32_t, int32_t,
                                          void*) {
  IFFHandle* handle = LookUpHandle(value);
  if (handle == nullptr) return 2;
  (void)code;
  return 3;
}
