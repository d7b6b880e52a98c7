#include "entropy/huffman_optimizer.h"

#include <bit>
#include <cstring>

#include "entropy/coefficient_masks.h"

namespace iffjpeg {
namespace {

// The size category of a value (T.81 F.1.2.1, F.1.2.2).
inline int32_t Category(int32_t v) {
  uint32_t m = static_cast<uint32_t>(v < 0 ? -v : v);
  return m == 0 ? 0 : 32 - std::countl_zero(m);
}

// Symbols 0..255 and the reserved one (K.2: it keeps the all-1-bits code
// out of the table).
constexpr int kSymbols = 257;
constexpr int kReserved = 256;
// A code length can reach kSymbols - 1 before the K.3 adjustment.
constexpr int kMaxRawLength = kSymbols;

}  // namespace

void CountBlockSymbols(const int16_t* block, int32_t dcDifference, SymbolCounts& dc,
                       SymbolCounts& ac) {
  ++dc.count[Category(dcDifference)];
  // Only the non-zero AC coefficients are visited; the zeros between them
  // are the runs.
  int32_t next = 1;
  for (uint64_t nonZero = NonZeroMask(block) & ~uint64_t{1}; nonZero != 0; nonZero &= nonZero - 1) {
    int32_t k = LowestBit(nonZero);
    int32_t run = k - next;
    next = k + 1;
    for (; run > 15; run -= 16) ++ac.count[0xF0];
    ++ac.count[run * 16 + Category(block[k])];
  }
  if (next <= 63) ++ac.count[0x00];
}

void BuildOptimalTable(const SymbolCounts& counts, HuffTable& table) {
  int64_t freq[kSymbols];
  bool any = false;
  for (int v = 0; v < 256; ++v) {
    freq[v] = counts.count[v];
    if (freq[v] != 0) any = true;
  }
  if (!any) freq[0] = 1;
  freq[kReserved] = 1;

  // Figure K.1: join the two least frequent entries until one is left; each
  // join lengthens the code of every symbol on both chains by one. Ties go
  // to the larger symbol, so the reserved one ends on a longest code.
  int32_t codeSize[kSymbols] = {};
  int32_t others[kSymbols];
  for (int32_t& o : others) o = -1;
  // Only the symbols still in play are searched, in increasing order, which
  // picks exactly what a search of all 257 would.
  int active[kSymbols];
  int count = 0;
  for (int v = 0; v < kSymbols; ++v) {
    if (freq[v] != 0) active[count++] = v;
  }
  for (;;) {
    int i1 = -1;
    for (int i = 0; i < count; ++i) {
      if (i1 < 0 || freq[active[i]] <= freq[active[i1]]) i1 = i;
    }
    int i2 = -1;
    for (int i = 0; i < count; ++i) {
      if (i != i1 && (i2 < 0 || freq[active[i]] <= freq[active[i2]])) i2 = i;
    }
    if (i2 < 0) break;
    int v1 = active[i1];
    int v2 = active[i2];
    freq[v1] += freq[v2];
    freq[v2] = 0;
    for (int i = i2; i + 1 < count; ++i) active[i] = active[i + 1];
    --count;
    for (++codeSize[v1]; others[v1] >= 0; ++codeSize[v1]) v1 = others[v1];
    others[v1] = v2;
    for (++codeSize[v2]; others[v2] >= 0; ++codeSize[v2]) v2 = others[v2];
  }

  // Figure K.2: codes of each length.
  int32_t bits[kMaxRawLength + 1] = {};
  for (int v = 0; v < kSymbols; ++v) {
    if (codeSize[v] != 0) ++bits[codeSize[v]];
  }
  // Figure K.3: move pairs of the longest codes up until none is above 16
  // bits, then drop the reserved code from the longest length left.
  for (int i = kMaxRawLength; i > 16; --i) {
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
  bits[longest] -= 1;

  table.bits[0] = 0;
  for (int l = 1; l <= 16; ++l) table.bits[l] = static_cast<uint8_t>(bits[l]);
  // Figure K.4: symbols in order of their code length, then their value
  // (a counting sort on the lengths).
  int32_t next[kMaxRawLength + 2] = {};
  for (int v = 0; v < 256; ++v) {
    if (codeSize[v] != 0) ++next[codeSize[v] + 1];
  }
  for (int length = 1; length <= kMaxRawLength + 1; ++length) next[length] += next[length - 1];
  for (int v = 0; v < 256; ++v) {
    if (codeSize[v] != 0) table.huffval[next[codeSize[v]]++] = static_cast<uint8_t>(v);
  }
  table.written = 0;
}

}  // namespace iffjpeg
