/* Pool memory operations over the tracked pool of the firmware double. */
#include <gtest/gtest.h>

#include <cstring>

#include "Double/DriverFixture.h"
#include "Library/PoolLib.h"

namespace {

class PoolMemoryTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
  }
};

TEST_F(PoolMemoryTest, AllocIsBootServicesDataAndNotCleared) {
  auto *Block = static_cast<UINT8 *>(PoolAlloc(16));
  ASSERT_NE(Block, nullptr);
  EXPECT_EQ(Firmware->AllocationTypes.back(), EfiBootServicesData);
  for (int Index = 0; Index < 16; Index++) {
    EXPECT_EQ(Block[Index], FirmwareDouble::PoisonByte);
  }
  EXPECT_EQ(PoolRelease(Block), EFI_SUCCESS);
}

TEST_F(PoolMemoryTest, FailedAllocationIsNullWhateverTheFirmwareLeftInThePointer) {
  Firmware->FailAllocationNumber(1);
  EXPECT_EQ(PoolAlloc(16), nullptr);
  Firmware->FailAllocationNumber(2);
  EXPECT_EQ(PoolDuplicate("abc", 4), nullptr);
  Firmware->FailAllocationNumber(3);
  EXPECT_EQ(PoolResize(nullptr, 0, 8), nullptr);
}

TEST_F(PoolMemoryTest, DuplicateCopiesTheSourceBytes) {
  const char Source[] = "rivari.ini";
  auto *Copy = static_cast<char *>(PoolDuplicate(Source, sizeof(Source)));
  ASSERT_NE(Copy, nullptr);
  EXPECT_STREQ(Copy, Source);
  EXPECT_EQ(Firmware->BlockSize(Copy), sizeof(Source));
  PoolRelease(Copy);
}

TEST_F(PoolMemoryTest, ResizeFromNullGivesAClearedBlock) {
  auto *Block = static_cast<UINT8 *>(PoolResize(nullptr, 0, 24));
  ASSERT_NE(Block, nullptr);
  for (int Index = 0; Index < 24; Index++) {
    EXPECT_EQ(Block[Index], 0);
  }
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u);
  PoolRelease(Block);
}

TEST_F(PoolMemoryTest, ResizeGrowsWithZeroTailAndReleasesTheOldBlock) {
  auto *Old = static_cast<UINT64 *>(PoolAlloc(64));
  ASSERT_NE(Old, nullptr);
  for (int Index = 0; Index < 8; Index++) {
    Old[Index] = 0x100 + Index;
  }
  auto *Grown = static_cast<UINT64 *>(PoolResize(Old, 64, 128));
  ASSERT_NE(Grown, nullptr);
  EXPECT_FALSE(Firmware->IsLiveBlock(Old));
  for (int Index = 0; Index < 16; Index++) {
    EXPECT_EQ(Grown[Index], Index < 8 ? 0x100u + Index : 0u) << Index;
  }
  PoolRelease(Grown);
}

TEST_F(PoolMemoryTest, ResizeShrinksByCopyingTheNewSize) {
  auto *Old = static_cast<char *>(PoolDuplicate("abcdefg", 8));
  ASSERT_NE(Old, nullptr);
  auto *Shrunk = static_cast<char *>(PoolResize(Old, 8, 3));
  ASSERT_NE(Shrunk, nullptr);
  EXPECT_EQ(std::memcmp(Shrunk, "abc", 3), 0);
  EXPECT_EQ(Firmware->BlockSize(Shrunk), 3u);
  PoolRelease(Shrunk);
}

TEST_F(PoolMemoryTest, FailedResizeKeepsTheOldBlockAndItsContents) {
  auto *Old = static_cast<char *>(PoolDuplicate("abcdefg", 8));
  ASSERT_NE(Old, nullptr);
  Firmware->FailAllAllocations(true);
  EXPECT_EQ(PoolResize(Old, 8, 16), nullptr);
  EXPECT_TRUE(Firmware->IsLiveBlock(Old));
  EXPECT_STREQ(Old, "abcdefg");
  PoolRelease(Old);
}

TEST_F(PoolMemoryTest, ReleasePassesTheFirmwareStatusOn) {
  int NotAPoolBlock = 0;
  EXPECT_EQ(PoolRelease(&NotAPoolBlock), EFI_INVALID_PARAMETER);
  ASSERT_EQ(Firmware->PoolErrors().size(), 1u);
  Firmware->AcknowledgePoolErrors();
}

} // namespace
