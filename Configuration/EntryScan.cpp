/* The entry scan and the entry count over a section reader. */
#include "EntryScan.h"

#include "Library/FormatLib.h"
#include "Library/TextLib.h"
#include "Tokenizer.h"

VOID FormatEntryIndex(UINTN Index, CHAR16 IndexText[EntryIndexTextLength]) {
  FormatToWide(IndexText, EntryIndexTextLength * sizeof(CHAR16), u"%d", Index);
}

BOOLEAN ParseEntryIndex(const CHAR16 *Token, INT32 *Index) {
  BOOLEAN Negative = Token[0] == u'-';
  INT32 Value = 0;
  for (const CHAR16 *Digit = Token + Negative; *Digit != 0; Digit++) {
    if (*Digit < u'0' || *Digit > u'9' || Digit - Token >= static_cast<INTN>(EntryIndexTextLength - 1)) {
      return FALSE;
    }
    Value = Value * 10 + (*Digit - u'0');
  }
  // The index text is what FormatEntryIndex writes: that rules out signs, leading zeros and -0.
  Value = Negative ? -Value : Value;
  CHAR16 IndexText[EntryIndexTextLength];
  FormatEntryIndex(static_cast<UINTN>(Value), IndexText);
  if (CompareWideStrings(Token, IndexText) != 0) {
    return FALSE;
  }
  *Index = Value;
  return TRUE;
}

BOOLEAN ScanEntry(TextReader *Reader, UINTN Index, CHAR16 *Value, UINTN ValueSize) {
  CHAR16 IndexText[EntryIndexTextLength];
  FormatEntryIndex(Index, IndexText);
  RewindTextReader(Reader);

  BOOLEAN Found = FALSE;
  CHAR16 **Tokens;
  UINTN Count;
  while (!Found && ReadTokenLine(Reader, &Tokens, &Count) == EFI_SUCCESS) {
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

UINTN CountEntries(TextReader *Reader) {
  // One bit per countable index; the answer is the first one no line names.
  UINT8 Present[EntryCountLimit / 8] = {};
  RewindTextReader(Reader);
  CHAR16 **Tokens;
  UINTN Count;
  while (ReadTokenLine(Reader, &Tokens, &Count) == EFI_SUCCESS) {
    INT32 Index;
    if (ParseEntryIndex(Tokens[0], &Index) && Index >= 0) {
      Present[Index / 8] |= static_cast<UINT8>(1u << (Index % 8));
    }
    FreeTokenList(&Tokens, &Count);
  }
  UINTN Entries = 0;
  while (Entries < EntryCountLimit && (Present[Entries / 8] >> (Entries % 8) & 1) != 0) {
    Entries++;
  }
  return Entries;
}
