/*
 * The texts of the status values the engine prints by name, from the one
 * table of Library/StatusNames.h, packed one after the other, each with its
 * NUL: one string, no table of pointers (and no relocation per name) in the
 * image.
 */
#include "FormatInternal.h"
#include "Library/StatusNames.h"

#define TOLVANE_STATUS_TEXT_ROW(Status, Text) Text "\0"
const CHAR8 StatusTexts[] = TOLVANE_EFI_STATUS_TEXT_ROWS(TOLVANE_STATUS_TEXT_ROW);
#undef TOLVANE_STATUS_TEXT_ROW

namespace {
#define TOLVANE_STATUS_VALUE_ROW(Status, Text) Status,
constexpr EFI_STATUS TextRowValues[] = {TOLVANE_EFI_STATUS_TEXT_ROWS(TOLVANE_STATUS_VALUE_ROW)};
#undef TOLVANE_STATUS_VALUE_ROW

/* The engine finds a text by its row: success and warnings at their codes, error N at row N + 4. */
constexpr bool RowsInValueOrder() {
  for (UINTN Row = 0; Row < STATUS_TEXT_COUNT; Row++) {
    EFI_STATUS Expected = Row <= 4 ? (EFI_STATUS)Row : ENCODE_ERROR(Row - 4);
    if (TextRowValues[Row] != Expected) {
      return false;
    }
  }
  return true;
}
static_assert(sizeof(TextRowValues) / sizeof(TextRowValues[0]) == STATUS_TEXT_COUNT, "one text per row");
static_assert(RowsInValueOrder(), "status text rows in the order of their values");
} // namespace
