/* Digits of a 64-bit value by repeated division, least significant first. */
#include "FormatInternal.h"
#include "Library/TextLib.h"

CHAR8 *ValueToDigits(CHAR8 *Scratch, UINT64 Value, UINTN Radix) {
  static const CHAR8 DigitTable[] = "0123456789ABCDEF";
  CHAR8 *Position = Scratch;
  *Position = 0;
  do {
    UINT32 Remainder;
    Value = DivideWithRemainder(Value, (UINT32)Radix, &Remainder);
    *++Position = DigitTable[Remainder];
  } while (Value != 0);
  return Position;
}
