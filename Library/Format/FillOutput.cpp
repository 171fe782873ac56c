/* The engine's only way of storing a character: runs of one character, bounded by the end of the output. */
#include "FormatInternal.h"

UINT8 *FillOutput(UINT8 *Position, const UINT8 *End, INTN Count, UINTN Character, UINTN Step) {
  for (; Count > 0 && Position < End; Count--) {
    Position[0] = (UINT8)Character;
    if (Step == 2) {
      Position[1] = (UINT8)(Character >> 8);
    }
    Position += Step;
  }
  return Position;
}
