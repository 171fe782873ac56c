/* Files on the volume the runner was loaded from: whole reads, and device paths that name them. */
#include "Protocol/DevicePath.h"
#include "Protocol/LoadedImage.h"
#include "Protocol/SimpleFileSystem.h"
#include "Runner.h"

namespace Runner {
namespace {
constexpr UINTN MaxPathUnits = 256;

/* The handle of the runner's own volume; returns the failing status. */
EFI_STATUS OwnVolumeHandle(EFI_HANDLE *Volume) {
  EFI_LOADED_IMAGE_PROTOCOL *LoadedImage = NULL;
  EFI_STATUS Status = Boot->HandleProtocol(OwnImage, &EfiLoadedImageProtocolGuid, (VOID **)&LoadedImage);
  if (!EFI_ERROR(Status)) {
    *Volume = LoadedImage->DeviceHandle;
  }
  return Status;
}

/* Opens the root directory of the runner's own volume; returns the failing status. */
EFI_STATUS OpenOwnVolume(EFI_FILE_PROTOCOL **Root) {
  EFI_HANDLE Volume = NULL;
  EFI_STATUS Status = OwnVolumeHandle(&Volume);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *FileSystem = NULL;
  Status = Boot->HandleProtocol(Volume, &EfiSimpleFileSystemProtocolGuid, (VOID **)&FileSystem);
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

/* Widens Path into WidePath (MaxPathUnits units); returns the number of units before the terminator. */
UINTN WidenPath(const CHAR8 *Path, CHAR16 *WidePath) {
  UINTN Length = 0;
  while (Path[Length] != 0 && Length + 1 < MaxPathUnits) {
    WidePath[Length] = (CHAR16)(UINT8)Path[Length];
    Length++;
  }
  WidePath[Length] = 0;
  return Length;
}

/* Size in bytes of a device path without its end node; stops at the end node or at a malformed node. */
UINTN DevicePathSizeBeforeEnd(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  UINTN Size = 0;
  for (;;) {
    UINTN NodeSize = DevicePathNodeSize(Node);
    if (Node->Type == END_DEVICE_PATH_TYPE || NodeSize < sizeof(EFI_DEVICE_PATH_PROTOCOL)) {
      return Size;
    }
    Size += NodeSize;
    Node = (const EFI_DEVICE_PATH_PROTOCOL *)((const UINT8 *)Node + NodeSize);
  }
}

VOID SetNode(EFI_DEVICE_PATH_PROTOCOL *Node, UINT8 Type, UINT8 SubType, UINTN Size) {
  Node->Type = Type;
  Node->SubType = SubType;
  Node->Length[0] = (UINT8)(Size & 0xFF);
  Node->Length[1] = (UINT8)(Size >> 8);
}
} // namespace

UINTN DevicePathNodeSize(const EFI_DEVICE_PATH_PROTOCOL *Node) {
  return (UINTN)Node->Length[0] | ((UINTN)Node->Length[1] << 8);
}

EFI_DEVICE_PATH_PROTOCOL *VolumeFileDevicePath(const CHAR8 *Path, UINTN *Size) {
  EFI_HANDLE Volume = NULL;
  EFI_DEVICE_PATH_PROTOCOL *VolumePath = NULL;
  if (EFI_ERROR(OwnVolumeHandle(&Volume)) ||
      EFI_ERROR(Boot->HandleProtocol(Volume, &EfiDevicePathProtocolGuid, (VOID **)&VolumePath))) {
    return NULL;
  }
  CHAR16 WidePath[MaxPathUnits];
  UINTN FileNodeSize = sizeof(EFI_DEVICE_PATH_PROTOCOL) + (WidenPath(Path, WidePath) + 1) * sizeof(CHAR16);
  UINTN Prefix = DevicePathSizeBeforeEnd(VolumePath);
  UINTN Total = Prefix + FileNodeSize + sizeof(EFI_DEVICE_PATH_PROTOCOL);
  UINT8 *Result = (UINT8 *)Allocate(Total);
  if (Result == NULL) {
    return NULL;
  }
  const UINT8 *From = (const UINT8 *)VolumePath;
  for (UINTN Index = 0; Index < Prefix; Index++) {
    Result[Index] = From[Index];
  }
  EFI_DEVICE_PATH_PROTOCOL *FileNode = (EFI_DEVICE_PATH_PROTOCOL *)(Result + Prefix);
  SetNode(FileNode, MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, FileNodeSize);
  const UINT8 *WideBytes = (const UINT8 *)WidePath;
  for (UINTN Index = 0; Index < FileNodeSize - sizeof(EFI_DEVICE_PATH_PROTOCOL); Index++) {
    Result[Prefix + sizeof(EFI_DEVICE_PATH_PROTOCOL) + Index] = WideBytes[Index];
  }
  SetNode((EFI_DEVICE_PATH_PROTOCOL *)(Result + Prefix + FileNodeSize), END_DEVICE_PATH_TYPE,
          END_ENTIRE_DEVICE_PATH_SUBTYPE, sizeof(EFI_DEVICE_PATH_PROTOCOL));
  *Size = Total;
  return (EFI_DEVICE_PATH_PROTOCOL *)Result;
}

EFI_STATUS ReadVolumeFile(const CHAR8 *Path, VOID **Buffer, UINTN *Size) {
  CHAR16 WidePath[MaxPathUnits];
  WidenPath(Path, WidePath);

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
