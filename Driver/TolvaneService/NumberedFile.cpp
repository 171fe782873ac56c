/* Slot 2: the numbered file download. */
#include "TolvaneService.h"

// Placeholder until the numbered file download lands.
EFI_STATUS EFIAPI FetchNumberedFile(TOLVANE_SERVICE_PROTOCOL *, UINTN, VOID *, UINTN *) { return EFI_UNSUPPORTED; }
