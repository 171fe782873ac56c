/* Boot services for host tools: AllocatePool and FreePool over the C heap. */
#include "HostPlatform.h"

#include <cstdlib>

#include "Library/FirmwareTables.h"

namespace RivariCheck {

namespace {

/* A block from the C heap; EFI_OUT_OF_RESOURCES when the heap has none. */
EFI_STATUS EFIAPI HostAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  // malloc(0) may answer NULL, which the pool's callers would take for exhaustion.
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  return *Buffer == nullptr ? EFI_OUT_OF_RESOURCES : EFI_SUCCESS;
}

/* Returns a block to the C heap; always EFI_SUCCESS. */
EFI_STATUS EFIAPI HostFreePool(VOID *Buffer) {
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_BOOT_SERVICES HostBootServices;

} // namespace

void InstallHostPlatform() {
  HostBootServices.AllocatePool = HostAllocatePool;
  HostBootServices.FreePool = HostFreePool;
  BootServices = &HostBootServices;
}

} // namespace RivariCheck
