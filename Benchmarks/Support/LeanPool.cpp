/* The lean host pool: the C heap behind the driver's AllocatePool and FreePool. */
#include "Support/LeanPool.h"

#include <cstdlib>

#include "Library/FirmwareTables.h"

namespace LeanPool {
namespace {

std::size_t Allocations = 0;

EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  Allocations++;
  // malloc(0) may answer NULL; firmware hands out a block for a zero-size request.
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  return *Buffer == nullptr ? EFI_OUT_OF_RESOURCES : EFI_SUCCESS;
}

EFI_STATUS EFIAPI FreePool(VOID *Buffer) {
  std::free(Buffer);
  return EFI_SUCCESS;
}

EFI_BOOT_SERVICES Services{};
EFI_SYSTEM_TABLE Table{};

} // namespace

void Install() {
  Services.AllocatePool = AllocatePool;
  Services.FreePool = FreePool;
  Table.BootServices = &Services;
  SystemTable = &Table;
  BootServices = &Services;
}

std::size_t AllocationCount() { return Allocations; }

} // namespace LeanPool
