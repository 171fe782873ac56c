/* Splitting the lines of a text reader into tokens. */
#include "Tokenizer.h"

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"

static constexpr UINTN TokenArrayGrowth = 8;

/* A pool copy of the Length characters at Start and the 0 that follows them; NULL on failure. */
static CHAR16 *DuplicateToken(const CHAR16 *Start, UINTN Length) {
  return static_cast<CHAR16 *>(PoolDuplicate(Start, (Length + 1) * sizeof(CHAR16)));
}

CHAR16 *DuplicateWideString(const CHAR16 *String) {
  return static_cast<CHAR16 *>(PoolDuplicate(String, WideStringSize(String)));
}

BOOLEAN AppendToken(CHAR16 ***Tokens, UINTN *Count, CHAR16 *Token) {
  if (*Count % TokenArrayGrowth == 0) {
    UINTN OldSize = *Count * sizeof(CHAR16 *);
    UINTN NewSize = (*Count + TokenArrayGrowth) * sizeof(CHAR16 *);
    VOID *Grown = (*Count == 0) ? PoolAlloc(NewSize) : PoolResize(*Tokens, OldSize, NewSize);
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

EFI_STATUS SplitTokenLine(CHAR16 *Line, CHAR16 ***Tokens, UINTN *Count) {
  CHAR16 *Position = Line;
  for (;;) {
    while (IsSeparator(*Position)) {
      Position++;
    }
    if (*Position == 0 || IsCommentStart(*Position)) {
      return EFI_SUCCESS;
    }
    CHAR16 *Start = Position;
    for (;;) {
      while (!IsTokenStop(*Position)) {
        Position++;
      }
      if (*Position != CharacterQuote) {
        break;
      }
      // A quoted stretch runs to the closing quote; only the terminator cuts it short.
      Position++;
      while (*Position != CharacterQuote && *Position != 0) {
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
      return EFI_OUT_OF_RESOURCES;
    }
    if (!AppendToken(Tokens, Count, Token)) {
      PoolRelease(Token);
      return EFI_OUT_OF_RESOURCES;
    }
    if (LastOfLine) {
      return EFI_SUCCESS;
    }
    Position++;
  }
}

EFI_STATUS ReadTokenLine(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count) {
  *Count = 0;
  *Tokens = NULL;
  while (*Count == 0) {
    CHAR16 *Line;
    UINTN Length;
    EFI_STATUS Status = ReadTextLine(Reader, &Line, &Length);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    Status = SplitTokenLine(Line, Tokens, Count);
    PoolRelease(Line);
    if (EFI_ERROR(Status)) {
      FreeTokenList(Tokens, Count);
      *Count = 0;
      *Tokens = NULL;
      return Status;
    }
  }
  return EFI_SUCCESS;
}
