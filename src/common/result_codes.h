// The result codes by name, for use inside the library. Each equals the
// public IFF_* value of the same meaning (iffjpeg.h documents when each is
// returned); 0 is success, and callers pass a non-zero code up unchanged.
// This header is a leaf: every stage folder may include it.
#pragma once

#include <cstdint>

#include "iffjpeg.h"

namespace iffjpeg {

enum ResultCode : int32_t {
  kOk = IFF_OK,
  kErrInvalid = IFF_ERR_INVALID,
  kErrUnsupported = IFF_ERR_UNSUPPORTED,
  kErrVariant = IFF_ERR_VARIANT,
  kErrMemory = IFF_ERR_MEMORY,
  kErrBadData = IFF_ERR_BAD_DATA,
  kErrOpen = IFF_ERR_OPEN,
  kErrClose = IFF_ERR_CLOSE,
  kErrDataEnded = IFF_ERR_DATA_ENDED,
  kErrWrite = IFF_ERR_WRITE,
};

// The modes both per-line drivers (DecompressControl, RunCompressPipeline)
// take: start, one line, finish the entropy-coded data, release all memory.
enum PipelineMode : int32_t {
  kPipelineStart = 0,
  kPipelineLine = 1,
  kPipelineFinish = 2,
  kPipelineRelease = 3,
};

}  // namespace iffjpeg
