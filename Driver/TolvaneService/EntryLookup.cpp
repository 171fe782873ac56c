/* Slots 3 to 5: entry lookup, entry count and release of the section. */
#include "TolvaneService.h"

// Placeholder until the entry lookup lands.
BOOLEAN EFIAPI GetEntry(TOLVANE_SERVICE_PROTOCOL *, UINTN, CHAR16 *, UINTN) { return FALSE; }

// Placeholder until the entry count lands.
UINTN EFIAPI GetEntryCount(TOLVANE_SERVICE_PROTOCOL *) { return 0; }

// Placeholder until the release of the section lands.
EFI_STATUS EFIAPI ReleaseConfiguration(TOLVANE_SERVICE_PROTOCOL *) { return EFI_UNSUPPORTED; }
