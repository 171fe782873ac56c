/*
 * Network set-up: connecting every controller so that the network stack
 * binds, and re-publishing a card's PXE Base Code under the variant GUID
 * that the driver looks up.
 */
#include "Protocol/DevicePath.h"
#include "Protocol/PxeBaseCode.h"
#include "Protocol/SimpleNetwork.h"
#include "Runner.h"

namespace Runner {
namespace {
constexpr UINTN MaxDevicePathNodes = 64;

EFI_HANDLE VariantHandle;
VOID *VariantInterface;

/*
 * True when the handle's device path has an IPv6 node: the firmware puts an
 * IPv4 and an IPv6 PXE Base Code child on each card, and the driver speaks IPv4.
 */
bool IsIpv6Child(EFI_HANDLE Handle) {
  EFI_DEVICE_PATH_PROTOCOL *Node = NULL;
  if (EFI_ERROR(Boot->HandleProtocol(Handle, &EfiDevicePathProtocolGuid, (VOID **)&Node))) {
    return false;
  }
  for (UINTN Count = 0; Count < MaxDevicePathNodes && Node->Type != END_DEVICE_PATH_TYPE; Count++) {
    if (Node->Type == MESSAGING_DEVICE_PATH && Node->SubType == MSG_IPv6_DP) {
      return true;
    }
    UINTN Length = (UINTN)Node->Length[0] | ((UINTN)Node->Length[1] << 8);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return false;
    }
    Node = (EFI_DEVICE_PATH_PROTOCOL *)((UINT8 *)Node + Length);
  }
  return false;
}

/* The PXE Base Code on the card whose MAC address ends in NicNumber, or NULL. */
VOID *FindPxeOfCard(UINTN NicNumber) {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(Boot->LocateHandleBuffer(ByProtocol, &EfiPxeBaseCodeProtocolGuid, NULL, &Count, &Handles))) {
    return NULL;
  }
  VOID *Found = NULL;
  for (UINTN Index = 0; Index < Count && Found == NULL; Index++) {
    EFI_SIMPLE_NETWORK_PROTOCOL *Network = NULL;
    if (IsIpv6Child(Handles[Index]) ||
        EFI_ERROR(Boot->HandleProtocol(Handles[Index], &EfiSimpleNetworkProtocolGuid, (VOID **)&Network))) {
      continue;
    }
    UINT32 AddressSize = Network->Mode->HwAddressSize;
    if (AddressSize == 0 || AddressSize > sizeof(EFI_MAC_ADDRESS)) {
      continue;
    }
    if (Network->Mode->CurrentAddress.Addr[AddressSize - 1] == NicNumber) {
      Boot->HandleProtocol(Handles[Index], &EfiPxeBaseCodeProtocolGuid, &Found);
    }
  }
  Release(Handles);
  return Found;
}
} // namespace

UINTN ConnectAllControllers() {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(Boot->LocateHandleBuffer(AllHandles, NULL, NULL, &Count, &Handles))) {
    return 0;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    UINT64 Start = ReadCycles();
    Boot->ConnectController(Handles[Index], NULL, NULL, TRUE);
    UINT64 Elapsed = MicrosecondsSince(Start);
    if (Elapsed > 100000) {
      TRANSCRIPT_LINE Line;
      LineStart(Line, "runner: slow connect of handle ");
      AppendUnsigned(Line, Index);
      AppendElapsed(Line, Elapsed);
      Emit(Line);
    }
  }
  Release(Handles);
  return Count;
}

UINTN CountPublishedPxe() {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(Boot->LocateHandleBuffer(ByProtocol, &EfiPxeBaseCodeProtocolGuid, NULL, &Count, &Handles))) {
    return 0;
  }
  Release(Handles);
  return Count;
}

EFI_STATUS PublishPxeVariant(UINTN NicNumber) {
  if (VariantInterface != NULL) {
    EFI_STATUS Status =
        Boot->UninstallProtocolInterface(VariantHandle, &PxeBaseCodeVariantProtocolGuid, VariantInterface);
    if (EFI_ERROR(Status)) {
      return Status;
    }
    VariantHandle = NULL;
    VariantInterface = NULL;
  }
  if (NicNumber == 0) {
    return EFI_SUCCESS;
  }
  VOID *Pxe = FindPxeOfCard(NicNumber);
  if (Pxe == NULL) {
    return EFI_NOT_FOUND;
  }
  EFI_HANDLE Handle = NULL;
  EFI_STATUS Status =
      Boot->InstallProtocolInterface(&Handle, &PxeBaseCodeVariantProtocolGuid, EFI_NATIVE_INTERFACE, Pxe);
  if (!EFI_ERROR(Status)) {
    VariantHandle = Handle;
    VariantInterface = Pxe;
  }
  return Status;
}

VOID *PublishedPxe() { return VariantInterface; }

} // namespace Runner
