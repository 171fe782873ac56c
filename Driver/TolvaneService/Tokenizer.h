/*
 * Lines split into tokens: blanks, tabs and equals signs separate; '#' and
 * ';' start comments; double quotes group and stay in the token.
 * A token list is two values held by the caller: Tokens and Count.
 */
#ifndef TOLVANE_DRIVER_TOKENIZER_H
#define TOLVANE_DRIVER_TOKENIZER_H

#include "TextReader.h"

/*
 * Reads lines until one yields a token. TRUE: Tokens holds Count >= 1 pool
 * strings. FALSE: no further line, or the pool ran dry; the list is empty
 * (NULL, 0) and everything taken for the line has been released.
 */
[[nodiscard]] BOOLEAN ReadTokenLine(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count);

/*
 * As ReadTokenLine, telling the two ends apart: EFI_SUCCESS with tokens,
 * EFI_NOT_FOUND when no further line holds a token, EFI_OUT_OF_RESOURCES
 * when the pool ran dry (the line is lost). The list is empty on failure.
 */
[[nodiscard]] EFI_STATUS ReadTokenLineStatus(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count);

/* Releases the first Count strings and the array; does not reset the fields. */
VOID FreeTokenList(CHAR16 ***Tokens, UINTN *Count);

/*
 * Appends Token, taking ownership of it, growing the array by 8 entries
 * when full. FALSE when the array could not grow: the list is unchanged and
 * Token is still the caller's.
 */
[[nodiscard]] BOOLEAN AppendToken(CHAR16 ***Tokens, UINTN *Count, CHAR16 *Token);

/* A new pool copy of a terminated CHAR16 string; NULL on failure. */
[[nodiscard]] CHAR16 *DuplicateWideString(const CHAR16 *String);

#endif
