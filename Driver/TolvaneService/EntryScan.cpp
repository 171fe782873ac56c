/* The entry scan over a section reader. */
#include "EntryScan.h"

#include "Library/FormatLib.h"
#include "Library/TextLib.h"
#include "Tokenizer.h"

VOID FormatEntryIndex(UINTN Index, CHAR16 IndexText[EntryIndexTextLength]) {
  FormatToWide(IndexText, EntryIndexTextLength * sizeof(CHAR16), u"%d", Index);
}

BOOLEAN ScanEntry(TextReader *Reader, UINTN Index, CHAR16 *Value, UINTN ValueSize) {
  CHAR16 IndexText[EntryIndexTextLength];
  FormatEntryIndex(Index, IndexText);
  RewindTextReader(Reader);

  BOOLEAN Found = FALSE;
  CHAR16 **Tokens;
  UINTN Count;
  while (!Found && ReadTokenLine(Reader, &Tokens, &Count)) {
    if (CompareWideStrings(Tokens[0], IndexText) == 0) {
      // A line without a value still counts; there is just nothing to copy.
      if (Value != NULL && Count >= 2 && WideStringSize(Tokens[1]) <= ValueSize) {
        CopyWideString(Value, Tokens[1]);
      }
      Found = TRUE;
    }
    FreeTokenList(&Tokens, &Count);
  }
  return Found;
}
