/*
 * The characters that give a configuration text its shape: line breaks,
 * separators, comment starts, the double quote and the header bracket.
 * Every reader of the format, the driver's and the tools', asks here.
 */
#ifndef TOLVANE_CONFIGURATION_CHARACTER_CLASSES_H
#define TOLVANE_CONFIGURATION_CHARACTER_CLASSES_H

#include "Uefi/UefiBaseType.h"

inline constexpr CHAR16 CharacterTab = 0x0009;
inline constexpr CHAR16 CharacterLineFeed = 0x000A;
inline constexpr CHAR16 CharacterCarriageReturn = 0x000D;
inline constexpr CHAR16 CharacterSpace = 0x0020;
inline constexpr CHAR16 CharacterQuote = 0x0022;
inline constexpr CHAR16 CharacterNumberSign = 0x0023;
inline constexpr CHAR16 CharacterSemicolon = 0x003B;
inline constexpr CHAR16 CharacterEqualsSign = 0x003D;
inline constexpr CHAR16 CharacterOpenBracket = 0x005B;

/* A carriage return or a line feed: ends a line (in 8-bit text, only outside double quotes). */
constexpr BOOLEAN IsLineBreak(CHAR16 Character) {
  return Character == CharacterCarriageReturn || Character == CharacterLineFeed;
}

/* Space, tab and equals sign: they separate tokens. */
constexpr BOOLEAN IsSeparator(CHAR16 Character) {
  return Character == CharacterSpace || Character == CharacterTab || Character == CharacterEqualsSign;
}

/* Number sign and semicolon: outside double quotes they start a comment that runs to the end of the line. */
constexpr BOOLEAN IsCommentStart(CHAR16 Character) {
  return Character == CharacterNumberSign || Character == CharacterSemicolon;
}

/*
 * The characters an unquoted token stops at: the terminator, a separator, a
 * comment start or a double quote, one bit each. All lie below 0x40, so one
 * shift and test tells most token characters apart from them.
 */
inline constexpr UINT64 TokenStops = (1ull << 0) | (1ull << CharacterTab) | (1ull << CharacterSpace) |
                                     (1ull << CharacterQuote) | (1ull << CharacterNumberSign) |
                                     (1ull << CharacterSemicolon) | (1ull << CharacterEqualsSign);

/* TRUE when Character is one of TokenStops. */
constexpr BOOLEAN IsTokenStop(CHAR16 Character) { return Character < 64 && ((TokenStops >> Character) & 1) != 0; }

#endif
