/*
 * The cards: at a Driver#### image's start the firmware has connected only
 * its boot devices, so no card has Simple Network yet. Connecting the
 * network-class PCI controllers recursively brings up each card's whole
 * stack, PXE Base Code included (and the binding is offered each new handle).
 */
#include "Library/FirmwareTables.h"
#include "NetworkSetup.h"
#include "Protocol/PciIo.h"

namespace {
constexpr EFI_GUID PciIoGuid = EFI_PCI_IO_PROTOCOL_GUID;

/* TRUE when the controller's configuration space reads as class network. */
bool IsNetworkController(EFI_HANDLE Handle) {
  EFI_PCI_IO_PROTOCOL *PciIo;
  UINT8 BaseClass;
  if (EFI_ERROR(BootServices->HandleProtocol(Handle, &PciIoGuid, (VOID **)&PciIo))) {
    return false;
  }
  if (EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, PCI_CLASS_CODE_BASE_OFFSET, 1, &BaseClass))) {
    return false;
  }
  return BaseClass == PCI_CLASS_NETWORK;
}
} // namespace

/* A card that fails to connect is left as it is; the others still are connected. */
VOID ConnectNetworkControllers() {
  UINTN Count;
  EFI_HANDLE *Handles;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &PciIoGuid, NULL, &Count, &Handles))) {
    return;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    if (IsNetworkController(Handles[Index])) {
      BootServices->ConnectController(Handles[Index], NULL, NULL, TRUE);
    }
  }
  BootServices->FreePool(Handles);
}
