/* The field tool's argument checks: addresses, identifiers and numbers as typed at the Shell. */
#include "ToolArguments.h"

namespace {
bool IsDigit(CHAR16 Character) { return Character >= u'0' && Character <= u'9'; }

/* Reads a run of at most MaxDigits digits at *Text, no greater than Limit; moves *Text behind it. */
bool ReadDecimal(const CHAR16 **Text, UINTN MaxDigits, UINTN Limit, UINTN *Value) {
  UINTN Digits = 0;
  UINTN Number = 0;
  while (IsDigit(**Text)) {
    if (++Digits > MaxDigits) {
      return false;
    }
    Number = Number * 10 + (UINTN)(**Text - u'0');
    (*Text)++;
  }
  if (Digits == 0 || Number > Limit) {
    return false;
  }
  *Value = Number;
  return true;
}
} // namespace

bool ParseIpv4Address(const CHAR16 *Text, EFI_IP_ADDRESS *Address) {
  EFI_IP_ADDRESS Parsed = {};
  for (UINTN Field = 0; Field < 4; Field++) {
    UINTN Value;
    if (Field != 0 && *Text++ != u'.') {
      return false;
    }
    if (!ReadDecimal(&Text, 3, 255, &Value)) {
      return false;
    }
    Parsed.v4.Addr[Field] = (UINT8)Value;
  }
  if (*Text != 0) {
    return false;
  }
  *Address = Parsed;
  return true;
}

bool ParseIdentifier(const CHAR16 *Text, CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH + 1]) {
  CHAR8 Parsed[TOLVANE_IDENTIFIER_LENGTH + 1] = {};
  UINTN Length = 0;
  for (; Text[Length] != 0; Length++) {
    if (Length == TOLVANE_IDENTIFIER_LENGTH || Text[Length] <= u' ' || Text[Length] > u'~') {
      return false;
    }
    Parsed[Length] = (CHAR8)Text[Length];
  }
  if (Length == 0) {
    return false;
  }
  for (UINTN Index = 0; Index <= TOLVANE_IDENTIFIER_LENGTH; Index++) {
    Identifier[Index] = Parsed[Index];
  }
  return true;
}

bool ParseNumber(const CHAR16 *Text, UINTN Limit, UINTN *Value) {
  UINTN Parsed;
  // Nineteen digits always fit a UINTN, so the limit is checked against the true value.
  if (!ReadDecimal(&Text, 19, Limit, &Parsed) || *Text != 0) {
    return false;
  }
  *Value = Parsed;
  return true;
}
