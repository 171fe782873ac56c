/*
 * PXE Base Code instances that appear after the companion started (a card
 * connected later, a reconnect without recursion) are offered to the
 * binding from a protocol notify on the standard GUID.
 */
#include "Library/FirmwareTables.h"
#include "NetworkSetup.h"

namespace {
VOID *ArrivalRegistration;

/* Offers one handle to this image's binding alone; a handle it does not support is left alone. */
VOID OfferToBinding(EFI_HANDLE Handle) {
  EFI_HANDLE Drivers[2] = {ImageHandle, NULL};
  BootServices->ConnectController(Handle, Drivers, NULL, FALSE);
}

/* Each call hands out the handles installed since the last one, one at a time. */
VOID EFIAPI OnPxeArrival(EFI_EVENT, VOID *) {
  for (;;) {
    EFI_HANDLE Handle;
    UINTN Size = sizeof(Handle);
    if (EFI_ERROR(BootServices->LocateHandle(ByRegisterNotify, NULL, ArrivalRegistration, &Size, &Handle))) {
      return;
    }
    OfferToBinding(Handle);
  }
}
} // namespace

EFI_STATUS WatchPxeArrivals() {
  EFI_EVENT Event;
  EFI_STATUS Status = BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnPxeArrival, NULL, &Event);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = BootServices->RegisterProtocolNotify(&EfiPxeBaseCodeProtocolGuid, Event, &ArrivalRegistration);
  if (EFI_ERROR(Status)) {
    BootServices->CloseEvent(Event);
  }
  return Status;
}

VOID BindPresentPxeInstances() {
  UINTN Count;
  EFI_HANDLE *Handles;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &EfiPxeBaseCodeProtocolGuid, NULL, &Count, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    OfferToBinding(Handles[Index]);
  }
  BootServices->FreePool(Handles);
}
