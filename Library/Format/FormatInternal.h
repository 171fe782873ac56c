/*
 * Internal pieces of the formatted-output engine: the character store, the
 * digit generator and the status texts. Not for callers outside the engine
 * (and its tests).
 */
#ifndef TOLVANE_LIBRARY_FORMAT_INTERNAL_H
#define TOLVANE_LIBRARY_FORMAT_INTERNAL_H

#include "Library/FormatLib.h"

/* Each engine call's scratch area: a number's digits, or a GUID, time or status text. */
constexpr UINTN FORMAT_SCRATCH_SIZE = 38;

/*
 * Rows of StatusTexts: 0 to 4 for success and the warnings, 5 to 28 for
 * error codes 1 to 24. Row N is the text after the Nth NUL.
 */
constexpr UINTN STATUS_TEXT_COUNT = 29;
extern const CHAR8 StatusTexts[];

/*
 * Stores Character Count times from Position on, one output character of
 * Step bytes (1: low 8 bits; 2: low 16 bits, low byte first) at a time,
 * stopping when Position reaches End. A Count of 0 or less stores nothing.
 * Returns the position after the last character stored. Inline: the engine
 * stores every character through it.
 */
inline UINT8 *FillOutput(UINT8 *Position, const UINT8 *End, INTN Count, UINTN Character, UINTN Step) {
  for (; Count > 0 && Position < End; Count--) {
    Position[0] = (UINT8)Character;
    if (Step == 2) {
      Position[1] = (UINT8)(Character >> 8);
    }
    Position += Step;
  }
  return Position;
}

/*
 * Stores a NUL at Scratch[0], then the digits of Value in Radix (10 or 16),
 * least significant first, at least one. Returns the position of the most
 * significant digit; its distance from Scratch is the digit count. Inline,
 * with the two radixes as constant divisors, so that each division becomes a
 * multiplication or a shift; decimal digits come two per division.
 */
inline CHAR8 *ValueToDigits(CHAR8 *Scratch, UINT64 Value, UINTN Radix) {
  static constexpr CHAR8 DigitTable[] = "0123456789ABCDEF";
  static constexpr CHAR8 DigitPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  CHAR8 *Position = Scratch;
  *Position = 0;
  if (Radix == 16) {
    do {
      *++Position = DigitTable[Value % 16];
      Value /= 16;
    } while (Value != 0);
    return Position;
  }
  while (Value >= 100) {
    const UINT64 Quotient = Value / 100;
    const UINTN Pair = (UINTN)(Value - Quotient * 100) * 2;
    *++Position = DigitPairs[Pair + 1];
    *++Position = DigitPairs[Pair];
    Value = Quotient;
  }
  if (Value >= 10) {
    *++Position = DigitPairs[Value * 2 + 1];
    *++Position = DigitPairs[Value * 2];
  } else {
    *++Position = DigitTable[Value];
  }
  return Position;
}

#endif
