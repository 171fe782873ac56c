/* Port output on real hardware: one OUT instruction. */
#include "../PortIo.h"

VOID WritePortByte(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %0, %1" : : "a"(Value), "Nd"(Port)); }
