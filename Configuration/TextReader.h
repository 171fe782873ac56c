/*
 * A text buffer read line by line: 8-bit text, 8-bit text after a UTF-8 BOM,
 * or UTF-16LE. The reader keeps its own pool copy of the text and one cursor
 * per kind of reading; this is the one place that knows which cursor an
 * encoding moves.
 */
#ifndef TOLVANE_CONFIGURATION_TEXT_READER_H
#define TOLVANE_CONFIGURATION_TEXT_READER_H

#include "Uefi/Uefi.h"

enum TextEncoding : UINTN {
  TextEncodingBytes = 0,
  TextEncodingUtf8Bom = 1,
  TextEncodingUtf16 = 2,
};

/* Bytes of one character of the text: a byte, or a UTF-16 code unit. */
constexpr UINTN TextUnitSize(TextEncoding Encoding) { return Encoding == TextEncodingUtf16 ? sizeof(CHAR16) : 1; }

/*
 * The holder owns Buffer and releases it with PoolRelease. A NULL Buffer
 * yields no line. Buffer <= ByteCursor <= ByteEnd and
 * Buffer <= WideCursor <= WideEnd at all times.
 */
struct TextReader {
  UINT8 *Buffer;
  UINTN Size;
  TextEncoding Encoding;
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
 * Makes Reader a reader of Encoding over the Size bytes at Buffer, both
 * cursors at Buffer; Reader's holder takes Buffer over. Nothing is detected.
 */
VOID AttachTextReader(TextReader *Reader, UINT8 *Buffer, UINTN Size, TextEncoding Encoding);

/*
 * The next line as a new pool CHAR16 string without its line break, in
 * *Line, and its length in characters (0 bytes inside it included) in
 * *Length. EFI_SUCCESS; EFI_NOT_FOUND at the end of the text;
 * EFI_OUT_OF_RESOURCES when the line could not be allocated (the line is
 * consumed all the same). *Line and *Length are set only on success.
 */
[[nodiscard]] EFI_STATUS ReadTextLine(TextReader *Reader, CHAR16 **Line, UINTN *Length);

/* TRUE when the cursor of the reader's encoding has no text left (or the reader holds none). */
[[nodiscard]] BOOLEAN TextReaderAtEnd(const TextReader *Reader);

/* Moves the cursor of the reader's encoding back to the start of its text. */
VOID RewindTextReader(TextReader *Reader);

/* Where the cursor of the reader's encoding stands, in bytes from Buffer. */
[[nodiscard]] UINTN TextReaderOffset(const TextReader *Reader);

/*
 * Puts the cursor of the reader's encoding at Offset bytes from Buffer (in
 * UTF-16 text, at the unit that holds that byte), never past its end.
 */
VOID MoveTextReaderTo(TextReader *Reader, UINTN Offset);

#endif
