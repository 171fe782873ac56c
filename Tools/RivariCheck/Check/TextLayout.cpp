/* Laying out a configuration text with the configuration core's reader and tokenizer. */
#include "TextLayout.h"

#include <algorithm>

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "SectionLookup.h"
#include "Tokenizer.h"

namespace RivariCheck {

namespace {

/* The code unit at Index of Text in the given encoding: a byte, or a little-endian 16-bit unit. */
char16_t UnitAt(const std::vector<uint8_t> &Text, TextEncoding Encoding, uint64_t Index) {
  if (Encoding == TextEncodingUtf16) {
    return LoadUint16(&Text[2 * Index]);
  }
  return Text[Index];
}

/*
 * The byte offsets at which physical lines start, as an editor counts them:
 * CR LF, a lone CR and a lone LF each end one line.
 */
std::vector<uint64_t> FindPhysicalStarts(const std::vector<uint8_t> &Text, TextEncoding Encoding) {
  const uint64_t UnitSize = TextUnitSize(Encoding);
  const uint64_t Units = Text.size() / UnitSize;
  std::vector<uint64_t> Starts = {0};
  for (uint64_t Index = 0; Index < Units; Index++) {
    char16_t Unit = UnitAt(Text, Encoding, Index);
    if (Unit == CharacterCarriageReturn && Index + 1 < Units &&
        UnitAt(Text, Encoding, Index + 1) == CharacterLineFeed) {
      Index++;
    } else if (!IsLineBreak(Unit)) {
      continue;
    }
    if (Index + 1 < Units) {
      Starts.push_back((Index + 1) * UnitSize);
    }
  }
  return Starts;
}

/* The tokens of Line (which it splits in place), from the driver's tokenizer; none if the pool ran dry. */
std::vector<std::u16string> TokenizeLine(CHAR16 *Line) {
  std::vector<std::u16string> Result;
  CHAR16 **Tokens = NULL;
  UINTN Count = 0;
  if (SplitTokenLine(Line, &Tokens, &Count) == EFI_SUCCESS) {
    Result.assign(Tokens, Tokens + Count);
  }
  FreeTokenList(&Tokens, &Count);
  return Result;
}

} // namespace

std::string EncodingName(TextEncoding Encoding) {
  switch (Encoding) {
  case TextEncodingUtf8Bom:
    return "utf8-bom";
  case TextEncodingUtf16:
    return "utf16";
  case TextEncodingBytes:
    return "bytes";
  }
  return "bytes"; // every enumerator has its case above: the compiler names one added without
}

std::string EncodingText(const std::string &Name) {
  if (Name == "utf8-bom") {
    return "8-bit text after a UTF-8 BOM (bytes above 0x7F are not decoded)";
  }
  if (Name == "utf16") {
    return "UTF-16LE";
  }
  return "8-bit text";
}

uint64_t PhysicalLineAt(const TextLayout &Layout, uint64_t Offset) {
  auto After = std::upper_bound(Layout.PhysicalStarts.begin(), Layout.PhysicalStarts.end(), Offset);
  return static_cast<uint64_t>(After - Layout.PhysicalStarts.begin());
}

bool LooksUtf16BigEndian(const std::vector<uint8_t> &Text, TextEncoding Encoding) {
  if (Encoding != TextEncodingBytes || Text.size() < 4) {
    return false;
  }
  return (Text[0] == 0xFE && Text[1] == 0xFF) || (Text[0] == 0x00 && Text[2] == 0x00);
}

bool IsHeaderLine(const LogicalLine &Line) { return !Line.Tokens.empty() && IsSectionHeader(Line.Tokens[0].c_str()); }

TextLayout LayOutText(const std::vector<uint8_t> &Text) {
  TextLayout Layout;
  TextReader Reader = {};
  if (Text.empty() || OpenTextReader(Text.data(), Text.size(), &Reader) != EFI_SUCCESS) {
    Layout.PhysicalStarts = {0};
    Layout.Complete = Text.empty();
    return Layout;
  }
  Layout.Encoding = Reader.Encoding;
  Layout.PhysicalStarts = FindPhysicalStarts(Text, Layout.Encoding);
  const uint64_t UnitSize = TextUnitSize(Layout.Encoding);
  for (;;) {
    LogicalLine Line;
    Line.Start = TextReaderOffset(&Reader);
    CHAR16 *String;
    UINTN Length;
    const EFI_STATUS Status = ReadTextLine(&Reader, &String, &Length);
    if (Status != EFI_SUCCESS) {
      Layout.Complete = Status == EFI_NOT_FOUND;
      break;
    }
    // The length counts 0 bytes inside the line, which end the string but not the line.
    Line.End = Line.Start + Length * UnitSize;
    Line.Text.assign(String, Length);
    Line.Tokens = TokenizeLine(String);
    PoolRelease(String);
    Line.FirstLine = PhysicalLineAt(Layout, Line.Start);
    Line.LastLine = Line.End > Line.Start ? PhysicalLineAt(Layout, Line.End - 1) : Line.FirstLine;
    Layout.Lines.push_back(std::move(Line));
  }
  PoolRelease(Reader.Buffer);
  return Layout;
}

} // namespace RivariCheck
