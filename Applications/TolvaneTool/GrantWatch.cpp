/* The block size a TFTP server grants to a read, as the PXE Base Code's callback is shown the packets received. */
#include "Protocol/DevicePath.h"
#include "Protocol/PxeBaseCodeCallback.h"
#include "TolvaneTool.h"

namespace {
constexpr UINT8 TftpData = 3;
constexpr UINT8 TftpOptionAcknowledgement = 6;
// A server that acknowledges no block size option sends the block size of RFC 1350.
constexpr UINTN TftpDefaultBlockSize = 512;
constexpr UINTN LargestOptionValue = 65535;

/* The callback interface and what it saw: the firmware hands the interface back, so the record starts with it. */
struct GRANT_WATCH {
  EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL Protocol;
  UINTN Granted;
};

/* The value of the blksize option (any case) in an option acknowledgement of Length bytes; 0 when it has none. */
UINTN BlockSizeOption(const UINT8 *Packet, UINTN Length) {
  UINTN Offset = 2;
  while (Offset < Length) {
    // One option: its name, a zero byte, its decimal value, a zero byte.
    UINTN Name = Offset;
    while (Offset < Length && Packet[Offset] != 0) {
      Offset++;
    }
    bool IsBlockSize = Offset - Name == 7;
    for (UINTN Index = 0; IsBlockSize && Index < 7; Index++) {
      IsBlockSize = (Packet[Name + Index] | 0x20) == "blksize"[Index];
    }
    UINTN Value = 0;
    for (Offset++; Offset < Length && Packet[Offset] != 0; Offset++) {
      UINT8 Digit = (UINT8)(Packet[Offset] - '0');
      IsBlockSize = IsBlockSize && Digit <= 9 && Value <= LargestOptionValue;
      Value = Value * 10 + Digit;
    }
    Offset++;
    if (IsBlockSize) {
      return Value;
    }
  }
  return 0;
}

/*
 * Shown each packet; a read's first answer tells the grant. The function
 * the firmware names is not tested: OVMF names its reads' packets DHCP.
 */
EFI_PXE_BASE_CODE_CALLBACK_STATUS EFIAPI SeePacket(EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *This,
                                                   EFI_PXE_BASE_CODE_FUNCTION, BOOLEAN Received, UINT32 PacketLen,
                                                   EFI_PXE_BASE_CODE_PACKET *Packet) {
  GRANT_WATCH *Watch = (GRANT_WATCH *)This;
  // An option acknowledgement names the grant; data before one comes in RFC 1350's blocks.
  if (Received && Packet != NULL && PacketLen >= 4 && Packet->Raw[0] == 0 && Watch->Granted == 0) {
    if (Packet->Raw[1] == TftpOptionAcknowledgement) {
      Watch->Granted = BlockSizeOption(Packet->Raw, PacketLen);
    } else if (Packet->Raw[1] == TftpData) {
      Watch->Granted = TftpDefaultBlockSize;
    }
  }
  return EFI_PXE_BASE_CODE_CALLBACK_STATUS_CONTINUE;
}

GRANT_WATCH Watch = {{EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL_REVISION, SeePacket}, 0};
EFI_HANDLE WatchedHandle;
} // namespace

bool WatchGrants(EFI_PXE_BASE_CODE_PROTOCOL *Pxe) {
  // Callbacks already on are another program's: left alone.
  if (Pxe->Mode->MakeCallbacks) {
    return false;
  }
  /*
   * The firmware takes the callback from a handle of its own choosing (OVMF:
   * another handle of the card's with the same IPv4 device path, not the one
   * holding the PXE Base Code): each device handle is tried until
   * SetParameters accepts.
   */
  EFI_HANDLE *Handles;
  UINTN Count = HandlesWith(EfiDevicePathProtocolGuid, &Handles);
  BOOLEAN On = TRUE;
  for (UINTN Index = 0; Index < Count && WatchedHandle == NULL; Index++) {
    EFI_HANDLE Handle = Handles[Index];
    if (EFI_ERROR(BootServices->InstallProtocolInterface(&Handle, &EfiPxeBaseCodeCallbackProtocolGuid,
                                                         EFI_NATIVE_INTERFACE, &Watch.Protocol))) {
      continue;
    }
    if (EFI_ERROR(Pxe->SetParameters(Pxe, NULL, NULL, NULL, NULL, &On))) {
      BootServices->UninstallProtocolInterface(Handle, &EfiPxeBaseCodeCallbackProtocolGuid, &Watch.Protocol);
    } else {
      WatchedHandle = Handle;
    }
  }
  if (Handles != NULL) {
    BootServices->FreePool(Handles);
  }
  return WatchedHandle != NULL;
}

UINTN TakeGrant() {
  UINTN Granted = Watch.Granted;
  Watch.Granted = 0;
  return Granted;
}

VOID StopWatchingGrants(EFI_PXE_BASE_CODE_PROTOCOL *Pxe) {
  if (WatchedHandle != NULL) {
    // Off before the interface goes, so that the firmware never calls a callback that is gone.
    BOOLEAN Off = FALSE;
    Pxe->SetParameters(Pxe, NULL, NULL, NULL, NULL, &Off);
    BootServices->UninstallProtocolInterface(WatchedHandle, &EfiPxeBaseCodeCallbackProtocolGuid, &Watch.Protocol);
    WatchedHandle = NULL;
  }
}
