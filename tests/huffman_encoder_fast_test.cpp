// The 64-bit Huffman writer against the byte-wise one: after every MCU the
// bytes written and held, the sizes of the writes and the bits left pending
// must agree, on random blocks of every character (sparse, dense, extreme,
// long zero runs, a last coefficient set), with a small stream buffer so that
// flushes fall everywhere, and with restart markers.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "driver/stages.h"
#include "encoder/compress_defaults.h"
#include "entropy/coefficient_masks.h"
#include "entropy/huffman_encoder.h"
#include "support/encoder_harness.h"
#include "support/memory_file.h"

namespace iffjpeg_test {
namespace {

using namespace iffjpeg;
using Block = std::array<int16_t, 64>;

Block RandomBlock(std::mt19937& rng, int kind) {
  Block b{};
  auto value = [&](int limit) {
    return static_cast<int16_t>(static_cast<int>(rng() % (2 * limit + 1)) - limit);
  };
  b[0] = value(kind == 3 ? 32767 : 2047);
  for (int k = 1; k < 64; ++k) {
    switch (kind) {
      case 0:  // sparse, low frequencies
        if (k < 12 || rng() % 10 == 0) b[k] = value(60);
        break;
      case 1:  // dense
        b[k] = value(1023);
        break;
      case 2:  // long zero runs, the last coefficient often set
        if (rng() % 23 == 0 || (k == 63 && rng() % 2)) b[k] = value(300);
        break;
      case 3:  // extremes (AC sizes up to 15)
        b[k] = std::array<int16_t, 5>{0, 0, 32767, -32767, 1}[rng() % 5];
        break;
      default:  // nothing but DC
        break;
    }
  }
  return b;
}

class Writer {
 public:
  Writer(bool colour, uint16_t restartInterval, uint32_t bufferSize) {
    EncoderState& enc = h_.enc();
    EXPECT_EQ(SetCompressDefaults(enc, 75, 0), 0);
    enc.componentsInScan = colour ? 3 : 1;
    for (int c = 0; c < enc.componentsInScan; ++c) enc.scanComponents[c] = &enc.components[c];
    const int16_t membership[6] = {0, 0, 0, 0, 1, 2};
    enc.blocksInMcu = colour ? 6 : 1;
    for (int b = 0; b < enc.blocksInMcu; ++b) enc.mcuMembership[b] = membership[b];
    enc.restartInterval = restartInterval;
    IFFHandle& handle = h_.handle();
    handle.stream.fileOps = file_.source()->ops;
    handle.stream.fileId =
        handle.stream.fileOps.open(file_.source(), IFF_OPEN_FLAGS_WRITE, IFF_OPEN_PERMISSION);
    handle.stream.bufferSize = bufferSize;  // the allocation is larger: only fewer bytes are held
    EXPECT_EQ(startHuffmanEncoding(handle.stream, handle.bitWriter, enc), 0);
  }
  ~Writer() { h_.handle().stream.fileOps.close(h_.handle().stream.fileId); }

  void Mcu(std::vector<int16_t> mcu,
           void (*encode)(ByteStream&, BitWriter&, EncoderState&, int16_t*)) {
    encode(h_.handle().stream, h_.handle().bitWriter, h_.enc(), mcu.data());
  }
  void Finish() { finishHuffmanEncoding(h_.handle().stream, h_.handle().bitWriter, h_.enc()); }

  std::string State() {
    const BitWriter& w = h_.handle().bitWriter;
    std::string s = "written " + std::to_string(file_.data.size()) + " in " +
                    std::to_string(file_.writeSizes.size()) + " writes, held " +
                    std::to_string(h_.bytes().size()) + ", pending " +
                    std::to_string(w.bitAccumulator) + "/" + std::to_string(w.bitCount);
    return s;
  }
  std::vector<uint8_t> Bytes() {
    std::vector<uint8_t> all = file_.data;
    std::vector<uint8_t> held = h_.bytes();
    all.insert(all.end(), held.begin(), held.end());
    return all;
  }
  std::vector<int32_t> WriteSizes() { return file_.writeSizes; }

 private:
  EncoderHarness h_;
  MemoryFile file_;
};

TEST(HuffmanEncoderFast, SameBytesFlushesAndPendingBits) {
  std::mt19937 rng(404);
  for (int round = 0; round < 120; ++round) {
    bool colour = round % 2 == 0;
    uint16_t restart = static_cast<uint16_t>(round % 3 == 0 ? 1 + round % 5 : 0);
    uint32_t bufferSize = std::array<uint32_t, 5>{1, 5, 37, 4096, kStreamBufferSize}[round % 5];
    Writer reference(colour, restart, bufferSize);
    Writer fast(colour, restart, bufferSize);
    int blocks = colour ? 6 : 1;
    for (int m = 0; m < 40; ++m) {
      std::vector<int16_t> mcu;
      for (int b = 0; b < blocks; ++b) {
        Block block = RandomBlock(rng, (round + m + b) % 5);
        mcu.insert(mcu.end(), block.begin(), block.end());
      }
      reference.Mcu(mcu, encodeHuffmanMcu);
      fast.Mcu(mcu, encodeHuffmanMcuFast);
      ASSERT_EQ(reference.State(), fast.State()) << "round " << round << " MCU " << m;
      ASSERT_EQ(reference.Bytes(), fast.Bytes()) << "round " << round << " MCU " << m;
    }
    reference.Finish();
    fast.Finish();
    ASSERT_EQ(reference.Bytes(), fast.Bytes()) << "round " << round;
    ASSERT_EQ(reference.WriteSizes(), fast.WriteSizes()) << "round " << round;
  }
}

// The coders' coefficient masks against their scalar forms, on every shift
// a scan can use, with the extreme values among random ones.
TEST(CoefficientMasks, SimdMasksMatchTheScalarMasks) {
  std::mt19937 rng(23);
  const int16_t extremes[] = {0, 1, -1, 2, -2, 255, -256, 2047, -2048, 32767, -32767, -32768};
  for (int trial = 0; trial < 2000; ++trial) {
    Block b = RandomBlock(rng, trial % 4);
    if (trial % 3 == 0) {
      for (int16_t& c : b) c = extremes[rng() % std::size(extremes)];
    }
    EXPECT_EQ(NonZeroMask(b.data()), NonZeroMaskScalar(b.data()));
    for (int32_t shift = 0; shift <= 14; ++shift) {
      ASSERT_EQ(MagnitudeMask(b.data(), shift), MagnitudeMaskScalar(b.data(), shift)) << shift;
      ASSERT_EQ(BitPlaneMask(b.data(), shift), BitPlaneMaskScalar(b.data(), shift)) << shift;
      if (shift <= 13) {
        RefinementMasks simd = RefinementMasksOf(b.data(), shift);
        RefinementMasks scalar = RefinementMasksScalar(b.data(), shift);
        ASSERT_EQ(simd.nonZero, scalar.nonZero) << shift;
        ASSERT_EQ(simd.before, scalar.before) << shift;
        ASSERT_EQ(simd.bits, scalar.bits) << shift;
      }
    }
  }
}

#if defined(IFFJPEG_HAVE_AVX2)
// The row kernels against the per-block scalar forms, on rows of 1 to 40
// blocks (whose masks are read from a larger array), every shift a scan
// can use; nothing past the row's masks is written.
TEST(CoefficientMasks, RowKernelsMatchTheScalarMasks) {
  if (!__builtin_cpu_supports("avx2")) GTEST_SKIP() << "no AVX2";
  std::mt19937 rng(59);
  const int16_t extremes[] = {0, 1, -1, 2, -2, 3, -3, 4, -4, 8191, -8192, 32767, -32767, -32768};
  std::vector<Block> blocks(48);
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    blocks[i] = RandomBlock(rng, static_cast<int>(i % 4));
    if (i % 3 == 0) {
      for (int16_t& c : blocks[i]) c = extremes[rng() % std::size(extremes)];
    }
  }
  for (int32_t count = 1; count <= 40; ++count) {
    const Block* row = &blocks[static_cast<std::size_t>(count % 7)];
    for (int32_t shift = 0; shift <= 13; ++shift) {
      std::vector<uint64_t> magnitudes(static_cast<std::size_t>(count) + 1, 0x5A5A);
      std::vector<RefinementMasks> refinement(static_cast<std::size_t>(count) + 1,
                                              RefinementMasks{1, 2, 3});
      MagnitudeMasksAvx2(row[0].data(), count, shift, magnitudes.data());
      RefinementMasksAvx2(row[0].data(), count, shift, refinement.data());
      for (int32_t b = 0; b < count; ++b) {
        const RefinementMasks scalar = RefinementMasksScalar(row[b].data(), shift);
        ASSERT_EQ(magnitudes[b], MagnitudeMaskScalar(row[b].data(), shift)) << count << " " << b;
        ASSERT_EQ(refinement[b].nonZero, scalar.nonZero) << count << " " << b << " " << shift;
        ASSERT_EQ(refinement[b].before, scalar.before) << count << " " << b << " " << shift;
        ASSERT_EQ(refinement[b].bits, scalar.bits) << count << " " << b << " " << shift;
      }
      ASSERT_EQ(magnitudes[count], 0x5A5Au);
      ASSERT_EQ(refinement[count].nonZero + refinement[count].before + refinement[count].bits, 6u);
    }
  }
}
#endif

// The refinement's bit steps: the instruction forms against the portable
// ones, on sparse, dense and edge masks and every count.
TEST(CoefficientMasks, BitInstructionsMatchThePortableForms) {
  std::mt19937_64 rng(41);
  std::vector<uint64_t> masks = {0, 1, uint64_t{1} << 63, ~uint64_t{0}, 0x8000000000000001u};
  for (int i = 0; i < 3000; ++i) {
    uint64_t m = rng();
    masks.push_back(i % 3 == 0 ? m & rng() & rng() : i % 3 == 1 ? m | rng() : m);
  }
  for (uint64_t mask : masks) {
    for (int32_t n = 0; n < 64; ++n) {
      uint64_t expected = SelectBitScalar(mask, n);
      ASSERT_EQ(expected != 0, BitCount(mask) > n) << mask << " " << n;
      if (expected != 0) {
        ASSERT_EQ(BitCount(mask & (expected - 1)), n) << mask << " " << n;
      }
#if defined(IFFJPEG_HAVE_AVX2)
      if (__builtin_cpu_supports("bmi2")) {
        ASSERT_EQ(SelectBitDeposit(mask, n), expected);
      }
#endif
    }
    uint64_t source = rng();
    uint64_t deposited = DepositBitsScalar(source, mask);
    ASSERT_EQ(deposited & ~mask, 0u) << mask;
    for (int32_t i = 0; i < BitCount(mask); ++i) {
      ASSERT_EQ((deposited & SelectBitScalar(mask, i)) != 0, ((source >> i) & 1) != 0) << mask;
    }
    ASSERT_EQ(ReverseBits(ReverseBits(mask)), mask);
    ASSERT_EQ(ReverseBits(mask) >> 63, mask & 1) << mask;
#if defined(IFFJPEG_HAVE_AVX2)
    if (__builtin_cpu_supports("bmi2")) {
      ASSERT_EQ(DepositBitsInstruction(source, mask), deposited) << mask;
    }
    if (__builtin_cpu_supports("popcnt")) {
      ASSERT_EQ(BitCountInstruction(mask), BitCount(mask));
    }
#endif
  }
}

}  // namespace
}  // namespace iffjpeg_test
