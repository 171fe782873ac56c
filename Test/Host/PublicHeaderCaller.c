/*
 * A caller of the public protocol header, compiled as C and as C++ in every
 * language version the header promises, with and without a firmware kit's
 * base types included first (KIT_HEADER names the kit's header).
 */
#ifdef KIT_HEADER
#include KIT_HEADER
#endif
#include "Protocol/TolvaneService.h"

static EFI_GUID ProtocolGuid = TOLVANE_SERVICE_PROTOCOL_GUID;

UINTN CountEntries(TOLVANE_SERVICE_PROTOCOL *Service, EFI_IP_ADDRESS *Server, CHAR8 *Identifier);

UINTN CountEntries(TOLVANE_SERVICE_PROTOCOL *Service, EFI_IP_ADDRESS *Server, CHAR8 *Identifier) {
  CHAR16 Value[64];
  UINTN Size = 0;
  (void)ProtocolGuid;
  if (EFI_ERROR(Service->FetchConfiguration(Service, Server, Identifier))) {
    return 0;
  }
  (void)Service->GetEntry(Service, 0, Value, sizeof(Value));
  (void)Service->FetchNumberedFile(Service, 1, NULL, &Size);
  Size = Service->GetEntryCount(Service);
  (void)Service->ReleaseConfiguration(Service);
  return Size;
}

/* The layout and values a caller relies on, whichever base types it was built with. */
typedef char SlotCountCheck[sizeof(TOLVANE_SERVICE_PROTOCOL) == 5 * sizeof(void *) ? 1 : -1];
typedef char
    WidthCheck[sizeof(UINTN) == 8 && sizeof(CHAR16) == 2 && sizeof(CHAR8) == 1 && sizeof(BOOLEAN) == 1 ? 1 : -1];
typedef char RecordCheck[sizeof(EFI_GUID) == 16 && sizeof(EFI_IP_ADDRESS) == 16 ? 1 : -1];
typedef char
    StatusCheck[EFI_TFTP_ERROR == 0x8000000000000017ULL && EFI_BUFFER_TOO_SMALL == 0x8000000000000005ULL ? 1 : -1];
typedef char StepStatusCheck[TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_MEDIA) == EFI_LOAD_ERROR &&
                                     TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_SECTION) == 0x8000000000000005ULL &&
                                     EFI_ERROR(TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_PXE_DHCP))
                                 ? 1
                                 : -1];

/* A step's status is a constant a caller can switch on. */
int FailedStep(EFI_STATUS Status);

int FailedStep(EFI_STATUS Status) {
  switch (Status) {
  case TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_MEDIA):
    return TOLVANE_FETCH_STEP_MEDIA;
  case TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_SECTION):
    return TOLVANE_FETCH_STEP_SECTION;
  default:
    return 0;
  }
}
