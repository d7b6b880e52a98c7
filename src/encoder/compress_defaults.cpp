// The parameters every written file starts from: a JFIF header, YCbCr
// sampled 2x2,1x1,1x1, and the example tables of T.81 Annex K.
#include "encoder/compress_defaults.h"

#include <cstring>

#include "common/result_codes.h"
#include "driver/stages.h"

namespace iffjpeg {

const uint16_t kLuminanceQuantTable[64] = {
    16, 11, 12,  14,  12,  10, 16, 14,  13,  14,  18,  17,  16, 19,  24,  40,
    26, 24, 22,  22,  24,  49, 35, 37,  29,  40,  58,  51,  61, 60,  57,  51,
    56, 55, 64,  72,  92,  78, 64, 68,  87,  69,  55,  56,  80, 109, 81,  87,
    95, 98, 103, 104, 103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

const uint16_t kChrominanceQuantTable[64] = {
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

namespace {

struct DefaultComponent {
  int16_t id, h, v, quantTable, dcTable, acTable;
};

// Y at full resolution, Cb and Cr at half resolution in both directions.
constexpr DefaultComponent kDefaultComponents[3] = {
    {1, 2, 2, 0, 0, 0}, {2, 1, 1, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};

}  // namespace

int32_t QualityScale(int32_t quality) {
  if (quality <= 0) quality = 1;
  if (quality > 100) quality = 100;
  return quality < 50 ? 5000 / quality : 200 - 2 * quality;
}

bool ScaleQuantTable(EncoderState& enc, int32_t slot, const uint16_t* base, int32_t scale,
                     int32_t forceBaseline) {
  QuantTable*& table = enc.quantTables[slot];
  if (table == nullptr) {
    table = static_cast<QuantTable*>(enc.memory->allocSmall(sizeof(QuantTable), enc.pool));
    if (table == nullptr) return false;
  }
  for (int k = 0; k < 64; ++k) {
    int32_t value = (static_cast<int32_t>(base[k]) * scale + 50) / 100;
    if (value <= 0) value = 1;
    if (value > 32767) value = 32767;
    if (forceBaseline && value > 255) value = 255;
    table->quantval[k] = static_cast<uint16_t>(value);
  }
  return true;
}

bool AddHuffTable(EncoderState& enc, HuffTable** slot, const uint8_t* bits, const uint8_t* values) {
  if (*slot == nullptr) {
    *slot = static_cast<HuffTable*>(enc.memory->allocSmall(sizeof(HuffTable), enc.pool));
    if (*slot == nullptr) return false;
  }
  HuffTable& table = **slot;
  std::memcpy(table.bits, bits, sizeof table.bits);
  int count = 0;
  for (int l = 1; l <= 16; ++l) count += bits[l];
  std::memcpy(table.huffval, values, static_cast<std::size_t>(count));
  table.written = 0;
  return true;
}

int32_t AddStandardHuffTables(EncoderState& enc) {
  if (!AddHuffTable(enc, &enc.dcHuffTables[0], kDcLuminanceBits, kDcLuminanceValues))
    return kErrMemory;
  if (!AddHuffTable(enc, &enc.acHuffTables[0], kAcLuminanceBits, kAcLuminanceValues))
    return kErrMemory;
  if (!AddHuffTable(enc, &enc.dcHuffTables[1], kDcChrominanceBits, kDcChrominanceValues))
    return kErrMemory;
  if (!AddHuffTable(enc, &enc.acHuffTables[1], kAcChrominanceBits, kAcChrominanceValues))
    return kErrMemory;
  return 0;
}

int32_t SetQuality(EncoderState& enc, int32_t quality, int32_t forceBaseline) {
  int32_t scale = QualityScale(quality);
  if (!ScaleQuantTable(enc, 0, kLuminanceQuantTable, scale, forceBaseline)) return kErrMemory;
  if (!ScaleQuantTable(enc, 1, kChrominanceQuantTable, scale, forceBaseline)) return kErrMemory;
  return 0;
}

int32_t SetCompressDefaults(EncoderState& enc, int32_t quality, int32_t forceBaseline) {
  enc.components = nullptr;
  for (int i = 0; i < kNumTables; ++i) {
    enc.quantTables[i] = nullptr;
    enc.dcHuffTables[i] = nullptr;
    enc.acHuffTables[i] = nullptr;
  }
  enc.dataPrecision = 8;
  enc.writeJfif = 1;
  enc.densityUnit = 0;
  enc.xDensity = 1;
  enc.yDensity = 1;
  enc.jpegColourSpace = kColourYcc;
  enc.numComponents = 3;

  enc.components = static_cast<ComponentInfo*>(
      enc.memory->allocSmall(kMaxScanComponents * sizeof(ComponentInfo), enc.pool));
  if (enc.components == nullptr) return kErrMemory;
  std::memset(enc.components, 0, kMaxScanComponents * sizeof(ComponentInfo));
  for (int16_t i = 0; i < 3; ++i) {
    const DefaultComponent& d = kDefaultComponents[i];
    ComponentInfo& c = enc.components[i];
    c.componentId = d.id;
    c.componentIndex = i;
    c.hSampFactor = d.h;
    c.vSampFactor = d.v;
    c.quantTableNo = d.quantTable;
    c.dcTableNo = d.dcTable;
    c.acTableNo = d.acTable;
  }

  int32_t rc = SetQuality(enc, quality, forceBaseline);
  if (rc != 0) return rc;
  rc = AddStandardHuffTables(enc);
  if (rc != 0) return rc;

  enc.arithCode = 0;
  enc.interleave = 1;
  enc.restartInterval = 0;
  enc.restartRows = 0;
  return 0;
}

}  // namespace iffjpeg
