/* The Driver Binding that layers the variant GUID on each PXE Base Code instance, for as long as it lives. */
#include "Library/FirmwareTables.h"
#include "NetworkSetup.h"

namespace {
/*
 * A handle is ours to start when it has PXE Base Code that no agent holds
 * BY_DRIVER and no variant yet (another publisher's stays untouched).
 * Returns EFI_ALREADY_STARTED or the open's error otherwise.
 */
EFI_STATUS EFIAPI VariantSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                   EFI_DEVICE_PATH_PROTOCOL *) {
  VOID *Interface;
  if (!EFI_ERROR(BootServices->HandleProtocol(Controller, &PxeBaseCodeVariantProtocolGuid, &Interface))) {
    return EFI_ALREADY_STARTED;
  }
  EFI_STATUS Status = BootServices->OpenProtocol(Controller, &EfiPxeBaseCodeProtocolGuid, &Interface,
                                                 This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  BootServices->CloseProtocol(Controller, &EfiPxeBaseCodeProtocolGuid, This->DriverBindingHandle, Controller);
  return EFI_SUCCESS;
}

/*
 * Holds the standard interface BY_DRIVER and installs the same pointer under
 * the variant GUID. On failure nothing stays open and the error is returned.
 */
EFI_STATUS EFIAPI VariantStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *) {
  VOID *Interface;
  EFI_STATUS Status = BootServices->OpenProtocol(Controller, &EfiPxeBaseCodeProtocolGuid, &Interface,
                                                 This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status =
      BootServices->InstallMultipleProtocolInterfaces(&Controller, &PxeBaseCodeVariantProtocolGuid, Interface, NULL);
  if (EFI_ERROR(Status)) {
    BootServices->CloseProtocol(Controller, &EfiPxeBaseCodeProtocolGuid, This->DriverBindingHandle, Controller);
    return Status;
  }
  PutServiceCardFirst();
  return EFI_SUCCESS;
}

/*
 * Takes the variant away, then lets go of the standard interface. When the
 * variant cannot be uninstalled the interface stays held and the error is
 * returned, so that the PXE driver's uninstall fails too rather than leave
 * the variant pointing at freed memory.
 */
EFI_STATUS EFIAPI VariantStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN, EFI_HANDLE *) {
  VOID *Interface;
  if (!EFI_ERROR(BootServices->HandleProtocol(Controller, &PxeBaseCodeVariantProtocolGuid, &Interface))) {
    EFI_STATUS Status =
        BootServices->UninstallMultipleProtocolInterfaces(Controller, &PxeBaseCodeVariantProtocolGuid, Interface, NULL);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  return BootServices->CloseProtocol(Controller, &EfiPxeBaseCodeProtocolGuid, This->DriverBindingHandle, Controller);
}
} // namespace

EFI_DRIVER_BINDING_PROTOCOL PxeVariantBinding = {VariantSupported, VariantStart, VariantStop, 0x10, NULL, NULL};
