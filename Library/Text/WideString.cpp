/* Wide-string primitives: copy, measure, compare, widen. */
#include "Library/TextLib.h"

CHAR16 *CopyWideString(CHAR16 *Destination, const CHAR16 *Source) {
  CHAR16 *Target = Destination;
  while ((*Target++ = *Source++) != 0) {
  }
  return Destination;
}

CHAR16 *CopyWideStringCounted(CHAR16 *Destination, const CHAR16 *Source, UINTN Count) {
  UINTN Copied = 0;
  while (Copied < Count && Source[Copied] != 0) {
    Destination[Copied] = Source[Copied];
    Copied++;
  }
  ClearBytes(Destination + Copied, (Count - Copied) * sizeof(CHAR16));
  return Destination;
}

UINTN WideStringLength(const CHAR16 *String) {
  UINTN Length = 0;
  while (String[Length] != 0) {
    Length++;
  }
  return Length;
}

UINTN WideStringSize(const CHAR16 *String) { return (WideStringLength(String) + 1) * sizeof(CHAR16); }

INTN CompareWideStrings(const CHAR16 *First, const CHAR16 *Second) {
  while (*First != 0 && *First == *Second) {
    First++;
    Second++;
  }
  return (INTN)(UINT16)*First - (INTN)(UINT16)*Second;
}

INTN CompareWideStringsCounted(const CHAR16 *First, const CHAR16 *Second, UINTN Count) {
  if (Count == 0) {
    return 0;
  }
  while (*First != 0 && *First == *Second && Count > 1) {
    First++;
    Second++;
    Count--;
  }
  return (INTN)(UINT16)*First - (INTN)(UINT16)*Second;
}

CHAR16 *WidenByteString(CHAR16 *Destination, const CHAR8 *Source) {
  CHAR16 *Target = Destination;
  while (*Source != 0) {
    // Sign extension: 0xE9 becomes 0xFFE9.
    *Target++ = (CHAR16)(INT16)(INT8)*Source++;
  }
  *Target = 0;
  return Destination;
}
