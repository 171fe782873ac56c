/*
 * TOLVANE_SERVICE_PROTOCOL: the interface the driver publishes. Callers
 * locate it by TOLVANE_SERVICE_PROTOCOL_GUID and call its five slots in
 * order: fetch the configuration, read entries and numbered files, release.
 * This header compiles as C11 and as C++.
 */
#ifndef TOLVANE_PROTOCOL_TOLVANE_SERVICE_H
#define TOLVANE_PROTOCOL_TOLVANE_SERVICE_H

#include "Uefi/UefiBaseType.h"

#define TOLVANE_SERVICE_PROTOCOL_GUID                                                                                  \
  {                                                                                                                    \
    0x12345678, 0xFC25, 0x4C1C, { 0xB9, 0x7C, 0xB3, 0x11, 0x86, 0x06, 0x49, 0x90 }                                     \
  }

typedef struct _TOLVANE_SERVICE_PROTOCOL TOLVANE_SERVICE_PROTOCOL;

/*
 * Slot 1. Records Server and the 8-byte Identifier, checks the link, starts
 * PXE and DHCP, downloads "rivari.ini" and keeps the machine's section.
 * Returns EFI_SUCCESS, the error whose code is the failed step (1 to 5),
 * EFI_OUT_OF_RESOURCES, or the status of a failed TFTP read.
 */
typedef EFI_STATUS(EFIAPI *TOLVANE_FETCH_CONFIGURATION)(TOLVANE_SERVICE_PROTOCOL *This, EFI_IP_ADDRESS *Server,
                                                        CHAR8 *Identifier);

/*
 * Slot 2. Downloads file "<identifier>.<FileNumber>" into FileBuffer. A NULL or
 * too small buffer gives EFI_OUT_OF_RESOURCES with the file's size in
 * *FileBufferSize; a failed transfer returns its own status.
 */
typedef EFI_STATUS(EFIAPI *TOLVANE_FETCH_NUMBERED_FILE)(TOLVANE_SERVICE_PROTOCOL *This, UINTN FileNumber,
                                                        VOID *FileBuffer, UINTN *FileBufferSize);

/*
 * Slot 3. TRUE when the section has a line whose first token is Index in
 * decimal; its value is copied into Value when it fits ValueSize bytes.
 */
typedef BOOLEAN(EFIAPI *TOLVANE_GET_ENTRY)(TOLVANE_SERVICE_PROTOCOL *This, UINTN Index, CHAR16 *Value, UINTN ValueSize);

/* Slot 4. The number of consecutive entries 0, 1, 2, ... present. */
typedef UINTN(EFIAPI *TOLVANE_GET_ENTRY_COUNT)(TOLVANE_SERVICE_PROTOCOL *This);

/* Slot 5. Releases the section held since the last successful fetch. */
typedef EFI_STATUS(EFIAPI *TOLVANE_RELEASE_CONFIGURATION)(TOLVANE_SERVICE_PROTOCOL *This);

struct _TOLVANE_SERVICE_PROTOCOL {
  TOLVANE_FETCH_CONFIGURATION FetchConfiguration;
  TOLVANE_FETCH_NUMBERED_FILE FetchNumberedFile;
  TOLVANE_GET_ENTRY GetEntry;
  TOLVANE_GET_ENTRY_COUNT GetEntryCount;
  TOLVANE_RELEASE_CONFIGURATION ReleaseConfiguration;
};

#endif
