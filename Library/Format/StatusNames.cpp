/* The UEFI names of the status values of Library/StatusNames.h, for transcripts that name them. */
#include "Library/StatusNames.h"

namespace {
struct STATUS_NAME {
  EFI_STATUS Status;
  const CHAR8 *Name;
};

#define TOLVANE_STATUS_NAME_ROW(Status, Text) {Status, #Status},
#define TOLVANE_STATUS_NAME_ONLY_ROW(Status) {Status, #Status},
const STATUS_NAME StatusNames[] = {TOLVANE_EFI_STATUS_TEXT_ROWS(TOLVANE_STATUS_NAME_ROW)
                                       TOLVANE_EFI_STATUS_NAME_ONLY_ROWS(TOLVANE_STATUS_NAME_ONLY_ROW)};
#undef TOLVANE_STATUS_NAME_ROW
#undef TOLVANE_STATUS_NAME_ONLY_ROW
} // namespace

const CHAR8 *EfiStatusName(EFI_STATUS Status) {
  for (const STATUS_NAME &Entry : StatusNames) {
    if (Entry.Status == Status) {
      return Entry.Name;
    }
  }
  return NULL;
}
