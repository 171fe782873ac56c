/*
 * rivari-check agrees with the driver: for a set of files and identifiers,
 * every entry the checker reports is what GetEntry returns through the
 * installed interface after FetchConfiguration on the firmware double, the
 * counts match, and so do the identifier, the header and the file names.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>

#include "ConfigurationReport.h"
#include "Double/ServiceCaller.h"
#include "SectionLookup.h"

namespace {

using RivariCheck::ConfigurationReport;
using RivariCheck::EntryReport;

/* A unit no value can hold in full: an untouched buffer has no terminator. */
constexpr char16_t Untouched = 0xFFFF;
constexpr size_t ValueUnits = 4096;

std::vector<UINT8> Bytes(const std::string &Text) { return std::vector<UINT8>(Text.begin(), Text.end()); }

std::vector<UINT8> Utf16(const std::u16string &Text, bool WithBom) { return Bytes(Utf16Bytes(Text, WithBom)); }

struct NamedText {
  std::string Name;
  std::vector<UINT8> Text;
};

/* The golden case files, so that every trap they show is also checked against the driver. */
std::vector<NamedText> CaseFiles() {
  std::vector<NamedText> Files;
  for (const auto &Item : std::filesystem::directory_iterator(RIVARI_CHECK_CASES)) {
    std::ifstream Stream(Item.path(), std::ios::binary);
    Files.push_back({Item.path().filename().string(),
                     std::vector<UINT8>(std::istreambuf_iterator<char>(Stream), std::istreambuf_iterator<char>())});
  }
  std::sort(Files.begin(), Files.end(), [](const NamedText &A, const NamedText &B) { return A.Name < B.Name; });
  return Files;
}

/* Texts beyond the case files: other line ends, UTF-16 without a BOM, long sections, odd tokens. */
std::vector<NamedText> ExtraTexts() {
  std::string Long = "[AB12CD34]\n";
  for (int Index = 0; Index < 120; Index++) {
    Long += std::to_string(Index) + " = value" + std::string(static_cast<size_t>(Index % 7), 'x') + "\n";
  }
  return {
      {"crlf", Bytes("[AB12CD34]\r\n0 a\r\n\r\n1 \"b c\"\r\n2=c;x\r\n[EF56GH78]\r\n0 d\r\n")},
      {"lone-cr", Bytes("[AB12CD34]\r0 a\r1 b\r\r[EF56GH78]\r0 c")},
      {"utf16-no-bom", Utf16(u"[AB12CD34]\r\n0 a\r\n1 \"x\r\n2 c\r\n", false)},
      {"utf16-surrogates", Utf16(u"[AB12CD34]\n0 \xD83D\xDE00\n1 \xD800x\n", true)},
      {"header-last", Bytes("[EF56GH78]\n0 a\n[AB12CD34]")},
      {"comments-only", Bytes("[AB12CD34]\n; nothing\n# here\n\n[EF56GH78]\n0 x\n")},
      {"nul-byte", std::vector<UINT8>{'[', 'A', 'B', '1',  '2', 'C', 'D', '3', '4',  ']', '\n', '0', ' ',
                                      'a', 0,   'b', '\n', '1', 0,   ' ', 'c', '\n', '2', ' ',  'd', '\n'}},
      {"bracket-value", Bytes("[AB12CD34]\n0 [x]\n1 = y [z]\n2 \"[q\"\n[AB12CD34 extra\n3 w\n")},
      {"high-bytes", Bytes("[AB12CD34]\n0 \xE9t\xE9\n\xB9 x\n1 \xFF\n")},
      {"long", Bytes(Long)},
  };
}

/* Texts built from the format's pieces at random (a fixed seed): headers, numbers, quotes, comments, breaks. */
std::vector<NamedText> PieceTexts() {
  const std::vector<std::string> Pieces = {"[AB12CD34]",
                                           "[EF56GH78]",
                                           "[ab12cd34]",
                                           "[",
                                           "]",
                                           "0",
                                           "1",
                                           "2",
                                           "3",
                                           "01",
                                           "-1",
                                           "\"",
                                           "#",
                                           ";",
                                           "=",
                                           " ",
                                           "\t",
                                           "x",
                                           "\r\n",
                                           "\n",
                                           "\r",
                                           "\xFF",
                                           std::string(1, '\0')};
  std::mt19937 Random(20240501);
  std::vector<NamedText> Texts;
  for (int Number = 0; Number < 60; Number++) {
    std::string Text = "[AB12CD34]\n";
    const size_t Count = Random() % 60;
    for (size_t Index = 0; Index < Count; Index++) {
      Text += Pieces[Random() % Pieces.size()];
    }
    Texts.push_back({"pieces-" + std::to_string(Number), Bytes(Text)});
  }
  return Texts;
}

const char *const Identifiers[] = {"ab12cd34", "AB12CD34", "ef56gh78", "ab12cd3", "ab12cd345", "ab12cd3\xC3"};

/* Physical line Number (from 1) of 8-bit Text, as an editor splits lines: CR LF, CR or LF. */
std::string PhysicalLine(const std::vector<UINT8> &Text, uint64_t Number) {
  std::string Line;
  uint64_t Current = 1;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    const char Byte = static_cast<char>(Text[Index]);
    if (Byte != '\r' && Byte != '\n') {
      if (Current == Number) {
        Line += Byte;
      }
      continue;
    }
    if (Byte == '\r' && Index + 1 < Text.size() && Text[Index + 1] == '\n') {
      Index++;
    }
    Current++;
  }
  return Line;
}

/* What the report says of Index: nothing, or its entry. */
const EntryReport *ReportedEntry(const ConfigurationReport &Report, int64_t Index) {
  for (const EntryReport &Entry : Report.Machine->Entries) {
    if (Entry.Index == Index) {
      return &Entry;
    }
  }
  return nullptr;
}

class RivariCheckAgreementTest : public ServiceCallerTest {
protected:
  EFI_STATUS Fetch(const std::vector<UINT8> &Text, const std::string &Identifier) {
    Pxe.Files["rivari.ini"] = Text;
    return ServiceCallerTest::Fetch(Identifier);
  }

  /* GetEntry for Index with a buffer of ValueSize bytes: the result, and the value when one was copied. */
  std::pair<bool, std::optional<std::u16string>> Get(UINTN Index, UINTN ValueSize = ValueUnits * sizeof(CHAR16)) {
    std::u16string Buffer(ValueUnits, Untouched);
    const bool Found = Service->GetEntry(Service, Index, Buffer.data(), ValueSize) != FALSE;
    const size_t Terminator = Buffer.find(u'\0');
    if (Terminator == std::u16string::npos) {
      return {Found, std::nullopt};
    }
    return {Found, Buffer.substr(0, Terminator)};
  }

  /* The indices to ask the driver about: every reported entry and a band around the small numbers. */
  static std::set<int64_t> Probes(const ConfigurationReport &Report) {
    std::set<int64_t> Indices = {-999, -998, -100, 999, 1000, 9998, 9999};
    for (int64_t Index = -12; Index <= 130; Index++) {
      Indices.insert(Index);
    }
    for (const EntryReport &Entry : Report.Machine->Entries) {
      Indices.insert(Entry.Index);
    }
    return Indices;
  }

  void ExpectAgreement(const NamedText &File, const std::string &Identifier) {
    SCOPED_TRACE(File.Name + " with identifier " + Identifier);
    RivariCheck::ReportRequest Request;
    Request.Identifier = Identifier;
    Request.FileNumbers = {0, 7, 115200, 1234567, -115200, 4294967295};
    const ConfigurationReport Report = RivariCheck::AnalyzeConfiguration(File.Name, File.Text, Request);
    ASSERT_TRUE(Report.Machine.has_value());

    const EFI_STATUS Status = Fetch(File.Text, Identifier);
    EXPECT_EQ(Report.Machine->MachineId, std::u16string(ServiceState.MachineId));
    EXPECT_EQ(Report.Machine->Header, std::u16string(SectionTemplate));
    ASSERT_EQ(Report.Machine->SectionFound, Status == EFI_SUCCESS) << "fetch status " << std::hex << Status;

    EXPECT_EQ(Report.Machine->EntryCount, Service->GetEntryCount(Service));
    for (int64_t Index : Probes(Report)) {
      SCOPED_TRACE("index " + std::to_string(Index));
      const auto [Found, Value] = Get(static_cast<UINTN>(Index));
      const EntryReport *Entry = ReportedEntry(Report, Index);
      ASSERT_EQ(Entry != nullptr, Found);
      if (Entry == nullptr) {
        continue;
      }
      EXPECT_EQ(Entry->Value, Value);
      if (Report.Encoding != "utf16") {
        // The reported line is where the entry's number stands.
        std::string Line = PhysicalLine(File.Text, Entry->Line);
        Line.erase(0, Line.find_first_not_of(" \t="));
        EXPECT_EQ(Line.rfind(std::to_string(Index), 0), 0u) << "line " << Entry->Line << ": " << Line;
      }
      if (Entry->Value) {
        // The reported size is exactly what a caller's buffer must hold.
        EXPECT_EQ(Get(static_cast<UINTN>(Index), Entry->ValueSize).second, Entry->Value);
        EXPECT_EQ(Get(static_cast<UINTN>(Index), Entry->ValueSize - 1).second, std::nullopt);
      }
    }

    for (const RivariCheck::FileNameReport &Name : Report.Machine->Files) {
      UINTN Size = 0;
      Pxe.Calls.clear();
      (void)Service->FetchNumberedFile(Service, static_cast<UINTN>(Name.Number), NULL, &Size);
      ASSERT_FALSE(Pxe.MtftpCalls().empty());
      EXPECT_EQ(Pxe.MtftpCalls().front()->Filename, Name.Name) << "file " << Name.Number;
    }
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
};

TEST_F(RivariCheckAgreementTest, CaseFilesReadAsTheDriverReadsThem) {
  const std::vector<NamedText> Files = CaseFiles();
  ASSERT_GE(Files.size(), 10u);
  for (const NamedText &File : Files) {
    for (const char *Identifier : Identifiers) {
      ExpectAgreement(File, Identifier);
    }
  }
}

TEST_F(RivariCheckAgreementTest, OtherTextsReadAsTheDriverReadsThem) {
  for (const NamedText &File : ExtraTexts()) {
    for (const char *Identifier : Identifiers) {
      ExpectAgreement(File, Identifier);
    }
  }
}

TEST_F(RivariCheckAgreementTest, RandomTextsReadAsTheDriverReadsThem) {
  for (const NamedText &File : PieceTexts()) {
    ExpectAgreement(File, "ab12cd34");
  }
}

TEST_F(RivariCheckAgreementTest, EverySectionCountIsTheCountOfItsMachine) {
  std::vector<NamedText> Files = CaseFiles();
  for (NamedText &Extra : ExtraTexts()) {
    Files.push_back(std::move(Extra));
  }
  size_t Compared = 0;
  for (const NamedText &File : Files) {
    RivariCheck::ReportRequest Request;
    Request.AllSections = true;
    const ConfigurationReport Report = RivariCheck::AnalyzeConfiguration(File.Name, File.Text, Request);
    ASSERT_TRUE(Report.Sections.has_value());
    for (const RivariCheck::SectionReport &Section : *Report.Sections) {
      // A header that some identifier can match: eight characters in brackets, none a lower-case letter.
      const std::u16string &Header = Section.Header;
      if (Section.Duplicate || Header.size() != 10 || Header.back() != u']' ||
          std::any_of(Header.begin(), Header.end(), [](char16_t Unit) { return Unit >= u'a' && Unit <= u'z'; })) {
        continue;
      }
      std::string Identifier;
      for (char16_t Unit : Header.substr(1, 8)) {
        Identifier += static_cast<char>(Unit);
      }
      SCOPED_TRACE(File.Name + " section " + Identifier);
      ASSERT_EQ(Fetch(File.Text, Identifier), EFI_SUCCESS);
      EXPECT_EQ(Section.EntryCount, Service->GetEntryCount(Service));
      EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
      Compared++;
    }
  }
  EXPECT_GE(Compared, 15u);
}

TEST_F(RivariCheckAgreementTest, AnalysisLeavesTheDriverStateAsItFoundIt) {
  ASSERT_EQ(Fetch(Bytes("[EF56GH78]\n0 x\n"), "ef56gh78"), EFI_SUCCESS);
  const std::u16string MachineIdBefore = ServiceState.MachineId;
  const TextReader SectionBefore = ServiceState.SectionReader;
  const size_t LiveBlocksBefore = Firmware->LiveBlockCount();

  RivariCheck::ReportRequest Request;
  Request.Identifier = "ab12cd34";
  Request.AllSections = true;
  const ConfigurationReport Report =
      RivariCheck::AnalyzeConfiguration("two", Bytes("[AB12CD34]\n0 a\n[EF56GH78]\n0 b\n"), Request);
  EXPECT_TRUE(Report.Machine->SectionFound);

  EXPECT_EQ(std::u16string(ServiceState.MachineId), MachineIdBefore);
  EXPECT_EQ(ServiceState.SectionReader.Buffer, SectionBefore.Buffer);
  EXPECT_EQ(Firmware->LiveBlockCount(), LiveBlocksBefore);
  EXPECT_EQ(Get(0).second, std::u16string(u"x"));
}

} // namespace
