/*
 * A text buffer read line by line: 8-bit text, 8-bit text after a UTF-8 BOM,
 * or UTF-16LE. The reader keeps its own pool copy of the text and one cursor
 * per kind of reading.
 */
#ifndef TOLVANE_DRIVER_TEXT_READER_H
#define TOLVANE_DRIVER_TEXT_READER_H

#include "Uefi/Uefi.h"

enum TextEncoding : UINTN {
  TextEncodingBytes = 0,
  TextEncodingUtf8Bom = 1,
  TextEncodingUtf16 = 2,
};

/*
 * The holder owns Buffer and releases it with PoolRelease. A NULL Buffer
 * yields no line. Buffer <= ByteCursor <= ByteEnd and
 * Buffer <= WideCursor <= WideEnd at all times.
 */
struct TextReader {
  UINT8 *Buffer;
  UINTN Size;
  UINTN Encoding;
  UINT8 *ByteCursor;
  UINT8 *ByteEnd;
  CHAR16 *WideCursor;
  CHAR16 *WideEnd;
};

/*
 * Fills Reader with a pool copy of Size bytes at Source and detects the
 * encoding. EFI_SUCCESS, or EFI_OUT_OF_RESOURCES with an empty reader.
 */
[[nodiscard]] EFI_STATUS OpenTextReader(const VOID *Source, UINTN Size, TextReader *Reader);

/*
 * The next line as a new pool CHAR16 string without its line break, or NULL
 * at the end of the text or when the line could not be allocated (the line
 * is consumed either way).
 */
[[nodiscard]] CHAR16 *ReadTextLine(TextReader *Reader);

/*
 * TRUE when the cursor of the reader's encoding has no text left (or the
 * reader holds none): a NULL from ReadTextLine before the end means the
 * pool ran dry.
 */
[[nodiscard]] BOOLEAN TextReaderAtEnd(const TextReader *Reader);

/* Moves the cursor of the reader's encoding back to the start of its text. */
VOID RewindTextReader(TextReader *Reader);

#endif
