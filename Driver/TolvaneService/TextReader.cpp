/* Reading a pool copy of a text buffer line by line, in 8-bit or UTF-16LE text. */
#include "TextReader.h"

#include "Library/PoolLib.h"
#include "Library/TextLib.h"

static constexpr UINT8 AsciiQuote = 0x22;
static constexpr CHAR16 LineFeed = 0x000A;
static constexpr CHAR16 CarriageReturn = 0x000D;

/* TRUE for a carriage return or a line feed. */
static BOOLEAN IsLineBreak(CHAR16 Character) { return Character == CarriageReturn || Character == LineFeed; }

/* Points both cursors of Reader at the start and the ends at Size bytes (even for the wide end). */
static VOID PlaceCursors(TextReader *Reader) {
  Reader->ByteCursor = Reader->Buffer;
  Reader->ByteEnd = Reader->Buffer + Reader->Size;
  Reader->WideCursor = reinterpret_cast<CHAR16 *>(Reader->Buffer);
  Reader->WideEnd = reinterpret_cast<CHAR16 *>(Reader->Buffer + (Reader->Size & ~static_cast<UINTN>(1)));
}

/*
 * Sets the encoding from the first bytes: UTF-16 BOM, UTF-8 BOM, or UTF-16LE
 * recognised by zero high bytes in its first two units. Texts of fewer than
 * four bytes stay in byte mode.
 */
static VOID DetectEncoding(TextReader *Reader) {
  Reader->Encoding = TextEncodingBytes;
  if (Reader->Size <= 3) {
    return;
  }
  const UINT8 *Bytes = Reader->Buffer;
  if (Bytes[0] == 0xFF && Bytes[1] == 0xFE) {
    Reader->Encoding = TextEncodingUtf16;
    Reader->WideCursor++;
  } else if (Bytes[0] == 0xEF && Bytes[1] == 0xBB && Bytes[2] == 0xBF) {
    Reader->Encoding = TextEncodingUtf8Bom;
    Reader->ByteCursor += 3;
  } else if (Bytes[1] == 0x00 && Bytes[3] == 0x00) {
    Reader->Encoding = TextEncodingUtf16;
  }
}

EFI_STATUS OpenTextReader(const VOID *Source, UINTN Size, TextReader *Reader) {
  *Reader = {};
  UINT8 *Copy = static_cast<UINT8 *>(PoolAlloc(Size));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBytes(Copy, Source, Size);
  Reader->Buffer = Copy;
  Reader->Size = Size;
  PlaceCursors(Reader);
  DetectEncoding(Reader);
  return EFI_SUCCESS;
}

/*
 * Reads one line through the byte cursor: quotes keep line breaks inside
 * the line, and the run of breaks after it is skipped. Bytes are widened
 * with their sign. NULL at the end or when the line cannot be allocated.
 */
static CHAR16 *ReadByteLine(TextReader *Reader) {
  UINT8 *Start = Reader->ByteCursor;
  UINT8 *End = Reader->ByteEnd;
  if (Start >= End) {
    return NULL;
  }
  UINT8 *Stop = Start;
  BOOLEAN Quoted = FALSE;
  while (Stop < End) {
    // Most bytes of a line lie above the double quote, the highest byte that matters.
    if (*Stop > AsciiQuote) {
      Stop++;
      continue;
    }
    if (*Stop == AsciiQuote) {
      Quoted = !Quoted;
    } else if (!Quoted && IsLineBreak(*Stop)) {
      break;
    }
    Stop++;
  }
  UINTN Length = static_cast<UINTN>(Stop - Start);

  // The cursor passes the line before the allocation: a line that cannot be
  // allocated is lost rather than read again forever.
  UINT8 *Next = Stop;
  while (Next < End && IsLineBreak(*Next)) {
    Next++;
  }
  Reader->ByteCursor = Next;

  CHAR16 *Line = static_cast<CHAR16 *>(PoolAlloc(2 * (Length + 1)));
  if (Line == NULL) {
    return NULL;
  }
  for (UINTN Index = 0; Index < Length; Index++) {
    Line[Index] = static_cast<CHAR16>(static_cast<INT8>(Start[Index]));
  }
  Line[Length] = 0;
  return Line;
}

/*
 * Reads one line through the wide cursor up to a line break (quotes do not
 * count) and skips the run of breaks after it. NULL at the end or when the
 * line cannot be allocated.
 */
static CHAR16 *ReadWideLine(TextReader *Reader) {
  CHAR16 *Start = Reader->WideCursor;
  CHAR16 *End = Reader->WideEnd;
  if (Start >= End) {
    return NULL;
  }
  CHAR16 *Stop = Start;
  while (Stop < End && !IsLineBreak(*Stop)) {
    Stop++;
  }
  UINTN Length = static_cast<UINTN>(Stop - Start);

  CHAR16 *Next = Stop;
  while (Next < End && IsLineBreak(*Next)) {
    Next++;
  }
  Reader->WideCursor = Next;

  CHAR16 *Line = static_cast<CHAR16 *>(PoolAlloc(2 * (Length + 1)));
  if (Line == NULL) {
    return NULL;
  }
  MoveBytes(Line, Start, 2 * Length);
  Line[Length] = 0;
  return Line;
}

CHAR16 *ReadTextLine(TextReader *Reader) {
  if (Reader->Buffer == NULL) {
    return NULL;
  }
  switch (Reader->Encoding) {
  case TextEncodingBytes:
  case TextEncodingUtf8Bom:
    return ReadByteLine(Reader);
  case TextEncodingUtf16:
    return ReadWideLine(Reader);
  default:
    return NULL;
  }
}

BOOLEAN TextReaderAtEnd(const TextReader *Reader) {
  if (Reader->Buffer == NULL) {
    return TRUE;
  }
  switch (Reader->Encoding) {
  case TextEncodingBytes:
  case TextEncodingUtf8Bom:
    return Reader->ByteCursor >= Reader->ByteEnd;
  case TextEncodingUtf16:
    return Reader->WideCursor >= Reader->WideEnd;
  default:
    return TRUE;
  }
}

VOID RewindTextReader(TextReader *Reader) {
  if (Reader->Encoding == TextEncodingUtf16) {
    Reader->WideCursor = reinterpret_cast<CHAR16 *>(Reader->Buffer);
  } else {
    Reader->ByteCursor = Reader->Buffer;
  }
}
