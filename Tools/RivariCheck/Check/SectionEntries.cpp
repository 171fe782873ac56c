/* The entries of one section: what the driver's entry scan answers, and where it stands in the file. */
#include "SectionEntries.h"

#include <algorithm>
#include <map>

#include "EntryNumbers.h"
#include "EntryScan.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "SectionLookup.h"
#include "ValueCut.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* The line of an entry number that answers, and whether it carries a value. */
struct EntryLine {
  uint64_t Line;
  bool HasValue;
};

std::string SectionName(const TextLayout &Layout, size_t HeaderIndex) {
  return DisplayText(Layout.Lines[HeaderIndex].Tokens[0]);
}

/*
 * Asks the driver's entry scan for Index with a buffer that holds any value
 * of the section. The buffer is filled with units that are never 0, so a
 * value was copied exactly when a terminator is found in it.
 */
std::optional<EntryReport> ScanIndex(TextReader *Section, int64_t Index) {
  std::u16string Buffer(Section->Size + 2, u'\xFFFF');
  const UINTN BufferSize = Buffer.size() * sizeof(CHAR16);
  if (!ScanEntry(Section, static_cast<UINTN>(Index), Buffer.data(), BufferSize)) {
    return std::nullopt;
  }
  EntryReport Entry;
  Entry.Index = Index;
  const size_t Terminator = Buffer.find(u'\0');
  if (Terminator != std::u16string::npos) {
    Entry.Value = Buffer.substr(0, Terminator);
    Entry.ValueSize = (Terminator + 1) * sizeof(CHAR16);
  }
  return Entry;
}

bool HoldsHighBytes(const std::u16string &Value) {
  return std::any_of(Value.begin(), Value.end(), [](char16_t Unit) { return Unit >= 0xFF80; });
}

} // namespace

SectionEntries ReadSectionEntries(const TextLayout &Layout, size_t HeaderIndex, TextReader *Section,
                                  std::vector<Warning> &Warnings) {
  const std::string Name = SectionName(Layout, HeaderIndex);
  std::map<int64_t, EntryLine> Lines;
  for (size_t Index = HeaderIndex + 1; Index < Layout.Lines.size() && !IsHeaderLine(Layout.Lines[Index]); Index++) {
    const LogicalLine &Line = Layout.Lines[Index];
    if (Line.Tokens.empty()) {
      continue;
    }
    INT32 Number;
    if (!ParseEntryIndex(Line.Tokens[0].c_str(), &Number)) {
      Warnings.push_back({"unmatchable-entry", Line.FirstLine,
                          "first token " + DisplayText(Line.Tokens[0]) + " in " + Name + " " +
                              UnmatchableReason(Line.Tokens[0]) + ": no GetEntry ever reads this line"});
      continue;
    }
    auto [Earlier, Inserted] = Lines.try_emplace(Number, EntryLine{Line.FirstLine, Line.Tokens.size() > 1});
    if (!Inserted) {
      Warnings.push_back({"duplicate-entry", Line.FirstLine,
                          "entry " + std::to_string(Number) + " of " + Name + " is already on line " +
                              std::to_string(Earlier->second.Line) + "; the first line wins, this one is never read"});
    } else if (std::optional<Warning> Cut = ValueCutWarning(Line, "entry " + std::to_string(Number) + " of " + Name)) {
      Warnings.push_back(std::move(*Cut));
    }
  }

  SectionEntries Result;
  Result.Count = CountEntries(Section);
  for (const auto &[Number, Line] : Lines) {
    std::optional<EntryReport> Entry = ScanIndex(Section, Number);
    if (!Entry) {
      continue;
    }
    Entry->Line = Line.Line;
    if (!Line.HasValue) {
      Warnings.push_back({"missing-value", Line.Line,
                          "entry " + std::to_string(Number) + " of " + Name +
                              " has no value: GetEntry answers TRUE but copies nothing"});
    } else if (Entry->Value && HoldsHighBytes(*Entry->Value) && Layout.Encoding != TextEncodingUtf16) {
      Warnings.push_back({"non-ascii-value", Line.Line,
                          "value of entry " + std::to_string(Number) + " of " + Name +
                              " holds bytes above 0x7F: they are not decoded, each becomes one character "
                              "0xFF80 to 0xFFFF"});
    }
    if (Number < 0) {
      Warnings.push_back({"negative-entry", Line.Line,
                          "entry " + std::to_string(Number) + " of " + Name +
                              " is never counted; only an index whose low 32 bits are negative reads it"});
    } else if (static_cast<uint64_t>(Number) > Result.Count) {
      Warnings.push_back({"gap", Line.Line,
                          "entry " + std::to_string(Number) + " of " + Name + " is beyond the count: entry " +
                              std::to_string(Result.Count) + " is missing, so GetEntryCount returns " +
                              std::to_string(Result.Count)});
    }
    Result.Entries.push_back(std::move(*Entry));
  }
  return Result;
}

SectionEntries ReadSectionAfter(const std::vector<uint8_t> &Text, const TextLayout &Layout, size_t HeaderIndex,
                                std::vector<Warning> &Warnings) {
  SectionEntries Result;
  TextReader Reader = {};
  if (OpenTextReader(Text.data(), Text.size(), &Reader) != EFI_SUCCESS) {
    return Result;
  }
  // Where the reader stands after the header line and its line breaks.
  const uint64_t Next = HeaderIndex + 1 < Layout.Lines.size() ? Layout.Lines[HeaderIndex + 1].Start : Text.size();
  MoveTextReaderTo(&Reader, Next);
  TextReader Section = {};
  if (ExtractSection(&Reader, &Section) == EFI_SUCCESS) {
    Result = ReadSectionEntries(Layout, HeaderIndex, &Section, Warnings);
    if (Section.Buffer != NULL) {
      PoolRelease(Section.Buffer);
    }
  }
  PoolRelease(Reader.Buffer);
  return Result;
}

} // namespace RivariCheck
