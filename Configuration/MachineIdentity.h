/*
 * A machine as the configuration names it: the identifier a caller passes,
 * as the driver records it, the section header looked up for it, and the
 * TFTP names of its numbered files.
 */
#ifndef TOLVANE_CONFIGURATION_MACHINE_IDENTITY_H
#define TOLVANE_CONFIGURATION_MACHINE_IDENTITY_H

#include "Protocol/TolvaneService.h"

inline constexpr UINTN MachineIdLength = TOLVANE_IDENTIFIER_LENGTH;
/* "[", the identifier, "]" and the terminator. */
inline constexpr UINTN SectionHeaderLength = MachineIdLength + 3;
/* A numbered file's name and its NUL. */
inline constexpr UINTN NumberedFileNameSize = TOLVANE_FILE_NAME_LENGTH + 1;

/*
 * Reads exactly MachineIdLength bytes at Identifier and widens them by sign
 * extension into MachineId, up to the first NUL among them.
 */
VOID RecordMachineId(const CHAR8 *Identifier, CHAR16 MachineId[MachineIdLength + 1]);

/*
 * Writes the header of MachineId's section into Header: characters 1 to 8
 * become the identifier (zero-filled when it is shorter) and a to z are
 * upper-cased up to the first 0; characters 0, 9 and 10 are "[", "]" and 0.
 */
VOID BuildSectionHeader(const CHAR16 *MachineId, CHAR16 Header[SectionHeaderLength]);

/*
 * "<MachineId>.<FileNumber>" into the NameSize bytes at Name: the low 32
 * bits of the number as a signed decimal, the whole cut to NameSize - 1
 * characters. The driver asks with NumberedFileNameSize.
 */
VOID FormatNumberedFileName(const CHAR16 *MachineId, UINTN FileNumber, CHAR8 *Name, UINTN NameSize);

#endif
