/*
 * The firmware tables captured once at start-up. Every firmware call of the
 * driver goes through BootServices.
 */
#ifndef TOLVANE_LIBRARY_FIRMWARE_TABLES_H
#define TOLVANE_LIBRARY_FIRMWARE_TABLES_H

#include "Uefi/Uefi.h"

extern EFI_HANDLE ImageHandle;
extern EFI_SYSTEM_TABLE *SystemTable;
extern EFI_BOOT_SERVICES *BootServices;
extern EFI_RUNTIME_SERVICES *RuntimeServices;

#endif
