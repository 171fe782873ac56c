/*
 * Configuration text under arbitrary bytes: the reader, the tokenizer, the
 * section lookup for a fixed and a fuzzer-chosen identifier, a scan of each
 * section copy, and the entry operations over it (GetEntry for an index and
 * a value size taken from the input, GetEntryCount against a GetEntry
 * loop), all on the double's tracked pool. A second pass fails one
 * allocation chosen from the input and must end cleanly: an error with the
 * section untouched, or the same section as without the failure. Any leak,
 * bad free, overrun or broken invariant traps.
 */
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/FirmwareDouble.h"
#include "EntryScan.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "SectionLookup.h"
#include "Tokenizer.h"
#include "TolvaneDriver.h"

namespace {

using TokenLines = std::vector<std::vector<std::u16string>>;

void Require(bool Condition) {
  if (!Condition) {
    __builtin_trap();
  }
}

/* A token list from a TRUE read: Count >= 1, every entry a live, non-empty string. */
std::vector<std::u16string> TakeTokens(FirmwareDouble::Firmware &Firmware, CHAR16 **Tokens, UINTN Count) {
  Require(Count >= 1 && Tokens != nullptr && Firmware.IsLiveBlock(Tokens));
  std::vector<std::u16string> Copy;
  for (UINTN Index = 0; Index < Count; Index++) {
    Require(Tokens[Index] != nullptr && Firmware.IsLiveBlock(Tokens[Index]) && Tokens[Index][0] != 0);
    Copy.emplace_back(Tokens[Index]);
  }
  FreeTokenList(&Tokens, &Count);
  return Copy;
}

/* Every token line of Reader from its cursor on; a FALSE read leaves an empty list. */
TokenLines ScanTokenLines(FirmwareDouble::Firmware &Firmware, TextReader *Reader) {
  TokenLines Lines;
  CHAR16 **Tokens;
  UINTN Count;
  while (ReadTokenLine(Reader, &Tokens, &Count) == EFI_SUCCESS) {
    Lines.push_back(TakeTokens(Firmware, Tokens, Count));
  }
  Require(Tokens == nullptr && Count == 0);
  return Lines;
}

bool IsPrefix(const TokenLines &Short, const TokenLines &Long) {
  return Short.size() <= Long.size() && std::equal(Short.begin(), Short.end(), Long.begin());
}

struct LookupResult {
  EFI_STATUS Status;
  std::string Section;
  TokenLines Entries;
};

/* What the entry operations are asked: an index and a value size, from the input. */
struct EntryQuestion {
  UINTN Index;
  UINTN ValueSize;
};

/*
 * The held section answers GetEntry as its token lines say: TRUE when a line
 * starts with the index text, the value of the first such line copied when
 * it fits, nothing written past ValueSize. With no failure armed, the count
 * equals a GetEntry loop from 0.
 */
void CheckEntryOperations(const TokenLines &Entries, const EntryQuestion &Question, bool Clean) {
  CHAR16 IndexText[EntryIndexTextLength];
  FormatEntryIndex(Question.Index, IndexText);
  const auto Line = std::find_if(Entries.begin(), Entries.end(),
                                 [&](const std::vector<std::u16string> &Tokens) { return Tokens[0] == IndexText; });
  // Exactly ValueSize bytes on the heap (none: a NULL Value): the sanitizer traps any write past them.
  std::vector<uint8_t> Value(Question.ValueSize, 0x5A);
  const BOOLEAN Found = GetEntry(nullptr, Question.Index, reinterpret_cast<CHAR16 *>(Value.data()), Question.ValueSize);
  if (Clean) {
    Require((Found != FALSE) == (Line != Entries.end()));
    const size_t Needed = Line != Entries.end() && Line->size() >= 2 ? ((*Line)[1].size() + 1) * sizeof(CHAR16) : 0;
    if (Needed != 0 && Needed <= Value.size()) {
      Require(std::memcmp(Value.data(), (*Line)[1].c_str(), Needed) == 0);
    } else {
      Require(std::all_of(Value.begin(), Value.end(), [](uint8_t Byte) { return Byte == 0x5A; }));
    }
  }
  const UINTN Count = GetEntryCount(nullptr);
  Require(Count <= EntryCountLimit);
  if (Clean) {
    UINTN Probed = 0;
    while (Probed < EntryCountLimit && GetEntry(nullptr, Probed, nullptr, 0)) {
      Probed++;
    }
    Require(Count == Probed);
  }
}

/*
 * One lookup for Identifier, a scan of its section copy and the entry
 * operations over it as the held section; the copy is released afterwards.
 */
LookupResult LookUp(FirmwareDouble::Firmware &Firmware, const uint8_t *Data, size_t Size, const CHAR8 *Identifier,
                    const EntryQuestion &Question, bool Clean) {
  RecordMachineId(Identifier, ServiceState.MachineId);
  TextReader Section;
  std::memset(&Section, 0x5A, sizeof(Section));
  const TextReader Untouched = Section;
  LookupResult Result{FindMachineSection(Data, Size, &Section), {}, {}};
  if (Result.Status != EFI_SUCCESS) {
    Require(Result.Status == EFI_NOT_FOUND || Result.Status == EFI_OUT_OF_RESOURCES);
    Require(std::memcmp(&Section, &Untouched, sizeof(Section)) == 0);
    return Result;
  }
  const bool Wide = Section.Encoding == TextEncodingUtf16;
  Require(Section.Buffer != nullptr && Firmware.BlockSize(Section.Buffer) == Section.Size + (Wide ? 2 : 1));
  Require(Section.Size <= Size);
  Result.Section.assign(reinterpret_cast<const char *>(Section.Buffer), Section.Size);
  RewindTextReader(&Section);
  Result.Entries = ScanTokenLines(Firmware, &Section);
  // A second scan after a rewind reads the same entries, up to where the pool may have run dry.
  RewindTextReader(&Section);
  TokenLines Again = ScanTokenLines(Firmware, &Section);
  Require(IsPrefix(Again, Result.Entries) || IsPrefix(Result.Entries, Again));
  ServiceState.SectionReader = Section;
  CheckEntryOperations(Result.Entries, Question, Clean);
  ServiceState.SectionReader = {};
  PoolRelease(Section.Buffer);
  return Result;
}

struct PassResult {
  TokenLines Lines;
  LookupResult Fixed;
  LookupResult Chosen;
};

/* Reads every token line of the whole text, then both lookups. */
PassResult RunPass(FirmwareDouble::Firmware &Firmware, const uint8_t *Data, size_t Size, const CHAR8 *Chosen,
                   const EntryQuestion &Question, bool Clean) {
  PassResult Result;
  TextReader Reader;
  if (OpenTextReader(Data, Size, &Reader) == EFI_SUCCESS) {
    Result.Lines = ScanTokenLines(Firmware, &Reader);
    // An exhausted reader stays exhausted; one stopped by a failed allocation reads on.
    const bool AtEnd = TextReaderAtEnd(&Reader);
    Require(ScanTokenLines(Firmware, &Reader).empty() || !AtEnd);
    PoolRelease(Reader.Buffer);
  } else {
    CHAR16 *Line;
    UINTN Length;
    Require(Reader.Buffer == nullptr && ReadTextLine(&Reader, &Line, &Length) == EFI_NOT_FOUND);
  }
  Result.Fixed = LookUp(Firmware, Data, Size, reinterpret_cast<const CHAR8 *>("ab12cd34"), Question, Clean);
  Result.Chosen = LookUp(Firmware, Data, Size, Chosen, Question, Clean);
  Require(Firmware.Leaks().empty() && Firmware.PoolErrors().empty());
  return Result;
}

/* Under a failed allocation a lookup either fails or gives exactly what it gives without one. */
void RequireSameOrFailed(const LookupResult &Failed, const LookupResult &Clean) {
  if (Failed.Status == EFI_OUT_OF_RESOURCES) {
    return;
  }
  Require(Failed.Status == Clean.Status && Failed.Section == Clean.Section);
  Require(IsPrefix(Failed.Entries, Clean.Entries));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  // The fuzzer-chosen identifier: the first 8 bytes, cut at a 0 as the configuration fetch cuts it.
  CHAR8 Chosen[9] = {};
  if (Size != 0) {
    std::memcpy(Chosen, Data, Size < 8 ? Size : 8);
  }

  // The entry question: bytes 8 to 13 when there are enough, a small index half of the time.
  EntryQuestion Question = {0, 64};
  if (Size >= 14) {
    const UINT32 Raw = LoadUint32(Data + 9);
    Question.Index = (Data[8] & 1) != 0 ? Raw % 16 : static_cast<UINTN>(static_cast<INT64>(static_cast<INT32>(Raw)));
    Question.ValueSize = LoadUint16(Data + 12) % 512;
  }

  PassResult Clean;
  size_t Allocations;
  {
    FirmwareDouble::Firmware Firmware;
    ResetDriverState();
    CaptureFirmwareTables(Firmware.Image(), Firmware.Table());
    Clean = RunPass(Firmware, Data, Size, Chosen, Question, true);
    Allocations = Firmware.AllocationCount();
  }
  if (Allocations == 0) {
    return 0;
  }

  // Fail one allocation, picked by the last two bytes, among those the clean pass made.
  size_t Pick = Size >= 2 ? (static_cast<size_t>(Data[Size - 1]) << 8 | Data[Size - 2]) : Size;
  {
    FirmwareDouble::Firmware Firmware;
    ResetDriverState();
    CaptureFirmwareTables(Firmware.Image(), Firmware.Table());
    Firmware.FailAllocationNumber(1 + Pick % Allocations);
    PassResult Failed = RunPass(Firmware, Data, Size, Chosen, Question, false);
    Require(IsPrefix(Failed.Lines, Clean.Lines));
    RequireSameOrFailed(Failed.Fixed, Clean.Fixed);
    RequireSameOrFailed(Failed.Chosen, Clean.Chosen);
  }
  ResetDriverState();
  return 0;
}
