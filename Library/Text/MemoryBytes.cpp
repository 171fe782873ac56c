/* Byte-range primitives: clear, move, unaligned loads, and the one division. */
#include "Library/TextLib.h"

VOID *ClearBytes(VOID *Buffer, UINTN Length) {
  UINT8 *Bytes = (UINT8 *)Buffer;
  for (UINTN Words = Length / 8; Words != 0; Words--) {
    const UINT64 Zero = 0;
    __builtin_memcpy(Bytes, &Zero, 8);
    Bytes += 8;
  }
  for (UINTN Rest = Length % 8; Rest != 0; Rest--) {
    *Bytes++ = 0;
  }
  return Buffer;
}

VOID *MoveBytes(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *Target = (UINT8 *)Destination;
  const UINT8 *From = (const UINT8 *)Source;
  if (Length == 0 || Target == From) {
    return Destination;
  }
  if (From >= Target || From + Length - 1 < Target) {
    for (UINTN Words = Length / 8; Words != 0; Words--) {
      UINT64 Word;
      __builtin_memcpy(&Word, From, 8);
      __builtin_memcpy(Target, &Word, 8);
      From += 8;
      Target += 8;
    }
    for (UINTN Rest = Length % 8; Rest != 0; Rest--) {
      *Target++ = *From++;
    }
    return Destination;
  }
  // The destination overlaps the upper part of the source: copy from the top down.
  for (UINTN Offset = Length; Offset != 0; Offset--) {
    Target[Offset - 1] = From[Offset - 1];
  }
  return Destination;
}

UINT16 LoadUint16(const VOID *Address) {
  const UINT8 *Bytes = (const UINT8 *)Address;
  return (UINT16)(Bytes[0] | (Bytes[1] << 8));
}

UINT32 LoadUint32(const VOID *Address) {
  const UINT8 *Bytes = (const UINT8 *)Address;
  return (UINT32)Bytes[0] | ((UINT32)Bytes[1] << 8) | ((UINT32)Bytes[2] << 16) | ((UINT32)Bytes[3] << 24);
}

UINT64 DivideWithRemainder(UINT64 Dividend, UINT32 Divisor, UINT32 *Remainder) {
  if (Remainder != NULL) {
    *Remainder = (UINT32)(Dividend % Divisor);
  }
  return Dividend / Divisor;
}
