/*
 * The entries of a section: an entry is a line whose first token is the
 * entry's index text. The scan behind GetEntry and the count behind
 * GetEntryCount, shared by the driver and the tools.
 */
#ifndef TOLVANE_CONFIGURATION_ENTRY_SCAN_H
#define TOLVANE_CONFIGURATION_ENTRY_SCAN_H

#include "Protocol/TolvaneService.h"
#include "TextReader.h"

/* Characters of an index text, terminator included. */
inline constexpr UINTN EntryIndexTextLength = TOLVANE_ENTRY_INDEX_LENGTH + 1;

/*
 * Probes past 9999 would be cut to four digits and find entries again (10000
 * looks for 1000), so the count stops there.
 */
inline constexpr UINTN EntryCountLimit = TOLVANE_ENTRY_COUNT_LIMIT;

/*
 * Writes the low 32 bits of Index as a signed decimal, cut to 4 characters:
 * 64512 becomes 6451, 0xFFFFFFFF becomes -1.
 */
VOID FormatEntryIndex(UINTN Index, CHAR16 IndexText[EntryIndexTextLength]);

/*
 * TRUE when Token is exactly the index text of some index (0 to 9999, or -1
 * to -999: no plus sign, no leading zero, no -0, at most 4 characters); that
 * index goes to *Index. FALSE for every token no GetEntry can match.
 */
[[nodiscard]] BOOLEAN ParseEntryIndex(const CHAR16 *Token, INT32 *Index);

/*
 * Rewinds Reader and scans it for the first line whose first token equals
 * the index text of Index. TRUE when found; the second token, when there is
 * one, is copied into Value if Value is not NULL and it fits ValueSize bytes
 * with its terminator. FALSE when no line matches (or the pool ran dry).
 */
[[nodiscard]] BOOLEAN ScanEntry(TextReader *Reader, UINTN Index, CHAR16 *Value, UINTN ValueSize);

/*
 * The number of consecutive entries 0, 1, 2, ... that ScanEntry finds, at
 * most EntryCountLimit, from one scan of Reader (rewound first). A line
 * that cannot be read for want of pool ends the scan there.
 */
[[nodiscard]] UINTN CountEntries(TextReader *Reader);

#endif
