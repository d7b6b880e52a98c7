// The test-only stream builder. Deliberately simple and independent of the
// library's writer: a direct floating-point DCT (T.81 A.3.3), rounding
// quantization, and the Annex K example tables, so that it can produce
// reader inputs in layouts the library's writer never emits.
#include "support/jpeg_builder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

#include "format/jpeg_records.h"

namespace iffjpeg_test {

namespace {

// T.81 Table K.1, luminance quantization table, natural (row-major) order.
constexpr uint8_t kLuminanceQuant[64] = {16, 11, 10, 16, 24,  40,  51,  61,   //
                                         12, 12, 14, 19, 26,  58,  60,  55,   //
                                         14, 13, 16, 24, 40,  57,  69,  56,   //
                                         14, 17, 22, 29, 51,  87,  80,  62,   //
                                         18, 22, 37, 56, 68,  109, 103, 77,   //
                                         24, 35, 55, 64, 81,  104, 113, 92,   //
                                         49, 64, 78, 87, 103, 121, 120, 101,  //
                                         72, 92, 95, 98, 112, 100, 103, 99};

// T.81 Table K.2, chrominance quantization table, natural order.
constexpr uint8_t kChrominanceQuant[64] = {17, 18, 24, 47, 99, 99, 99, 99,  //
                                           18, 21, 26, 66, 99, 99, 99, 99,  //
                                           24, 26, 56, 99, 99, 99, 99, 99,  //
                                           47, 66, 99, 99, 99, 99, 99, 99,  //
                                           99, 99, 99, 99, 99, 99, 99, 99,  //
                                           99, 99, 99, 99, 99, 99, 99, 99,  //
                                           99, 99, 99, 99, 99, 99, 99, 99,  //
                                           99, 99, 99, 99, 99, 99, 99, 99};

// T.81 Tables K.3 to K.6: BITS (codes of length 1..16) and HUFFVAL.
constexpr uint8_t kDcLuminanceBits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kDcChrominanceBits[16] = {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
constexpr uint8_t kDcValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

constexpr uint8_t kAcLuminanceBits[16] = {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
constexpr uint8_t kAcLuminanceValues[162] = {
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

constexpr uint8_t kAcChrominanceBits[16] = {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
constexpr uint8_t kAcChrominanceValues[162] = {
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

constexpr int kMarkerSoi = 0xD8;
constexpr int kMarkerEoi = 0xD9;
constexpr int kMarkerSos = 0xDA;
constexpr int kMarkerDqt = 0xDB;
constexpr int kMarkerDht = 0xC4;
constexpr int kMarkerDri = 0xDD;
constexpr int kMarkerApp0 = 0xE0;
constexpr int kMarkerRst0 = 0xD0;

// Table slot n holds a copy of the luminance table when n is even and of the
// chrominance table when n is odd, so slots 0 and 1 are the usual pair.
bool IsLuminanceSlot(int slot) { return slot % 2 == 0; }

// One Huffman table as written: BITS and HUFFVAL.
struct HuffTableDef {
  const uint8_t* bits;
  const uint8_t* values;
  int count;
};

// The same table as used for coding: EHUFCO and EHUFSI of T.81 C.2 and C.3,
// indexed by symbol.
struct HuffCodes {
  uint16_t code[256] = {};
  uint8_t size[256] = {};
};

HuffTableDef StandardDcTable(int slot) {
  return {IsLuminanceSlot(slot) ? kDcLuminanceBits : kDcChrominanceBits, kDcValues, 12};
}

HuffTableDef StandardAcTable(int slot) {
  return IsLuminanceSlot(slot) ? HuffTableDef{kAcLuminanceBits, kAcLuminanceValues, 162}
                               : HuffTableDef{kAcChrominanceBits, kAcChrominanceValues, 162};
}

// T.81 C.1 (Generate_size_table), C.2 (Generate_code_table) and C.3
// (Order_codes) folded together: codes of one length are consecutive, and
// each longer length starts at twice the next code of the shorter one.
HuffCodes MakeCodes(const HuffTableDef& def) {
  HuffCodes codes;
  int k = 0;
  unsigned code = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < def.bits[length - 1]; ++i, ++k, ++code) {
      codes.code[def.values[k]] = static_cast<uint16_t>(code);
      codes.size[def.values[k]] = static_cast<uint8_t>(length);
    }
    code <<= 1;
  }
  return codes;
}

// Quantization table of a slot in zigzag order, scaled as the library's
// writer does: scale = 5000/q below 50, else 200 - 2q; (base x scale + 50) /
// 100, at least 1; at most 255 for 8-bit tables and 32767 for 16-bit ones.
std::vector<int> QuantTableZigzag(int slot, int quality, bool sixteenBit) {
  quality = std::clamp(quality, 1, 100);
  int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  const uint8_t* base = IsLuminanceSlot(slot) ? kLuminanceQuant : kChrominanceQuant;
  std::vector<int> table(64);
  for (int k = 0; k < 64; ++k) {
    int value = (base[iffjpeg::zigzagToNatural[k]] * scale + 50) / 100;
    table[k] = std::clamp(value, 1, sixteenBit ? 32767 : 255);
  }
  return table;
}

// Byte output with marker writing; fill bytes go before every marker code
// except the leading SOI, which must be the file's first two bytes.
class Output {
 public:
  explicit Output(bool fillBytes) : fillBytes_(fillBytes) {}

  void Byte(int value) { bytes_.push_back(static_cast<uint8_t>(value)); }
  void Word(int value) {
    Byte(value >> 8);
    Byte(value);
  }
  void Marker(int code) {
    Byte(0xFF);
    if (fillBytes_ && code != kMarkerSoi) {
      Byte(0xFF);
      Byte(0xFF);
    }
    Byte(code);
  }
  void Segment(int code, const std::vector<uint8_t>& payload) {
    Marker(code);
    Word(static_cast<int>(payload.size()) + 2);
    Raw(payload);
  }
  void Raw(const std::vector<uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  bool fillBytes_;
  std::vector<uint8_t> bytes_;
};

// Entropy-coded segment writer: bits MSB first, a 0x00 stuffed after every
// 0xFF data byte (T.81 F.1.2.3), and 1-bits to pad the last byte (F.1.2.3).
class BitWriter {
 public:
  explicit BitWriter(Output& out) : out_(out) {}

  void Put(unsigned value, int size) {
    for (int i = size - 1; i >= 0; --i) {
      accumulator_ = (accumulator_ << 1) | ((value >> i) & 1u);
      if (++count_ == 8) EmitByte();
    }
  }
  void PadToByte() {
    while (count_ != 0) Put(1, 1);
  }

 private:
  void EmitByte() {
    out_.Byte(static_cast<int>(accumulator_));
    if (accumulator_ == 0xFF) out_.Byte(0x00);
    accumulator_ = 0;
    count_ = 0;
  }

  Output& out_;
  unsigned accumulator_ = 0;
  int count_ = 0;
};

// One component's samples at its own resolution.
struct Plane {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> samples;

  // Positions past the edge repeat the last column or row (T.81 A.2 leaves
  // the padding to the encoder; replication keeps the edge blocks smooth).
  int At(int x, int y) const {
    x = std::min(x, width - 1);
    y = std::min(y, height - 1);
    return samples[static_cast<std::size_t>(y) * width + x];
  }
};

uint8_t ClampSample(double value) {
  return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// The image as full-resolution planes, one per frame component: RGB becomes
// YCbCr with the JFIF formulas when asked; otherwise component c takes
// channel c (channel 0 when the image has fewer channels).
std::vector<Plane> FullPlanes(const Image& image, std::size_t componentCount, bool toYcc) {
  std::vector<Plane> planes(componentCount);
  for (auto& plane : planes) {
    plane.width = image.width;
    plane.height = image.height;
    plane.samples.resize(static_cast<std::size_t>(image.width) * image.height);
  }
  bool convert = toYcc && componentCount == 3 && image.channels == 3;
  std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
  for (std::size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = image.pixels.data() + i * image.channels;
    if (convert) {
      double r = p[0], g = p[1], b = p[2];
      planes[0].samples[i] = ClampSample(0.299 * r + 0.587 * g + 0.114 * b);
      planes[1].samples[i] = ClampSample(-0.168736 * r - 0.331264 * g + 0.5 * b + 128);
      planes[2].samples[i] = ClampSample(0.5 * r - 0.418688 * g - 0.081312 * b + 128);
      continue;
    }
    for (std::size_t c = 0; c < componentCount; ++c) {
      planes[c].samples[i] = p[static_cast<int>(c) < image.channels ? c : 0];
    }
  }
  return planes;
}

// Downsamples a full-resolution plane to ceil(W h / Hmax) x ceil(H v / Vmax)
// (T.81 A.1.1) by averaging each sample's box of full-resolution samples;
// boxes that reach past the image repeat its edge.
Plane Downsample(const Plane& full, int h, int v, int hMax, int vMax) {
  Plane out;
  out.width = (full.width * h + hMax - 1) / hMax;
  out.height = (full.height * v + vMax - 1) / vMax;
  out.samples.resize(static_cast<std::size_t>(out.width) * out.height);
  for (int y = 0; y < out.height; ++y) {
    int y0 = y * vMax / v, y1 = std::max((y + 1) * vMax / v, y0 + 1);
    for (int x = 0; x < out.width; ++x) {
      int x0 = x * hMax / h, x1 = std::max((x + 1) * hMax / h, x0 + 1);
      int sum = 0, n = 0;
      for (int yy = y0; yy < y1; ++yy) {
        for (int xx = x0; xx < x1; ++xx, ++n) sum += full.At(xx, yy);
      }
      out.samples[static_cast<std::size_t>(y) * out.width + x] =
          static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
  return out;
}

// What the entropy coder needs per frame component.
struct CodingComponent {
  BuilderComponent frame;
  int h = 1, v = 1;  // sampling factors clamped to at least 1 for geometry
  Plane plane;
  double quant[64];  // natural order
  HuffCodes dc, ac;
};

// The forward DCT of T.81 A.3.3 on one 8x8 block of level-shifted samples,
// computed as its two separable halves (rows, then columns), followed by
// rounding quantization; the result is in zigzag order.
void TransformBlock(const Plane& plane, int blockX, int blockY, const double* quant, int* zigzag) {
  // kBasis[u][x] = C(u)/2 cos((2x + 1) u pi / 16), so that
  // F(v,u) = sum_y kBasis[v][y] sum_x kBasis[u][x] f(y,x).
  static const auto kBasis = [] {
    std::array<std::array<double, 8>, 8> table{};
    for (int u = 0; u < 8; ++u) {
      double c = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
      for (int x = 0; x < 8; ++x) {
        table[u][x] = 0.5 * c * std::cos((2 * x + 1) * u * std::numbers::pi / 16);
      }
    }
    return table;
  }();
  double rows[8][8];  // rows[y][u]: each row transformed horizontally
  for (int y = 0; y < 8; ++y) {
    double shifted[8];
    for (int x = 0; x < 8; ++x) shifted[x] = plane.At(blockX * 8 + x, blockY * 8 + y) - 128.0;
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int x = 0; x < 8; ++x) sum += kBasis[u][x] * shifted[x];
      rows[y][u] = sum;
    }
  }
  int natural[64];
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) sum += kBasis[v][y] * rows[y][u];
      natural[v * 8 + u] = static_cast<int>(std::lround(sum / quant[v * 8 + u]));
    }
  }
  for (int k = 0; k < 64; ++k) zigzag[k] = natural[iffjpeg::zigzagToNatural[k]];
}

// SSSS of T.81 Table F.1/F.2: the number of bits of |value|.
int Category(int value) {
  int magnitude = std::abs(value), size = 0;
  while (magnitude > 0) {
    ++size;
    magnitude >>= 1;
  }
  return size;
}

// The low SSSS bits that follow a category code: the value itself when
// positive, value - 1 in two's complement when negative (F.1.2.1).
unsigned MagnitudeBits(int value, int size) {
  return static_cast<unsigned>(value < 0 ? value - 1 : value) & ((1u << size) - 1);
}

// Huffman-codes one block (T.81 F.1.2.1 and F.1.2.2).
void EncodeBlock(const int* zigzag, int& dcPrediction, const CodingComponent& c, BitWriter& bits) {
  // Baseline categories stop at 11 (DC difference) and 10 (AC value); 8-bit
  // samples stay inside both, so the clamps only guard the code tables.
  int dc = std::clamp(zigzag[0], -1024, 1023);
  int diff = dc - dcPrediction;
  dcPrediction = dc;
  int size = Category(diff);
  bits.Put(c.dc.code[size], c.dc.size[size]);
  bits.Put(MagnitudeBits(diff, size), size);
  int run = 0;
  for (int k = 1; k < 64; ++k) {
    int value = std::clamp(zigzag[k], -1023, 1023);
    if (value == 0) {
      ++run;
      continue;
    }
    for (; run > 15; run -= 16) bits.Put(c.ac.code[0xF0], c.ac.size[0xF0]);  // ZRL
    size = Category(value);
    int symbol = (run << 4) | size;
    bits.Put(c.ac.code[symbol], c.ac.size[symbol]);
    bits.Put(MagnitudeBits(value, size), size);
    run = 0;
  }
  if (run > 0) bits.Put(c.ac.code[0x00], c.ac.size[0x00]);  // EOB
}

struct FrameGeometry {
  int width = 0, height = 0;
  int hMax = 1, vMax = 1;
};

// Codes one scan's entropy-coded segment, restart markers included. The
// restart counter `restartsWritten` counts every RSTn of the file so that
// overrides can address them.
void EncodeScan(const std::vector<CodingComponent*>& scan, const FrameGeometry& frame,
                int restartInterval, const JpegBuildOptions& options, int& restartsWritten,
                Output& out) {
  bool interleaved = scan.size() > 1;
  int mcusX, mcusY;
  if (interleaved) {  // T.81 A.2.3: the MCU covers Hmax x Vmax block columns and rows.
    mcusX = (frame.width + 8 * frame.hMax - 1) / (8 * frame.hMax);
    mcusY = (frame.height + 8 * frame.vMax - 1) / (8 * frame.vMax);
  } else {  // T.81 A.2.2: one block per MCU over the component's own size.
    mcusX = (scan[0]->plane.width + 7) / 8;
    mcusY = (scan[0]->plane.height + 7) / 8;
  }
  long total = static_cast<long>(mcusX) * mcusY;
  std::vector<int> predictions(scan.size(), 0);
  BitWriter bits(out);
  int zigzag[64];
  int nextRestart = 0;
  for (long mcu = 0; mcu < total; ++mcu) {
    if (restartInterval > 0 && mcu > 0 && mcu % restartInterval == 0) {
      bits.PadToByte();
      auto override = options.restartMarkerOverride.find(restartsWritten++);
      out.Marker(override != options.restartMarkerOverride.end() ? override->second
                                                                 : kMarkerRst0 + nextRestart);
      nextRestart = (nextRestart + 1) % 8;
      std::fill(predictions.begin(), predictions.end(), 0);
    }
    int mx = static_cast<int>(mcu % mcusX), my = static_cast<int>(mcu / mcusX);
    for (std::size_t i = 0; i < scan.size(); ++i) {
      const CodingComponent& c = *scan[i];
      int blocksAcross = interleaved ? c.h : 1, blocksDown = interleaved ? c.v : 1;
      for (int by = 0; by < blocksDown; ++by) {
        for (int bx = 0; bx < blocksAcross; ++bx) {
          TransformBlock(c.plane, mx * blocksAcross + bx, my * blocksDown + by, c.quant, zigzag);
          EncodeBlock(zigzag, predictions[i], c, bits);
        }
      }
    }
  }
  bits.PadToByte();
}

std::vector<BuilderComponent> DefaultComponents(int channels) {
  if (channels == 1) return GreyOptions().components;
  return ColourOptions(2, 2).components;
}

void AppendQuantTable(std::vector<uint8_t>& payload, int slot, const JpegBuildOptions& options) {
  std::vector<int> table = QuantTableZigzag(slot, options.quality, options.sixteenBitQuant);
  payload.push_back(static_cast<uint8_t>(((options.sixteenBitQuant ? 1 : 0) << 4) | (slot & 15)));
  for (int value : table) {
    if (options.sixteenBitQuant) payload.push_back(static_cast<uint8_t>(value >> 8));
    payload.push_back(static_cast<uint8_t>(value));
  }
}

void AppendHuffmanTable(std::vector<uint8_t>& payload, int tableClass, int slot) {
  HuffTableDef def = tableClass == 0 ? StandardDcTable(slot) : StandardAcTable(slot);
  payload.push_back(static_cast<uint8_t>((tableClass << 4) | (slot & 15)));
  payload.insert(payload.end(), def.bits, def.bits + 16);
  payload.insert(payload.end(), def.values, def.values + def.count);
}

// DQT for every table number a component uses, ascending.
void WriteQuantTables(const std::vector<BuilderComponent>& components,
                      const JpegBuildOptions& options, Output& out) {
  std::vector<int> slots;
  for (const auto& c : components) slots.push_back(c.quantTable);
  std::sort(slots.begin(), slots.end());
  slots.erase(std::unique(slots.begin(), slots.end()), slots.end());
  std::vector<uint8_t> payload;
  for (int slot : slots) {
    AppendQuantTable(payload, slot, options);
    if (!options.tablesInOneSegment) {
      out.Segment(kMarkerDqt, payload);
      payload.clear();
    }
  }
  if (!payload.empty()) out.Segment(kMarkerDqt, payload);
}

// DHT for the scan's tables not yet written: per component DC then AC.
void WriteHuffmanTables(const std::vector<CodingComponent*>& scan, bool oneSegment,
                        std::vector<std::pair<int, int>>& written, Output& out) {
  std::vector<uint8_t> payload;
  for (const CodingComponent* c : scan) {
    for (auto table : {std::pair{0, c->frame.dcTable}, std::pair{1, c->frame.acTable}}) {
      if (std::find(written.begin(), written.end(), table) != written.end()) continue;
      written.push_back(table);
      AppendHuffmanTable(payload, table.first, table.second);
      if (!oneSegment) {
        out.Segment(kMarkerDht, payload);
        payload.clear();
      }
    }
  }
  if (!payload.empty()) out.Segment(kMarkerDht, payload);
}

void WriteJfif(const JpegBuildOptions& options, Output& out) {
  std::vector<uint8_t> payload = {'J', 'F', 'I', 'F', 0};
  payload.push_back(static_cast<uint8_t>(options.jfifMajor));
  payload.push_back(static_cast<uint8_t>(options.jfifMinor));
  payload.push_back(options.densityUnit);
  payload.push_back(static_cast<uint8_t>(options.xDensity >> 8));
  payload.push_back(static_cast<uint8_t>(options.xDensity));
  payload.push_back(static_cast<uint8_t>(options.yDensity >> 8));
  payload.push_back(static_cast<uint8_t>(options.yDensity));
  payload.push_back(0);  // no thumbnail
  payload.push_back(0);
  out.Segment(kMarkerApp0, payload);
}

void WriteFrameHeader(const Image& image, const std::vector<BuilderComponent>& components,
                      const JpegBuildOptions& options, Output& out) {
  std::vector<uint8_t> payload = {
      static_cast<uint8_t>(options.dataPrecision), static_cast<uint8_t>(image.height >> 8),
      static_cast<uint8_t>(image.height),          static_cast<uint8_t>(image.width >> 8),
      static_cast<uint8_t>(image.width),           static_cast<uint8_t>(components.size())};
  for (const auto& c : components) {
    payload.push_back(static_cast<uint8_t>(c.id));
    payload.push_back(static_cast<uint8_t>(((c.h & 15) << 4) | (c.v & 15)));
    payload.push_back(static_cast<uint8_t>(c.quantTable));
  }
  out.Segment(options.frameMarker, payload);
}

void WriteScanHeader(const std::vector<CodingComponent*>& scan, Output& out) {
  std::vector<uint8_t> payload = {static_cast<uint8_t>(scan.size())};
  for (const CodingComponent* c : scan) {
    payload.push_back(static_cast<uint8_t>(c->frame.id));
    payload.push_back(
        static_cast<uint8_t>(((c->frame.dcTable & 15) << 4) | (c->frame.acTable & 15)));
  }
  payload.insert(payload.end(), {0x00, 0x3F, 0x00});  // Ss, Se, Ah/Al of a sequential scan
  out.Segment(kMarkerSos, payload);
}

std::vector<CodingComponent> MakeCodingComponents(const Image& image,
                                                  const std::vector<BuilderComponent>& components,
                                                  const JpegBuildOptions& options,
                                                  FrameGeometry& frame) {
  frame.width = image.width;
  frame.height = image.height;
  std::vector<CodingComponent> coding(components.size());
  for (std::size_t i = 0; i < components.size(); ++i) {
    coding[i].frame = components[i];
    coding[i].h = std::max(components[i].h, 1);
    coding[i].v = std::max(components[i].v, 1);
    frame.hMax = std::max(frame.hMax, coding[i].h);
    frame.vMax = std::max(frame.vMax, coding[i].v);
  }
  std::vector<Plane> full = FullPlanes(image, components.size(), options.convertToYcc);
  for (std::size_t i = 0; i < coding.size(); ++i) {
    CodingComponent& c = coding[i];
    c.plane = Downsample(full[i], c.h, c.v, frame.hMax, frame.vMax);
    std::vector<int> table =
        QuantTableZigzag(c.frame.quantTable, options.quality, options.sixteenBitQuant);
    for (int k = 0; k < 64; ++k) c.quant[iffjpeg::zigzagToNatural[k]] = table[k];
    c.dc = MakeCodes(StandardDcTable(c.frame.dcTable));
    c.ac = MakeCodes(StandardAcTable(c.frame.acTable));
  }
  return coding;
}

// ---------------------------------------------------------------------------
// Progressive coding (T.81 Annex G). The quantized coefficients are the ones
// the sequential path codes (TransformBlock and the same clamps), computed
// once per component over its whole block grid. Each scan is first turned
// into a list of events (Huffman symbols, raw bits, restart markers); the
// symbol counts give the scan's own Huffman tables (T.81 K.2), and the events
// are then written with them.

// One component's quantized coefficients, zigzag order, over the block grid
// of the interleaved MCUs (which covers the non-interleaved grid as well).
struct CoefficientPlane {
  int blocksX = 0, blocksY = 0;
  std::vector<int> values;  // 64 per block, row-major blocks

  int* Block(int x, int y) { return &values[(static_cast<std::size_t>(y) * blocksX + x) * 64]; }
};

CoefficientPlane ComputeCoefficients(const CodingComponent& c, const FrameGeometry& frame) {
  CoefficientPlane plane;
  plane.blocksX = (frame.width + 8 * frame.hMax - 1) / (8 * frame.hMax) * c.h;
  plane.blocksY = (frame.height + 8 * frame.vMax - 1) / (8 * frame.vMax) * c.v;
  plane.values.resize(static_cast<std::size_t>(plane.blocksX) * plane.blocksY * 64);
  for (int y = 0; y < plane.blocksY; ++y) {
    for (int x = 0; x < plane.blocksX; ++x) {
      int* block = plane.Block(x, y);
      TransformBlock(c.plane, x, y, c.quant, block);
      // The sequential coder's clamps, so that both files hold the same values.
      block[0] = std::clamp(block[0], -1024, 1023);
      for (int k = 1; k < 64; ++k) block[k] = std::clamp(block[k], -1023, 1023);
    }
  }
  return plane;
}

// What a scan writes, in order. table >= 0: a Huffman symbol of that table
// (index into the scan's table list); kRawBits: `size` bits of `value`;
// kRestart: pad to a byte and write the next restart marker.
struct ScanEvent {
  static constexpr int kRawBits = -1;
  static constexpr int kRestart = -2;
  int table;
  unsigned value;
  int size;
};

// T.81 K.2 (Figures K.1 to K.4): code lengths from symbol counts, held to 16
// bits, with a reserved symbol so that no code is all ones.
std::vector<uint8_t> OptimalTable(const std::array<long, 256>& counts, int slot, int tableClass) {
  std::array<long, 257> freq{};
  std::copy(counts.begin(), counts.end(), freq.begin());
  freq[256] = 1;
  std::array<int, 257> codeSize{}, others{};
  others.fill(-1);
  for (;;) {
    int v1 = -1, v2 = -1;
    for (int v = 0; v < 257; ++v) {  // least frequency, the larger index on ties
      if (freq[v] > 0 && (v1 < 0 || freq[v] <= freq[v1])) v1 = v;
    }
    for (int v = 0; v < 257; ++v) {
      if (v != v1 && freq[v] > 0 && (v2 < 0 || freq[v] <= freq[v2])) v2 = v;
    }
    if (v2 < 0) break;
    freq[v1] += freq[v2];
    freq[v2] = 0;
    for (++codeSize[v1]; others[v1] >= 0; ++codeSize[v1]) v1 = others[v1];
    others[v1] = v2;
    for (++codeSize[v2]; others[v2] >= 0; ++codeSize[v2]) v2 = others[v2];
  }
  std::array<int, 40> bits{};
  for (int v = 0; v < 257; ++v) {
    if (codeSize[v] > 0) ++bits[codeSize[v]];
  }
  for (int i = 39; i > 16; --i) {  // Adjust_BITS
    while (bits[i] > 0) {
      int j = i - 2;
      while (bits[j] == 0) --j;
      bits[i] -= 2;
      bits[i - 1] += 1;
      bits[j + 1] += 2;
      bits[j] -= 1;
    }
  }
  int longest = 16;
  while (bits[longest] == 0) --longest;
  bits[longest] -= 1;  // the reserved symbol's code goes
  std::vector<uint8_t> payload = {static_cast<uint8_t>((tableClass << 4) | (slot & 15))};
  for (int i = 1; i <= 16; ++i) payload.push_back(static_cast<uint8_t>(bits[i]));
  for (int size = 1; size < 40; ++size) {  // Sort_input: by code length, then value
    for (int v = 0; v < 256; ++v) {
      if (codeSize[v] == size) payload.push_back(static_cast<uint8_t>(v));
    }
  }
  return payload;
}

// Builds one progressive scan's events.
class ProgressiveScanCoder {
 public:
  ProgressiveScanCoder(const ProgressiveScan& scan, std::vector<CodingComponent*> components,
                       std::vector<CoefficientPlane*> coefficients, std::vector<int> tables,
                       const FrameGeometry& frame, int restartInterval)
      : scan_(scan),
        components_(std::move(components)),
        coefficients_(std::move(coefficients)),
        tables_(std::move(tables)),
        frame_(frame),
        restartInterval_(restartInterval),
        ss_(std::clamp(scan.ss, 0, 63)),
        se_(std::clamp(scan.se, 0, 63)) {}

  std::vector<ScanEvent> Code() {
    bool interleaved = components_.size() > 1;
    int mcusX, mcusY;
    if (interleaved) {  // T.81 A.2.3
      mcusX = (frame_.width + 8 * frame_.hMax - 1) / (8 * frame_.hMax);
      mcusY = (frame_.height + 8 * frame_.vMax - 1) / (8 * frame_.vMax);
    } else {  // T.81 A.2.2
      mcusX = (components_[0]->plane.width + 7) / 8;
      mcusY = (components_[0]->plane.height + 7) / 8;
    }
    long total = static_cast<long>(mcusX) * mcusY;
    predictions_.assign(components_.size(), 0);
    for (long mcu = 0; mcu < total; ++mcu) {
      if (restartInterval_ > 0 && mcu > 0 && mcu % restartInterval_ == 0) {
        FlushEobRun();  // an EOB run never crosses a restart marker (T.81 G.1.2.2)
        events_.push_back({ScanEvent::kRestart, 0, 0});
        std::fill(predictions_.begin(), predictions_.end(), 0);
      }
      int mx = static_cast<int>(mcu % mcusX), my = static_cast<int>(mcu / mcusX);
      for (std::size_t i = 0; i < components_.size(); ++i) {
        int across = interleaved ? components_[i]->h : 1;
        int down = interleaved ? components_[i]->v : 1;
        for (int by = 0; by < down; ++by) {
          for (int bx = 0; bx < across; ++bx) {
            const int* block = coefficients_[i]->Block(mx * across + bx, my * down + by);
            CodeBlock(block, i);
          }
        }
      }
    }
    FlushEobRun();
    return std::move(events_);
  }

 private:
  void Symbol(std::size_t component, int symbol) {
    events_.push_back({tables_[component], static_cast<unsigned>(symbol), 0});
  }
  void Bits(unsigned value, int size) {
    if (size > 0) events_.push_back({ScanEvent::kRawBits, value, size});
  }

  void CodeBlock(const int* block, std::size_t component) {
    if (ss_ == 0) {
      if (scan_.ah == 0) {  // T.81 G.1.2.1: DC first, the point transform an arithmetic shift
        int value = block[0] >> scan_.al;
        int diff = value - predictions_[component];
        predictions_[component] = value;
        int size = Category(diff);
        Symbol(component, size);
        Bits(MagnitudeBits(diff, size), size);
      } else {  // DC refinement: the next bit, uncoded
        Bits(static_cast<unsigned>(block[0] >> scan_.al) & 1u, 1);
      }
      return;
    }
    if (scan_.ah == 0) {
      AcFirst(block, component);
    } else {
      AcRefine(block, component);
    }
  }

  // T.81 G.1.2.2: the point transform of AC values divides by 2^Al toward zero.
  static int PointTransform(int value, int al) { return value < 0 ? -(-value >> al) : value >> al; }

  void EmitEobRun(std::size_t component) {
    int nbits = 0;
    while ((eobRun_ >> (nbits + 1)) != 0) ++nbits;
    Symbol(component, nbits << 4);  // EOBn
    Bits(static_cast<unsigned>(eobRun_) & ((1u << nbits) - 1), nbits);
    eobRun_ = 0;
    for (unsigned bit : runCorrections_) Bits(bit, 1);
    runCorrections_.clear();
  }
  void FlushEobRun() {
    if (eobRun_ > 0) EmitEobRun(0);  // AC scans have one component
  }

  void AcFirst(const int* block, std::size_t component) {
    int run = 0;
    for (int k = ss_; k <= se_; ++k) {
      int value = PointTransform(block[k], scan_.al);
      if (value == 0) {
        ++run;
        continue;
      }
      if (eobRun_ > 0) EmitEobRun(component);
      for (; run > 15; run -= 16) Symbol(component, 0xF0);  // ZRL
      int size = Category(value);
      Symbol(component, (run << 4) | size);
      Bits(MagnitudeBits(value, size), size);
      run = 0;
    }
    if (run > 0 && ++eobRun_ == 0x7FFF) EmitEobRun(component);
  }

  // T.81 G.1.2.3. Coefficients already non-zero (a history) take one
  // correction bit each, sent after the next symbol that passes them; a
  // coefficient that becomes 1 is coded as run/1 with its sign; zero runs
  // past the last new coefficient fold into the EOB run, whose blocks' bits
  // follow the EOBRUN code.
  void AcRefine(const int* block, std::size_t component) {
    int magnitude[64] = {};
    int last = -1;  // the last position that becomes non-zero in this scan
    for (int k = ss_; k <= se_; ++k) {
      magnitude[k] = std::abs(block[k]) >> scan_.al;
      if (magnitude[k] == 1) last = k;
    }
    std::vector<unsigned> pending;  // this block's correction bits not yet sent
    int run = 0;
    for (int k = ss_; k <= se_; ++k) {
      if (magnitude[k] == 0) {
        ++run;
        continue;
      }
      while (run > 15 && k <= last) {
        if (eobRun_ > 0) EmitEobRun(component);
        Symbol(component, 0xF0);
        run -= 16;
        for (unsigned bit : pending) Bits(bit, 1);
        pending.clear();
      }
      if (magnitude[k] > 1) {
        pending.push_back(static_cast<unsigned>(magnitude[k]) & 1u);
        continue;
      }
      if (eobRun_ > 0) EmitEobRun(component);
      Symbol(component, (run << 4) | 1);
      Bits(block[k] < 0 ? 0u : 1u, 1);
      for (unsigned bit : pending) Bits(bit, 1);
      pending.clear();
      run = 0;
    }
    if (run > 0 || !pending.empty()) {
      ++eobRun_;
      runCorrections_.insert(runCorrections_.end(), pending.begin(), pending.end());
      if (eobRun_ == 0x7FFF) EmitEobRun(component);
    }
  }

  const ProgressiveScan& scan_;
  std::vector<CodingComponent*> components_;
  std::vector<CoefficientPlane*> coefficients_;
  std::vector<int> tables_;  // per scan component: index of its table in the scan
  const FrameGeometry& frame_;
  int restartInterval_;
  int ss_, se_;
  std::vector<int> predictions_;
  int eobRun_ = 0;
  std::vector<unsigned> runCorrections_;  // bits of the blocks in the EOB run
  std::vector<ScanEvent> events_;
};

void WriteProgressiveScanHeader(const ProgressiveScan& scan,
                                const std::vector<CodingComponent*>& components, Output& out) {
  std::vector<uint8_t> payload = {static_cast<uint8_t>(components.size())};
  for (const CodingComponent* c : components) {
    payload.push_back(static_cast<uint8_t>(c->frame.id));
    payload.push_back(
        static_cast<uint8_t>(((c->frame.dcTable & 15) << 4) | (c->frame.acTable & 15)));
  }
  payload.push_back(static_cast<uint8_t>(scan.ss));
  payload.push_back(static_cast<uint8_t>(scan.se));
  payload.push_back(static_cast<uint8_t>(((scan.ah & 15) << 4) | (scan.al & 15)));
  out.Segment(kMarkerSos, payload);
}

// Writes every progressive scan: its DRI when the interval changes, its DHT
// (built from its symbol counts), its header and its data.
void WriteProgressiveScans(std::vector<CodingComponent>& coding, const FrameGeometry& frame,
                           const JpegBuildOptions& options, Output& out) {
  std::vector<CoefficientPlane> coefficients;
  for (const auto& c : coding) coefficients.push_back(ComputeCoefficients(c, frame));
  int intervalInForce = 0;
  int restartsWritten = 0;
  for (std::size_t s = 0; s < options.progressiveScans.size(); ++s) {
    const ProgressiveScan& scan = options.progressiveScans[s];
    std::vector<CodingComponent*> components;
    std::vector<CoefficientPlane*> planes;
    for (int index : scan.components) {
      components.push_back(&coding.at(static_cast<std::size_t>(index)));
      planes.push_back(&coefficients.at(static_cast<std::size_t>(index)));
    }
    // Table class and slot of each scan component; components sharing a slot
    // share its table. DC refinements code no symbols and write no table.
    int tableClass = scan.ss == 0 ? 0 : 1;
    std::vector<int> slots, tableOf;
    for (const CodingComponent* c : components) {
      int slot = tableClass == 0 ? c->frame.dcTable : c->frame.acTable;
      auto found = std::find(slots.begin(), slots.end(), slot);
      tableOf.push_back(static_cast<int>(found - slots.begin()));
      if (found == slots.end()) slots.push_back(slot);
    }
    auto perScan = options.scanRestartInterval.find(static_cast<int>(s));
    int interval =
        perScan != options.scanRestartInterval.end() ? perScan->second : options.restartInterval;
    std::vector<ScanEvent> events;
    if (!components.empty()) {
      events = ProgressiveScanCoder(scan, components, planes, tableOf, frame, interval).Code();
    }
    std::vector<std::array<long, 256>> counts(slots.size());
    for (auto& table : counts) table.fill(0);
    for (const ScanEvent& e : events) {
      if (e.table >= 0) ++counts[static_cast<std::size_t>(e.table)][e.value];
    }
    std::vector<HuffCodes> codes(slots.size());
    std::vector<uint8_t> dht;
    for (std::size_t t = 0; t < slots.size(); ++t) {
      long used = 0;
      for (long n : counts[t]) used += n;
      if (used == 0) continue;
      std::vector<uint8_t> table = OptimalTable(counts[t], slots[t], tableClass);
      int total = 0;
      for (int i = 1; i <= 16; ++i) total += table[static_cast<std::size_t>(i)];
      codes[t] = MakeCodes({table.data() + 1, table.data() + 17, total});
      dht.insert(dht.end(), table.begin(), table.end());
      if (!options.tablesInOneSegment) {
        out.Segment(kMarkerDht, dht);
        dht.clear();
      }
    }
    if (!dht.empty()) out.Segment(kMarkerDht, dht);
    if (interval != intervalInForce) {
      out.Segment(kMarkerDri,
                  {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
      intervalInForce = interval;
    }
    WriteProgressiveScanHeader(scan, components, out);
    if (components.empty()) continue;
    BitWriter bits(out);
    int nextRestart = 0;
    for (const ScanEvent& e : events) {
      if (e.table >= 0) {
        const HuffCodes& c = codes[static_cast<std::size_t>(e.table)];
        bits.Put(c.code[e.value], c.size[e.value]);
      } else if (e.table == ScanEvent::kRawBits) {
        bits.Put(e.value, e.size);
      } else {
        bits.PadToByte();
        auto override = options.restartMarkerOverride.find(restartsWritten++);
        out.Marker(override != options.restartMarkerOverride.end() ? override->second
                                                                   : kMarkerRst0 + nextRestart);
        nextRestart = (nextRestart + 1) % 8;
      }
    }
    bits.PadToByte();
  }
}

}  // namespace

JpegBuildOptions GreyOptions(int h, int v) {
  JpegBuildOptions options;
  options.components = {BuilderComponent{1, h, v, 0, 0, 0}};
  return options;
}

JpegBuildOptions ColourOptions(int yh, int yv, int ch, int cv) {
  JpegBuildOptions options;
  options.components = {BuilderComponent{1, yh, yv, 0, 0, 0}, BuilderComponent{2, ch, cv, 1, 1, 1},
                        BuilderComponent{3, ch, cv, 1, 1, 1}};
  return options;
}

namespace {
std::vector<int> AllComponents(int components) {
  std::vector<int> all;
  for (int c = 0; c < components; ++c) all.push_back(c);
  return all;
}
}  // namespace

std::vector<ProgressiveScan> BandSelectionScript(int components) {
  std::vector<ProgressiveScan> script = {{AllComponents(components), 0, 0, 0, 0}};
  for (int c = 0; c < components; ++c) {
    script.push_back({{c}, 1, 5, 0, 0});
    script.push_back({{c}, 6, 63, 0, 0});
  }
  return script;
}

std::vector<ProgressiveScan> SuccessiveApproximationScript(int components) {
  std::vector<int> all = AllComponents(components);
  std::vector<ProgressiveScan> script = {{all, 0, 0, 0, 1}, {{0}, 1, 5, 0, 2}};
  for (int c = components - 1; c >= 1; --c) script.push_back({{c}, 1, 63, 0, 1});
  script.push_back({{0}, 6, 63, 0, 2});
  script.push_back({{0}, 1, 63, 2, 1});
  script.push_back({all, 0, 0, 1, 0});
  for (int c = 1; c < components; ++c) script.push_back({{c}, 1, 63, 1, 0});
  script.push_back({{0}, 1, 63, 1, 0});
  return script;
}

std::vector<ProgressiveScan> SingleComponentDcScript(int components) {
  std::vector<ProgressiveScan> script;
  for (int c = 0; c < components; ++c) script.push_back({{c}, 0, 0, 0, 1});
  for (int c = components - 1; c >= 0; --c) script.push_back({{c}, 0, 0, 1, 0});
  for (int c = 0; c < components; ++c) script.push_back({{c}, 1, 63, 0, 0});
  return script;
}

std::vector<ProgressiveScan> NarrowBandsScript(int components) {
  static constexpr int kBandStarts[] = {1, 3, 6, 10, 15, 21, 28, 36, 45, 55, 64};
  std::vector<ProgressiveScan> script = {{AllComponents(components), 0, 0, 0, 0}};
  for (int c = 0; c < components; ++c) {
    for (int b = 0; b + 1 < static_cast<int>(std::size(kBandStarts)); ++b) {
      script.push_back({{c}, kBandStarts[b], kBandStarts[b + 1] - 1, 0, 0});
    }
  }
  return script;
}

std::vector<ProgressiveScan> DeepApproximationScript(int components, int al) {
  std::vector<int> all = AllComponents(components);
  std::vector<ProgressiveScan> script = {{all, 0, 0, 0, al}};
  for (int c = 0; c < components; ++c) script.push_back({{c}, 1, 63, 0, al});
  for (int bit = al - 1; bit >= 0; --bit) {
    script.push_back({all, 0, 0, bit + 1, bit});
    for (int c = 0; c < components; ++c) script.push_back({{c}, 1, 63, bit + 1, bit});
  }
  return script;
}

std::vector<uint8_t> BuildJpeg(const Image& image, const JpegBuildOptions& options) {
  std::vector<BuilderComponent> components = options.components;
  if (components.empty()) components = DefaultComponents(image.channels);
  FrameGeometry frame;
  std::vector<CodingComponent> coding = MakeCodingComponents(image, components, options, frame);

  std::vector<std::vector<int>> scans = options.scans;
  if (scans.empty()) {
    scans.emplace_back();
    for (std::size_t i = 0; i < coding.size(); ++i) scans.back().push_back(static_cast<int>(i));
  }

  Output out(options.fillBytes);
  out.Marker(kMarkerSoi);
  if (options.jfif) WriteJfif(options, out);
  for (const auto& segment : options.extraSegments) out.Raw(segment);
  WriteQuantTables(components, options, out);
  if (!options.progressiveScans.empty()) {
    JpegBuildOptions frameOptions = options;
    if (frameOptions.frameMarker == 0xC0) frameOptions.frameMarker = 0xC2;
    WriteFrameHeader(image, components, frameOptions, out);
    WriteProgressiveScans(coding, frame, options, out);
    if (options.writeEoi) out.Marker(kMarkerEoi);
    return std::move(out.bytes());
  }
  WriteFrameHeader(image, components, options, out);

  std::vector<std::pair<int, int>> huffmanWritten;
  int intervalInForce = 0;
  int restartsWritten = 0;
  for (std::size_t s = 0; s < scans.size(); ++s) {
    std::vector<CodingComponent*> scan;
    for (int index : scans[s]) scan.push_back(&coding.at(static_cast<std::size_t>(index)));
    WriteHuffmanTables(scan, options.tablesInOneSegment, huffmanWritten, out);
    auto perScan = options.scanRestartInterval.find(static_cast<int>(s));
    int interval =
        perScan != options.scanRestartInterval.end() ? perScan->second : options.restartInterval;
    if (interval != intervalInForce) {
      out.Segment(kMarkerDri,
                  {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval)});
      intervalInForce = interval;
    }
    WriteScanHeader(scan, out);
    if (!scan.empty()) EncodeScan(scan, frame, interval, options, restartsWritten, out);
  }
  if (options.writeEoi) out.Marker(kMarkerEoi);
  return std::move(out.bytes());
}

void AppendSegment(std::vector<uint8_t>& out, int marker, const std::vector<uint8_t>& payload) {
  std::size_t length = payload.size() + 2;
  out.push_back(0xFF);
  out.push_back(static_cast<uint8_t>(marker));
  out.push_back(static_cast<uint8_t>(length >> 8));
  out.push_back(static_cast<uint8_t>(length));
  out.insert(out.end(), payload.begin(), payload.end());
}

long FindMarker(const std::vector<uint8_t>& jpeg, int code, std::size_t from) {
  for (std::size_t i = from; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return static_cast<long>(i);
  }
  return -1;
}

std::vector<JpegSegment> ListSegments(const std::vector<uint8_t>& jpeg) {
  std::vector<JpegSegment> segments;
  std::size_t i = 0;
  while (i + 1 < jpeg.size()) {
    if (jpeg[i] != 0xFF) {  // entropy-coded data (or junk): passed over
      ++i;
      continue;
    }
    std::size_t p = i + 1;
    while (p < jpeg.size() && jpeg[p] == 0xFF) ++p;  // fill bytes
    if (p >= jpeg.size()) break;
    int code = jpeg[p];
    if (code == 0x00) {  // a stuffed data byte
      i = p + 1;
      continue;
    }
    JpegSegment segment;
    segment.marker = code;
    segment.offset = p - 1;
    i = p + 1;
    bool standalone = code == kMarkerSoi || code == kMarkerEoi || code == 0x01 ||
                      (code >= kMarkerRst0 && code <= kMarkerRst0 + 7);
    if (!standalone) {
      if (i + 2 > jpeg.size()) break;
      std::size_t length = (static_cast<std::size_t>(jpeg[i]) << 8) | jpeg[i + 1];
      if (length < 2 || i + length > jpeg.size()) break;
      segment.payload.assign(jpeg.begin() + static_cast<long>(i) + 2,
                             jpeg.begin() + static_cast<long>(i + length));
      i += length;
    }
    segments.push_back(std::move(segment));
    if (code == kMarkerEoi) break;
  }
  return segments;
}

}  // namespace iffjpeg_test
