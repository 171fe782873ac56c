/*
 * String and memory primitives. None of them allocates, calls the firmware
 * or tests a pointer for NULL (except the optional remainder pointer):
 * callers pass valid pointers and terminated strings.
 */
#ifndef TOLVANE_LIBRARY_TEXT_LIB_H
#define TOLVANE_LIBRARY_TEXT_LIB_H

#include "Uefi/UefiBaseType.h"

/* Copies Source and its terminator; returns Destination. */
CHAR16 *CopyWideString(CHAR16 *Destination, const CHAR16 *Source);
/* Copies at most Count units and zero-fills the rest of the Count positions; no terminator beyond them. */
CHAR16 *CopyWideStringCounted(CHAR16 *Destination, const CHAR16 *Source, UINTN Count);
/* Units before the terminator. */
UINTN WideStringLength(const CHAR16 *String);
/* Bytes of the string with its terminator: 2 * (length + 1). */
UINTN WideStringSize(const CHAR16 *String);
/* Difference of the first differing units (unsigned 16-bit each); 0 when equal. */
INTN CompareWideStrings(const CHAR16 *First, const CHAR16 *Second);
/* As CompareWideStrings over at most Count units; 0 when Count is 0. */
INTN CompareWideStringsCounted(const CHAR16 *First, const CHAR16 *Second, UINTN Count);
/* Widens each byte by sign extension up to the first 0 byte, then stores a 0 unit. */
CHAR16 *WidenByteString(CHAR16 *Destination, const CHAR8 *Source);
/* Unsigned 64-by-32 division; the remainder goes through Remainder when it is not NULL. */
UINT64 DivideWithRemainder(UINT64 Dividend, UINT32 Divisor, UINT32 *Remainder);
/* Sets Length bytes to 0; returns Buffer. */
VOID *ClearBytes(VOID *Buffer, UINTN Length);
/* Copies Length bytes, overlapping ranges included; returns Destination. */
VOID *MoveBytes(VOID *Destination, const VOID *Source, UINTN Length);
/* Little-endian loads from addresses that need not be aligned. */
UINT16 LoadUint16(const VOID *Address);
UINT32 LoadUint32(const VOID *Address);

#endif
