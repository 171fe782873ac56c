/* String and memory primitives: comparison, copy, widening, clearing, moving, division, loads. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Library/TextLib.h"

namespace {

struct CompareCase {
  const char *Name;
  std::u16string First;
  std::u16string Second;
  UINTN Count; // 0 in the uncounted table
  INTN Expected;
};

TEST(WideStringCompare, UncountedComparisonGivesDifferenceAtFirstMismatch) {
  const CompareCase Cases[] = {
      {"two empty strings", u"", u"", 0, 0},
      {"prefix is smaller", u"ab", u"abc", 0, -0x63},
      {"units are unsigned", u"\xFFFF", u"\x0001", 0, 65534},
      {"longer is larger", u"abc", u"ab", 0, 0x63},
      {"equal strings", u"[AB12CD34]", u"[AB12CD34]", 0, 0},
      {"case matters", u"a", u"A", 0, 0x20},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(CompareWideStrings(Case.First.c_str(), Case.Second.c_str()), Case.Expected) << Case.Name;
  }
}

TEST(WideStringCompare, CountedComparisonStopsAfterCountUnits) {
  const CompareCase Cases[] = {
      {"count 0 is always equal", u"abc", u"xyz", 0, 0}, {"equal over the first two", u"abc", u"abd", 2, 0},
      {"third unit differs", u"abc", u"abd", 3, -1},     {"bracket prefix matches a lone bracket", u"[AB", u"[", 1, 0},
      {"first unit differs", u"AB", u"[", 1, 'A' - '['}, {"stops at the terminator of First", u"ab", u"abc", 5, -0x63},
  };
  for (const auto &Case : Cases) {
    EXPECT_EQ(CompareWideStringsCounted(Case.First.c_str(), Case.Second.c_str(), Case.Count), Case.Expected)
        << Case.Name;
  }
}

TEST(WideStringCopy, CountedCopyZeroFillsAndWritesNoTerminatorBeyondCount) {
  CHAR16 Target[6];
  std::fill(std::begin(Target), std::end(Target), u'#');
  CopyWideStringCounted(Target, u"ab", 4);
  EXPECT_EQ(std::u16string(Target, 6), std::u16string(u"ab\0\0##", 6));

  std::fill(std::begin(Target), std::end(Target), u'#');
  CopyWideStringCounted(Target, u"abcdef", 4);
  EXPECT_EQ(std::u16string(Target, 6), u"abcd##");

  std::fill(std::begin(Target), std::end(Target), u'#');
  CopyWideStringCounted(Target, u"abc", 0);
  EXPECT_EQ(std::u16string(Target, 6), u"######");
}

TEST(WideStringCopy, CopyIncludesTheTerminatorAndSizeCountsIt) {
  CHAR16 Target[8];
  std::fill(std::begin(Target), std::end(Target), u'#');
  EXPECT_EQ(CopyWideString(Target, u"abc"), Target);
  EXPECT_EQ(std::u16string(Target, 5), std::u16string(u"abc\0#", 5));
  EXPECT_EQ(WideStringLength(u""), 0u);
  EXPECT_EQ(WideStringLength(u"abc"), 3u);
  EXPECT_EQ(WideStringSize(u""), 2u);
  EXPECT_EQ(WideStringSize(u"abc"), 8u);
}

TEST(WideStringWiden, BytesAreSignExtendedUpToTheFirstZero) {
  const CHAR8 Source[] = {0x41, (CHAR8)0xE9, 0x00, 0x42};
  CHAR16 Target[5];
  std::fill(std::begin(Target), std::end(Target), u'#');
  WidenByteString(Target, Source);
  EXPECT_EQ(Target[0], 0x0041);
  EXPECT_EQ(Target[1], 0xFFE9);
  EXPECT_EQ(Target[2], 0x0000);
  EXPECT_EQ(Target[3], u'#');
}

TEST(MemoryClear, ClearsExactlyTheLengthGiven) {
  for (UINTN Length : {0u, 1u, 7u, 8u, 13u, 16u, 17u}) {
    std::vector<UINT8> Bytes(24, 0x5A);
    EXPECT_EQ(ClearBytes(Bytes.data(), Length), Bytes.data());
    for (UINTN Index = 0; Index < Bytes.size(); Index++) {
      EXPECT_EQ(Bytes[Index], Index < Length ? 0 : 0x5A) << "length " << Length << " index " << Index;
    }
  }
}

TEST(MemoryMove, OverlappingRangesAreCopiedInBothDirections) {
  struct MoveCase {
    const char *Name;
    size_t From;
    size_t To;
    size_t Length;
  };
  const MoveCase Cases[] = {
      {"destination above source", 0, 3, 10},
      {"destination below source", 3, 0, 10},
      {"disjoint, word-sized", 0, 16, 16},
      {"destination one above", 0, 1, 19},
      {"zero length", 0, 3, 0},
      {"same place", 4, 4, 10},
  };
  for (const auto &Case : Cases) {
    std::vector<UINT8> Bytes(40);
    for (size_t Index = 0; Index < Bytes.size(); Index++) {
      Bytes[Index] = (UINT8)(Index + 1);
    }
    std::vector<UINT8> Expected = Bytes;
    std::memmove(Expected.data() + Case.To, Bytes.data() + Case.From, Case.Length);
    EXPECT_EQ(MoveBytes(Bytes.data() + Case.To, Bytes.data() + Case.From, Case.Length), Bytes.data() + Case.To);
    EXPECT_EQ(Bytes, Expected) << Case.Name;
  }
}

TEST(Division, QuotientAndRemainderOfUnsigned64By32) {
  UINT32 Remainder = 0;
  EXPECT_EQ(DivideWithRemainder(~0ULL, 10, &Remainder), ~0ULL / 10);
  EXPECT_EQ(Remainder, 5u);
  EXPECT_EQ(DivideWithRemainder(0xFC00, 16, &Remainder), 0xFC0u);
  EXPECT_EQ(Remainder, 0u);
  EXPECT_EQ(DivideWithRemainder(7, 10, nullptr), 0u);
}

TEST(UnalignedLoads, ReadLittleEndianFromAnyAddress) {
  const UINT8 Bytes[] = {0xFF, 0x78, 0x56, 0x34, 0x12, 0x25, 0xFC};
  EXPECT_EQ(LoadUint32(Bytes + 1), 0x12345678u);
  EXPECT_EQ(LoadUint16(Bytes + 5), 0xFC25u);
  EXPECT_EQ(LoadUint16(Bytes), 0x78FFu);
}

} // namespace
