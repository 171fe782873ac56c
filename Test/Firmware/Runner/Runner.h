/*
 * The firmware test runner: a UEFI application that loads TolvaneService.efi
 * from its own volume, connects the network and runs a scenario script
 * against the installed protocol, writing one transcript line per step to
 * the console and to the debug console port.
 */
#ifndef TOLVANE_TEST_FIRMWARE_RUNNER_H
#define TOLVANE_TEST_FIRMWARE_RUNNER_H

#include "Protocol/TolvaneService.h"
#include "Uefi/Uefi.h"

namespace Runner {

/* The runner's own image handle and the tables it was started with. */
extern EFI_HANDLE OwnImage;
extern EFI_SYSTEM_TABLE *System;
extern EFI_BOOT_SERVICES *Boot;

/* Port access: one 8-bit IN or OUT. */
UINT8 ReadPort(UINT16 Port);
VOID WritePort(UINT16 Port, UINT8 Value);

/* Pool memory; Allocate returns NULL on failure. */
VOID *Allocate(UINTN Size);
VOID Release(VOID *Buffer);
VOID FillBytes(VOID *Buffer, UINTN Size, UINT8 Value);
/* Index of the first differing byte, or Size when the two ranges are equal. */
UINTN FirstDifference(const VOID *First, const VOID *Second, UINTN Size);

/* Cycle counter calibrated against Stall; times are in microseconds. */
VOID CalibrateTimer();
UINT64 ReadCycles();
UINT64 MicrosecondsSince(UINT64 StartCycles);

/* One transcript line, built in place and cut at its capacity. */
struct TRANSCRIPT_LINE {
  CHAR8 Text[1200];
  UINTN Length;
};

VOID LineStart(TRANSCRIPT_LINE &Line, const CHAR8 *Text);
VOID Append(TRANSCRIPT_LINE &Line, const CHAR8 *Text);
VOID AppendUnsigned(TRANSCRIPT_LINE &Line, UINT64 Value);
VOID AppendSigned(TRANSCRIPT_LINE &Line, INT64 Value);
VOID AppendHex(TRANSCRIPT_LINE &Line, UINT64 Value, UINTN MinimumDigits);
/* The status by name and number, for example "EFI_NOT_FOUND 0x800000000000000E". */
VOID AppendStatus(TRANSCRIPT_LINE &Line, EFI_STATUS Status);
/* Wide text up to its terminator or MaxUnits; characters outside printable ASCII as \uXXXX. */
VOID AppendWide(TRANSCRIPT_LINE &Line, const CHAR16 *Text, UINTN MaxUnits);
/* The timing suffix " [N ms]" that the harness ignores. */
VOID AppendElapsed(TRANSCRIPT_LINE &Line, UINT64 Microseconds);
/* Writes the line with its line end to the debug console port and to ConOut. */
VOID Emit(const TRANSCRIPT_LINE &Line);
VOID EmitText(const CHAR8 *Text);

/*
 * Reads the file at Path (8-bit, backslashes) from the runner's own volume
 * into a new pool buffer with one extra 0 byte. Returns the failing status.
 */
EFI_STATUS ReadVolumeFile(const CHAR8 *Path, VOID **Buffer, UINTN *Size);
/*
 * The full device path of the file at Path on the runner's volume: the
 * volume's own path, one file-path node and the end node, in a new pool
 * buffer of *Size bytes. NULL when the volume has no device path or the
 * pool is exhausted.
 */
EFI_DEVICE_PATH_PROTOCOL *VolumeFileDevicePath(const CHAR8 *Path, UINTN *Size);
/* The Length field of a device path node. */
UINTN DevicePathNodeSize(const EFI_DEVICE_PATH_PROTOCOL *Node);

/* Connects every handle recursively; returns the number of handles. */
UINTN ConnectAllControllers();
/* Number of handles that carry PXE Base Code under its published GUID. */
UINTN CountPublishedPxe();
/*
 * Withdraws the interface the runner published under the variant GUID, then,
 * when NicNumber is not 0, publishes the PXE Base Code of the network card
 * whose MAC address ends in NicNumber on a new handle. Returns the status.
 */
EFI_STATUS PublishPxeVariant(UINTN NicNumber);
/* The interface the runner published under the variant GUID, or NULL. */
VOID *PublishedPxe();

/* Where the driver images lie on the runner's volume, as platforms install them on an ESP. */
extern const CHAR8 DriverFolder[];
/* The path of ImageName in DriverFolder, in a buffer of Capacity bytes (cut to fit). */
VOID DriverImagePath(const CHAR8 *ImageName, CHAR8 *Path, UINTN Capacity);
/* The full device path of ImageName in DriverFolder, as VolumeFileDevicePath gives it. */
EFI_DEVICE_PATH_PROTOCOL *DriverFolderDevicePath(const CHAR8 *ImageName, UINTN *Size);
/*
 * Loads the image ImageName of DriverFolder by its device path, as a boot
 * manager does, and starts it when the firmware accepts it. Returns the
 * load status; *StartStatus is EFI_NOT_STARTED when it was not started.
 */
EFI_STATUS LoadServiceDriver(const CHAR8 *ImageName, EFI_STATUS *StartStatus);
/* Number of handles that carry TOLVANE_SERVICE_PROTOCOL. */
UINTN CountServiceHandles();
/* The installed service interface, or NULL with the status of the look-up. */
TOLVANE_SERVICE_PROTOCOL *LocateService(EFI_STATUS *Status);

/* Runs the script text (lines of commands) and writes its transcript. */
VOID RunScript(CHAR8 *Text, UINTN Size);

} // namespace Runner

#endif
