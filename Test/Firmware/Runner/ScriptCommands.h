/*
 * The commands of the scenario script. Each receives its line already
 * started with the command as written and ": ", and its arguments
 * (Arguments[0] is the command's name); it finishes and emits the line.
 */
#ifndef TOLVANE_TEST_FIRMWARE_SCRIPT_COMMANDS_H
#define TOLVANE_TEST_FIRMWARE_SCRIPT_COMMANDS_H

#include "Runner.h"

namespace Runner {

typedef VOID (*SCRIPT_COMMAND)(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);

/* The vendor GUID of the UEFI global variables (SecureBoot, Driver####, DriverOrder). */
extern const EFI_GUID GlobalVariableGuid;

/* Elapsed time of the last fetch, for the overhead line of the raw sequence. */
extern UINT64 LastFetchMicroseconds;

/* Argument parsing: FALSE when the text is not a number or an IPv4 address. */
bool ParseSigned(const CHAR8 *Text, INT64 *Value);
bool ParseAddress(const CHAR8 *Text, EFI_IP_ADDRESS *Address);
bool TextEquals(const CHAR8 *First, const CHAR8 *Second);
VOID EmitUsageError(TRANSCRIPT_LINE &Line, const CHAR8 *Usage);

VOID CommandFetch(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandCount(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandGet(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandEntries(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandFile(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandFileCompare(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandFiles(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandRelease(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);

VOID CommandLoadDriver(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandHandles(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandPublishPxe(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandSerialCheck(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandRawSequence(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);

VOID CommandSecureBoot(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandImageInfo(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandLoadOptionWrite(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandLoadOptionShow(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandLoadOptionRemove(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandReset(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);
VOID CommandRunApplication(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count);

} // namespace Runner

#endif
