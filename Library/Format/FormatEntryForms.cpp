/* The list-taking entry forms: each fixes the mode and the size in characters, then runs the engine. */
#include "Library/FormatLib.h"

UINTN FormatToAsciiV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, const FORMAT_ARGUMENTS *Arguments) {
  return FormatEngine(Buffer, Size, 0, Format, Arguments);
}

UINTN FormatToWideV(CHAR16 *Buffer, UINTN Size, const CHAR16 *Format, const FORMAT_ARGUMENTS *Arguments) {
  return FormatEngine(Buffer, Size / 2, FMT_IN_WIDE | FMT_OUT_WIDE, Format, Arguments);
}

UINTN FormatWithModeV(VOID *Buffer, UINTN Size, UINTN Mode, const VOID *Format, const FORMAT_ARGUMENTS *Arguments) {
  return FormatEngine(Buffer, Size, Mode, Format, Arguments);
}
