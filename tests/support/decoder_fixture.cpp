#include "support/decoder_fixture.h"

#include <cstring>

#include "entropy/annex_k_tables.h"
#include "stream/byte_stream.h"

namespace iffjpeg_test {

using namespace iffjpeg;

StreamHandle::StreamHandle(std::vector<uint8_t> bytes)
    : file_(std::move(bytes)), handle_(new IFFHandle()) {
  IFFHandle& h = *handle_;
  PrepareHandle(h, file_.source()->ops);
  h.stream.fileId = h.stream.fileOps.open(file_.source(), IFF_OPEN_FLAGS_READ, IFF_OPEN_PERMISSION);
  AllocateStreamBuffer(h.stream, kStreamBufferSize);
  h.decoder.methods = &h.decoderMethods;
  h.decoder.memory = &h.memoryTable;
  installMemoryManager(h.memoryTable, h.decoder.pool);
}

StreamHandle::~StreamHandle() {
  IFFHandle& h = *handle_;
  h.memoryTable.freeAll(h.decoder.pool);
  ReleaseStreamBuffer(h.stream);
  h.stream.fileOps.close(h.stream.fileId);
}

std::size_t StreamHandle::BytesLeft() const {
  return handle_->stream.byteCount + (file_.data.size() - file_.position);
}

HuffTable MakeHuffTable(const std::vector<int>& counts, const std::vector<int>& symbols) {
  HuffTable table;
  std::memset(&table, 0, sizeof table);
  for (std::size_t l = 0; l < counts.size() && l < 16; ++l)
    table.bits[l + 1] = static_cast<uint8_t>(counts[l]);
  for (std::size_t i = 0; i < symbols.size() && i < 256; ++i)
    table.huffval[i] = static_cast<uint8_t>(symbols[i]);
  return table;
}

namespace {

// A slot filled from one of the library's Annex K tables.
HuffTable TableFrom(const uint8_t* bits, const uint8_t* values) {
  HuffTable table;
  std::memset(&table, 0, sizeof table);
  std::memcpy(table.bits, bits, sizeof table.bits);
  int total = 0;
  for (int l = 1; l <= 16; ++l) total += bits[l];
  std::memcpy(table.huffval, values, static_cast<std::size_t>(total));
  return table;
}

}  // namespace

HuffTable LuminanceDcTable() { return TableFrom(kDcLuminanceBits, kDcLuminanceValues); }

HuffTable LuminanceAcTable() { return TableFrom(kAcLuminanceBits, kAcLuminanceValues); }

std::vector<uint8_t> PackBits(const char* bits) {
  std::vector<uint8_t> out;
  int value = 0, count = 0;
  for (const char* p = bits; *p != '\0'; ++p) {
    if (*p != '0' && *p != '1') continue;
    value = (value << 1) | (*p - '0');
    if (++count == 8) {
      out.push_back(static_cast<uint8_t>(value));
      if (value == 0xFF) out.push_back(0x00);
      value = count = 0;
    }
  }
  if (count > 0) {
    value = (value << (8 - count)) | ((1 << (8 - count)) - 1);
    out.push_back(static_cast<uint8_t>(value));
    if (value == 0xFF) out.push_back(0x00);
  }
  return out;
}

}  // namespace iffjpeg_test
