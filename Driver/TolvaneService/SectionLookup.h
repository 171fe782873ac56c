/*
 * Finding the machine's section in the configuration file and copying it
 * out. The header of the section is the upper-cased MachineId in brackets.
 */
#ifndef TOLVANE_DRIVER_SECTION_LOOKUP_H
#define TOLVANE_DRIVER_SECTION_LOOKUP_H

#include "TextReader.h"

/* "[8a123456]" at load; every lookup rewrites characters 1 to 8 and upper-cases it. */
extern CHAR16 SectionTemplate[11];

/*
 * Looks for the header of ServiceState.MachineId in the TextSize bytes at
 * Text and copies its section into Section. EFI_SUCCESS; EFI_NOT_FOUND with
 * Section untouched; EFI_OUT_OF_RESOURCES with Section untouched.
 */
[[nodiscard]] EFI_STATUS FindMachineSection(const VOID *Text, UINTN TextSize, TextReader *Section);

/*
 * Copies the text from Reader's cursor up to the next header line into a
 * new reader in Section (of Reader's encoding family). With Section NULL it
 * only reads. EFI_OUT_OF_RESOURCES leaves Section untouched.
 */
[[nodiscard]] EFI_STATUS ExtractSection(TextReader *Reader, TextReader *Section);

/* a to z become A to Z in a terminated CHAR16 string; nothing else changes. */
VOID UpperCaseAsciiLetters(CHAR16 *String);

#endif
