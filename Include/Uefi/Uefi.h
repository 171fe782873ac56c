/* Everything a component of ours needs to talk to the firmware core. */
#ifndef TOLVANE_UEFI_H
#define TOLVANE_UEFI_H

#include "Uefi/UefiBaseType.h"
#include "Uefi/UefiTables.h"

#endif
