/* The driver's only hardware access: one 8-bit write to an x86 I/O port. */
#ifndef TOLVANE_DRIVER_PORT_IO_H
#define TOLVANE_DRIVER_PORT_IO_H

#include "Uefi/UefiBaseType.h"

VOID WritePortByte(UINT16 Port, UINT8 Value);

#endif
