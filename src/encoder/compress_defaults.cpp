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

const uint8_t kDcLuminanceBits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
const uint8_t kDcLuminanceValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t kDcChrominanceBits[17] = {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
const uint8_t kDcChrominanceValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

const uint8_t kAcLuminanceBits[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
const uint8_t kAcLuminanceValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
    0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
    0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
    0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
    0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
    0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
    0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
    0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
    0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

const uint8_t kAcChrominanceBits[17] = {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
const uint8_t kAcChrominanceValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
    0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
    0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
    0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
    0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
    0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
    0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
    0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
    0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

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
