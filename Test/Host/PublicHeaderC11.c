/* A C caller of the public protocol header: it must compile as C11. */
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

typedef char SlotCountCheck[sizeof(TOLVANE_SERVICE_PROTOCOL) == 5 * sizeof(void *) ? 1 : -1];
