// Compression defaults: the base tables of T.81 Annex K and the operations
// that scale and install them in an EncoderState.
#pragma once

#include <cstdint>

#include "encoder/encoder_state.h"
#include "entropy/annex_k_tables.h"

namespace iffjpeg {

// T.81 Annex K, Tables K.1 and K.2, in zigzag order.
extern const uint16_t kLuminanceQuantTable[64];
extern const uint16_t kChrominanceQuantTable[64];

// Quality (any int) to scale factor in percent: 5000 / q below 50,
// 200 - 2q from 50 to 100, with q clamped to 1..100.
int32_t QualityScale(int32_t quality);

// Fills slot (0..3) from base scaled by scale percent. False when the table
// cannot be allocated.
bool ScaleQuantTable(EncoderState& enc, int32_t slot, const uint16_t* base, int32_t scale,
                     int32_t forceBaseline);

// Copies counts and symbols into *slot, allocating the table first when the
// slot is empty. False when the allocation fails.
bool AddHuffTable(EncoderState& enc, HuffTable** slot, const uint8_t* bits, const uint8_t* values);

// The four Annex K tables into DC/AC slots 0 and 1; 0 or 5.
int32_t AddStandardHuffTables(EncoderState& enc);

}  // namespace iffjpeg
