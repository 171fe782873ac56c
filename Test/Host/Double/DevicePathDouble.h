/*
 * Device paths for host tests: built node by node (PCI, MAC, IPv4, file,
 * firmware volume and firmware-volume file), written as text the way the
 * firmware's converter writes them, and a Device Path To Text protocol
 * whose answers are pool blocks, as firmware hands them out.
 */
#ifndef TOLVANE_TEST_DEVICE_PATH_DOUBLE_H
#define TOLVANE_TEST_DEVICE_PATH_DOUBLE_H

#include <string>
#include <vector>

#include "Double/FirmwareDouble.h"
#include "Protocol/DevicePathToText.h"

namespace FirmwareDouble {

class DevicePathDouble {
public:
  DevicePathDouble();
  DevicePathDouble &PciRoot(UINT32 Uid);
  DevicePathDouble &Pci(UINT8 Device, UINT8 Function);
  DevicePathDouble &Mac(UINT8 LastByte);
  DevicePathDouble &Ipv4();
  DevicePathDouble &File(const std::u16string &Path);
  DevicePathDouble &Fv(const EFI_GUID &Guid);
  DevicePathDouble &FvFile(const EFI_GUID &Guid);
  /* The path, end node included; valid until the next node is added. */
  EFI_DEVICE_PATH_PROTOCOL *Path() { return reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(Bytes.data()); }

private:
  DevicePathDouble &Node(UINT8 Type, UINT8 SubType, const std::vector<UINT8> &Data);
  std::vector<UINT8> Bytes;
};

/* "PciRoot(0x0)/Pci(0x3,0x0)/MAC(525400000003,0x1)", "Fv(...)/FvFile(...)", a file node's own text. */
std::u16string DevicePathText(const EFI_DEVICE_PATH_PROTOCOL *Path);

class DevicePathToTextDouble {
public:
  DevicePathToTextDouble();
  EFI_HANDLE Publish(Firmware &Target);
  EFI_DEVICE_PATH_TO_TEXT_PROTOCOL Protocol{};
};

} // namespace FirmwareDouble

#endif
