#include "format/scan_layout.h"

#include "common/result_codes.h"
#include "memory/memory_manager.h"

namespace iffjpeg {

void SizeComponent(ComponentInfo& comp, const FrameSize& frame) {
  comp.trueWidth = ceilDiv(comp.hSampFactor * frame.width, frame.maxHSampFactor);
  comp.trueHeight = ceilDiv(comp.vSampFactor * frame.height, frame.maxVSampFactor);
}

McuLayout LayOutInterleavedGeometry(ComponentInfo* const* components, int32_t count,
                                    const FrameSize& frame) {
  McuLayout layout{};
  layout.mcusPerRow = ceilDiv(frame.width, 8 * frame.maxHSampFactor);
  layout.mcuRows = ceilDiv(frame.height, 8 * frame.maxVSampFactor);
  for (int32_t i = 0; i < count; ++i) {
    ComponentInfo& comp = *components[i];
    comp.mcuWidth = comp.hSampFactor;
    comp.mcuHeight = comp.vSampFactor;
    comp.mcuBlocks = static_cast<int16_t>(comp.mcuWidth * comp.mcuHeight);
    comp.paddedWidth = roundUp(comp.trueWidth, 8 * comp.mcuWidth);
    comp.paddedHeight = roundUp(comp.trueHeight, 8 * comp.mcuHeight);
  }
  return layout;
}

int32_t LayOutScan(ComponentInfo* const* components, int32_t count, const FrameSize& frame,
                   McuLayout& layout) {
  if (count == 1) {
    ComponentInfo& comp = *components[0];
    comp.mcuWidth = comp.mcuHeight = comp.mcuBlocks = 1;
    comp.paddedWidth = roundUp(comp.trueWidth, 8);
    comp.paddedHeight = roundUp(comp.trueHeight, 8);
    layout = McuLayout{};
    layout.mcusPerRow = comp.paddedWidth / 8;
    layout.mcuRows = comp.paddedHeight / 8;
    layout.blocksInMcu = 1;
    layout.membership[0] = 0;
    return kOk;
  }
  layout = LayOutInterleavedGeometry(components, count, frame);
  for (int32_t i = 0; i < count; ++i) {
    const ComponentInfo& comp = *components[i];
    if (layout.blocksInMcu + comp.mcuBlocks > kMaxBlocksInMcu) return kErrInvalid;
    for (int32_t b = 0; b < comp.mcuBlocks; ++b) {
      layout.membership[layout.blocksInMcu++] = static_cast<int16_t>(i);
    }
  }
  return kOk;
}

}  // namespace iffjpeg
