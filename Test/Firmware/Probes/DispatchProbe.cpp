/*
 * A measurement driver for the firmware volume: from the first dispatch round it watches the events a
 * volume-dispatched companion could use and, each time one fires, writes one line to the serial port
 * (so it falls in order among the firmware's and the Shell's console lines): the event, how many PCI
 * controllers and network-class controllers exist, and how many Simple Network instances. It connects
 * nothing. Not part of the package.
 */
#include "Library/FirmwareTables.h"
#include "Protocol/PciIo.h"
#include "Protocol/SimpleNetwork.h"

VOID WritePortByte(UINT16 Port, UINT8 Value);

namespace {
constexpr UINT16 SerialData = 0x3F8;
constexpr EFI_GUID PciIoGuid = EFI_PCI_IO_PROTOCOL_GUID;
constexpr EFI_GUID SimpleNetworkGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;
constexpr EFI_GUID EndOfDxeGroup = {0x02CE967A, 0xDD7E, 0x4FFC, {0x9E, 0xE7, 0x81, 0x0C, 0xF0, 0x47, 0x08, 0x80}};
constexpr EFI_GUID ReadyToBootGroup = {0x7CE88FB3, 0x4BD7, 0x4679, {0x87, 0xA8, 0xA8, 0xD8, 0xDE, 0xE5, 0x0D, 0x2B}};
constexpr EFI_GUID BdsArchGuid = {0x665E3FF6, 0x46CC, 0x11D4, {0x9A, 0x38, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D}};
constexpr EFI_GUID PciEnumerationCompleteGuid = {
    0x30CFE3E7, 0x3DE1, 0x4586, {0xBE, 0x20, 0xDE, 0xAB, 0xA1, 0xB3, 0xB7, 0x93}};

VOID Write(const char *Text) {
  while (*Text) {
    WritePortByte(SerialData, (UINT8)*Text++);
  }
}

VOID WriteNumber(UINTN Value) {
  char Digits[24];
  int Count = 0;
  do {
    Digits[Count++] = (char)('0' + Value % 10);
    Value /= 10;
  } while (Value);
  while (Count) {
    WritePortByte(SerialData, (UINT8)Digits[--Count]);
  }
}

UINTN CountHandles(const EFI_GUID *Guid, bool NetworkOnly) {
  UINTN Count = 0;
  EFI_HANDLE *Handles;
  if (EFI_ERROR(BootServices->LocateHandleBuffer(ByProtocol, Guid, NULL, &Count, &Handles))) {
    return 0;
  }
  UINTN Found = Count;
  if (NetworkOnly) {
    Found = 0;
    for (UINTN Index = 0; Index < Count; Index++) {
      EFI_PCI_IO_PROTOCOL *PciIo;
      UINT8 BaseClass;
      if (!EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &PciIoGuid, (VOID **)&PciIo)) &&
          !EFI_ERROR(PciIo->Pci.Read(PciIo, EfiPciIoWidthUint8, PCI_CLASS_CODE_BASE_OFFSET, 1, &BaseClass)) &&
          BaseClass == PCI_CLASS_NETWORK) {
        Found++;
      }
    }
  }
  BootServices->FreePool(Handles);
  return Found;
}

VOID EFIAPI Report(EFI_EVENT, VOID *Context) {
  Write("\r\n[probe] ");
  Write((const char *)Context);
  Write(": pci ");
  WriteNumber(CountHandles(&PciIoGuid, false));
  Write(" network ");
  WriteNumber(CountHandles(&PciIoGuid, true));
  Write(" snp ");
  WriteNumber(CountHandles(&SimpleNetworkGuid, false));
  Write("\r\n");
}

VOID *Registrations[3];

VOID Watch(const EFI_GUID *Protocol, const char *Name, UINTN Slot) {
  EFI_EVENT Event;
  if (!EFI_ERROR(BootServices->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Report, (VOID *)Name, &Event))) {
    BootServices->RegisterProtocolNotify(Protocol, Event, &Registrations[Slot]);
  }
}

VOID Group(const EFI_GUID *Group, const char *Name) {
  EFI_EVENT Event;
  BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Report, (VOID *)Name, Group, &Event);
}
} // namespace

extern "C" EFI_STATUS EFIAPI DispatchProbeEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;
  Report(NULL, (VOID *)"entry");
  Watch(&BdsArchGuid, "BDS architectural protocol", 0);
  Watch(&PciEnumerationCompleteGuid, "PCI enumeration complete protocol", 1);
  Watch(&PciIoGuid, "PCI I/O protocol", 2);
  Group(&EndOfDxeGroup, "End-of-DXE group");
  Group(&ReadyToBootGroup, "ReadyToBoot group");
  return EFI_SUCCESS;
}
