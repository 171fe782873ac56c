/*
 * The scan behind GetEntry: the first line of a section whose first token
 * is the entry's index text. Shared by the driver and the configuration
 * checker, so both read a section the same way.
 */
#ifndef TOLVANE_DRIVER_ENTRY_SCAN_H
#define TOLVANE_DRIVER_ENTRY_SCAN_H

#include "TextReader.h"

/* Characters of an index text, terminator included: 10 bytes, so at most 4 digits. */
inline constexpr UINTN EntryIndexTextLength = 5;

/*
 * Writes the low 32 bits of Index as a signed decimal, cut to 4 characters:
 * 64512 becomes 6451, 0xFFFFFFFF becomes -1.
 */
VOID FormatEntryIndex(UINTN Index, CHAR16 IndexText[EntryIndexTextLength]);

/*
 * Rewinds Reader and scans it for the first line whose first token equals
 * the index text of Index. TRUE when found; the second token, when there is
 * one, is copied into Value if Value is not NULL and it fits ValueSize bytes
 * with its terminator. FALSE when no line matches (or the pool ran dry).
 */
[[nodiscard]] BOOLEAN ScanEntry(TextReader *Reader, UINTN Index, CHAR16 *Value, UINTN ValueSize);

#endif
