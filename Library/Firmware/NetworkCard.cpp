/* Which card a network handle belongs to: the nearest Simple Network on its device path. */
#include "Library/NetworkCard.h"

#include "Library/FirmwareTables.h"
#include "Protocol/DevicePath.h"
#include "Protocol/SimpleNetwork.h"

namespace {
constexpr EFI_GUID DevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;
constexpr EFI_GUID SimpleNetworkGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;
} // namespace

bool IsOnCard(EFI_HANDLE Handle, const VOID *Network) {
  EFI_DEVICE_PATH_PROTOCOL *Path;
  EFI_HANDLE CardHandle;
  VOID *CardNetwork;
  // LocateDevicePath moves Path along; it is a copy of the handle's pointer, so nothing else sees it move.
  if (EFI_ERROR(BootServices->HandleProtocol(Handle, &DevicePathGuid, (VOID **)&Path)) ||
      EFI_ERROR(BootServices->LocateDevicePath(&SimpleNetworkGuid, &Path, &CardHandle)) ||
      EFI_ERROR(BootServices->HandleProtocol(CardHandle, &SimpleNetworkGuid, &CardNetwork))) {
    return false;
  }
  return CardNetwork == Network;
}
