/*
 * Formatted output into a caller's buffer, 8-bit or wide. No allocation, no
 * state; output that does not fit is cut and always terminated. All forms
 * return the number of characters stored, not counting the terminator.
 *
 * Arguments travel as one 64-bit slot each. The entry forms pack them; the
 * engine takes slots in format order through a cursor that knows how many
 * there are, and reads 0 once they run out.
 */
#ifndef TOLVANE_LIBRARY_FORMAT_LIB_H
#define TOLVANE_LIBRARY_FORMAT_LIB_H

#include "Uefi/UefiBaseType.h"

/* Mode word: the two mode bits and the per-directive flags. */
enum : UINTN {
  FMT_ALIGN_LEFT = 0x1,
  FMT_SIGN_PLUS = 0x2,
  FMT_SIGN_SPACE = 0x4,
  FMT_GROUP_DIGITS = 0x8,
  FMT_VALUE_64 = 0x10,
  FMT_FILL_ZERO = 0x20,
  FMT_OUT_WIDE = 0x40,
  FMT_RADIX_16 = 0x80,
  FMT_IN_WIDE = 0x100,
  FMT_HAS_WIDTH = 0x200,
  FMT_ARG_WIDE = 0x400,
  FMT_HAS_PRECISION = 0x800,
  FMT_ARG_BACKWARD = 0x1000,
};

/* The argument list: Count slots, taken in order. */
struct FORMAT_ARGUMENTS {
  const UINT64 *Slots;
  UINTN Count;
};

UINTN FormatToAsciiV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, const FORMAT_ARGUMENTS *Arguments);
/* Size is in bytes. */
UINTN FormatToWideV(CHAR16 *Buffer, UINTN Size, const CHAR16 *Format, const FORMAT_ARGUMENTS *Arguments);
/* Size in characters of the mode's output width; Format in the mode's input width. */
UINTN FormatWithModeV(VOID *Buffer, UINTN Size, UINTN Mode, const VOID *Format, const FORMAT_ARGUMENTS *Arguments);
UINTN FormatEngine(VOID *Buffer, UINTN Size, UINTN Mode, const VOID *Format, const FORMAT_ARGUMENTS *Arguments);

/* One slot per argument: integers widened with their own signedness, pointers by address. */
constexpr UINT64 FormatSlot(bool Value) { return Value ? 1 : 0; }
constexpr UINT64 FormatSlot(char Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(signed char Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned char Value) { return Value; }
constexpr UINT64 FormatSlot(char16_t Value) { return Value; }
constexpr UINT64 FormatSlot(short Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned short Value) { return Value; }
constexpr UINT64 FormatSlot(int Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned int Value) { return Value; }
constexpr UINT64 FormatSlot(long Value) { return (UINT64)(INT64)Value; }
constexpr UINT64 FormatSlot(unsigned long Value) { return Value; }
constexpr UINT64 FormatSlot(long long Value) { return (UINT64)Value; }
constexpr UINT64 FormatSlot(unsigned long long Value) { return Value; }
constexpr UINT64 FormatSlot(decltype(nullptr)) { return 0; }
inline UINT64 FormatSlot(const volatile void *Pointer) { return (UINT64)(UINTN)Pointer; }

template <typename... ArgumentTypes>
UINTN FormatToAscii(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, ArgumentTypes... Arguments) {
  const UINT64 Slots[sizeof...(Arguments) + 1] = {FormatSlot(Arguments)..., 0};
  const FORMAT_ARGUMENTS List = {Slots, sizeof...(Arguments)};
  return FormatToAsciiV(Buffer, Size, Format, &List);
}

template <typename... ArgumentTypes>
UINTN FormatToWide(CHAR16 *Buffer, UINTN Size, const CHAR16 *Format, ArgumentTypes... Arguments) {
  const UINT64 Slots[sizeof...(Arguments) + 1] = {FormatSlot(Arguments)..., 0};
  const FORMAT_ARGUMENTS List = {Slots, sizeof...(Arguments)};
  return FormatToWideV(Buffer, Size, Format, &List);
}

template <typename... ArgumentTypes>
UINTN FormatWithMode(VOID *Buffer, UINTN Size, UINTN Mode, const VOID *Format, ArgumentTypes... Arguments) {
  const UINT64 Slots[sizeof...(Arguments) + 1] = {FormatSlot(Arguments)..., 0};
  const FORMAT_ARGUMENTS List = {Slots, sizeof...(Arguments)};
  return FormatWithModeV(Buffer, Size, Mode, Format, &List);
}

#endif
