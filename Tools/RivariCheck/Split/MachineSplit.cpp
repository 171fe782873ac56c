/* One machine's own rivari.ini and its proof by the configuration core. */
#include "MachineSplit.h"

#include <cstring>
#include <set>

#include "EntryScan.h"
#include "Library/PoolLib.h"
#include "MachineIdentity.h"
#include "SectionLookup.h"
#include "Tokenizer.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* Marks a value buffer that ScanEntry left alone: the line has no value. */
constexpr char16_t NoValue = 0xFFFF;

/* The indexes some first token of Section names: no other index can be found in it. */
std::set<int32_t> IndexesNamed(TextReader *Section) {
  std::set<int32_t> Indexes;
  RewindTextReader(Section);
  CHAR16 **Tokens;
  UINTN Count;
  while (ReadTokenLine(Section, &Tokens, &Count) == EFI_SUCCESS) {
    INT32 Index;
    if (ParseEntryIndex(Tokens[0], &Index)) {
      Indexes.insert(Index);
    }
    FreeTokenList(&Tokens, &Count);
  }
  return Indexes;
}

/* What GetEntry copies for Index: its value, NoValue alone for a line without one; false when not found. */
bool ValueOf(TextReader *Section, int32_t Index, std::u16string &Value) {
  std::u16string Buffer(Section->Size + 2, NoValue);
  if (!ScanEntry(Section, static_cast<UINTN>(static_cast<INTN>(Index)), Buffer.data(),
                 Buffer.size() * sizeof(CHAR16))) {
    return false;
  }
  const size_t Terminator = Buffer.find(u'\0');
  Value = Terminator == std::u16string::npos ? std::u16string(1, NoValue) : Buffer.substr(0, Terminator);
  return true;
}

/* The bytes that open a file of Encoding, so that the reader detects the same encoding. */
std::vector<uint8_t> EncodingMark(TextEncoding Encoding) {
  switch (Encoding) {
  case TextEncodingUtf8Bom:
    return {0xEF, 0xBB, 0xBF};
  case TextEncodingUtf16:
    return {0xFF, 0xFE};
  default:
    return {};
  }
}

/* Text in the encoding's units: ASCII only, as headers and notes are. */
void AppendUnits(std::vector<uint8_t> &File, const std::u16string &Text, TextEncoding Encoding) {
  for (char16_t Unit : Text) {
    File.push_back(static_cast<uint8_t>(Unit));
    if (Encoding == TextEncodingUtf16) {
      File.push_back(static_cast<uint8_t>(Unit >> 8));
    }
  }
}

/* The reasons a machine of Fleet needs a person's look before it gets a file of its own. */
void AddReasons(const FleetText &Fleet, MachineSplit &Split) {
  const std::string Name = DisplayText(Split.Header);
  const auto Found = Fleet.Headers.find(Split.Header);
  if (!Split.Answers.SectionFound) {
    const auto Hidden = Fleet.Hidden.find(Split.Header);
    if (Hidden != Fleet.Hidden.end()) {
      const std::string Quote = std::to_string(Hidden->second.QuoteLine);
      Split.Reasons.push_back({"header-swallowed", Hidden->second.Line,
                               Name + " stands here, but a double quote left open on line " + Quote +
                                   " joins this line to line " + Quote +
                                   ": the driver never finds the section; close or remove that quote"});
    } else {
      Split.Reasons.push_back({"section-missing", 0, "no section " + Name + " in the file"});
    }
  } else if (Found != Fleet.Headers.end() && Found->second.DuplicateLine != 0) {
    Split.Reasons.push_back({"duplicate-header", Found->second.DuplicateLine,
                             Name + " stands here again; the driver reads only the first section, the client's "
                                    "file holds only that one"});
  }
  if (Fleet.FirstContentBeforeHeader != 0) {
    Split.Reasons.push_back({"before-first-header", Fleet.FirstContentBeforeHeader,
                             "lines before the first header hold tokens; no machine reads them, and the client's "
                             "files leave them out"});
  }
  if (!Split.Equivalent) {
    Split.Reasons.push_back({"answers-differ", 0, "the client's file would not give " + Name + " the same answers"});
  }
}

} // namespace

MachineAnswers AnswersOfSection(TextReader *Section) {
  MachineAnswers Answers;
  Answers.SectionFound = true;
  Answers.Count = CountEntries(Section);
  for (int32_t Index : IndexesNamed(Section)) {
    std::u16string Value;
    if (ValueOf(Section, Index, Value)) {
      Answers.Values[Index] = Value;
    }
  }
  PoolRelease(Section->Buffer);
  return Answers;
}

MachineAnswers AnswersFor(const std::vector<uint8_t> &Text, const std::u16string &Header) {
  TextReader Section{};
  if (FindSection(Text.data(), Text.size(), Header.c_str(), &Section) != EFI_SUCCESS) {
    return MachineAnswers{};
  }
  return AnswersOfSection(&Section);
}

MachineSplit SplitMachine(FleetText &Fleet, const std::string &Identifier) {
  MachineSplit Split;
  Split.Identifier = Identifier;
  CHAR16 MachineId[MachineIdLength + 1];
  CHAR8 Bytes[MachineIdLength] = {};
  std::memcpy(Bytes, Identifier.data(), std::min(Identifier.size(), sizeof(Bytes)));
  RecordMachineId(Bytes, MachineId);
  CHAR16 Header[SectionHeaderLength];
  BuildSectionHeader(MachineId, Header);
  Split.Header = Header;

  const TextEncoding Encoding = Fleet.Whole.Encoding;
  Split.Client = EncodingMark(Encoding);
  TextReader Section{};
  if (FleetSection(Fleet, Split.Header, &Section) == EFI_SUCCESS) {
    // The section as the driver copies it, under a header line of its own.
    Split.HeaderLine = Fleet.Headers.at(Split.Header).Line;
    AppendUnits(Split.Client, Split.Header + u"\n", Encoding);
    Split.Client.insert(Split.Client.end(), Section.Buffer, Section.Buffer + Section.Size);
    Split.Answers = AnswersOfSection(&Section);
  } else {
    AppendUnits(Split.Client, u"; no section " + Split.Header + u" in the fleet's file\n", Encoding);
  }

  const MachineAnswers ClientAnswers = AnswersFor(Split.Client, Split.Header);
  Split.Equivalent = ClientAnswers.SectionFound == Split.Answers.SectionFound &&
                     ClientAnswers.Count == Split.Answers.Count && ClientAnswers.Values == Split.Answers.Values;
  AddReasons(Fleet, Split);
  return Split;
}

} // namespace RivariCheck
