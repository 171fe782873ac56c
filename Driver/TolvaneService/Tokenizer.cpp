/* Splitting the lines of a text reader into tokens. */
#include "Tokenizer.h"

#include "Library/PoolLib.h"
#include "Library/TextLib.h"

static constexpr CHAR16 Space = 0x0020;
static constexpr CHAR16 Tab = 0x0009;
static constexpr CHAR16 EqualsSign = 0x003D;
static constexpr CHAR16 NumberSign = 0x0023;
static constexpr CHAR16 Semicolon = 0x003B;
static constexpr CHAR16 Quote = 0x0022;
static constexpr UINTN TokenArrayGrowth = 8;

/* TRUE for the characters that separate tokens: space, tab, equals sign. */
static BOOLEAN IsSeparator(CHAR16 Character) {
  return Character == Space || Character == Tab || Character == EqualsSign;
}

/* TRUE for the characters that start a comment: number sign, semicolon. */
static BOOLEAN IsCommentStart(CHAR16 Character) { return Character == NumberSign || Character == Semicolon; }

/*
 * The characters an unquoted token stops at: the terminator, a separator, a
 * comment start or a double quote, one bit each. All lie below 0x40, so one
 * shift and test tells most token characters apart from them.
 */
static constexpr UINT64 TokenStops = (1ull << 0) | (1ull << Tab) | (1ull << Space) | (1ull << Quote) |
                                     (1ull << NumberSign) | (1ull << Semicolon) | (1ull << EqualsSign);

/* TRUE when Character is one of TokenStops. */
static BOOLEAN IsTokenStop(CHAR16 Character) { return Character < 64 && ((TokenStops >> Character) & 1) != 0; }

/* A pool copy of the Length characters at Start and the 0 that follows them; NULL on failure. */
static CHAR16 *DuplicateToken(const CHAR16 *Start, UINTN Length) {
  return static_cast<CHAR16 *>(PoolDuplicate((Length + 1) * sizeof(CHAR16), Start));
}

CHAR16 *DuplicateWideString(const CHAR16 *String) {
  return static_cast<CHAR16 *>(PoolDuplicate(WideStringSize(String), String));
}

BOOLEAN AppendToken(CHAR16 ***Tokens, UINTN *Count, CHAR16 *Token) {
  if (*Count % TokenArrayGrowth == 0) {
    UINTN OldSize = *Count * sizeof(CHAR16 *);
    UINTN NewSize = (*Count + TokenArrayGrowth) * sizeof(CHAR16 *);
    VOID *Grown = (*Count == 0) ? PoolAlloc(NewSize) : PoolResize(OldSize, NewSize, *Tokens);
    if (Grown == NULL) {
      // A failed resize leaves the old array with the caller, unchanged.
      return FALSE;
    }
    *Tokens = static_cast<CHAR16 **>(Grown);
  }
  (*Tokens)[*Count] = Token;
  (*Count)++;
  return TRUE;
}

VOID FreeTokenList(CHAR16 ***Tokens, UINTN *Count) {
  if (*Count == 0) {
    return;
  }
  for (UINTN Index = 0; Index < *Count; Index++) {
    PoolRelease((*Tokens)[Index]);
  }
  PoolRelease(*Tokens);
}

/*
 * Splits Line in place and appends a pool copy of each token to the list.
 * FALSE when a copy or the array could not be allocated; the tokens
 * appended so far stay in the list for the caller to release.
 */
static BOOLEAN SplitLine(CHAR16 *Line, CHAR16 ***Tokens, UINTN *Count) {
  CHAR16 *Position = Line;
  for (;;) {
    while (IsSeparator(*Position)) {
      Position++;
    }
    if (*Position == 0 || IsCommentStart(*Position)) {
      return TRUE;
    }
    CHAR16 *Start = Position;
    for (;;) {
      while (!IsTokenStop(*Position)) {
        Position++;
      }
      if (*Position != Quote) {
        break;
      }
      // A quoted stretch runs to the closing quote; only the terminator cuts it short.
      Position++;
      while (*Position != Quote && *Position != 0) {
        Position++;
      }
      if (*Position == 0) {
        break;
      }
      Position++;
    }
    BOOLEAN LastOfLine = *Position == 0 || IsCommentStart(*Position);
    *Position = 0;
    // The token holds no 0 before its end, so its size is known without measuring it again.
    CHAR16 *Token = DuplicateToken(Start, static_cast<UINTN>(Position - Start));
    if (Token == NULL) {
      return FALSE;
    }
    if (!AppendToken(Tokens, Count, Token)) {
      PoolRelease(Token);
      return FALSE;
    }
    if (LastOfLine) {
      return TRUE;
    }
    Position++;
  }
}

EFI_STATUS ReadTokenLineStatus(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count) {
  *Count = 0;
  *Tokens = NULL;
  while (*Count == 0) {
    BOOLEAN TextLeft = !TextReaderAtEnd(Reader);
    CHAR16 *Line = ReadTextLine(Reader);
    if (Line == NULL) {
      return TextLeft ? EFI_OUT_OF_RESOURCES : EFI_NOT_FOUND;
    }
    BOOLEAN Split = SplitLine(Line, Tokens, Count);
    PoolRelease(Line);
    if (!Split) {
      FreeTokenList(Tokens, Count);
      *Count = 0;
      *Tokens = NULL;
      return EFI_OUT_OF_RESOURCES;
    }
  }
  return EFI_SUCCESS;
}

BOOLEAN ReadTokenLine(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count) {
  return ReadTokenLineStatus(Reader, Tokens, Count) == EFI_SUCCESS;
}
