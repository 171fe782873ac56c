/* Laying out a configuration text with the driver's reader and tokenizer. */
#include "TextLayout.h"

#include <algorithm>

#include "Library/PoolLib.h"
#include "TextReader.h"
#include "Tokenizer.h"

namespace RivariCheck {

namespace {

constexpr char16_t CarriageReturn = 0x000D;
constexpr char16_t LineFeed = 0x000A;

/* The code unit at Index of Text in the given encoding: a byte, or a little-endian 16-bit unit. */
char16_t UnitAt(const std::vector<uint8_t> &Text, uint64_t Encoding, uint64_t Index) {
  if (Encoding == TextEncodingUtf16) {
    return static_cast<char16_t>(Text[2 * Index] | (Text[2 * Index + 1] << 8));
  }
  return Text[Index];
}

/*
 * The byte offsets at which physical lines start, as an editor counts them:
 * CR LF, a lone CR and a lone LF each end one line.
 */
std::vector<uint64_t> FindPhysicalStarts(const std::vector<uint8_t> &Text, uint64_t Encoding) {
  const uint64_t UnitSize = Encoding == TextEncodingUtf16 ? 2 : 1;
  const uint64_t Units = Text.size() / UnitSize;
  std::vector<uint64_t> Starts = {0};
  for (uint64_t Index = 0; Index < Units; Index++) {
    char16_t Unit = UnitAt(Text, Encoding, Index);
    if (Unit == CarriageReturn && Index + 1 < Units && UnitAt(Text, Encoding, Index + 1) == LineFeed) {
      Index++;
    } else if (Unit != CarriageReturn && Unit != LineFeed) {
      continue;
    }
    if (Index + 1 < Units) {
      Starts.push_back((Index + 1) * UnitSize);
    }
  }
  return Starts;
}

/*
 * The byte offset where the line that starts at Start ends: at the first
 * line break (in 8-bit text, the first outside double quotes) or at the end
 * of the text. Measured here because a 0 byte inside an 8-bit line ends the
 * string the reader returns but not the line.
 */
uint64_t LineEnd(const std::vector<uint8_t> &Text, uint64_t Encoding, uint64_t Start) {
  const uint64_t UnitSize = Encoding == TextEncodingUtf16 ? 2 : 1;
  const uint64_t Units = Text.size() / UnitSize;
  bool Quoted = false;
  uint64_t Index = Start / UnitSize;
  for (; Index < Units; Index++) {
    char16_t Unit = UnitAt(Text, Encoding, Index);
    if (Encoding != TextEncodingUtf16 && Unit == u'"') {
      Quoted = !Quoted;
    } else if (!Quoted && (Unit == CarriageReturn || Unit == LineFeed)) {
      break;
    }
  }
  return Index * UnitSize;
}

/* Offset of the cursor that the reader's encoding moves, in bytes from its buffer. */
uint64_t CursorOffset(const TextReader &Reader) {
  if (Reader.Encoding == TextEncodingUtf16) {
    return static_cast<uint64_t>(reinterpret_cast<const UINT8 *>(Reader.WideCursor) - Reader.Buffer);
  }
  return static_cast<uint64_t>(Reader.ByteCursor - Reader.Buffer);
}

/*
 * The tokens of the Length bytes at Line, read by the driver's tokenizer
 * from a reader of the given encoding over those bytes alone.
 */
std::vector<std::u16string> TokenizeLine(const UINT8 *Line, uint64_t Length, uint64_t Encoding) {
  std::vector<std::u16string> Result;
  if (Length == 0) {
    return Result;
  }
  TextReader Reader = {};
  Reader.Buffer = static_cast<UINT8 *>(PoolDuplicate(Length, Line));
  if (Reader.Buffer == NULL) {
    return Result;
  }
  Reader.Size = Length;
  Reader.Encoding = Encoding == TextEncodingUtf16 ? TextEncodingUtf16 : TextEncodingBytes;
  Reader.ByteCursor = Reader.Buffer;
  Reader.ByteEnd = Reader.Buffer + Length;
  Reader.WideCursor = reinterpret_cast<CHAR16 *>(Reader.Buffer);
  Reader.WideEnd = reinterpret_cast<CHAR16 *>(Reader.Buffer + (Length & ~static_cast<uint64_t>(1)));
  CHAR16 **Tokens = NULL;
  UINTN Count = 0;
  if (ReadTokenLine(&Reader, &Tokens, &Count)) {
    for (UINTN Index = 0; Index < Count; Index++) {
      Result.emplace_back(Tokens[Index]);
    }
    FreeTokenList(&Tokens, &Count);
  }
  PoolRelease(Reader.Buffer);
  return Result;
}

} // namespace

uint64_t PhysicalLineAt(const TextLayout &Layout, uint64_t Offset) {
  auto After = std::upper_bound(Layout.PhysicalStarts.begin(), Layout.PhysicalStarts.end(), Offset);
  return static_cast<uint64_t>(After - Layout.PhysicalStarts.begin());
}

bool IsHeaderLine(const LogicalLine &Line) { return !Line.Tokens.empty() && Line.Tokens[0].front() == u'['; }

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
  const uint64_t UnitSize = Layout.Encoding == TextEncodingUtf16 ? 2 : 1;
  for (;;) {
    LogicalLine Line;
    Line.Start = CursorOffset(Reader);
    CHAR16 *String = ReadTextLine(&Reader);
    if (String == NULL) {
      Layout.Complete = TextReaderAtEnd(&Reader) != FALSE;
      break;
    }
    Line.End = LineEnd(Text, Layout.Encoding, Line.Start);
    Line.Text.assign(String, (Line.End - Line.Start) / UnitSize);
    PoolRelease(String);
    Line.FirstLine = PhysicalLineAt(Layout, Line.Start);
    Line.LastLine = Line.End > Line.Start ? PhysicalLineAt(Layout, Line.End - 1) : Line.FirstLine;
    Line.Tokens = TokenizeLine(Text.data() + Line.Start, Line.End - Line.Start, Layout.Encoding);
    Layout.Lines.push_back(std::move(Line));
  }
  PoolRelease(Reader.Buffer);
  return Layout;
}

} // namespace RivariCheck
