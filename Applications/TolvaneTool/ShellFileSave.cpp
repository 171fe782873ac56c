/* tolvane file N PATH: the downloaded file written to a Shell file system through the Shell's own file calls. */
#include "Protocol/Shell.h"
#include "TolvaneTool.h"

namespace {
constexpr UINT64 CreateMode = EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE | EFI_FILE_MODE_CREATE;
} // namespace

/*
 * An old file at Path is deleted first, so that a shorter download leaves
 * no tail of it behind. Returns the first failing call's status.
 */
EFI_STATUS SaveShellFile(const CHAR16 *Path, VOID *Buffer, UINTN Size) {
  EFI_SHELL_PROTOCOL *Shell;
  EFI_STATUS Status = BootServices->LocateProtocol(&EfiShellProtocolGuid, NULL, (VOID **)&Shell);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  SHELL_FILE_HANDLE File;
  if (!EFI_ERROR(Shell->OpenFileByName(Path, &File, EFI_FILE_MODE_READ | EFI_FILE_MODE_WRITE))) {
    // DeleteFile closes the handle whether or not the file goes.
    Status = Shell->DeleteFile(File);
    if (EFI_ERROR(Status)) {
      return Status;
    }
  }
  Status = Shell->OpenFileByName(Path, &File, CreateMode);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN Written = Size;
  Status = Shell->WriteFile(File, &Written, Buffer);
  if (!EFI_ERROR(Status) && Written != Size) {
    Status = EFI_VOLUME_FULL;
  }
  EFI_STATUS CloseStatus = Shell->CloseFile(File);
  return EFI_ERROR(Status) ? Status : CloseStatus;
}
