#include "driver/handle.h"

namespace iffjpeg {

void PrepareHandle(IFFHandle& handle, const IFFFileOps& fileOps) {
  handle.stream.fileOps = fileOps;
  handle.lineCounter = 0;
  handle.lastError = 0;
  handle.controlOption = 3;
  handle.stream.byteCount = 0;
  handle.stream.bufferStart = nullptr;
  handle.stream.fileId = -1;
  handle.stream.lastError = &handle.lastError;
  handle.stream.rows.rowIndex = &handle.decomp.mcuRowIndex;
  handle.stream.rows.rowInBand = &handle.decomp.mcuRowInBand;
  handle.stream.rows.rowsInScan = &handle.decoder.mcuRowsInScan;
}

}  // namespace iffjpeg
