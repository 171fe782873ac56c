/* Loading the driver image from the volume and finding its interface. */
#include "Runner.h"

namespace Runner {
namespace {
const EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;
const CHAR8 DriverPath[] = "\\TolvaneService.efi";
} // namespace

EFI_STATUS LoadServiceDriver(EFI_STATUS *StartStatus) {
  *StartStatus = EFI_NOT_STARTED;
  VOID *Image = NULL;
  UINTN ImageSize = 0;
  EFI_STATUS Status = ReadVolumeFile(DriverPath, &Image, &ImageSize);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_HANDLE DriverImage = NULL;
  Status = Boot->LoadImage(FALSE, OwnImage, NULL, Image, ImageSize, &DriverImage);
  Release(Image);
  if (EFI_ERROR(Status)) {
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
