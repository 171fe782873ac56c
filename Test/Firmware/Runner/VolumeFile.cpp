/* Reading whole files from the volume the runner was loaded from. */
#include "Protocol/LoadedImage.h"
#include "Protocol/SimpleFileSystem.h"
#include "Runner.h"

namespace Runner {
namespace {
const EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
const EFI_GUID SimpleFileSystemGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
constexpr UINTN MaxPathUnits = 256;

/* Opens the root directory of the runner's own volume; returns the failing status. */
EFI_STATUS OpenOwnVolume(EFI_FILE_PROTOCOL **Root) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = Boot->HandleProtocol(OwnImage, &LoadedImageGuid, (VOID **)&LoadedImage);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = NULL;
  Status = Boot->HandleProtocol(LoadedImage->DeviceHandle, &SimpleFileSystemGuid, (VOID **)&FileSystem);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return FileSystem->OpenVolume(FileSystem, Root);
}

/* Reads the whole open file into a new buffer with a trailing 0 byte. */
EFI_STATUS ReadOpenFile(EFI_FILE_PROTOCOL *File, VOID **Buffer, UINTN *Size) {
  UINT64 End = 0;
  EFI_STATUS Status = File->SetPosition(File, ~0ULL);
  if (!EFI_ERROR(Status)) {
    Status = File->GetPosition(File, &End);
  }
  if (!EFI_ERROR(Status)) {
    Status = File->SetPosition(File, 0);
  }
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT8 *Data = (UINT8 *)Allocate((UINTN)End + 1);
  if (Data == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN ReadSize = (UINTN)End;
  Status = File->Read(File, &ReadSize, Data);
  if (EFI_ERROR(Status)) {
    Release(Data);
    return Status;
  }
  Data[ReadSize] = 0;
  *Buffer = Data;
  *Size = ReadSize;
  return EFI_SUCCESS;
}
} // namespace

EFI_STATUS ReadVolumeFile(const CHAR8 *Path, VOID **Buffer, UINTN *Size) {
  CHAR16 WidePath[MaxPathUnits];
  UINTN Length = 0;
  while (Path[Length] != 0 && Length + 1 < MaxPathUnits) {
    WidePath[Length] = (CHAR16)(UINT8)Path[Length];
    Length++;
  }
  WidePath[Length] = 0;

  EFI_FILE_PROTOCOL *Root = NULL;
  EFI_STATUS Status = OpenOwnVolume(&Root);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_FILE_PROTOCOL *File = NULL;
  Status = Root->Open(Root, &File, WidePath, EFI_FILE_MODE_READ, 0);
  if (!EFI_ERROR(Status)) {
    Status = ReadOpenFile(File, Buffer, Size);
    File->Close(File);
  }
  Root->Close(Root);
  return Status;
}

} // namespace Runner
