/* The link check: a fresh MediaPresent reading through the Simple Network interface. */
#include "MediaDetect.h"

#include "Library/FirmwareTables.h"
#include "Library/PoolLib.h"
#include "Protocol/SimpleNetwork.h"

namespace {

constexpr EFI_GUID SimpleNetworkProtocolGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;

/*
 * Stopped: Start, Initialize, read the link, Shutdown, and Stop on every
 * path. The status of Start when it fails, EFI_DEVICE_ERROR when Initialize
 * fails, otherwise the status of Initialize.
 */
EFI_STATUS DetectFromStopped(EFI_SIMPLE_NETWORK_PROTOCOL *Snp, BOOLEAN *MediaPresent) {
  EFI_STATUS Status = Snp->Start(Snp);
  if (!EFI_ERROR(Status)) {
    Status = Snp->Initialize(Snp, 0, 0);
    if (EFI_ERROR(Status)) {
      Status = EFI_DEVICE_ERROR;
    } else {
      *MediaPresent = Snp->Mode->MediaPresent;
      // Taking the interface back down is best effort; the reading is already made.
      (VOID) Snp->Shutdown(Snp);
    }
  }
  (VOID) Snp->Stop(Snp);
  return Status;
}

/*
 * Started: Initialize, read the link, Shutdown. EFI_DEVICE_ERROR when
 * Initialize fails (the interface stays Started), otherwise its status.
 */
EFI_STATUS DetectFromStarted(EFI_SIMPLE_NETWORK_PROTOCOL *Snp, BOOLEAN *MediaPresent) {
  EFI_STATUS Status = Snp->Initialize(Snp, 0, 0);
  if (EFI_ERROR(Status)) {
    return EFI_DEVICE_ERROR;
  }
  *MediaPresent = Snp->Mode->MediaPresent;
  (VOID) Snp->Shutdown(Snp);
  return Status;
}

/*
 * Initialized: save the receive filters and the multicast list, take the
 * interface down to Stopped and back up to Initialized, read the link and
 * restore the filters. The status of ReceiveFilters, or of the first call
 * that failed (the interface is then left where that call left it), or
 * EFI_OUT_OF_RESOURCES before anything is touched when the multicast list
 * cannot be copied.
 */
EFI_STATUS DetectFromInitialized(EFI_SIMPLE_NETWORK_PROTOCOL *Snp, BOOLEAN *MediaPresent) {
  UINT32 EnableBits = Snp->Mode->ReceiveFilterSetting;
  UINT32 DisableBits = Snp->Mode->ReceiveFilterMask ^ Snp->Mode->ReceiveFilterSetting;
  UINTN FilterCount = Snp->Mode->MCastFilterCount;
  BOOLEAN ResetMulticast = TRUE;
  // Owned here; released on every path below once it exists.
  EFI_MAC_ADDRESS *FilterCopy = NULL;
  if (FilterCount != 0) {
    FilterCopy =
        static_cast<EFI_MAC_ADDRESS *>(PoolDuplicate(Snp->Mode->MCastFilter, FilterCount * sizeof(EFI_MAC_ADDRESS)));
    if (FilterCopy == NULL) {
      // Without the copy the list could not be restored; better not to cycle the interface at all.
      return EFI_OUT_OF_RESOURCES;
    }
    ResetMulticast = FALSE;
  }

  EFI_STATUS Status = Snp->Shutdown(Snp);
  if (!EFI_ERROR(Status)) {
    Status = Snp->Stop(Snp);
  }
  if (!EFI_ERROR(Status)) {
    Status = Snp->Start(Snp);
  }
  if (!EFI_ERROR(Status)) {
    Status = Snp->Initialize(Snp, 0, 0);
  }
  if (!EFI_ERROR(Status)) {
    *MediaPresent = Snp->Mode->MediaPresent;
    Status = Snp->ReceiveFilters(Snp, EnableBits, DisableBits, ResetMulticast, FilterCount, FilterCopy);
  }

  if (FilterCopy != NULL) {
    PoolRelease(FilterCopy);
  }
  return Status;
}

using StateDetector = EFI_STATUS (*)(EFI_SIMPLE_NETWORK_PROTOCOL *Snp, BOOLEAN *MediaPresent);

// Indexed by the State of the interface as found.
constexpr StateDetector DetectorByState[] = {DetectFromStopped, DetectFromStarted, DetectFromInitialized};

static_assert(sizeof(DetectorByState) / sizeof(DetectorByState[0]) == EfiSimpleNetworkMaxState,
              "one detector per Simple Network state");

} // namespace

/*
 * Locates the Simple Network interface and reads a fresh MediaPresent into
 * *MediaPresent by passing the interface through Initialize, leaving it in
 * the state it was found in. The status of LocateProtocol when it fails,
 * EFI_UNSUPPORTED when the interface cannot report media, EFI_DEVICE_ERROR
 * for an unknown state; otherwise the status of the state's path.
 */
EFI_STATUS DetectMediaPresent(BOOLEAN *MediaPresent) {
  VOID *Interface = NULL;
  EFI_STATUS Status = BootServices->LocateProtocol(&SimpleNetworkProtocolGuid, NULL, &Interface);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  auto *Snp = static_cast<EFI_SIMPLE_NETWORK_PROTOCOL *>(Interface);
  if (!Snp->Mode->MediaPresentSupported) {
    return EFI_UNSUPPORTED;
  }
  UINT32 State = Snp->Mode->State;
  if (State > EfiSimpleNetworkInitialized) {
    return EFI_DEVICE_ERROR;
  }
  return DetectorByState[State](Snp, MediaPresent);
}
