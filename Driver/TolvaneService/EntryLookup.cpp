/* Slots 3 to 5: entry lookup, entry count and release of the section. */
#include "Library/PoolLib.h"
#include "TolvaneService.h"

// Placeholder until the entry lookup lands.
BOOLEAN EFIAPI GetEntry(TOLVANE_SERVICE_PROTOCOL *, UINTN, CHAR16 *, UINTN) { return FALSE; }

// Placeholder until the entry count lands.
UINTN EFIAPI GetEntryCount(TOLVANE_SERVICE_PROTOCOL *) { return 0; }

/*
 * Returns the section's buffer to the pool and empties the reader, so that
 * until the next successful fetch there is nothing to read or release twice.
 * The status of the release, or EFI_SUCCESS when no section is held.
 */
EFI_STATUS EFIAPI ReleaseConfiguration(TOLVANE_SERVICE_PROTOCOL *) {
  TextReader &Section = ServiceState.SectionReader;
  if (Section.Buffer == NULL) {
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = PoolRelease(Section.Buffer);
  Section = {};
  return Status;
}
