/* Slot 1: the configuration fetch, from link check to the machine's section held in memory. */
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "MediaDetect.h"
#include "PxeTftp.h"
#include "TolvaneDriver.h"

namespace {

enum FetchStep : UINTN {
  FetchStepMedia = TOLVANE_FETCH_STEP_MEDIA,
  FetchStepPxeDhcp = TOLVANE_FETCH_STEP_PXE_DHCP,
  FetchStepStationAddress = TOLVANE_FETCH_STEP_STATION_ADDRESS,
  FetchStepSizeQuery = TOLVANE_FETCH_STEP_SIZE_QUERY,
  FetchStepSection = TOLVANE_FETCH_STEP_SECTION,
};

constexpr EFI_STATUS StepFailed(FetchStep Step) { return ENCODE_ERROR(Step); }

/* Records the server and the identifier, widened, in the service state. */
VOID RecordCaller(const EFI_IP_ADDRESS *Server, const CHAR8 *Identifier) {
  MoveBytes(&ServiceState.ServerAddress, Server, sizeof(EFI_IP_ADDRESS));
  RecordMachineId(Identifier, ServiceState.MachineId);
}

/*
 * Finds the machine's section in the Size bytes at Text and makes it the
 * SectionReader, releasing the section held before. EFI_SUCCESS, or the
 * step 5 status with the earlier section left in place.
 */
EFI_STATUS KeepMachineSection(const VOID *Text, UINTN Size) {
  TextReader Found = {};
  if (EFI_ERROR(FindMachineSection(Text, Size, &Found))) {
    return StepFailed(FetchStepSection);
  }
  if (ServiceState.SectionReader.Buffer != NULL) {
    PoolRelease(ServiceState.SectionReader.Buffer);
  }
  ServiceState.SectionReader = Found;
  return EFI_SUCCESS;
}

/*
 * Downloads the configuration file from the recorded server into a pool
 * buffer of its own size, keeps the machine's section, and releases the
 * buffer. The step 4 status when the size query fails, EFI_OUT_OF_RESOURCES
 * when the buffer cannot be had, the read's own status when it fails, the
 * step 5 status when the section is not found.
 */
EFI_STATUS DownloadConfiguration() {
  UINT64 FileSize = 0;
  EFI_STATUS Status = TftpTransfer(EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, &FileSize, NULL,
                                   &ServiceState.ServerAddress, ConfigFileName, NULL, TRUE);
  if (EFI_ERROR(Status)) {
    return StepFailed(FetchStepSizeQuery);
  }

  // Owned here; released on every path below.
  UINT64 Capacity = FileSize;
  VOID *DownloadBuffer = PoolAlloc(Capacity);
  if (DownloadBuffer == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN BlockSize = TFTP_BLOCK_SIZE;
  Status = TftpTransfer(EFI_PXE_BASE_CODE_TFTP_READ_FILE, DownloadBuffer, FALSE, &FileSize, &BlockSize,
                        &ServiceState.ServerAddress, ConfigFileName, NULL, FALSE);
  if (EFI_ERROR(Status)) {
    PoolRelease(DownloadBuffer);
    return Status;
  }

  // The read reports the bytes received; never trust it past the buffer we hold.
  UINT64 Received = FileSize <= Capacity ? FileSize : Capacity;
  Status = KeepMachineSection(DownloadBuffer, Received);
  PoolRelease(DownloadBuffer);
  return Status;
}

} // namespace

/* Slot 1; what callers may rely on is in Include/Protocol/TolvaneService.h. */
EFI_STATUS EFIAPI FetchConfiguration(TOLVANE_SERVICE_PROTOCOL *, EFI_IP_ADDRESS *Server, CHAR8 *Identifier) {
  if (Server == NULL || Identifier == NULL) {
    return EFI_INVALID_PARAMETER;
  }
  RecordCaller(Server, Identifier);

  BOOLEAN MediaPresentFlag = FALSE;
  EFI_STATUS Status = DetectMediaPresent(&MediaPresentFlag);
  if (EFI_ERROR(Status) || MediaPresentFlag != TRUE) {
    return StepFailed(FetchStepMedia);
  }

  // One retry: the first attempt's status is dropped.
  if (EFI_ERROR(PxeStartDhcp()) && EFI_ERROR(PxeStartDhcp())) {
    return StepFailed(FetchStepPxeDhcp);
  }

  // Only the status counts; nothing reads the address.
  EFI_IP_ADDRESS StationAddress;
  if (EFI_ERROR(GetStationAddress(&StationAddress))) {
    return StepFailed(FetchStepStationAddress);
  }

  return DownloadConfiguration();
}
