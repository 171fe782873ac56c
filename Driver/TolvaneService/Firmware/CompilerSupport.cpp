/*
 * The two routines the compiler may call on its own in a freestanding
 * image (block copies and clears of records). Built with -fno-builtin, so
 * these loops are not turned back into calls to themselves.
 */
#include "Uefi/UefiBaseType.h"

extern "C" {
void *memset(void *Buffer, int Value, UINTN Length) {
  UINT8 *Bytes = (UINT8 *)Buffer;
  while (Length-- != 0) {
    *Bytes++ = (UINT8)Value;
  }
  return Buffer;
}

void *memcpy(void *Destination, const void *Source, UINTN Length) {
  UINT8 *Target = (UINT8 *)Destination;
  const UINT8 *From = (const UINT8 *)Source;
  while (Length-- != 0) {
    *Target++ = *From++;
  }
  return Destination;
}
}
