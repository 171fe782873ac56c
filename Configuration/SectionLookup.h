/*
 * Finding a section by its header in a configuration text and copying it
 * out. A section runs from the line after its header to the next line whose
 * first token begins with an opening bracket.
 */
#ifndef TOLVANE_CONFIGURATION_SECTION_LOOKUP_H
#define TOLVANE_CONFIGURATION_SECTION_LOOKUP_H

#include "TextReader.h"

/* TRUE when Token begins with an opening bracket: its line is a header and ends any section before it. */
[[nodiscard]] BOOLEAN IsSectionHeader(const CHAR16 *Token);

/*
 * Looks for the first line whose first token is exactly Header in the
 * TextSize bytes at Text, and copies its section into Section. EFI_SUCCESS;
 * EFI_NOT_FOUND with Section untouched; EFI_OUT_OF_RESOURCES with Section
 * untouched.
 */
[[nodiscard]] EFI_STATUS FindSection(const VOID *Text, UINTN TextSize, const CHAR16 *Header, TextReader *Section);

/*
 * Copies the text from Reader's cursor up to the next header line into a
 * new reader in Section (of Reader's encoding family). With Section NULL it
 * only reads. EFI_OUT_OF_RESOURCES leaves Section untouched.
 */
[[nodiscard]] EFI_STATUS ExtractSection(TextReader *Reader, TextReader *Section);

/* a to z become A to Z in a terminated CHAR16 string; nothing else changes. */
VOID UpperCaseAsciiLetters(CHAR16 *String);

#endif
