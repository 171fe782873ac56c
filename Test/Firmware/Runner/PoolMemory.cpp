/* Pool memory and byte helpers for the runner. */
#include "Runner.h"

namespace Runner {

VOID *Allocate(UINTN Size) {
  VOID *Buffer = NULL;
  if (EFI_ERROR(Boot->AllocatePool(EfiBootServicesData, Size, &Buffer))) {
    return NULL;
  }
  return Buffer;
}

VOID Release(VOID *Buffer) {
  if (Buffer != NULL) {
    Boot->FreePool(Buffer);
  }
}

VOID FillBytes(VOID *Buffer, UINTN Size, UINT8 Value) {
  UINT8 *Bytes = (UINT8 *)Buffer;
  for (UINTN Index = 0; Index < Size; Index++) {
    Bytes[Index] = Value;
  }
}

UINTN FirstDifference(const VOID *First, const VOID *Second, UINTN Size) {
  const UINT8 *Left = (const UINT8 *)First;
  const UINT8 *Right = (const UINT8 *)Second;
  for (UINTN Index = 0; Index < Size; Index++) {
    if (Left[Index] != Right[Index]) {
      return Index;
    }
  }
  return Size;
}

} // namespace Runner
