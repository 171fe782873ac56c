/*
 * Lines split into tokens: blanks, tabs and equals signs separate; '#' and
 * ';' start comments; double quotes group and stay in the token (the
 * classes are those of CharacterClasses.h). A token list is two values held
 * by the caller: Tokens and Count.
 */
#ifndef TOLVANE_CONFIGURATION_TOKENIZER_H
#define TOLVANE_CONFIGURATION_TOKENIZER_H

#include "TextReader.h"

/*
 * Reads lines until one yields a token. EFI_SUCCESS: Tokens holds Count >= 1
 * pool strings. EFI_NOT_FOUND: no further line holds a token.
 * EFI_OUT_OF_RESOURCES: the pool ran dry (the line is lost). On failure the
 * list is empty (NULL, 0) and everything taken for the line is released.
 */
[[nodiscard]] EFI_STATUS ReadTokenLine(TextReader *Reader, CHAR16 ***Tokens, UINTN *Count);

/*
 * Splits the terminated Line in place and appends a pool copy of each token
 * to the list (which may already hold tokens). EFI_SUCCESS, or
 * EFI_OUT_OF_RESOURCES with the tokens appended so far still in the list.
 */
[[nodiscard]] EFI_STATUS SplitTokenLine(CHAR16 *Line, CHAR16 ***Tokens, UINTN *Count);

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
