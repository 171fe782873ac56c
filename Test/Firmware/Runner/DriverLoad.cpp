/* Loading driver images from the volume and finding the service interface. */
#include "Runner.h"

namespace Runner {
namespace {
const EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;
} // namespace

const CHAR8 DriverFolder[] = "\\EFI\\Tolvane\\";

VOID DriverImagePath(const CHAR8 *ImageName, CHAR8 *Path, UINTN Capacity) {
  const CHAR8 *Parts[] = {DriverFolder, ImageName};
  UINTN Length = 0;
  for (const CHAR8 *Part : Parts) {
    for (; *Part != 0 && Length + 1 < Capacity; Part++) {
      Path[Length++] = *Part;
    }
  }
  Path[Length] = 0;
}

EFI_DEVICE_PATH_PROTOCOL *DriverFolderDevicePath(const CHAR8 *ImageName, UINTN *Size) {
  CHAR8 Path[128];
  DriverImagePath(ImageName, Path, sizeof(Path));
  return VolumeFileDevicePath(Path, Size);
}

EFI_STATUS LoadServiceDriver(const CHAR8 *ImageName, EFI_STATUS *StartStatus) {
  *StartStatus = EFI_NOT_STARTED;
  UINTN PathSize = 0;
  EFI_DEVICE_PATH_PROTOCOL *DevicePath = DriverFolderDevicePath(ImageName, &PathSize);
  if (DevicePath == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  // The firmware reads the file itself, so its security check sees where the image came from.
  EFI_HANDLE DriverImage = NULL;
  EFI_STATUS Status = Boot->LoadImage(FALSE, OwnImage, DevicePath, NULL, 0, &DriverImage);
  Release(DevicePath);
  if (EFI_ERROR(Status)) {
    // A deferred refusal still hands back an image, which nothing may start: unload it.
    if (Status == EFI_SECURITY_VIOLATION && DriverImage != NULL) {
      Boot->UnloadImage(DriverImage);
    }
    return Status;
  }
  *StartStatus = Boot->StartImage(DriverImage, NULL, NULL);
  return Status;
}

UINTN CountServiceHandles() {
  UINTN Count = 0;
  EFI_HANDLE *Handles = NULL;
  if (EFI_ERROR(Boot->LocateHandleBuffer(ByProtocol, &ServiceGuid, NULL, &Count, &Handles))) {
    return 0;
  }
  Release(Handles);
  return Count;
}

TOLVANE_SERVICE_PROTOCOL *LocateService(EFI_STATUS *Status) {
  TOLVANE_SERVICE_PROTOCOL *Service = NULL;
  *Status = Boot->LocateProtocol(&ServiceGuid, NULL, (VOID **)&Service);
  return EFI_ERROR(*Status) ? NULL : Service;
}

} // namespace Runner
