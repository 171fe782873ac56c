/* Names of firmware things as the person at the machine sees them: device paths and image files. */
#include "Protocol/DevicePath.h"
#include "Protocol/DevicePathToText.h"
#include "Protocol/LoadedImage.h"
#include "TolvaneTool.h"

namespace {

/* Writes Path as text; Missing when there is no path or no converter. */
VOID PrintPath(const EFI_DEVICE_PATH_PROTOCOL *Path, const CHAR16 *Missing) {
  EFI_DEVICE_PATH_TO_TEXT_PROTOCOL *ToText;
  CHAR16 *Text = NULL;
  if (Path != NULL &&
      !EFI_ERROR(BootServices->LocateProtocol(&EfiDevicePathToTextProtocolGuid, NULL, (VOID **)&ToText))) {
    Text = ToText->ConvertDevicePathToText(Path, FALSE, FALSE);
  }
  if (Text == NULL) {
    WriteConsole(Missing);
    return;
  }
  WriteConsole(Text);
  BootServices->FreePool(Text);
}
} // namespace

UINTN HandlesWith(const EFI_GUID &Guid, EFI_HANDLE **Handles) {
  UINTN Count = 0;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, &Guid, NULL, &Count, Handles))) {
    *Handles = NULL;
    return 0;
  }
  return Count;
}

VOID PrintDevicePath(EFI_HANDLE Handle) {
  EFI_DEVICE_PATH_PROTOCOL *Path = NULL;
  BootServices->HandleProtocol(Handle, &EfiDevicePathProtocolGuid, (VOID **)&Path);
  PrintPath(Path, u"(no device path)");
}

namespace {
/* The loaded image whose memory holds Address, or NULL. */
EFI_LOADED_IMAGE_PROTOCOL *ImageHolding(const VOID *Address) {
  EFI_HANDLE *Handles;
  UINTN Count = HandlesWith(EfiLoadedImageProtocolGuid, &Handles);
  EFI_LOADED_IMAGE_PROTOCOL *Holder = NULL;
  for (UINTN Index = 0; Index < Count && Holder == NULL; Index++) {
    EFI_LOADED_IMAGE_PROTOCOL *Image;
    if (!EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &EfiLoadedImageProtocolGuid, (VOID **)&Image)) &&
        (UINTN)Address >= (UINTN)Image->ImageBase && (UINTN)Address - (UINTN)Image->ImageBase < Image->ImageSize) {
      Holder = Image;
    }
  }
  if (Handles != NULL) {
    BootServices->FreePool(Handles);
  }
  return Holder;
}
} // namespace

bool IsInFirmwareVolume(const VOID *Address) {
  EFI_LOADED_IMAGE_PROTOCOL *Holder = ImageHolding(Address);
  if (Holder == NULL || Holder->FilePath == NULL) {
    return false;
  }
  // Node by node, bounded by each node's own length: a malformed length ends the walk.
  const UINT8 *Node = reinterpret_cast<const UINT8 *>(Holder->FilePath);
  for (UINTN Nodes = 0; Node[0] != END_DEVICE_PATH_TYPE && Nodes < 64; Nodes++) {
    if (Node[0] == MEDIA_DEVICE_PATH && Node[1] == MEDIA_PIWG_FW_FILE_DP) {
      return true;
    }
    UINTN Length = Node[2] | (Node[3] << 8);
    if (Length < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return false;
    }
    Node += Length;
  }
  return false;
}

VOID PrintImageHolding(const VOID *Address) {
  EFI_LOADED_IMAGE_PROTOCOL *Holder = ImageHolding(Address);
  if (Holder == NULL) {
    WriteConsole(u"(not in a loaded image)");
    return;
  }
  PrintPath(Holder->FilePath, u"(an image without a file path)");
  if (IsInFirmwareVolume(Address)) {
    WriteConsole(u", in the platform's firmware volume");
  }
}
