/* x86 I/O port access for the runner: the serial read-back and the debug console. */
#include "Runner.h"

namespace Runner {

UINT8 ReadPort(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

VOID WritePort(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %0, %1" : : "a"(Value), "Nd"(Port)); }

} // namespace Runner
