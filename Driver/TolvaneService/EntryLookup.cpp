/*
 * Slots 3 to 5: entry lookup, entry count and release of the section. What
 * callers may rely on is in Include/Protocol/TolvaneService.h.
 */
#include "EntryScan.h"
#include "Library/PoolLib.h"
#include "TolvaneDriver.h"

BOOLEAN EFIAPI GetEntry(TOLVANE_SERVICE_PROTOCOL *, UINTN Index, CHAR16 *Value, UINTN ValueSize) {
  return ScanEntry(&ServiceState.SectionReader, Index, Value, ValueSize);
}

/* One scan of the section, however many entries it holds. */
UINTN EFIAPI GetEntryCount(TOLVANE_SERVICE_PROTOCOL *) { return CountEntries(&ServiceState.SectionReader); }

/* The emptied reader is what makes a second release, and every read until the next fetch, find nothing. */
EFI_STATUS EFIAPI ReleaseConfiguration(TOLVANE_SERVICE_PROTOCOL *) {
  TextReader &Section = ServiceState.SectionReader;
  if (Section.Buffer == NULL) {
    return EFI_SUCCESS;
  }
  EFI_STATUS Status = PoolRelease(Section.Buffer);
  Section = {};
  return Status;
}
