// The Huffman encoder of a sequential scan (T.81 F.1.2): DC differences and
// AC run/size pairs, packed into bytes with 0xFF stuffing.
#pragma once

#include <cstdint>

#include "encoder/compress_fields.h"
#include "encoder/encoder_state.h"
#include "format/jpeg_records.h"
#include "stream/byte_stream.h"

namespace iffjpeg {

// Installs the three entropy entries unless arithmetic coding is asked for.
int32_t selectHuffmanEncoder(EncoderState& enc);

// Resets the bit writer, builds the scan's code tables and clears the DC
// predictions. Returns 0, or 2 when a scan component has no DC or AC table
// (tables of the components before it are built all the same).
int32_t startHuffmanEncoding(ByteStream& stream, BitWriter& writer, EncoderState& enc);
// Codes one MCU: blocksInMcu blocks of 64 quantized coefficients in zigzag
// order. Block DC entries are replaced by the DC differences.
void encodeHuffmanMcu(ByteStream& stream, BitWriter& writer, EncoderState& enc, int16_t* mcu);
// The same through a 64-bit accumulator (huffman_encoder_fast.cpp): the
// same bytes, flushed at the same moments, the same bit writer left behind.
void encodeHuffmanMcuFast(ByteStream& stream, BitWriter& writer, EncoderState& enc, int16_t* mcu);
// Completes the last byte with 1-bits. Returns 0.
int32_t finishHuffmanEncoding(ByteStream& stream, BitWriter& writer, EncoderState& enc);

// Code and length of every symbol (T.81 Annex C).
void buildEncodingTable(HuffTable& table);
// Appends the low `size` bits of `code` to the bit stream.
void emitBits(ByteStream& stream, BitWriter& writer, int32_t size, uint32_t code);
// Pads a partial byte with 1-bits (T.81 F.1.2.3) and empties the writer.
void completeLastByte(ByteStream& stream, BitWriter& writer);
void encodeBlock(ByteStream& stream, BitWriter& writer, int16_t* block, const HuffTable& dcTable,
                 const HuffTable& acTable);
void emitRestart(ByteStream& stream, BitWriter& writer, EncoderState& enc);

}  // namespace iffjpeg
