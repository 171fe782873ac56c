/*
 * One card for the link check and the download. The service checks the link
 * of the first Simple Network LocateProtocol finds and downloads through the
 * first interface under the variant GUID; LocateProtocol answers with the
 * earliest installed, so the variants on other cards are installed again
 * behind those on the service's card.
 */
#include "Library/FirmwareTables.h"
#include "Library/NetworkCard.h"
#include "NetworkSetup.h"

VOID PutServiceCardFirst() {
  VOID *ServiceNetwork;
  UINTN Count;
  EFI_HANDLE *Handles;
  if (EFI_ERROR(BootServices->LocateProtocol(&EfiSimpleNetworkProtocolGuid, NULL, &ServiceNetwork)) ||
      EFI_ERROR(
          BootServices->LocateHandleBuffer(ByProtocol, &PxeBaseCodeVariantProtocolGuid, NULL, &Count, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    VOID *Interface;
    if (IsOnCard(Handles[Index], ServiceNetwork) ||
        EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &PxeBaseCodeVariantProtocolGuid, &Interface)) ||
        EFI_ERROR(BootServices->UninstallMultipleProtocolInterfaces(Handles[Index], &PxeBaseCodeVariantProtocolGuid,
                                                                    Interface, NULL))) {
      continue;
    }
    // Reinstalled at the end of the list; should that fail, the binding's Stop finds no variant to take away.
    BootServices->InstallMultipleProtocolInterfaces(&Handles[Index], &PxeBaseCodeVariantProtocolGuid, Interface, NULL);
  }
  BootServices->FreePool(Handles);
}
