/* Slot 2: the numbered file download. */
#include "PxeTftp.h"
#include "TolvaneDriver.h"

namespace {
/* The name of file FileNumber of the recorded identifier, in FileNameBuffer. */
CHAR8 *BuildNumberedFileName(UINTN FileNumber) {
  FormatNumberedFileName(ServiceState.MachineId, FileNumber, ServiceState.FileNameBuffer,
                         sizeof(ServiceState.FileNameBuffer));
  return ServiceState.FileNameBuffer;
}
} // namespace

/* Slot 2; what callers may rely on is in Include/Protocol/TolvaneService.h. */
EFI_STATUS EFIAPI FetchNumberedFile(TOLVANE_SERVICE_PROTOCOL *, UINTN FileNumber, VOID *FileBuffer,
                                    UINTN *FileBufferSize) {
  if (FileBufferSize == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  UINT64 FileSize = 0;
  EFI_STATUS Status = TftpTransfer(EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, &FileSize, NULL,
                                   &ServiceState.ServerAddress, BuildNumberedFileName(FileNumber), NULL, TRUE);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (*FileBufferSize < FileSize || FileBuffer == NULL) {
    *FileBufferSize = FileSize;
    return EFI_OUT_OF_RESOURCES;
  }
  // The read asks for the size the query reported, not the caller's capacity.
  UINTN BlockSize = TFTP_BLOCK_SIZE;
  Status = TftpTransfer(EFI_PXE_BASE_CODE_TFTP_READ_FILE, FileBuffer, FALSE, &FileSize, &BlockSize,
                        &ServiceState.ServerAddress, BuildNumberedFileName(FileNumber), NULL, FALSE);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  *FileBufferSize = FileSize;
  return EFI_SUCCESS;
}
