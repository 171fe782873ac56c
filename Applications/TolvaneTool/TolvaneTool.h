/*
 * The field tool tolvane.efi: a UEFI Shell application for the person at
 * the machine. It checks what the service needs, and calls the service's
 * five operations one command at a time. Every command prints the statuses
 * it got and exits with one of the four statuses below, which the Shell
 * keeps as %lasterror%.
 */
#ifndef TOLVANE_TOOL_H
#define TOLVANE_TOOL_H

#include "Library/FirmwareTables.h"
#include "Library/FormatLib.h"
#include "Library/NetworkCard.h"
#include "Protocol/PxeBaseCode.h"
#include "Protocol/TolvaneService.h"

/*
 * Why DHCP fails on a network that answers: the firmware's PXE code takes
 * only offers that name a boot file, and waits out its retries first.
 */
inline constexpr const CHAR8 *DhcpFailureText =
    "DHCP failed: the DHCP server must offer a boot file name for this machine (any name, e.g. dnsmasq "
    "`dhcp-boot=rivari.ini`); without one the firmware ignores every offer and the fetch fails at step 2 after "
    "about 2 minutes.\n";

/*
 * The exit statuses, as the help and Deploying.md list them: success
 * (0x0), a malformed command line (0x2), an operation that ran and failed
 * (0x15; its own status is on the line printed), and entries, entry or file
 * with no configuration held, before a fetch or after a release (0x13).
 */
inline constexpr EFI_STATUS ToolUsageError = EFI_INVALID_PARAMETER;
inline constexpr EFI_STATUS ToolOperationFailed = EFI_ABORTED;
inline constexpr EFI_STATUS ToolNothingFetched = EFI_NOT_STARTED;

/* The exit status of an operation that answered Status. */
inline EFI_STATUS OperationResult(EFI_STATUS Status) { return EFI_ERROR(Status) ? ToolOperationFailed : EFI_SUCCESS; }

/* The tool's last fetch in this boot: the server, the identifier as typed, and the fetch's status. */
typedef struct {
  UINT8 Server[4];
  CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH + 1];
  UINT8 Reserved[3];
  EFI_STATUS Status;
} TOOL_FETCH_RECORD;

VOID SaveFetchRecord(const TOOL_FETCH_RECORD &Record);
/* FALSE when no fetch was recorded in this boot (or it was released since). */
bool LoadFetchRecord(TOOL_FETCH_RECORD *Record);
VOID ForgetFetchRecord();

/* Writes Text to the console. */
VOID WriteConsole(const CHAR16 *Text);

/*
 * Writes ASCII Text, each "\n" as the console's line end. Long fixed texts
 * are kept as ASCII: half the bytes of UCS-2 in the image.
 */
VOID PrintAscii(const CHAR8 *Text);

/* Formats one piece of output (FormatToWide) and writes it; longer output is cut at 511 characters. */
template <typename... ArgumentTypes> VOID Print(const CHAR16 *Format, ArgumentTypes... Arguments) {
  CHAR16 Line[512];
  FormatToWide(Line, sizeof(Line), Format, Arguments...);
  WriteConsole(Line);
}

/* Writes the handle's device path as the firmware prints it, or "(no device path)". */
VOID PrintDevicePath(EFI_HANDLE Handle);

/* Writes the file path of the loaded image whose memory holds Address, or "(not in a loaded image)". */
VOID PrintImageHolding(const VOID *Address);

/* TRUE when the loaded image holding Address came from a firmware volume (a firmware-volume file node in its path). */
bool IsInFirmwareVolume(const VOID *Address);

/* The handles holding Guid into *Handles (a pool block the caller releases); 0 when there are none. */
UINTN HandlesWith(const EFI_GUID &Guid, EFI_HANDLE **Handles);

/* The commands. Arguments are those behind the command's name, already counted against its table row. */
EFI_STATUS RunCheck(CHAR16 **Arguments, UINTN Count);
EFI_STATUS RunFetch(CHAR16 **Arguments, UINTN Count);
EFI_STATUS RunEntries(CHAR16 **Arguments, UINTN Count);
EFI_STATUS RunEntry(CHAR16 **Arguments, UINTN Count);
EFI_STATUS RunFile(CHAR16 **Arguments, UINTN Count);
EFI_STATUS RunRelease(CHAR16 **Arguments, UINTN Count);

/* The one-line usage, and ToolUsageError: what every malformed command line gets. */
EFI_STATUS ReportUsage();
/* "tolvane: " and Fault (a format taking Argument) on a line, then the usage; ToolUsageError. */
EFI_STATUS ReportUsageError(const CHAR16 *Fault, const CHAR16 *Argument);
/* What is wrong with a server address, an identifier, or an entry or file number (What: "entry", "file"). */
EFI_STATUS ReportBadServer(const CHAR16 *Text);
EFI_STATUS ReportBadIdentifier(const CHAR16 *Text);
EFI_STATUS ReportBadNumber(const CHAR16 *What, const CHAR16 *Text);

/*
 * Reads rivari.ini from Server through Pxe at the service's block size and
 * at one Ethernet frame's, and says which arrived at which block size the
 * server granted. EFI_SUCCESS when the service's read works, else the
 * status of that read.
 */
EFI_STATUS ProbeBlockSizes(EFI_PXE_BASE_CODE_PROTOCOL *Pxe, EFI_IP_ADDRESS *Server);

/*
 * Has the firmware show Pxe's packets to the tool (a callback installed
 * where the firmware takes it) until StopWatchingGrants, which takes the
 * callback away again; FALSE when the firmware will not. TakeGrant: the block size the server granted to
 * the read since the last call, 0 when none was seen.
 */
bool WatchGrants(EFI_PXE_BASE_CODE_PROTOCOL *Pxe);
UINTN TakeGrant();
VOID StopWatchingGrants(EFI_PXE_BASE_CODE_PROTOCOL *Pxe);

/* Writes Size bytes of Buffer to a new file at Path on a Shell file system (an old one is replaced). */
EFI_STATUS SaveShellFile(const CHAR16 *Path, VOID *Buffer, UINTN Size);

#endif
