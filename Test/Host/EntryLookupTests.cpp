/* Entry lookup, entry count and release, through the installed slots after a fetch. */
#include <gtest/gtest.h>

#include <string>

#include "Double/ServiceCaller.h"

namespace {

struct EntryCase {
  const char *Name;
  const char *Section; // the lines under [ABCD1234]
  UINTN Index;
  UINTN ValueSize;
  bool Found;
  std::u16string Value;
};

const EntryCase EntryCases[] = {
    {"value copied", "0 = first\r\n1 second\r\n", 1, 64, true, u"second"},
    {"entry after a gap is still found", "0 a\n1 b\n2 c\n4 e\n", 4, 64, true, u"e"},
    {"leading zero is not the entry", "01 = x\n", 1, 64, false, u"<untouched>"},
    {"quoted number is not the entry", "\"1\" x\n", 1, 64, false, u"<untouched>"},
    {"value keeps its quotes", "0 = \"boot image one\"   #first\n", 0, 64, true, u"\"boot image one\""},
    {"exact fit is copied", "3 abcde\n", 3, 12, true, u"abcde"},
    {"two bytes short is found but not copied", "3 abcde\n", 3, 10, true, u"<untouched>"},
    {"64512 looks for 6451", "6451 cut\n64512 whole\n", 64512, 64, true, u"cut"},
    {"low 32 bits all set look for -1", "-1 minus\n", 0xFFFFFFFFu, 64, true, u"minus"},
    {"high 32 bits never show", "3 three\n", 0x100000003ULL, 64, true, u"three"},
    {"negative index keeps three digits", "-123 m\n", (UINTN)(UINT32)-1234567, 64, true, u"m"},
    {"first of two duplicates wins", "2 first\n2 second\n", 2, 64, true, u"first"},
    {"blank and comment lines between entries", "0 a\n\n; note\n# other\n   \n1 b\n", 1, 64, true, u"b"},
    {"line without a value is found, value untouched", "5\n", 5, 64, true, u"<untouched>"},
    {"equals sign is a separator", "7=seven\n", 7, 64, true, u"seven"},
    {"missing entry", "0 a\n", 1, 64, false, u"<untouched>"},
    {"next header ends the section", "0 a\n[OTHER001]\n1 b\n", 1, 64, false, u"<untouched>"},
};

class EntryLookupTest : public ServiceCallerTest {};

TEST_F(EntryLookupTest, GetEntryFindsTheFirstMatchingLineAndCopiesWhatFits) {
  for (const auto &Case : EntryCases) {
    ServeConfiguration(std::string("[ABCD1234]\r\n") + Case.Section);
    ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS) << Case.Name;
    std::u16string Value;
    EXPECT_EQ(Entry(Case.Index, &Value, Case.ValueSize), Case.Found) << Case.Name;
    EXPECT_EQ(Value, Case.Value) << Case.Name;
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
}

TEST_F(EntryLookupTest, NullValueTellsExistenceOnly) {
  ServeConfiguration("[ABCD1234]\n0 zero\n");
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  EXPECT_TRUE(Service->GetEntry(Service, 0, nullptr, 0));
  EXPECT_TRUE(Service->GetEntry(Service, 0, nullptr, 9999));
  EXPECT_FALSE(Service->GetEntry(Service, 1, nullptr, 9999));
}

TEST_F(EntryLookupTest, CountIsTheRunOfConsecutiveEntriesFromZero) {
  const struct {
    const char *Name;
    const char *Section;
    UINTN Count;
  } Cases[] = {
      {"gap at 3", "0 a\n1 b\n2 c\n4 e\n", 3},
      {"starts at 1", "1 a\n2 b\n", 0},
      {"any order", "2 c\n0 a\n1 b\n", 3},
      {"duplicates count once", "0 a\n0 b\n1 c\n", 2},
      {"empty section", "", 0},
      {"comments and blank lines", "; c\n0 a\n\n# d\n1 b\n", 2},
      {"example configuration", "0 = \"boot image one\"   #first entry\n1 logo.bmp\n2=setup\n", 3},
  };
  for (const auto &Case : Cases) {
    ServeConfiguration(std::string("[ABCD1234]\n") + Case.Section + "[EF56GH78]\n0 x\n1 y\n2 z\n3 w\n");
    ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS) << Case.Name;
    EXPECT_EQ(Service->GetEntryCount(Service), Case.Count) << Case.Name;
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
}

TEST_F(EntryLookupTest, CountAgreesWithAGetEntryLoopOverTrickySections) {
  const struct {
    const char *Name;
    const char *Section;
    UINTN Count;
  } Cases[] = {
      {"gap at 2", "0 a\n1 b\n3 d\n", 2},
      {"duplicates and disorder", "1 b\n0 a\n1 c\n2 d\n0 e\n", 3},
      {"leading zeros name nothing", "0 a\n01 b\n001 c\n", 1},
      {"00 is not 0", "00 a\n1 b\n", 0},
      {"above 9999 names nothing", "0 a\n10000 b\n10001 c\n1 d\n", 2},
      {"five digits are not their first four", "0 a\n1 b\n20000 c\n", 2},
      {"signs and quotes name nothing", "0 a\n+1 b\n-1 c\n-0 d\n\"2\" e\n", 1},
      {"comment right after the number", "0#zero\n1;one\n2=two\n", 3},
      {"unclosed quote swallows the entries after it", "0 a\n1 \"b\n2 c\n3 d\n", 2},
      {"quote in a comment swallows up to the next quote", "0 a # it\"s\n1 b\n2 \"c\"\n3 d\n", 1},
      {"carriage returns alone end lines", "0 a\r1 b\r\r2 c", 3},
      {"only comments", "; 0 a\n# 1 b\n", 0},
  };
  for (const auto &Case : Cases) {
    ServeConfiguration(std::string("[ABCD1234]\n") + Case.Section + "\n[EF56GH78]\n0 x\n1 y\n2 z\n3 w\n");
    ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS) << Case.Name;
    UINTN Probed = 0;
    while (Probed < 10000 && Entry(Probed)) {
      Probed++;
    }
    EXPECT_EQ(Probed, Case.Count) << Case.Name;
    EXPECT_EQ(Service->GetEntryCount(Service), Probed) << Case.Name;
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
}

TEST_F(EntryLookupTest, NothingHeldBeforeAnyFetch) {
  std::u16string Value;
  EXPECT_FALSE(Entry(0, &Value));
  EXPECT_EQ(Value, u"<untouched>");
  EXPECT_EQ(Service->GetEntryCount(Service), 0u);
  EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  EXPECT_EQ(Firmware->FirstEvent("FreePool"), -1);
}

TEST_F(EntryLookupTest, ReleaseEmptiesTheReaderSoNothingIsReadOrFreedTwice) {
  ServeConfiguration("[ABCD1234]\n0 a\n1 b\n");
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  UINT8 *Held = ServiceState.SectionReader.Buffer;
  ASSERT_TRUE(Firmware->IsLiveBlock(Held));
  EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  EXPECT_FALSE(Firmware->IsLiveBlock(Held));
  const TextReader &Section = ServiceState.SectionReader;
  EXPECT_EQ(Section.Buffer, nullptr);
  EXPECT_EQ(Section.Size, 0u);
  EXPECT_EQ(Section.ByteCursor, Section.ByteEnd);
  EXPECT_EQ(Section.WideCursor, Section.WideEnd);

  Firmware->Events.clear();
  EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  EXPECT_EQ(Firmware->FirstEvent("FreePool"), -1);
  EXPECT_FALSE(Entry(0));
  EXPECT_EQ(Service->GetEntryCount(Service), 0u);

  // The next successful fetch answers again.
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  EXPECT_EQ(Service->GetEntryCount(Service), 2u);
}

TEST_F(EntryLookupTest, Utf16ConfigurationAnswersLikeItsEightBitTwin) {
  const std::string Text = "[ABCD1234]\r\n0 = \"boot image one\" #c\r\n1 logo.bmp\r\n2=setup\r\n[EF56GH78]\r\n0 x\r\n";
  const std::string Wide = Utf16Bytes(Widen(Text), true);
  for (const std::string &Served : {Text, Wide, Wide.substr(2)}) {
    ServeConfiguration(Served);
    ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
    EXPECT_EQ(Service->GetEntryCount(Service), 3u);
    std::u16string Value;
    EXPECT_TRUE(Entry(0, &Value));
    EXPECT_EQ(Value, u"\"boot image one\"");
    EXPECT_TRUE(Entry(2, &Value));
    EXPECT_EQ(Value, u"setup");
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
}

TEST_F(EntryLookupTest, PoolFailureInAScanEndsItWithoutLeaksAndNextScanIsWhole) {
  ServeConfiguration("[ABCD1234]\n0 a\n1 b\n2 \"c c\"\n3 d\n");
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  for (size_t Failing = 1;; Failing++) {
    const size_t Before = Firmware->AllocationCount();
    Firmware->FailAllocationNumber(Before + Failing);
    std::u16string Value;
    const bool Found = Entry(3, &Value);
    const bool FailureHit = Firmware->AllocationCount() >= Before + Failing;
    EXPECT_EQ(Firmware->LiveBlockCount(), 1u) << "failing allocation " << Failing;
    if (Found) {
      EXPECT_EQ(Value, u"d");
    }
    Firmware->FailAllocationNumber(0);
    Value.clear();
    EXPECT_TRUE(Entry(3, &Value));
    EXPECT_EQ(Value, u"d");
    if (!FailureHit) {
      EXPECT_TRUE(Found);
      break;
    }
  }
}

TEST_F(EntryLookupTest, PoolFailureInACountGivesAShorterCountWithoutLeaks) {
  ServeConfiguration("[ABCD1234]\n0 a\n1 b\n2 c\n");
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  for (size_t Failing = 1;; Failing++) {
    const size_t Before = Firmware->AllocationCount();
    Firmware->FailAllocationNumber(Before + Failing);
    const UINTN Count = Service->GetEntryCount(Service);
    const bool FailureHit = Firmware->AllocationCount() >= Before + Failing;
    EXPECT_LE(Count, 3u);
    EXPECT_EQ(Firmware->LiveBlockCount(), 1u) << "failing allocation " << Failing;
    Firmware->FailAllocationNumber(0);
    EXPECT_EQ(Service->GetEntryCount(Service), 3u);
    if (!FailureHit) {
      EXPECT_EQ(Count, 3u);
      break;
    }
  }
}

} // namespace

namespace {

TEST_F(EntryLookupTest, CountStopsAtTenThousandWhenEveryFourDigitEntryExists) {
  // Probes past 9999 are cut to four digits (10000 looks for 1000) and would
  // find entries for ever; the count stops at 10000.
  std::string Section = "[ABCD1234]\n";
  for (int Index = 0; Index < 10000; Index++) {
    Section += std::to_string(Index) + " v\n";
  }
  ServeConfiguration(Section);
  ASSERT_EQ(Fetch("abcd1234"), EFI_SUCCESS);
  Firmware->QuietPool = true;
  EXPECT_EQ(Service->GetEntryCount(Service), 10000u);
  EXPECT_TRUE(Entry(10000)); // the probe the count does not make would have succeeded
}

} // namespace
