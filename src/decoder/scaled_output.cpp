#include "decoder/scaled_output.h"

#include <algorithm>
#include <cstring>

#include "common/result_codes.h"
#include "decoder/mcu_rows.h"
#include "platform/cpu_features.h"
#include "transform/idct.h"
#include "transform/idct_reduced.h"
#include "transform/transform_kernels.h"

namespace iffjpeg {
namespace {

// How much larger than size a subsampled component's blocks are made: the
// largest divisor of its factor ratio that keeps them within 8 samples and
// a power of two, the sides the reduced transforms have (a ratio of 3, from
// sampling factors 3 and 1, is replicated instead).
int32_t Enlargement(int32_t ratio, int32_t size) {
  int32_t k = ratio;
  while (k > 1 && (size * k > 8 || ratio % k != 0 || (k & (k - 1)) != 0)) --k;
  return k;
}

// The coefficients (bit k: zigzag index k) outside the top-left
// width x height of a block.
uint64_t CoefficientsOutside(int32_t width, int32_t height) {
  uint64_t outside = 0;
  for (int32_t k = 0; k < 64; ++k) {
    const int32_t natural = zigzagToNatural[k];
    if (natural % 8 >= width || natural / 8 >= height) outside |= uint64_t{1} << k;
  }
  return outside;
}

int32_t AllocateScaledBands(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  ScaledFields& sf = f.scaled;
  // The line controller's blocks: the Huffman decoders store only the
  // coefficients the reduced transforms read, and ReconstructScaled clears
  // those after use (coefRowsClear as the full size leaves it), so the
  // rest of each block stays zero. With the scalar kernels forced, the
  // straightforward twin: every coefficient stored, the blocks cleared
  // before each MCU row. The coefficient controller's rows are cleared by
  // FetchCoefficientRow.
  const bool line = dec.methods->controller == ControllerKind::kLine;
  const bool drop = line && !platform::ScalarKernelsForced();
  if (!line) f.coefRowsClear = 0;
  sf.size = 8 / dec.scaleDenom;
  sf.width = ceilDiv(dec.imageWidth, dec.scaleDenom);
  sf.height = ceilDiv(dec.imageHeight, dec.scaleDenom);
  sf.bandRows = sf.size * dec.maxVSampFactor;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    const int32_t eh = dec.maxHSampFactor / comp.hSampFactor;
    const int32_t ev = dec.maxVSampFactor / comp.vSampFactor;
    const int32_t kh = Enlargement(eh, sf.size), kv = Enlargement(ev, sf.size);
    sf.compWidth[i] = sf.size * kh;
    sf.compHeight[i] = sf.size * kv;
    sf.repeatH[i] = eh / kh;
    sf.repeatV[i] = ev / kv;
    // A side of 4 folds the block's terms 5..7 in (FoldForHalfSize).
    const int32_t usedW = sf.compWidth[i] == 4 ? 8 : sf.compWidth[i];
    const int32_t usedH = sf.compHeight[i] == 4 ? 8 : sf.compHeight[i];
    dec.unusedCoefficients[i] = drop ? CoefficientsOutside(usedW, usedH) : 0;
    sf.compRows[i] = dec.memory->allocSampleArray((comp.paddedWidth / 8) * sf.compWidth[i],
                                                  sf.compHeight[i] * comp.vSampFactor, dec.pool);
    sf.upRows[comp.componentIndex] = dec.memory->allocSampleArray(sf.width, sf.bandRows, dec.pool);
    if (sf.compRows[i] == nullptr || sf.upRows[comp.componentIndex] == nullptr) return kErrMemory;
  }
  sf.begun = 1;
  return kOk;
}

// Zeroes the top-left width x height coefficients of a block, in pieces of
// a size known at compile time.
template <int32_t W>
void ClearRows(int16_t* block, int32_t height) {
  for (int32_t y = 0; y < height; ++y) std::memset(block + 8 * y, 0, sizeof(int16_t) * W);
}

void ClearUsed(int16_t* block, int32_t width, int32_t height) {
  if (width == 8) return ClearRows<8>(block, height);
  if (width == 4) return ClearRows<4>(block, height);
  if (width == 2) return ClearRows<2>(block, height);
  ClearRows<1>(block, height);
}

// True when the coefficients a folded block's transform reads (usedW x
// usedH) include terms past the fourth along a folded side. Only those are
// looked at: the decoders may have stored others or not (unusedCoefficients).
bool HasTermsPastFour(const int16_t* block, bool across, bool down, int32_t usedW, int32_t usedH) {
  if (across && down) return ClassifyBlock(block) == BlockExtent::kFull;
  for (int32_t r = down ? 4 : 0; r < usedH; ++r) {
    for (int32_t c = across ? 4 : 0; c < usedW; ++c) {
      if (block[8 * r + c] != 0) return true;
    }
  }
  return false;
}

// The blocks of MCU row j of the band, each to its component's
// compWidth x compHeight samples; with coefRowsClear, the coefficients the
// transform read are cleared after it, the only ones the decoding stored.
void ReconstructScaled(DecoderState& dec, const DecompressFields& f, int32_t j) {
  const ScaledFields& sf = f.scaled;
  const bool clear = f.coefRowsClear != 0;
  const FoldForHalfSizeFn fold = SelectedTransformKernels().foldForHalfSize;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    const int32_t w = sf.compWidth[i], h = sf.compHeight[i];
    const int32_t blocksPerRow = comp.paddedWidth / 8;
    const ReducedTransform transform = SelectReducedTransform(w, h);
    for (int32_t r = 0; r < comp.mcuHeight; ++r) {
      BlockRow blocks = f.coefRows[i][r];
      SampleRow const* out = sf.compRows[i] + (j * comp.mcuHeight + r) * h;
      if (w == 1 && h == 1) {
        // 1/8: each block is its DC term, one sample.
        uint8_t* row = out[0];
        for (int32_t b = 0; b < blocksPerRow; ++b) {
          row[b] = ReducedDcSample(blocks[b][0]);
          if (clear) blocks[b][0] = 0;
        }
        continue;
      }
      if (w == 2 && h == 2) {
        ReducedTwoRowToSamples(blocks, blocksPerRow, out, clear);
        continue;
      }
      if (w == 8 && h == 8) {
        // A subsampled component at 1/2: the full-size reconstruction.
        TransformBlockRow(blocks, blocksPerRow, out, clear);
        continue;
      }
      // A side of 4 samples gives the means of pairs of the full
      // transform's: a block with terms past the fourth along it is folded
      // first.
      const bool across = w == 4, down = h == 4;
      const int32_t usedW = across ? 8 : w, usedH = down ? 8 : h;
      for (int32_t b = 0; b < blocksPerRow; ++b) {
        if ((across || down) && HasTermsPastFour(blocks[b], across, down, usedW, usedH)) {
          fold(blocks[b], across, down);
        }
        transform(blocks[b], out, b * w);
        if (clear) ClearUsed(blocks[b], usedW, usedH);
      }
    }
  }
}

// Past the bottom of a one-component scan: the band's missing block row
// repeats the last sample row above it.
void RepeatRows(DecoderState& dec, const ScaledFields& sf, int32_t j) {
  const ComponentInfo& comp = *dec.scanComponents[0];
  const int32_t s = sf.compHeight[0];
  const auto width = static_cast<std::size_t>((comp.paddedWidth / 8) * sf.compWidth[0]);
  SampleArray rows = sf.compRows[0];
  for (int32_t k = 0; k < s; ++k) std::memcpy(rows[j * s + k], rows[j * s - 1], width);
}

void Replicate(DecoderState& dec, const ScaledFields& sf) {
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    const int32_t eh = sf.repeatH[i];
    const int32_t ev = sf.repeatV[i];
    const int32_t last = (comp.paddedWidth / 8) * sf.compWidth[i] - 1;
    SampleArray out = sf.upRows[comp.componentIndex];
    for (int32_t y = 0; y < sf.bandRows; ++y) {
      const uint8_t* in = sf.compRows[i][y / ev];
      uint8_t* row = out[y];
      if (eh == 1 && last + 1 >= sf.width) {
        std::memcpy(row, in, static_cast<std::size_t>(sf.width));
        continue;
      }
      for (int32_t x = 0; x < sf.width; ++x) row[x] = in[std::min(x / eh, last)];
    }
  }
}

void DecodeScaledBand(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  ScaledFields& sf = f.scaled;
  for (int32_t j = 0; j < f.mcuRowsPerBand; ++j) {
    if (f.mcuRowIndex + j < dec.mcuRowsInScan) {
      f.mcuRowInBand = j;  // the end-of-data check reads the current MCU row
      dec.methods->decodeMcuRow(handle, dec, f.coefRows);
      ReconstructScaled(dec, f, j);
    } else {
      RepeatRows(dec, sf, j);
    }
  }
  f.mcuRowInBand = 0;
  f.mcuRowIndex += f.mcuRowsPerBand;
  Replicate(dec, sf);
  sf.bandLines = std::min(sf.bandRows, sf.height - sf.linesDone);
  sf.linesDone += sf.bandLines;
  sf.nextInBand = 0;
}

}  // namespace

int32_t HandOverScaledLine(IFFHandle& handle, DecoderState& dec) {
  DecompressFields& f = handle.decomp;
  ScaledFields& sf = f.scaled;
  if (!sf.begun && AllocateScaledBands(handle, dec) != kOk) return kErrMemory;
  if (sf.nextInBand >= sf.bandLines) {
    if (f.mcuRowIndex < dec.mcuRowsInScan) {
      DecodeScaledBand(handle, dec);
    } else {
      sf.nextInBand = 0;  // past the last line: the last band again
    }
  }
  if (handle.currentLine != nullptr) {
    SampleRow output[1] = {handle.currentLine};
    dec.methods->convertColour(dec, sf.nextInBand, sf.width, sf.upRows, output);
  }
  ++sf.nextInBand;
  return kOk;
}

void RestartScaledLines(IFFHandle& handle) {
  DecompressFields& f = handle.decomp;
  f.mcuRowIndex = 0;
  f.mcuRowInBand = 0;
  f.scaled.bandLines = f.scaled.nextInBand = f.scaled.linesDone = 0;
}

int32_t AverageFullLines(IFFHandle& handle, uint8_t* line,
                         int32_t (*fullLine)(IFFHandle& handle, uint8_t* line)) {
  DecoderState& dec = handle.decoder;
  ScaledFields& sf = handle.decomp.scaled;
  const int32_t d = dec.scaleDenom;
  const int32_t fullWidth = dec.imageWidth;
  const int32_t planes = handle.planes;
  const auto fullStride = static_cast<std::size_t>(fullWidth) * planes;
  if (sf.fullLines == nullptr) {
    sf.fullLines = static_cast<uint8_t*>(dec.memory->allocLarge(fullStride * d, dec.pool));
    if (sf.fullLines == nullptr) return kErrMemory;
  }
  const int32_t top = handle.lineCounter * d;
  const int32_t rows = top < dec.imageHeight ? std::min(d, dec.imageHeight - top) : d;
  int32_t code = kOk;
  for (int32_t k = 0; k < rows; ++k) {
    int32_t rc = fullLine(handle, sf.fullLines + fullStride * static_cast<std::size_t>(k));
    if (code == kOk) code = rc;
    if (rc != kOk && rc != kErrDataEnded) return rc;
  }
  if (line == nullptr) return code;
  const int32_t width = ceilDiv(fullWidth, d);
  for (int32_t x = 0; x < width; ++x) {
    const int32_t left = x * d;
    const int32_t cols = std::min(d, fullWidth - left);
    const int32_t n = cols * rows;
    for (int32_t p = 0; p < planes; ++p) {
      int32_t sum = 0;
      for (int32_t k = 0; k < rows; ++k) {
        const uint8_t* in = sf.fullLines + fullStride * static_cast<std::size_t>(k);
        for (int32_t c = 0; c < cols; ++c) sum += in[(left + c) * planes + p];
      }
      line[x * planes + p] = static_cast<uint8_t>((sum + n / 2) / n);
    }
  }
  return code;
}

}  // namespace iffjpeg
