/* Reading a pool copy of a text buffer line by line, in 8-bit or UTF-16LE text. */
#include "TextReader.h"

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"

/*
 * Sets the encoding from the first bytes: UTF-16 BOM, UTF-8 BOM, or UTF-16LE
 * recognised by zero high bytes in its first two units. Texts of fewer than
 * four bytes stay in byte mode.
 */
static VOID DetectEncoding(TextReader *Reader) {
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

VOID AttachTextReader(TextReader *Reader, UINT8 *Buffer, UINTN Size, TextEncoding Encoding) {
  Reader->Buffer = Buffer;
  Reader->Size = Size;
  Reader->Encoding = Encoding;
  Reader->ByteCursor = Buffer;
  Reader->ByteEnd = Buffer + Size;
  Reader->WideCursor = reinterpret_cast<CHAR16 *>(Buffer);
  // An odd last byte is never read as half a unit.
  Reader->WideEnd = reinterpret_cast<CHAR16 *>(Buffer + (Size & ~static_cast<UINTN>(1)));
}

EFI_STATUS OpenTextReader(const VOID *Source, UINTN Size, TextReader *Reader) {
  *Reader = {};
  UINT8 *Copy = static_cast<UINT8 *>(PoolAlloc(Size));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBytes(Copy, Source, Size);
  AttachTextReader(Reader, Copy, Size, TextEncodingBytes);
  DetectEncoding(Reader);
  return EFI_SUCCESS;
}

/*
 * Reads one line through the byte cursor: quotes keep line breaks inside
 * the line, and the run of breaks after it is skipped. Bytes are widened
 * with their sign.
 */
static EFI_STATUS ReadByteLine(TextReader *Reader, CHAR16 **Line, UINTN *Length) {
  UINT8 *Start = Reader->ByteCursor;
  UINT8 *End = Reader->ByteEnd;
  if (Start >= End) {
    return EFI_NOT_FOUND;
  }
  UINT8 *Stop = Start;
  BOOLEAN Quoted = FALSE;
  while (Stop < End) {
    // Most bytes of a line lie above the double quote, the highest byte that matters.
    if (*Stop > CharacterQuote) {
      Stop++;
      continue;
    }
    if (*Stop == CharacterQuote) {
      Quoted = !Quoted;
    } else if (!Quoted && IsLineBreak(*Stop)) {
      break;
    }
    Stop++;
  }
  *Length = static_cast<UINTN>(Stop - Start);

  // The cursor passes the line before the allocation: a line that cannot be
  // allocated is lost rather than read again forever.
  UINT8 *Next = Stop;
  while (Next < End && IsLineBreak(*Next)) {
    Next++;
  }
  Reader->ByteCursor = Next;

  CHAR16 *Copy = static_cast<CHAR16 *>(PoolAlloc(2 * (*Length + 1)));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  for (UINTN Index = 0; Index < *Length; Index++) {
    Copy[Index] = static_cast<CHAR16>(static_cast<INT8>(Start[Index]));
  }
  Copy[*Length] = 0;
  *Line = Copy;
  return EFI_SUCCESS;
}

/*
 * Reads one line through the wide cursor up to a line break (quotes do not
 * count) and skips the run of breaks after it.
 */
static EFI_STATUS ReadWideLine(TextReader *Reader, CHAR16 **Line, UINTN *Length) {
  CHAR16 *Start = Reader->WideCursor;
  CHAR16 *End = Reader->WideEnd;
  if (Start >= End) {
    return EFI_NOT_FOUND;
  }
  CHAR16 *Stop = Start;
  while (Stop < End && !IsLineBreak(*Stop)) {
    Stop++;
  }
  *Length = static_cast<UINTN>(Stop - Start);

  CHAR16 *Next = Stop;
  while (Next < End && IsLineBreak(*Next)) {
    Next++;
  }
  Reader->WideCursor = Next;

  CHAR16 *Copy = static_cast<CHAR16 *>(PoolAlloc(2 * (*Length + 1)));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBytes(Copy, Start, 2 * *Length);
  Copy[*Length] = 0;
  *Line = Copy;
  return EFI_SUCCESS;
}

EFI_STATUS ReadTextLine(TextReader *Reader, CHAR16 **Line, UINTN *Length) {
  if (Reader->Buffer == NULL) {
    return EFI_NOT_FOUND;
  }
  switch (Reader->Encoding) {
  case TextEncodingBytes:
  case TextEncodingUtf8Bom:
    return ReadByteLine(Reader, Line, Length);
  case TextEncodingUtf16:
    return ReadWideLine(Reader, Line, Length);
  default:
    return EFI_NOT_FOUND;
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

UINTN TextReaderOffset(const TextReader *Reader) {
  if (Reader->Encoding == TextEncodingUtf16) {
    return static_cast<UINTN>(reinterpret_cast<const UINT8 *>(Reader->WideCursor) - Reader->Buffer);
  }
  return static_cast<UINTN>(Reader->ByteCursor - Reader->Buffer);
}

VOID MoveTextReaderTo(TextReader *Reader, UINTN Offset) {
  if (Reader->Encoding == TextEncodingUtf16) {
    CHAR16 *Cursor = reinterpret_cast<CHAR16 *>(Reader->Buffer + (Offset & ~static_cast<UINTN>(1)));
    Reader->WideCursor = Offset < Reader->Size ? Cursor : Reader->WideEnd;
  } else {
    Reader->ByteCursor = Reader->Buffer + (Offset < Reader->Size ? Offset : Reader->Size);
  }
}
