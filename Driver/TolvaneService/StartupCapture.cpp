/* Capture of the firmware tables and the optional look-ups of start-up. */
#include "Library/FirmwareTables.h"
#include "TolvaneDriver.h"

VOID *HiiString;
VOID *HiiDatabase;
VOID *HiiConfigRouting;
VOID *HiiFont;
VOID *HiiImage;
VOID *Dpc;

namespace {
constexpr EFI_GUID HiiStringProtocolGuid = {
    0x0FD96974, 0x23AA, 0x4CDC, {0xB9, 0xCB, 0x98, 0xD1, 0x77, 0x50, 0x32, 0x2A}};
constexpr EFI_GUID HiiDatabaseProtocolGuid = {
    0xEF9FC172, 0xA1B2, 0x4693, {0xB3, 0x27, 0x6D, 0x32, 0xFC, 0x41, 0x60, 0x42}};
constexpr EFI_GUID HiiConfigRoutingProtocolGuid = {
    0x587E72D7, 0xCC50, 0x4F79, {0x82, 0x09, 0xCA, 0x29, 0x1F, 0xC1, 0xA1, 0x0F}};
constexpr EFI_GUID HiiFontProtocolGuid = {0xE9CA4775, 0x8657, 0x47FC, {0x97, 0xE7, 0x7E, 0xD6, 0x5A, 0x08, 0x43, 0x24}};
constexpr EFI_GUID HiiImageProtocolGuid = {
    0x31A6406A, 0x6BDF, 0x4E46, {0xB2, 0xA2, 0xEB, 0xAA, 0x89, 0xC4, 0x09, 0x20}};
constexpr EFI_GUID DpcProtocolGuid = {0x480F8AE9, 0x0C46, 0x4AA9, {0xBC, 0x89, 0xDB, 0x9F, 0xBA, 0x61, 0x98, 0x06}};

/* A failed look-up leaves the pointer NULL; the status is of no use to anyone. */
VOID LocateOptionalInterface(const EFI_GUID &Guid, VOID **Interface) {
  if (EFI_ERROR(BootServices->LocateProtocol(&Guid, NULL, Interface))) {
    *Interface = NULL;
  }
}
} // namespace

/* Keeps the image handle, the system table and its boot services for every later call. */
EFI_STATUS CaptureFirmwareTables(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;
  return EFI_SUCCESS;
}

EFI_STATUS CaptureRuntimeServices(EFI_HANDLE, EFI_SYSTEM_TABLE *Table) {
  RuntimeServices = Table->RuntimeServices;
  return EFI_SUCCESS;
}

/* Five look-ups, in this order; their results are kept and never read. */
EFI_STATUS LocateHiiInterfaces(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  LocateOptionalInterface(HiiStringProtocolGuid, &HiiString);
  LocateOptionalInterface(HiiDatabaseProtocolGuid, &HiiDatabase);
  LocateOptionalInterface(HiiConfigRoutingProtocolGuid, &HiiConfigRouting);
  LocateOptionalInterface(HiiFontProtocolGuid, &HiiFont);
  LocateOptionalInterface(HiiImageProtocolGuid, &HiiImage);
  return EFI_SUCCESS;
}

EFI_STATUS LocateDpcInterface(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  LocateOptionalInterface(DpcProtocolGuid, &Dpc);
  return EFI_SUCCESS;
}
