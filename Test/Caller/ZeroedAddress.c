/*
 * A caller that zero-initialises its server address and tells the failed
 * step by the header's step statuses: at the default optimisation the
 * compiler zeroes the address with a call to memset.
 */
#include "Protocol/TolvaneService.h"

EFI_STATUS EFIAPI CallerMain(EFI_HANDLE ImageHandle, TOLVANE_SERVICE_PROTOCOL *Service);

EFI_STATUS EFIAPI CallerMain(EFI_HANDLE ImageHandle, TOLVANE_SERVICE_PROTOCOL *Service) {
  EFI_IP_ADDRESS Server = {0};
  CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH] = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};
  (void)ImageHandle;
  Server.v4.Addr[0] = 10;
  Server.v4.Addr[3] = 2;
  EFI_STATUS Status = Service->FetchConfiguration(Service, &Server, Identifier);
  if (Status == TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_SECTION)) {
    return EFI_NOT_FOUND;
  }
  return Status;
}
