/* Slots 3 to 5: entry lookup, entry count and release of the section. */
#include "EntryScan.h"
#include "Library/PoolLib.h"
#include "TolvaneDriver.h"

/*
 * TRUE when the held section has a line whose first token is Index in
 * decimal; its value is copied into Value when it fits ValueSize bytes.
 * FALSE when no section is held or no line matches.
 */
BOOLEAN EFIAPI GetEntry(TOLVANE_SERVICE_PROTOCOL *, UINTN Index, CHAR16 *Value, UINTN ValueSize) {
  return ScanEntry(&ServiceState.SectionReader, Index, Value, ValueSize);
}

/* The number of consecutive entries 0, 1, 2, ... that GetEntry finds, from one scan of the section. */
UINTN EFIAPI GetEntryCount(TOLVANE_SERVICE_PROTOCOL *) { return CountEntries(&ServiceState.SectionReader); }

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
