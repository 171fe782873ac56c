/* Slot 1: the configuration fetch. */
#include "TolvaneService.h"

// Placeholder until the configuration fetch lands (network access and section lookup).
EFI_STATUS EFIAPI FetchConfiguration(TOLVANE_SERVICE_PROTOCOL *, EFI_IP_ADDRESS *, CHAR8 *) { return EFI_UNSUPPORTED; }
