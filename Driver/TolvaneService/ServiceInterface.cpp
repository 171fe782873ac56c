/* The service state, the section template, the five-slot interface record and its installation. */
#include "Library/FirmwareTables.h"
#include "TolvaneDriver.h"

SERVICE_STATE ServiceState;

TOLVANE_SERVICE_PROTOCOL ServiceInterface = {
    FetchConfiguration, FetchNumberedFile, GetEntry, GetEntryCount, ReleaseConfiguration,
};

// Its own alignment, not the 16 bytes the compiler would give an array of this size: it then packs behind the
// interface record and the image's initialised data stays within one 64-byte file block.
alignas(CHAR16) CHAR16 SectionTemplate[SectionHeaderLength] = u"[8a123456]";

/*
 * Installs ServiceInterface on a new handle, unless an interface with its
 * GUID is already present (an earlier copy of the driver). A failed
 * installation is not reported: the driver then stays resident without an
 * interface. Always EFI_SUCCESS.
 */
EFI_STATUS InstallServiceInterface(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  VOID *Existing = NULL;
  if (!EFI_ERROR(BootServices->LocateProtocol(&TolvaneServiceProtocolGuid, NULL, &Existing))) {
    return EFI_SUCCESS;
  }
  BootServices->InstallMultipleProtocolInterfaces(&ServiceState.ServiceHandle, &TolvaneServiceProtocolGuid,
                                                  &ServiceInterface, NULL);
  return EFI_SUCCESS;
}
