/*
 * Pool memory: allocate, duplicate, resize, release. NULL is the only sign
 * of a failed allocation. Blocks carry no size; callers keep it. The public
 * operations always take EfiBootServicesData.
 */
#ifndef TOLVANE_LIBRARY_POOL_LIB_H
#define TOLVANE_LIBRARY_POOL_LIB_H

#include "Uefi/Uefi.h"

/* Size bytes, not cleared; NULL on failure. */
[[nodiscard]] VOID *PoolAlloc(UINTN Size);
/* A new block holding the first Size bytes of Source; NULL on failure. */
[[nodiscard]] VOID *PoolDuplicate(const VOID *Source, UINTN Size);
/*
 * A new block of NewSize bytes holding the first min(OldSize, NewSize) bytes
 * of OldBuffer (which may be NULL), the rest cleared; OldBuffer is released.
 * On failure NULL, and OldBuffer stays the caller's, unchanged.
 */
[[nodiscard]] VOID *PoolResize(VOID *OldBuffer, UINTN OldSize, UINTN NewSize);
/* Returns Buffer to the pool; the status of FreePool. Buffer must not be NULL. */
EFI_STATUS PoolRelease(VOID *Buffer);

/* The typed cores behind the operations above. */
[[nodiscard]] VOID *PoolAllocOfType(EFI_MEMORY_TYPE Type, UINTN Size);
[[nodiscard]] VOID *PoolAllocZeroedOfType(EFI_MEMORY_TYPE Type, UINTN Size);
[[nodiscard]] VOID *PoolDuplicateOfType(EFI_MEMORY_TYPE Type, const VOID *Source, UINTN Size);
[[nodiscard]] VOID *PoolResizeOfType(EFI_MEMORY_TYPE Type, VOID *OldBuffer, UINTN OldSize, UINTN NewSize);

#endif
