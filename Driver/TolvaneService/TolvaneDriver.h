/*
 * The driver's chief header: the service state, its constants, the start-up
 * steps and the five operations of TOLVANE_SERVICE_PROTOCOL.
 */
#ifndef TOLVANE_DRIVER_TOLVANE_DRIVER_H
#define TOLVANE_DRIVER_TOLVANE_DRIVER_H

#include "MachineIdentity.h"
#include "Protocol/TolvaneService.h"
#include "TextReader.h"
#include "Uefi/Uefi.h"

inline constexpr EFI_GUID TolvaneServiceProtocolGuid = TOLVANE_SERVICE_PROTOCOL_GUID;

/* The driver's single static state; zero at load. */
struct SERVICE_STATE {
  EFI_IP_ADDRESS ServerAddress;
  CHAR16 MachineId[MachineIdLength + 1];
  CHAR8 FileNameBuffer[NumberedFileNameSize];
  TextReader SectionReader;
  EFI_HANDLE ServiceHandle;
};

extern SERVICE_STATE ServiceState;
extern TOLVANE_SERVICE_PROTOCOL ServiceInterface;

inline constexpr CHAR8 ConfigFileName[] = TOLVANE_CONFIGURATION_FILE_NAME;
/* The block size of every TFTP read; Mtftp takes it by address, so each read passes a writable copy. */
inline constexpr UINTN TFTP_BLOCK_SIZE = TOLVANE_TFTP_BLOCK_SIZE;
inline constexpr BOOLEAN PxeUseIpv6 = FALSE;

/* "[8a123456]" at load; every section lookup writes the header of the recorded MachineId into it. */
extern CHAR16 SectionTemplate[SectionHeaderLength];

/*
 * Looks for the header of ServiceState.MachineId in the TextSize bytes at
 * Text and copies its section into Section. EFI_SUCCESS; EFI_NOT_FOUND with
 * Section untouched; EFI_OUT_OF_RESOURCES with Section untouched.
 */
[[nodiscard]] EFI_STATUS FindMachineSection(const VOID *Text, UINTN TextSize, TextReader *Section);

/* Optional interfaces looked up at start-up; nothing reads them. */
extern VOID *HiiString;
extern VOID *HiiDatabase;
extern VOID *HiiConfigRouting;
extern VOID *HiiFont;
extern VOID *HiiImage;
extern VOID *Dpc;

/* The image entry point: start-up steps, then the interface. Always EFI_SUCCESS. */
extern "C" EFI_STATUS EFIAPI DriverEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

/* Start-up steps, in the order the entry point runs them; each returns EFI_SUCCESS. */
EFI_STATUS ProgramSerialPort(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS CaptureFirmwareTables(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS CaptureRuntimeServices(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS LocateHiiInterfaces(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
EFI_STATUS LocateDpcInterface(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);
/* Installs the interface on a new handle unless one is already present; EFI_SUCCESS. */
EFI_STATUS InstallServiceInterface(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

/* The five slots of TOLVANE_SERVICE_PROTOCOL. */
EFI_STATUS EFIAPI FetchConfiguration(TOLVANE_SERVICE_PROTOCOL *This, EFI_IP_ADDRESS *Server, CHAR8 *Identifier);
EFI_STATUS EFIAPI FetchNumberedFile(TOLVANE_SERVICE_PROTOCOL *This, UINTN FileNumber, VOID *FileBuffer,
                                    UINTN *FileBufferSize);
BOOLEAN EFIAPI GetEntry(TOLVANE_SERVICE_PROTOCOL *This, UINTN Index, CHAR16 *Value, UINTN ValueSize);
UINTN EFIAPI GetEntryCount(TOLVANE_SERVICE_PROTOCOL *This);
EFI_STATUS EFIAPI ReleaseConfiguration(TOLVANE_SERVICE_PROTOCOL *This);

#endif
