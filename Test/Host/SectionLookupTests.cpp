/* Section lookup: the header template, section bounds, encodings, failures of the pool. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/TestValues.h"
#include "Library/PoolLib.h"
#include "SectionLookup.h"
#include "Tokenizer.h"

namespace {

using TokenLines = std::vector<std::vector<std::u16string>>;

const std::string ExampleFile = "; configuration for two machines\r\n"
                                "[AB12CD34]\r\n"
                                "0 = \"boot image one\"   #first entry\r\n"
                                "1 logo.bmp\r\n"
                                "2=setup\r\n"
                                "[EF56GH78]\r\n"
                                "0 other\r\n";

/* The same characters as UTF-16LE code units, with or without the BOM. */
std::string Utf16(const std::string &Text, bool WithBom) { return Utf16Bytes(Widen(Text), WithBom); }

/* A record that no lookup would produce, to see that a failed one leaves it alone. */
TextReader Sentinel() {
  TextReader Reader;
  std::memset(&Reader, 0x5A, sizeof(Reader));
  return Reader;
}

bool SameRecord(const TextReader &First, const TextReader &Second) {
  return std::memcmp(&First, &Second, sizeof(TextReader)) == 0;
}

class SectionLookupTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
    SetMachineId(u"ab12cd34");
  }

  void SetMachineId(const std::u16string &Identifier) {
    std::memset(ServiceState.MachineId, 0, sizeof(ServiceState.MachineId));
    std::memcpy(ServiceState.MachineId, Identifier.data(), Identifier.size() * 2);
  }

  /* The section's text bytes (without the terminator). */
  static std::string SectionText(const TextReader &Section) {
    return std::string(reinterpret_cast<const char *>(Section.Buffer), Section.Size);
  }

  /* Rewinds Section and collects every token line; FALSE from the tokenizer ends the scan. */
  TokenLines Scan(TextReader &Section) {
    TokenLines Lines;
    RewindTextReader(&Section);
    CHAR16 **Tokens;
    UINTN Count;
    while (ReadTokenLine(&Section, &Tokens, &Count) == EFI_SUCCESS) {
      Lines.emplace_back(Tokens, Tokens + Count);
      FreeTokenList(&Tokens, &Count);
    }
    EXPECT_EQ(Tokens, nullptr);
    EXPECT_EQ(Count, 0u);
    return Lines;
  }

  /* Checks the layout of a section copy made from a file of the given encoding family. */
  void ExpectSectionRecord(const TextReader &Section, bool Wide) {
    const size_t Terminator = Wide ? 2 : 1;
    ASSERT_NE(Section.Buffer, nullptr);
    EXPECT_EQ(Firmware->BlockSize(Section.Buffer), Section.Size + Terminator);
    for (size_t Index = 0; Index < Terminator; Index++) {
      EXPECT_EQ(Section.Buffer[Section.Size + Index], 0) << "terminator not counted in Size";
    }
    EXPECT_EQ(Section.Encoding, Wide ? TextEncodingUtf16 : TextEncodingBytes);
    EXPECT_EQ(Section.ByteCursor, Section.Buffer);
    EXPECT_EQ(Section.ByteEnd, Section.Buffer + Section.Size);
    EXPECT_EQ(reinterpret_cast<UINT8 *>(Section.WideCursor), Section.Buffer);
    EXPECT_EQ(reinterpret_cast<UINT8 *>(Section.WideEnd), Section.Buffer + (Section.Size & ~size_t{1}));
  }
};

TEST_F(SectionLookupTest, ExampleFileGivesTheThreeEntriesOfThisMachine) {
  TextReader Section = Sentinel();
  ASSERT_EQ(FindMachineSection(ExampleFile.data(), ExampleFile.size(), &Section), EFI_SUCCESS);
  ExpectSectionRecord(Section, false);
  EXPECT_EQ(SectionText(Section), "0 = \"boot image one\"   #first entry\r\n1 logo.bmp\r\n2=setup\r\n");
  const TokenLines Entries = Scan(Section);
  EXPECT_EQ(Entries, (TokenLines{{u"0", u"\"boot image one\""}, {u"1", u"logo.bmp"}, {u"2", u"setup"}}));
  EXPECT_EQ(Entries[0][1].size(), 16u);
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u) << "only the section copy outlives the lookup";
  PoolRelease(Section.Buffer);
}

TEST_F(SectionLookupTest, TemplateIsTheUpperCasedIdentifierAndMatchIsCaseSensitive) {
  const std::string Lower = "[ab12cd34]\n0 x\n";
  TextReader Section = Sentinel();
  EXPECT_EQ(FindMachineSection(Lower.data(), Lower.size(), &Section), EFI_NOT_FOUND);
  EXPECT_TRUE(SameRecord(Section, Sentinel()));
  EXPECT_EQ(std::u16string(SectionTemplate), u"[AB12CD34]");

  SetMachineId(u"ef56gh78");
  ASSERT_EQ(FindMachineSection(ExampleFile.data(), ExampleFile.size(), &Section), EFI_SUCCESS);
  EXPECT_EQ(std::u16string(SectionTemplate), u"[EF56GH78]") << "the template keeps the last lookup";
  EXPECT_EQ(SectionText(Section), "0 other\r\n");
  PoolRelease(Section.Buffer);
}

struct SectionCase {
  const char *Name;
  std::string File;
  EFI_STATUS Status;
  std::string Section;
};

TEST_F(SectionLookupTest, SectionBoundsFollowTheHeaderLines) {
  const SectionCase Cases[] = {
      {"header with comment, tokens and equals sign", "[AB12CD34]= more ;c\n0 a\n", EFI_SUCCESS, "0 a\n"},
      {"indented header", " \t[AB12CD34]\n0 a", EFI_SUCCESS, "0 a"},
      {"spaces inside brackets never match", "[ AB12CD34 ]\n0 a\n", EFI_NOT_FOUND, ""},
      {"lone bracket ends the section", "[AB12CD34]\n0 a\n[ AB12CD34 ]\n1 b\n", EFI_SUCCESS, "0 a\n"},
      {"invalid header ends the section", "[AB12CD34]\n0 a\n[junk\n1 b", EFI_SUCCESS, "0 a\n"},
      {"bracket in the second token does not", "[AB12CD34]\n0 [a]\n1 b", EFI_SUCCESS, "0 [a]\n1 b"},
      {"header as the last line", "x\n[AB12CD34]", EFI_SUCCESS, ""},
      {"header as the last line with breaks", "[AB12CD34]\r\n\r\n", EFI_SUCCESS, ""},
      {"first of two sections", "[AB12CD34]\n0 first\n[EF56GH78]\n0 o\n[AB12CD34]\n0 second\n", EFI_SUCCESS,
       "0 first\n"},
      {"comments before the next header are left out", "[AB12CD34]\n0 a\n; c\n\n[X]\n", EFI_SUCCESS, "0 a\n"},
      {"comments at the end of the file are left out", "[AB12CD34]\n0 a\n; c\n\n", EFI_SUCCESS, "0 a\n"},
      {"comments between entries stay", "[AB12CD34]\n0 a\n; c\n\n1 b\n[X]", EFI_SUCCESS, "0 a\n; c\n\n1 b\n"},
      {"lines before the first header are skipped", "0 pre\n[AB12CD34]\n0 a", EFI_SUCCESS, "0 a"},
      {"quoted break keeps a bracket line in", "[AB12CD34]\n0 \"x\n[EF]\"\n1 b\n[Z]", EFI_SUCCESS,
       "0 \"x\n[EF]\"\n1 b\n"},
      {"header inside a quoted stretch is not a header", "0 \"\n[AB12CD34]\n\"\n1 b\n", EFI_NOT_FOUND, ""},
      {"empty file", "", EFI_NOT_FOUND, ""},
      {"short file", "[A", EFI_NOT_FOUND, ""},
  };
  for (const auto &Case : Cases) {
    TextReader Section = Sentinel();
    EXPECT_EQ(FindMachineSection(Case.File.data(), Case.File.size(), &Section), Case.Status) << Case.Name;
    if (Case.Status == EFI_SUCCESS) {
      ExpectSectionRecord(Section, false);
      EXPECT_EQ(SectionText(Section), Case.Section) << Case.Name;
      PoolRelease(Section.Buffer);
    } else {
      EXPECT_TRUE(SameRecord(Section, Sentinel())) << Case.Name;
    }
  }
}

TEST_F(SectionLookupTest, ShortIdentifierMatchesAHeaderWithoutClosingBracket) {
  SetMachineId(u"ab12");
  const std::string File = "[AB12]\n0 closed\n[AB12\n0 open\n";
  TextReader Section = Sentinel();
  ASSERT_EQ(FindMachineSection(File.data(), File.size(), &Section), EFI_SUCCESS);
  EXPECT_EQ(SectionText(Section), "0 open\n");
  const CHAR16 Expected[11] = {u'[', u'A', u'B', u'1', u'2', 0, 0, 0, 0, u']', 0};
  EXPECT_EQ(std::memcmp(SectionTemplate, Expected, sizeof(Expected)), 0);
  PoolRelease(Section.Buffer);
}

TEST_F(SectionLookupTest, Utf8BomFileEqualsThePlainFile) {
  const std::string WithBom = "\xEF\xBB\xBF" + ExampleFile;
  TextReader Plain = Sentinel();
  TextReader Marked = Sentinel();
  ASSERT_EQ(FindMachineSection(ExampleFile.data(), ExampleFile.size(), &Plain), EFI_SUCCESS);
  ASSERT_EQ(FindMachineSection(WithBom.data(), WithBom.size(), &Marked), EFI_SUCCESS);
  ExpectSectionRecord(Marked, false);
  EXPECT_EQ(SectionText(Marked), SectionText(Plain));
  EXPECT_EQ(Scan(Marked), Scan(Plain));
  PoolRelease(Plain.Buffer);
  PoolRelease(Marked.Buffer);
}

TEST_F(SectionLookupTest, Utf16FileSectionReadsLikeTheEightBitOne) {
  TextReader Plain = Sentinel();
  ASSERT_EQ(FindMachineSection(ExampleFile.data(), ExampleFile.size(), &Plain), EFI_SUCCESS);
  const TokenLines Expected = Scan(Plain);
  for (bool WithBom : {true, false}) {
    const std::string File = Utf16(ExampleFile, WithBom);
    TextReader Section = Sentinel();
    ASSERT_EQ(FindMachineSection(File.data(), File.size(), &Section), EFI_SUCCESS) << "BOM " << WithBom;
    ExpectSectionRecord(Section, true);
    EXPECT_EQ(SectionText(Section), Utf16(SectionText(Plain), false)) << "BOM " << WithBom;
    EXPECT_EQ(Scan(Section), Expected) << "BOM " << WithBom;
    EXPECT_EQ(Scan(Section), Expected) << "a second rewind reads the same entries";
    PoolRelease(Section.Buffer);
  }
  PoolRelease(Plain.Buffer);
}

TEST_F(SectionLookupTest, Utf16SectionBoundsFollowTheSameRules) {
  const SectionCase Cases[] = {
      {"comments before the next header are left out", "[AB12CD34]\n0 a\n; c\n\n[X]\n", EFI_SUCCESS, "0 a\n"},
      {"comments at the end of the file do not", "[AB12CD34]\n0 a\n; c\n\n", EFI_SUCCESS, "0 a\n"},
      {"header as the last line", "x\n[AB12CD34]", EFI_SUCCESS, ""},
      {"lower-case header", "[ab12cd34]\n0 a\n", EFI_NOT_FOUND, ""},
  };
  for (const auto &Case : Cases) {
    const std::string File = Utf16(Case.File, true);
    TextReader Section = Sentinel();
    EXPECT_EQ(FindMachineSection(File.data(), File.size(), &Section), Case.Status) << Case.Name;
    if (Case.Status == EFI_SUCCESS) {
      ExpectSectionRecord(Section, true);
      EXPECT_EQ(SectionText(Section), Utf16(Case.Section, false)) << Case.Name;
      PoolRelease(Section.Buffer);
    } else {
      EXPECT_TRUE(SameRecord(Section, Sentinel())) << Case.Name;
    }
  }
}

TEST_F(SectionLookupTest, ExtractWithoutSectionOnlyReads) {
  const std::string File = "0 a\n1 b\n[NEXT]\n0 c\n";
  TextReader Reader;
  ASSERT_EQ(OpenTextReader(File.data(), File.size(), &Reader), EFI_SUCCESS);
  const size_t Before = Firmware->LiveBlockCount();
  EXPECT_EQ(ExtractSection(&Reader, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Firmware->LiveBlockCount(), Before);
  EXPECT_EQ(Reader.ByteCursor - Reader.Buffer, 15) << "the header line that ended the section is consumed";
  PoolRelease(Reader.Buffer);
}

TEST_F(SectionLookupTest, UpperCaseAsciiLettersChangesOnlyAToZ) {
  const struct {
    std::u16string In;
    std::u16string Out;
  } Cases[] = {
      {u"[8a123456]", u"[8A123456]"},
      {u"az`{AZ@[", u"AZ`{AZ@["},
      {u"\x00E9\xFFE1\x0161", u"\x00E9\xFFE1\x0161"},
      {u"", u""},
  };
  for (const auto &Case : Cases) {
    std::u16string Text = Case.In;
    UpperCaseAsciiLetters(Text.data());
    EXPECT_EQ(Text, Case.Out);
  }
}

TEST_F(SectionLookupTest, FailedOpenReturnsOutOfResourcesAndLeavesSectionAlone) {
  TextReader Section = Sentinel();
  Firmware->FailAllocationNumber(1);
  EXPECT_EQ(FindMachineSection(ExampleFile.data(), ExampleFile.size(), &Section), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(SameRecord(Section, Sentinel()));
}

TEST_F(SectionLookupTest, FailedSectionCopyIsReportedAndLeavesSectionAlone) {
  const std::string File = "[AB12CD34]\n";
  TextReader Section = Sentinel();
  // The file copy, the header line, its token copy and token array, then the section copy.
  Firmware->FailAllocationNumber(5);
  EXPECT_EQ(FindMachineSection(File.data(), File.size(), &Section), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(SameRecord(Section, Sentinel()));
  EXPECT_EQ(Firmware->AllocationCount(), 5u);
}

// Fails allocation 1, 2, ... N of the lookup in turn: an error leaves Section alone, success is the whole section.
TEST_F(SectionLookupTest, AllocationFailureSweepOverTheLookup) {
  const std::string Plain = "; two machines\n[EF56GH78]\n0 other\n[AB12CD34]\n0 = \"boot image one\" # c\n"
                            "1 logo.bmp\n; note\n2=setup\n[X1]\n0 x\n";
  for (const std::string &File : {Plain, Utf16(Plain, true)}) {
    TextReader Full = Sentinel();
    ASSERT_EQ(FindMachineSection(File.data(), File.size(), &Full), EFI_SUCCESS);
    const std::string FullText = SectionText(Full);
    PoolRelease(Full.Buffer);

    size_t Failures = 0;
    for (size_t Failing = 1;; Failing++) {
      const size_t Base = Firmware->AllocationCount();
      Firmware->FailAllocationNumber(Base + Failing);
      TextReader Section = Sentinel();
      EFI_STATUS Status = FindMachineSection(File.data(), File.size(), &Section);
      const bool Reached = Firmware->AllocationCount() >= Base + Failing;
      Firmware->FailAllocationNumber(0);
      if (!Reached) {
        ASSERT_EQ(Status, EFI_SUCCESS);
        EXPECT_EQ(SectionText(Section), FullText);
        PoolRelease(Section.Buffer);
        break;
      }
      Failures++;
      EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES) << "failing allocation " << Failing;
      EXPECT_TRUE(SameRecord(Section, Sentinel())) << "failing allocation " << Failing;
      EXPECT_EQ(Firmware->LiveBlockCount(), 0u) << "failing allocation " << Failing;
    }
    EXPECT_GT(Failures, 20u);
  }
}

// Fails allocation 1, 2, ... N of a scan of the section copy: the scan stops early, loses nothing else, leaks nothing.
TEST_F(SectionLookupTest, AllocationFailureSweepOverAScanOfTheSection) {
  for (const std::string &File : {ExampleFile, Utf16(ExampleFile, false)}) {
    TextReader Section = Sentinel();
    ASSERT_EQ(FindMachineSection(File.data(), File.size(), &Section), EFI_SUCCESS);
    const TextReader Copy = Section;
    const TokenLines Full = Scan(Section);
    ASSERT_EQ(Full.size(), 3u);
    const size_t Live = Firmware->LiveBlockCount();

    for (size_t Failing = 1;; Failing++) {
      const size_t Base = Firmware->AllocationCount();
      Firmware->FailAllocationNumber(Base + Failing);
      const TokenLines Partial = Scan(Section);
      const bool Reached = Firmware->AllocationCount() >= Base + Failing;
      Firmware->FailAllocationNumber(0);
      EXPECT_EQ(Firmware->LiveBlockCount(), Live) << "failing allocation " << Failing;
      EXPECT_EQ(Section.Buffer, Copy.Buffer);
      EXPECT_EQ(Section.Size, Copy.Size);
      if (!Reached) {
        EXPECT_EQ(Partial, Full);
        break;
      }
      ASSERT_LT(Partial.size(), Full.size()) << "failing allocation " << Failing;
      EXPECT_EQ(Partial, TokenLines(Full.begin(), Full.begin() + Partial.size()));
      EXPECT_EQ(Scan(Section), Full) << "the copy is intact after a failed scan";
    }
    PoolRelease(Section.Buffer);
  }
}

} // namespace
