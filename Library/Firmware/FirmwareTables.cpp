/* The firmware tables, zero at load; the driver's start-up captures them, every firmware call reads them. */
#include "Library/FirmwareTables.h"

EFI_HANDLE ImageHandle;
EFI_SYSTEM_TABLE *SystemTable;
EFI_BOOT_SERVICES *BootServices;
EFI_RUNTIME_SERVICES *RuntimeServices;
