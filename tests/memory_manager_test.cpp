// The memory manager: object lists, chunked arrays and their failure rules,
// freeAll, and virtual arrays held whole or windowed over the backing store.
#include "memory/memory_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "memory/memory_internal.h"
#include "platform/platform.h"
#include "support/open_files.h"

namespace {

using iffjpeg::BlockArray;
using iffjpeg::CoefBlock;
using iffjpeg::MemoryManager;
using iffjpeg::MemoryPool;
using iffjpeg::SampleArray;
using iffjpeg::VirtualBlockArray;
using iffjpeg::VirtualSampleArray;
using iffjpeg::memory_internal::ArrayHeader;
using iffjpeg::memory_internal::BackingStore;
using iffjpeg::memory_internal::HeaderOf;
using iffjpeg::memory_internal::ObjectHeader;
namespace hooks = iffjpeg::testing;

class MemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hooks::FailAllocationNumber(0);
    iffjpeg::installMemoryManager(mm, pool);
  }
  void TearDown() override {
    hooks::FailAllocationNumber(0);
    hooks::FailNextTempFile(false);
    mm.freeAll(pool);
  }

  bool PoolEmpty() const {
    return pool.smallObjects == nullptr && pool.largeObjects == nullptr &&
           pool.sampleArrays == nullptr && pool.blockArrays == nullptr &&
           pool.virtualSampleArrays == nullptr && pool.virtualBlockArrays == nullptr;
  }

  MemoryManager mm{};
  MemoryPool pool{};
};

// Caller addresses of the objects on a list, head first.
std::vector<void*> ListedObjects(void* head) {
  std::vector<void*> objects;
  for (auto* h = static_cast<ObjectHeader*>(head); h != nullptr; h = h->next) {
    objects.push_back(h + 1);
  }
  return objects;
}

int OpenDescriptors() { return iffjpeg_test::OpenFileCount(); }

uint8_t SampleAt(int32_t row, int32_t column) {
  return static_cast<uint8_t>(row * 31 + column * 7 + 1);
}

int16_t CoefAt(int32_t row, int32_t block, int32_t k) {
  return static_cast<int16_t>((row * 977 + block * 61 + k * 13) % 4001 - 2000);
}

// ---------------------------------------------------------------------------
// Objects and freeAll

using MemoryObjects = MemoryTest;

TEST_F(MemoryObjects, ListedMostRecentFirstAndAlignedForAnyType) {
  void* a = mm.allocSmall(24, pool);
  void* b = mm.allocSmall(1, pool);
  void* c = mm.allocSmall(100, pool);
  ASSERT_TRUE(a && b && c);
  for (void* p : {a, b, c}) EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
  EXPECT_EQ(ListedObjects(pool.smallObjects), (std::vector<void*>{c, b, a}));

  // Freeing one that is not at the head leaves the others in their order.
  mm.freeSmall(b, pool);
  EXPECT_EQ(ListedObjects(pool.smallObjects), (std::vector<void*>{c, a}));
  mm.freeSmall(c, pool);
  EXPECT_EQ(ListedObjects(pool.smallObjects), (std::vector<void*>{a}));

  void* x = mm.allocLarge(300000, pool);
  void* y = mm.allocLarge(16, pool);
  ASSERT_TRUE(x && y);
  std::memset(x, 0xAB, 300000);
  EXPECT_EQ(ListedObjects(pool.largeObjects), (std::vector<void*>{y, x}));
  mm.freeLarge(x, pool);
  EXPECT_EQ(ListedObjects(pool.largeObjects), (std::vector<void*>{y}));
  EXPECT_EQ(ListedObjects(pool.smallObjects), (std::vector<void*>{a}));
}

TEST_F(MemoryObjects, FailedAllocationChangesNothing) {
  void* a = mm.allocSmall(8, pool);
  hooks::FailAllocationNumber(1);
  EXPECT_EQ(mm.allocSmall(8, pool), nullptr);
  hooks::FailAllocationNumber(1);
  EXPECT_EQ(mm.allocLarge(8, pool), nullptr);
  EXPECT_EQ(ListedObjects(pool.smallObjects), (std::vector<void*>{a}));
  EXPECT_EQ(pool.largeObjects, nullptr);
}

TEST_F(MemoryObjects, FreeAllReleasesEverythingAndCanRunTwice) {
  mm.freeAll(pool);
  EXPECT_TRUE(PoolEmpty());
  mm.freeAll(pool);
  EXPECT_TRUE(PoolEmpty());

  hooks::FailAllocationNumber(0);
  ASSERT_NE(mm.allocSmall(10, pool), nullptr);
  ASSERT_NE(mm.allocLarge(10, pool), nullptr);
  ASSERT_NE(mm.allocSampleArray(20000, 100, pool), nullptr);
  ASSERT_NE(mm.allocBlockArray(3, 5, pool), nullptr);
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(4000, 400, 10, pool);
  VirtualBlockArray* vb = mm.requestVirtualBlockArray(20, 50, 2, pool);
  ASSERT_TRUE(vs && vb);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(vs));
  for (int32_t*& table : pool.heapTables) {
    table = static_cast<int32_t*>(iffjpeg::platform::SystemAlloc(256 * sizeof(int32_t)));
  }
  long allocated = hooks::AllocationsCounted();

  mm.freeAll(pool);
  EXPECT_TRUE(PoolEmpty());
  for (int32_t* table : pool.heapTables) EXPECT_EQ(table, nullptr);
  EXPECT_EQ(hooks::FreesCounted(), allocated) << "every block obtained is released once";
  mm.freeAll(pool);
  EXPECT_TRUE(PoolEmpty());
  EXPECT_EQ(hooks::FreesCounted(), allocated);
  EXPECT_NE(mm.allocSmall(1, pool), nullptr) << "the table stays installed";
}

// ---------------------------------------------------------------------------
// Chunked sample and block arrays

using MemoryChunks = MemoryTest;

TEST_F(MemoryChunks, HundredRowsOfTwentyThousandSamplesMakeTwoChunks) {
  SampleArray rows = mm.allocSampleArray(20000, 100, pool);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(hooks::AllocationsCounted(), 3) << "header, then chunks of 78 and 22 rows";
  const ArrayHeader* header = HeaderOf(rows);
  EXPECT_EQ(header->rowsPerChunk, 78);
  EXPECT_EQ(header->rowsAllocated, 100);
  for (int32_t r = 0; r < 100; ++r) {
    if (r % 78 != 0) {
      EXPECT_EQ(rows[r], rows[r - 1] + 20000) << "row " << r;
    }
    std::memset(rows[r], r, 20000);  // every byte of every row is usable
  }
  EXPECT_EQ(pool.sampleArrays, header);

  hooks::FailAllocationNumber(0);
  mm.freeSampleArray(rows, pool);
  EXPECT_EQ(hooks::FreesCounted(), 3) << "two chunks and the header";
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(MemoryChunks, RowWiderThanAChunkGetsAChunkOfItsOwn) {
  constexpr int32_t kWidth = 1572841;
  SampleArray rows = mm.allocSampleArray(kWidth, 3, pool);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(HeaderOf(rows)->rowsPerChunk, 1);
  EXPECT_EQ(hooks::AllocationsCounted(), 4);
  for (int32_t r = 0; r < 3; ++r) std::memset(rows[r], 7, kWidth);
  hooks::FailAllocationNumber(0);
  mm.freeSampleArray(rows, pool);
  EXPECT_EQ(hooks::FreesCounted(), 4) << "every row and the header";
}

TEST_F(MemoryChunks, TenBlocksPerRowGive1228RowsPerChunk) {
  BlockArray rows = mm.allocBlockArray(10, 1300, pool);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(HeaderOf(rows)->rowsPerChunk, 1228);
  EXPECT_EQ(hooks::AllocationsCounted(), 3);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(rows[1227]) - reinterpret_cast<uint8_t*>(rows[0]),
            1227 * 1280);
  std::memset(rows[1299], 1, 10 * sizeof(CoefBlock));
  hooks::FailAllocationNumber(0);
  mm.freeBlockArray(rows, pool);
  EXPECT_EQ(hooks::FreesCounted(), 3);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(MemoryChunks, SampleArrayThatRunsOutStaysRegisteredForFreeAll) {
  hooks::FailAllocationNumber(3);  // header, first chunk, then the second chunk fails
  EXPECT_EQ(mm.allocSampleArray(20000, 100, pool), nullptr);
  ASSERT_NE(pool.sampleArrays, nullptr);
  const auto* header = static_cast<const ArrayHeader*>(pool.sampleArrays);
  EXPECT_EQ(header->rowsAllocated, 78);
  EXPECT_NE(pool.smallObjects, nullptr);
  hooks::FailAllocationNumber(0);
  mm.freeAll(pool);
  EXPECT_EQ(hooks::FreesCounted(), 2);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(MemoryChunks, BlockArrayThatRunsOutLeavesNothing) {
  hooks::FailAllocationNumber(3);
  EXPECT_EQ(mm.allocBlockArray(10, 1300, pool), nullptr);
  EXPECT_EQ(hooks::FreesCounted(), 2) << "the first chunk and the header are given back";
  EXPECT_TRUE(PoolEmpty());

  for (int kind = 0; kind < 2; ++kind) {
    hooks::FailAllocationNumber(1);  // the header itself
    void* rows = kind == 0 ? static_cast<void*>(mm.allocSampleArray(8, 8, pool))
                           : static_cast<void*>(mm.allocBlockArray(8, 8, pool));
    EXPECT_EQ(rows, nullptr);
    EXPECT_TRUE(PoolEmpty());
  }
}

TEST_F(MemoryChunks, ZeroRowsGiveAnEmptyRegisteredArray) {
  SampleArray rows = mm.allocSampleArray(64, 0, pool);
  ASSERT_NE(rows, nullptr);
  EXPECT_EQ(HeaderOf(rows)->rowsAllocated, 0);
  EXPECT_EQ(pool.sampleArrays, HeaderOf(rows));
  mm.freeSampleArray(rows, pool);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(MemoryChunks, FreeingOneArrayKeepsTheOthersLinked) {
  SampleArray a = mm.allocSampleArray(10, 2, pool);
  SampleArray b = mm.allocSampleArray(10, 2, pool);
  SampleArray c = mm.allocSampleArray(10, 2, pool);
  mm.freeSampleArray(b, pool);
  const auto* head = static_cast<const ArrayHeader*>(pool.sampleArrays);
  ASSERT_EQ(head, HeaderOf(c));
  EXPECT_EQ(head->next, HeaderOf(a));
  EXPECT_EQ(head->next->next, nullptr);
}

TEST(MemoryRowHelpers, RoundUpAndCopies) {
  EXPECT_EQ(iffjpeg::roundUp(0, 8), 0);
  EXPECT_EQ(iffjpeg::roundUp(1, 8), 8);
  EXPECT_EQ(iffjpeg::roundUp(8, 8), 8);
  EXPECT_EQ(iffjpeg::roundUp(9, 8), 16);
  EXPECT_EQ(iffjpeg::roundUp(17, 16), 32);
  EXPECT_EQ(iffjpeg::roundUp(100, 1), 100);

  uint8_t source[4][6], destination[5][6] = {};
  iffjpeg::SampleRow src[4], dst[5];
  for (int r = 0; r < 4; ++r) {
    src[r] = source[r];
    std::memset(source[r], r + 1, 6);
  }
  for (int r = 0; r < 5; ++r) dst[r] = destination[r];
  iffjpeg::copySampleRows(src, 1, dst, 2, 2, 5);
  EXPECT_EQ(destination[2][0], 2);
  EXPECT_EQ(destination[2][4], 2);
  EXPECT_EQ(destination[2][5], 0) << "only width bytes are copied";
  EXPECT_EQ(destination[3][0], 3);
  EXPECT_EQ(destination[1][0], 0);
  EXPECT_EQ(destination[4][0], 0);
  iffjpeg::copySampleRows(src, 0, dst, 0, 0, 6);
  iffjpeg::copySampleRows(src, 0, dst, 0, -3, 6);
  EXPECT_EQ(destination[0][0], 0);

  CoefBlock from[3], to[3] = {};
  for (int b = 0; b < 3; ++b) {
    for (int k = 0; k < 64; ++k) from[b][k] = static_cast<int16_t>(b * 100 - k);
  }
  iffjpeg::copyBlockRow(from, to, 2);
  EXPECT_EQ(to[1][63], 100 - 63);
  EXPECT_EQ(to[2][5], 0);
}

// ---------------------------------------------------------------------------
// Virtual arrays

using VirtualArrays = MemoryTest;

TEST_F(VirtualArrays, RequestsThatCannotBeSizedAreRefused) {
  EXPECT_EQ(mm.requestVirtualSampleArray(0, 10, 1, pool), nullptr);
  EXPECT_EQ(mm.requestVirtualSampleArray(10, 10, 0, pool), nullptr);
  EXPECT_EQ(mm.requestVirtualBlockArray(10, 4, 5, pool), nullptr);
  EXPECT_EQ(mm.requestVirtualBlockArray(10, -1, 1, pool), nullptr);
  hooks::FailAllocationNumber(1);
  EXPECT_EQ(mm.requestVirtualSampleArray(10, 10, 1, pool), nullptr);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(VirtualArrays, NothingToRealizeTouchesNothing) {
  mm.realizeVirtualArrays(0, 0, 0, pool);
  mm.realizeVirtualArrays(5000000, 100000, 5000000, pool);
  EXPECT_EQ(hooks::AllocationsCounted(), 0);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(VirtualArrays, ArraysThatFitAreHeldWholeWithoutAStore) {
  // 500,000 + 128,000 + 372,000 = 1,000,000: everything fits.
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(500, 1000, 10, pool);
  VirtualBlockArray* vb = mm.requestVirtualBlockArray(10, 100, 10, pool);
  hooks::FailNextTempFile(true);  // any attempt to open a store would fail
  mm.realizeVirtualArrays(0, 0, 372000, pool);
  hooks::FailNextTempFile(false);
  ASSERT_TRUE(iffjpeg::virtualArrayRealized(vs) && iffjpeg::virtualArrayRealized(vb));
  EXPECT_FALSE(iffjpeg::virtualArrayUsesBackingStore(vs));
  EXPECT_FALSE(iffjpeg::virtualArrayUsesBackingStore(vb));
  EXPECT_EQ(iffjpeg::virtualArrayRowsInMemory(vs), 1000);
  EXPECT_EQ(iffjpeg::virtualArrayRowsInMemory(vb), 100);

  for (int32_t start : {990, 0, 500}) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, true, pool);
    ASSERT_NE(rows, nullptr);
    for (int32_t r = 0; r < 10; ++r) rows[r][499] = SampleAt(start + r, 499);
  }
  for (int32_t start : {0, 500, 990}) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, false, pool);
    for (int32_t r = 0; r < 10; ++r) EXPECT_EQ(rows[r][499], SampleAt(start + r, 499));
  }
  EXPECT_TRUE(iffjpeg::virtualArrayHealthy(vs));
  // Out of range, or past the last row: refused rather than pointing
  // outside the buffer.
  EXPECT_EQ(mm.accessVirtualSampleArray(vs, 991, false, pool), nullptr);
  EXPECT_EQ(mm.accessVirtualBlockArray(vb, -1, false, pool), nullptr);
}

TEST_F(VirtualArrays, OneByteOverTheLimitWindowsOnlyTheArraysThatNeedIt) {
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(500, 1000, 10, pool);
  VirtualBlockArray* vb = mm.requestVirtualBlockArray(10, 100, 10, pool);
  mm.realizeVirtualArrays(0, 0, 372001, pool);
  // perUnit = 5,000 + 12,800; maxUnits = (1,000,000 - 372,001) / 17,800 = 35.
  EXPECT_TRUE(iffjpeg::virtualArrayUsesBackingStore(vs));
  EXPECT_EQ(iffjpeg::virtualArrayRowsInMemory(vs), 350);
  EXPECT_FALSE(iffjpeg::virtualArrayUsesBackingStore(vb)) << "10 units fit in 35";
  EXPECT_EQ(iffjpeg::virtualArrayRowsInMemory(vb), 100);
}

TEST_F(VirtualArrays, LargeSampleArrayRoundTripsThroughTheStore) {
  // 2,000,000 bytes; perUnit 16,000 gives 62 units: a window of 496 rows.
  constexpr int32_t kWidth = 2000, kRows = 1000, kHeight = 8;
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(kWidth, kRows, kHeight, pool);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(vs));
  ASSERT_EQ(iffjpeg::virtualArrayRowsInMemory(vs), 496);

  // Rows never written read as zero.
  SampleArray fresh = mm.accessVirtualSampleArray(vs, 0, false, pool);
  EXPECT_EQ(fresh[0][0], 0);
  EXPECT_EQ(fresh[7][kWidth - 1], 0);

  for (int32_t start = 0; start + kHeight <= kRows; start += kHeight) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, true, pool);
    ASSERT_NE(rows, nullptr);
    for (int32_t r = 0; r < kHeight; ++r) {
      for (int32_t x = 0; x < kWidth; ++x) rows[r][x] = SampleAt(start + r, x);
    }
  }
  auto check = [&](int32_t start) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, false, pool);
    ASSERT_NE(rows, nullptr);
    for (int32_t r = 0; r < kHeight; ++r) {
      for (int32_t x = 0; x < kWidth; x += 37) {
        ASSERT_EQ(rows[r][x], SampleAt(start + r, x)) << "row " << start + r << " x " << x;
      }
    }
  };
  for (int32_t start = 0; start + kHeight <= kRows; start += kHeight) check(start);
  for (int32_t start = kRows - kHeight; start >= 0; start -= kHeight) check(start);
  for (int32_t start : {3, 991, 500, 0, 777, 992, 1}) check(start);
  EXPECT_TRUE(iffjpeg::virtualArrayHealthy(vs));
}

TEST_F(VirtualArrays, WindowSpanningTwoChunksMovesChunkByChunk) {
  // 20,000 x 250 rows with 900,000 bytes committed elsewhere: one unit, a
  // window of 100 rows held in chunks of 78 and 22 rows.
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(20000, 250, 100, pool);
  mm.realizeVirtualArrays(0, 0, 900000, pool);
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(vs));
  ASSERT_EQ(iffjpeg::virtualArrayRowsInMemory(vs), 100);
  ASSERT_EQ(static_cast<iffjpeg::memory_internal::VirtualArrayControl*>(vs)->rowsPerChunk, 78);

  for (int32_t start : {0, 100, 150}) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, true, pool);
    ASSERT_NE(rows, nullptr);
    for (int32_t r = 0; r < 100; ++r) {
      rows[r][0] = SampleAt(start + r, 0);
      rows[r][19999] = SampleAt(start + r, 19999);
    }
  }
  for (int32_t start : {0, 120, 150, 40, 77}) {
    SampleArray rows = mm.accessVirtualSampleArray(vs, start, false, pool);
    for (int32_t r = 0; r < 100; ++r) {
      ASSERT_EQ(rows[r][0], SampleAt(start + r, 0)) << start + r;
      ASSERT_EQ(rows[r][19999], SampleAt(start + r, 19999)) << start + r;
    }
  }
}

TEST_F(VirtualArrays, BlockArrayRowsCanBeUpdatedInPlaceAcrossWindowMoves) {
  // 100 blocks x 100 rows = 1,280,000 bytes; one row at a time gives a
  // window of 78 rows.
  constexpr int32_t kBlocks = 100, kRows = 100;
  VirtualBlockArray* vb = mm.requestVirtualBlockArray(kBlocks, kRows, 1, pool);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(vb));
  ASSERT_EQ(iffjpeg::virtualArrayRowsInMemory(vb), 78);

  for (int32_t row = 0; row < kRows; ++row) {
    BlockArray rows = mm.accessVirtualBlockArray(vb, row, true, pool);
    for (int32_t b = 0; b < kBlocks; ++b) {
      for (int32_t k = 0; k < 64; ++k) rows[0][b][k] = CoefAt(row, b, k);
    }
  }
  // A second pass adds to every coefficient, walking backwards, so each
  // writable window must come back with what the first pass stored.
  for (int32_t row = kRows - 1; row >= 0; --row) {
    BlockArray rows = mm.accessVirtualBlockArray(vb, row, true, pool);
    for (int32_t b = 0; b < kBlocks; ++b) {
      for (int32_t k = 0; k < 64; ++k) rows[0][b][k] = static_cast<int16_t>(rows[0][b][k] + 3);
    }
  }
  for (int32_t row = 0; row < kRows; ++row) {
    BlockArray rows = mm.accessVirtualBlockArray(vb, row, false, pool);
    for (int32_t b = 0; b < kBlocks; b += 7) {
      for (int32_t k = 0; k < 64; k += 9) {
        ASSERT_EQ(rows[0][b][k], CoefAt(row, b, k) + 3) << "row " << row << " block " << b;
      }
    }
  }
  EXPECT_TRUE(iffjpeg::virtualArrayHealthy(vb));
}

// Store operations that count what passes through and can be made to fail.
struct StoreSpy {
  static inline bool (*realRead)(BackingStore&, void*, int64_t, std::size_t);
  static inline bool (*realWrite)(BackingStore&, const void*, int64_t, std::size_t);
  static inline int reads, writes;
  static inline std::size_t bytesRead, bytesWritten;
  static inline bool failReads, failWrites;

  static void Attach(iffjpeg::memory_internal::VirtualArrayControl* c) {
    realRead = c->store.read;
    realWrite = c->store.write;
    reads = writes = 0;
    bytesRead = bytesWritten = 0;
    failReads = failWrites = false;
    c->store.read = Read;
    c->store.write = Write;
  }
  static bool Read(BackingStore& s, void* b, int64_t offset, std::size_t count) {
    ++reads;
    bytesRead += count;
    return !failReads && realRead(s, b, offset, count);
  }
  static bool Write(BackingStore& s, const void* b, int64_t offset, std::size_t count) {
    ++writes;
    bytesWritten += count;
    return !failWrites && realWrite(s, b, offset, count);
  }
};

TEST_F(VirtualArrays, OnlyADirtyWindowIsWrittenWhenItMoves) {
  VirtualSampleArray* vs = mm.requestVirtualSampleArray(2000, 1000, 8, pool);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  StoreSpy::Attach(vs);
  mm.accessVirtualSampleArray(vs, 0, true, pool)[0][0] = 11;
  mm.accessVirtualSampleArray(vs, 488, true, pool)[7][0] = 12;  // last rows of the window
  EXPECT_EQ(StoreSpy::writes, 0) << "access inside the window only marks it dirty";
  EXPECT_EQ(StoreSpy::reads, 0);

  SampleArray rows = mm.accessVirtualSampleArray(vs, 600, false, pool);
  EXPECT_EQ(StoreSpy::writes, 1) << "the dirty window goes out before it moves";
  EXPECT_EQ(StoreSpy::reads, 0) << "rows 600.. were never stored: nothing to read";
  EXPECT_EQ(rows[0][0], 0);

  mm.accessVirtualSampleArray(vs, 0, false, pool);
  EXPECT_EQ(StoreSpy::writes, 1) << "a clean window is not written";
  EXPECT_EQ(StoreSpy::reads, 1);
  rows = mm.accessVirtualSampleArray(vs, 0, false, pool);
  EXPECT_EQ(rows[0][0], 11);
  EXPECT_EQ(rows[495][0], 12);
}

TEST_F(VirtualArrays, EachPassMovesOnlyTheRowsTheWindowCannotHold) {
  // 100 block rows, a window of 78: a forward pass slides the window, so
  // that only the 22 rows it cannot hold leave and arrive, and the return
  // to the first rows keeps the 56 both positions share.
  constexpr int32_t kBlocks = 100, kRows = 100, kWindow = 78;
  constexpr std::size_t kRowBytes = kBlocks * sizeof(CoefBlock);
  VirtualBlockArray* vb = mm.requestVirtualBlockArray(kBlocks, kRows, 1, pool);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_EQ(iffjpeg::virtualArrayRowsInMemory(vb), kWindow);
  StoreSpy::Attach(vb);
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);
    StoreSpy::bytesRead = StoreSpy::bytesWritten = 0;
    for (int32_t row = 0; row < kRows; ++row) {
      BlockArray rows = mm.accessVirtualBlockArray(vb, row, true, pool);
      ASSERT_NE(rows, nullptr);
      for (int32_t b = 0; b < kBlocks; ++b) {
        rows[0][b][pass] = CoefAt(row, b, pass);
      }
    }
    const std::size_t moved = (kRows - kWindow) * kRowBytes;
    EXPECT_EQ(StoreSpy::bytesWritten, pass == 0 ? moved : 2 * moved);
    EXPECT_EQ(StoreSpy::bytesRead, pass == 0 ? 0 : 2 * moved)
        << "rows never stored are zeroed, not read";
  }
  for (int32_t row = kRows - 1; row >= 0; row -= 3) {
    BlockArray rows = mm.accessVirtualBlockArray(vb, row, false, pool);
    for (int32_t b = 0; b < kBlocks; b += 11) {
      for (int pass = 0; pass < 3; ++pass) {
        ASSERT_EQ(rows[0][b][pass], CoefAt(row, b, pass)) << "row " << row << " block " << b;
      }
      ASSERT_EQ(rows[0][b][3], 0);
    }
  }
  EXPECT_TRUE(iffjpeg::virtualArrayHealthy(vb));
}

TEST_F(VirtualArrays, LargeBlockWindowsLieInOneBlock) {
  // 600 x 100 blocks (7.68 MB) held whole, and the same through a store
  // with a window of 78 rows (5.99 MB): both in one block, zero at first.
  VirtualBlockArray* whole = mm.requestVirtualBlockArray(600, 100, 1, pool);
  pool.virtualBudget = 9000000;
  mm.realizeVirtualArrays(0, 0, 0, pool);
  VirtualBlockArray* windowed = mm.requestVirtualBlockArray(600, 100, 1, pool);
  pool.virtualBudget = 6000000;
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_FALSE(iffjpeg::virtualArrayUsesBackingStore(whole));
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(windowed));
  for (VirtualBlockArray* vb : {whole, windowed}) {
    auto* control = static_cast<iffjpeg::memory_internal::VirtualArrayControl*>(vb);
    const ArrayHeader* header = HeaderOf(control->buffer);
    EXPECT_EQ(header->pagesBytes,
              static_cast<std::size_t>(control->rowsInMemory) * 600 * sizeof(CoefBlock));
    BlockArray first = mm.accessVirtualBlockArray(vb, 0, false, pool);
    EXPECT_EQ(first[0][0][0], 0);
    EXPECT_EQ(first[0][599][63], 0);
    for (int32_t row = 0; row < 100; ++row) {
      mm.accessVirtualBlockArray(vb, row, true, pool)[0][row][row % 64] = CoefAt(row, 0, 0);
    }
    for (int32_t row = 99; row >= 0; --row) {
      ASSERT_EQ(mm.accessVirtualBlockArray(vb, row, false, pool)[0][row][row % 64],
                CoefAt(row, 0, 0));
    }
  }
  long freesBefore = hooks::FreesCounted();
  mm.releaseVirtualBlockArray(whole, pool);
  EXPECT_GT(hooks::FreesCounted(), freesBefore);
  mm.releaseVirtualBlockArray(windowed, pool);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(VirtualArrays, FailedStoreTransfersAreRecordedNotFatal) {
  VirtualSampleArray* writer = mm.requestVirtualSampleArray(2000, 1000, 8, pool);
  VirtualBlockArray* reader = mm.requestVirtualBlockArray(100, 100, 1, pool);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(writer));
  ASSERT_TRUE(iffjpeg::virtualArrayUsesBackingStore(reader));

  StoreSpy::Attach(writer);
  StoreSpy::failWrites = true;
  mm.accessVirtualSampleArray(writer, 0, true, pool)[0][0] = 5;
  EXPECT_NE(mm.accessVirtualSampleArray(writer, 992, false, pool), nullptr);
  EXPECT_EQ(StoreSpy::writes, 1);
  EXPECT_FALSE(iffjpeg::virtualArrayHealthy(writer));

  EXPECT_TRUE(iffjpeg::virtualArrayHealthy(reader));
  for (int32_t row = 0; row < 100; ++row) mm.accessVirtualBlockArray(reader, row, true, pool);
  StoreSpy::Attach(reader);
  StoreSpy::failReads = true;
  EXPECT_NE(mm.accessVirtualBlockArray(reader, 0, false, pool), nullptr);
  EXPECT_GE(StoreSpy::reads, 1);
  EXPECT_FALSE(iffjpeg::virtualArrayHealthy(reader));
}

TEST_F(VirtualArrays, WithoutATemporaryFileTheArrayStaysUnrealized) {
  int baseline = OpenDescriptors();
  VirtualSampleArray* first = mm.requestVirtualSampleArray(2000, 1000, 8, pool);
  VirtualSampleArray* second = mm.requestVirtualSampleArray(2000, 1000, 8, pool);
  hooks::FailNextTempFile(true);
  mm.realizeVirtualArrays(0, 0, 0, pool);
  // The most recent request is sized first; its failure ends realization.
  EXPECT_FALSE(iffjpeg::virtualArrayRealized(second));
  EXPECT_FALSE(iffjpeg::virtualArrayRealized(first));
  EXPECT_EQ(mm.accessVirtualSampleArray(second, 0, true, pool), nullptr);
  EXPECT_EQ(pool.sampleArrays, nullptr) << "no buffer was obtained";
  EXPECT_EQ(OpenDescriptors(), baseline);

  // A later call retries what is still unrealized.
  mm.realizeVirtualArrays(0, 0, 0, pool);
  EXPECT_TRUE(iffjpeg::virtualArrayRealized(first));
  EXPECT_TRUE(iffjpeg::virtualArrayRealized(second));
  EXPECT_EQ(OpenDescriptors(), baseline + 2);

  mm.releaseVirtualSampleArray(first, pool);  // not the head of its list
  EXPECT_EQ(pool.virtualSampleArrays, second);
  EXPECT_EQ(second->next, nullptr);
  EXPECT_EQ(OpenDescriptors(), baseline + 1) << "releasing closes the store";
  mm.freeAll(pool);
  EXPECT_EQ(OpenDescriptors(), baseline);
  EXPECT_TRUE(PoolEmpty());
}

TEST_F(VirtualArrays, EachAllocationFailureDuringRealizationIsClean) {
  int baseline = OpenDescriptors();
  for (long n = 1;; ++n) {
    SCOPED_TRACE(n);
    VirtualBlockArray* vb = mm.requestVirtualBlockArray(100, 100, 1, pool);
    VirtualSampleArray* big = mm.requestVirtualSampleArray(20000, 250, 100, pool);
    // One window of all its rows: held whole even though the others are not.
    VirtualSampleArray* small = mm.requestVirtualSampleArray(100, 20, 20, pool);
    ASSERT_TRUE(vb && big && small);
    hooks::FailAllocationNumber(n);
    mm.realizeVirtualArrays(0, 0, 0, pool);
    bool reached = hooks::AllocationsCounted() >= n;
    hooks::FailAllocationNumber(0);
    // Sizing order: small (most recent sample array), big, then vb.
    bool realized[] = {iffjpeg::virtualArrayRealized(small), iffjpeg::virtualArrayRealized(big),
                       iffjpeg::virtualArrayRealized(vb)};
    int stores = 0;
    for (int i = 0; i < 3; ++i) {
      if (i > 0 && !realized[i - 1]) {
        EXPECT_FALSE(realized[i]) << "realization stops";
      }
    }
    if (realized[0]) {
      EXPECT_FALSE(iffjpeg::virtualArrayUsesBackingStore(small));
    }
    if (realized[1]) ++stores;
    if (realized[2]) ++stores;
    EXPECT_EQ(OpenDescriptors(), baseline + stores) << "a store without a buffer is closed";
    EXPECT_EQ(!reached, realized[0] && realized[1] && realized[2]);
    if (realized[2]) {
      BlockArray rows = mm.accessVirtualBlockArray(vb, 99, true, pool);
      ASSERT_NE(rows, nullptr);
      rows[0][99][63] = 1;
    }
    mm.freeAll(pool);
    EXPECT_TRUE(PoolEmpty());
    EXPECT_EQ(OpenDescriptors(), baseline);
    if (!reached) break;
    ASSERT_LT(n, 100);
  }
}

}  // namespace
