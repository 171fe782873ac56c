/* Pool memory operations over the firmware's AllocatePool and FreePool. */
#include "Library/FirmwareTables.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"

VOID *PoolAllocOfType(EFI_MEMORY_TYPE Type, UINTN Size) {
  VOID *Block = NULL;
  // The firmware may leave anything in Block on failure; NULL is our only failure sign.
  if (EFI_ERROR(BootServices->AllocatePool(Type, Size, &Block))) {
    return NULL;
  }
  return Block;
}

VOID *PoolAllocZeroedOfType(EFI_MEMORY_TYPE Type, UINTN Size) {
  VOID *Block = PoolAllocOfType(Type, Size);
  if (Block != NULL) {
    ClearBytes(Block, Size);
  }
  return Block;
}

VOID *PoolDuplicateOfType(EFI_MEMORY_TYPE Type, const VOID *Source, UINTN Size) {
  VOID *Block = PoolAllocOfType(Type, Size);
  if (Block != NULL) {
    MoveBytes(Block, Source, Size);
  }
  return Block;
}

VOID *PoolResizeOfType(EFI_MEMORY_TYPE Type, VOID *OldBuffer, UINTN OldSize, UINTN NewSize) {
  VOID *Block = PoolAllocZeroedOfType(Type, NewSize);
  if (Block != NULL && OldBuffer != NULL) {
    MoveBytes(Block, OldBuffer, OldSize < NewSize ? OldSize : NewSize);
    PoolRelease(OldBuffer);
  }
  return Block;
}

VOID *PoolAlloc(UINTN Size) { return PoolAllocOfType(EfiBootServicesData, Size); }

VOID *PoolDuplicate(const VOID *Source, UINTN Size) { return PoolDuplicateOfType(EfiBootServicesData, Source, Size); }

VOID *PoolResize(VOID *OldBuffer, UINTN OldSize, UINTN NewSize) {
  return PoolResizeOfType(EfiBootServicesData, OldBuffer, OldSize, NewSize);
}

EFI_STATUS PoolRelease(VOID *Buffer) { return BootServices->FreePool(Buffer); }
