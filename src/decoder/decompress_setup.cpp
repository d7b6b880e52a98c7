// Decompression set-up: defaults, the checks that decide whether a file can
// be decoded, sampling geometry, and the choice of the variable stages.
#include "decoder/decompress_setup.h"

#include <cstring>

#include "common/result_codes.h"
#include "decoder/band_machinery.h"
#include "decoder/colour_deconvert.h"
#include "decoder/mcu_rows.h"
#include "decoder/upsample.h"
#include "driver/stages.h"
#include "entropy/huffman_decoder.h"

namespace iffjpeg {
namespace {

bool FactorInRange(int32_t factor) { return factor >= 1 && factor <= 4; }

// T.81 A.1.1: the maxima, and each component's true dimensions.
int32_t SetSamplingGeometry(DecoderState& dec) {
  dec.maxHSampFactor = 1;
  dec.maxVSampFactor = 1;
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    const ComponentInfo& comp = dec.components[c];
    if (!FactorInRange(comp.hSampFactor) || !FactorInRange(comp.vSampFactor)) return kErrBadData;
    if (comp.hSampFactor > dec.maxHSampFactor) dec.maxHSampFactor = comp.hSampFactor;
    if (comp.vSampFactor > dec.maxVSampFactor) dec.maxVSampFactor = comp.vSampFactor;
  }
  const FrameSize frame = FrameOf(dec);
  for (int32_t c = 0; c < dec.numComponents; ++c) SizeComponent(dec.components[c], frame);
  // A component whose factors do not divide the maxima has no upsampler.
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    const ComponentInfo& comp = dec.components[c];
    if (ChooseUpsampler(comp.hSampFactor, comp.vSampFactor, dec.maxHSampFactor,
                        dec.maxVSampFactor) == nullptr) {
      return kErrBadData;
    }
  }
  return 0;
}

// Every component's table number must name a slot. The first scan's tables
// must be defined before it starts; a later scan's may still come in a DQT
// between the scans (T.81 B.2.4.1), which the whole-image controller checks.
int32_t CheckQuantTables(const DecoderState& dec) {
  for (int32_t c = 0; c < dec.numComponents; ++c) {
    int32_t number = dec.components[c].quantTableNo;
    if (number < 0 || number >= kNumTables) return kErrBadData;
  }
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    if (dec.quantTables[dec.scanComponents[i]->quantTableNo] == nullptr) return kErrBadData;
  }
  return 0;
}

// The line controller serves files whose first scan holds every component;
// reading the others needs the whole-image controller.
// Extended reading decodes progressive and multi-scan frames into
// coefficients instead.
void SelectController(DecoderState& dec) {
  bool oneScan = dec.scanComponentCount == dec.numComponents && dec.progressive == 0;
  if (oneScan) {
    dec.methods->controller = ControllerKind::kLine;
  } else {
    dec.methods->controller =
        dec.extendedReading ? ControllerKind::kCoefficients : ControllerKind::kWholeImage;
  }
}

}  // namespace

void PrepareScan(DecoderState& dec) {
  DecoderMethods& m = *dec.methods;
  m.decodeMcuRow = dec.scanComponentCount == 1 ? DecodeMcuRowSingle : DecodeMcuRowInterleaved;
  m.reconstructMcuRow = ReconstructMcuRow;
  for (int32_t i = 0; i < dec.scanComponentCount; ++i) {
    const ComponentInfo& comp = *dec.scanComponents[i];
    m.upsample[i] =
        ChooseUpsampler(comp.hSampFactor, comp.vSampFactor, dec.maxHSampFactor, dec.maxVSampFactor);
  }
}

int32_t SetDecompressDefaults(DecoderState& dec) {
  dec.components = nullptr;
  for (int32_t i = 0; i < kNumTables; ++i) {
    dec.quantTables[i] = nullptr;
    dec.dcHuffTables[i] = nullptr;
    dec.acHuffTables[i] = nullptr;
  }
  dec.jpegColourSpace = kColourUnknown;
  dec.outputColourSpace = kColourRgb;
  return 0;
}

int32_t PrepareDecompress(DecoderState& dec) {
  if (dec.dataPrecision != 8) return kErrBadData;
  if (dec.imageWidth <= 0 || dec.imageHeight <= 0) return kErrBadData;
  int32_t rc = SetSamplingGeometry(dec);
  if (rc == 0) rc = CheckQuantTables(dec);
  if (rc != 0) return rc;
  if (dec.arithCode != 0) return kErrVariant;
  selectHuffmanDecoder(dec);
  rc = SelectColourDeconverter(dec);
  if (rc != 0) return rc;
  SelectController(dec);
  dec.methods->prepareScan = PrepareScan;
  return 0;
}

}  // namespace iffjpeg
