/* Port output on the host: recorded into the active firmware double, in the shared event log. */
#include <cstdio>

#include "Double/FirmwareDouble.h"
#include "PortIo.h"

VOID WritePortByte(UINT16 Port, UINT8 Value) {
  FirmwareDouble::Firmware *Active = FirmwareDouble::Firmware::Current();
  if (Active == nullptr) {
    return;
  }
  Active->PortWrites.push_back({Port, Value});
  char Text[40];
  std::snprintf(Text, sizeof(Text), "PortWrite 0x%03X 0x%02X", Port, Value);
  Active->Record(Text);
}
