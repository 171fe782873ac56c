/* One pass of the configuration core's reader and tokenizer over the fleet's file, recording its headers. */
#include "FleetSections.h"

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "SectionLookup.h"
#include "Tokenizer.h"

namespace RivariCheck {

namespace {

/*
 * Numbers physical lines as an editor does (CR LF, a lone CR and a lone LF
 * each end one) while the pass moves forward through the text: each line
 * start is found once.
 */
class PhysicalLines {
public:
  explicit PhysicalLines(const TextReader &Text)
      : Reader(Text), UnitSize(TextUnitSize(Text.Encoding)), Units(Text.Size / UnitSize) {}

  /* The physical line (from 1) that holds the byte at Offset; Offset never goes back. */
  uint64_t LineAt(uint64_t Offset) {
    while (NextStart <= Offset) {
      Step();
    }
    return Line;
  }

  /* The start of the next physical line, when it comes before Offset; the caller then steps to it. */
  bool NextStartBefore(uint64_t Offset, uint64_t &Start) const {
    Start = NextStart;
    return NextStart < Offset;
  }

  void Step() {
    Line++;
    NextStart = FindNextStart(NextStart / UnitSize);
  }

  char16_t UnitAt(uint64_t Index) const {
    return UnitSize == 2 ? LoadUint16(Reader.Buffer + 2 * Index) : Reader.Buffer[Index];
  }
  uint64_t UnitCount() const { return Units; }

private:
  /* The byte offset of the physical line after the one starting at unit From; past the end when none. */
  uint64_t FindNextStart(uint64_t From) const {
    for (uint64_t Index = From; Index < Units; Index++) {
      const char16_t Unit = UnitAt(Index);
      if (Unit == CharacterCarriageReturn && Index + 1 < Units && UnitAt(Index + 1) == CharacterLineFeed) {
        Index++;
      } else if (!IsLineBreak(Unit)) {
        continue;
      }
      return Index + 1 < Units ? (Index + 1) * UnitSize : NoStart;
    }
    return NoStart;
  }

  static constexpr uint64_t NoStart = ~uint64_t{0};
  const TextReader &Reader;
  uint64_t UnitSize;
  uint64_t Units;
  uint64_t Line = 0;
  uint64_t NextStart = 0;
};

/* The header-like first word of the physical line at Offset ("[..." up to a separator), or nothing. */
std::u16string HeaderWordAt(const PhysicalLines &Lines, uint64_t Offset, uint64_t UnitSize) {
  uint64_t Index = Offset / UnitSize;
  while (Index < Lines.UnitCount() && IsSeparator(Lines.UnitAt(Index))) {
    Index++;
  }
  if (Index >= Lines.UnitCount() || Lines.UnitAt(Index) != CharacterOpenBracket) {
    return {};
  }
  std::u16string Word;
  for (; Index < Lines.UnitCount(); Index++) {
    const char16_t Unit = Lines.UnitAt(Index);
    if (IsSeparator(Unit) || IsCommentStart(Unit) || IsLineBreak(Unit) || Unit == 0) {
      break;
    }
    Word.push_back(Unit);
  }
  return Word;
}

/* Records the headers standing at the start of the physical lines inside a logical line an open quote joined. */
void RecordSwallowedHeaders(FleetText &Fleet, PhysicalLines &Lines, uint64_t FirstLine, uint64_t End) {
  const uint64_t UnitSize = TextUnitSize(Fleet.Whole.Encoding);
  uint64_t Start;
  while (Lines.NextStartBefore(End, Start)) {
    Lines.Step();
    std::u16string Word = HeaderWordAt(Lines, Start, UnitSize);
    if (!Word.empty()) {
      Fleet.Hidden.try_emplace(std::move(Word), SwallowedHeader{Lines.LineAt(Start), FirstLine});
    }
  }
}

/* Records one token line: a header's first place and its repeats, or content before every header. */
void RecordTokenLine(FleetText &Fleet, CHAR16 **Tokens, uint64_t Offset, uint64_t Line) {
  if (!IsSectionHeader(Tokens[0])) {
    if (Fleet.Headers.empty() && Fleet.FirstContentBeforeHeader == 0) {
      Fleet.FirstContentBeforeHeader = Line;
    }
    return;
  }
  // The lookup compares the first token as a string: up to its first 0.
  const auto [Found, Inserted] = Fleet.Headers.try_emplace(std::u16string(Tokens[0]), FleetHeader{Offset, Line, 0});
  if (!Inserted && Found->second.DuplicateLine == 0) {
    Found->second.DuplicateLine = Line;
  }
}

} // namespace

FleetText::FleetText(FleetText &&Other) noexcept
    : Whole(Other.Whole), Headers(std::move(Other.Headers)), Hidden(std::move(Other.Hidden)),
      FirstContentBeforeHeader(Other.FirstContentBeforeHeader), Complete(Other.Complete) {
  Other.Whole = TextReader{};
}

FleetText &FleetText::operator=(FleetText &&Other) noexcept {
  if (this != &Other) {
    PoolRelease(Whole.Buffer);
    Whole = Other.Whole;
    Other.Whole = TextReader{};
    Headers = std::move(Other.Headers);
    Hidden = std::move(Other.Hidden);
    FirstContentBeforeHeader = Other.FirstContentBeforeHeader;
    Complete = Other.Complete;
  }
  return *this;
}

FleetText::~FleetText() { PoolRelease(Whole.Buffer); }

FleetText ReadFleetText(std::vector<uint8_t> Text) {
  FleetText Fleet;
  if (OpenTextReader(Text.data(), Text.size(), &Fleet.Whole) != EFI_SUCCESS) {
    Fleet.Whole = TextReader{};
    Fleet.Complete = false;
    return Fleet;
  }
  std::vector<uint8_t>().swap(Text);

  // The lines ReadTokenLine would return, one at a time, so that each line's start is known.
  PhysicalLines Lines(Fleet.Whole);
  const uint64_t UnitSize = TextUnitSize(Fleet.Whole.Encoding);
  for (;;) {
    const uint64_t Offset = TextReaderOffset(&Fleet.Whole);
    CHAR16 *String;
    UINTN Length;
    EFI_STATUS Status = ReadTextLine(&Fleet.Whole, &String, &Length);
    if (EFI_ERROR(Status)) {
      Fleet.Complete = Status == EFI_NOT_FOUND;
      break;
    }
    const uint64_t FirstLine = Lines.LineAt(Offset);
    RecordSwallowedHeaders(Fleet, Lines, FirstLine, Offset + Length * UnitSize);
    CHAR16 **Tokens = NULL;
    UINTN Count = 0;
    Status = SplitTokenLine(String, &Tokens, &Count);
    PoolRelease(String);
    if (EFI_ERROR(Status)) {
      FreeTokenList(&Tokens, &Count);
      Fleet.Complete = false;
      break;
    }
    if (Count != 0) {
      RecordTokenLine(Fleet, Tokens, Offset, FirstLine);
    }
    FreeTokenList(&Tokens, &Count);
  }
  return Fleet;
}

EFI_STATUS FleetSection(FleetText &Fleet, const std::u16string &Header, TextReader *Section) {
  const auto Found = Fleet.Headers.find(Header);
  if (Found == Fleet.Headers.end()) {
    return EFI_NOT_FOUND;
  }
  // From here the lookup does what it does once its header line matched.
  MoveTextReaderTo(&Fleet.Whole, Found->second.Offset);
  CHAR16 **Tokens;
  UINTN Count;
  const EFI_STATUS Status = ReadTokenLine(&Fleet.Whole, &Tokens, &Count);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  FreeTokenList(&Tokens, &Count);
  return ExtractSection(&Fleet.Whole, Section);
}

} // namespace RivariCheck
