/* Line parameters of the first serial port, set once at start-up. */
#include "PortIo.h"
#include "TolvaneDriver.h"

namespace {
constexpr UINT16 SerialPortBase = 0x3F8;
constexpr UINT64 SerialBaudRate = 115200;
constexpr UINT8 SerialDataBits = 8;
constexpr UINT8 SerialStopBits = 1;
constexpr UINT8 SerialParity = 0;
constexpr UINT8 SerialBreakControl = 0;

constexpr UINT16 LineControlRegister = 3;
constexpr UINT16 DivisorHighRegister = 1;
constexpr UINT16 DivisorLowRegister = 0;
constexpr UINT8 DivisorLatchAccess = 0x80;
} // namespace

/*
 * Programs divisor and line control of the UART at SerialPortBase with four
 * 8-bit writes. Nothing is read back: the writes are made whether or not a
 * UART answers. Always EFI_SUCCESS.
 */
EFI_STATUS ProgramSerialPort(EFI_HANDLE, EFI_SYSTEM_TABLE *) {
  constexpr UINT64 Divisor = 115200 / SerialBaudRate;
  constexpr UINT8 LineControl =
      (UINT8)((SerialDataBits - 5) | (SerialStopBits << 2) | (SerialParity << 3) | (SerialBreakControl << 6));
  static_assert(Divisor == 1 && LineControl == 0x07, "115200 baud, line control 0x07");

  WritePortByte(SerialPortBase + LineControlRegister, LineControl | DivisorLatchAccess);
  WritePortByte(SerialPortBase + DivisorHighRegister, (UINT8)(Divisor >> 8));
  WritePortByte(SerialPortBase + DivisorLowRegister, (UINT8)(Divisor & 0xFF));
  WritePortByte(SerialPortBase + LineControlRegister, LineControl);
  return EFI_SUCCESS;
}
