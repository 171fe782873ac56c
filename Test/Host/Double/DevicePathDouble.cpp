/* Device paths for host tests: the node builder, the text form and the converter protocol. */
#include "Double/DevicePathDouble.h"

#include <cstdio>
#include <cstring>

#include "Protocol/DevicePath.h"

namespace FirmwareDouble {

namespace {
constexpr EFI_GUID DevicePathToTextGuid = EFI_DEVICE_PATH_TO_TEXT_PROTOCOL_GUID;

std::u16string Wide(const std::string &Text) { return std::u16string(Text.begin(), Text.end()); }

std::vector<UINT8> GuidBytes(const EFI_GUID &Guid) {
  std::vector<UINT8> Bytes(sizeof(EFI_GUID));
  std::memcpy(Bytes.data(), &Guid, sizeof(EFI_GUID));
  return Bytes;
}

/* The text of one node; Data points behind its four-byte header. */
std::u16string NodeText(UINT8 Type, UINT8 SubType, const UINT8 *Data, size_t Length) {
  char Text[96];
  if (Type == 2 && SubType == 1) {
    UINT32 Uid;
    std::memcpy(&Uid, Data + 4, 4);
    std::snprintf(Text, sizeof(Text), "PciRoot(0x%X)", Uid);
  } else if (Type == 1 && SubType == 1) {
    std::snprintf(Text, sizeof(Text), "Pci(0x%X,0x%X)", Data[1], Data[0]);
  } else if (Type == MESSAGING_DEVICE_PATH && SubType == 11) {
    std::snprintf(Text, sizeof(Text), "MAC(%02X%02X%02X%02X%02X%02X,0x%X)", Data[0], Data[1], Data[2], Data[3], Data[4],
                  Data[5], Data[32]);
  } else if (Type == MESSAGING_DEVICE_PATH && SubType == MSG_IPv4_DP) {
    std::snprintf(Text, sizeof(Text), "IPv4(0.0.0.0)");
  } else if (Type == MEDIA_DEVICE_PATH && SubType == MEDIA_FILEPATH_DP) {
    std::u16string Path(reinterpret_cast<const char16_t *>(Data), (Length - 4) / 2);
    return Path.substr(0, Path.find(u'\0'));
  } else if (Type == MEDIA_DEVICE_PATH && (SubType == 6 || SubType == 7)) {
    EFI_GUID Guid;
    std::memcpy(&Guid, Data, sizeof(Guid));
    std::snprintf(Text, sizeof(Text), "%s(%s)", SubType == 6 ? "FvFile" : "Fv", GuidText(Guid).c_str());
  } else {
    std::snprintf(Text, sizeof(Text), "Path(%u,%u)", Type, SubType);
  }
  return Wide(Text);
}

CHAR16 *EFIAPI ConvertPath(const EFI_DEVICE_PATH_PROTOCOL *Path, BOOLEAN, BOOLEAN) {
  std::u16string Text = DevicePathText(Path);
  VOID *Buffer;
  if (EFI_ERROR(Firmware::Current()->Services()->AllocatePool(EfiBootServicesData, (Text.size() + 1) * 2, &Buffer))) {
    return nullptr;
  }
  std::memcpy(Buffer, Text.c_str(), (Text.size() + 1) * 2);
  return static_cast<CHAR16 *>(Buffer);
}
} // namespace

DevicePathDouble::DevicePathDouble() : Bytes{END_DEVICE_PATH_TYPE, END_ENTIRE_DEVICE_PATH_SUBTYPE, 4, 0} {}

DevicePathDouble &DevicePathDouble::Node(UINT8 Type, UINT8 SubType, const std::vector<UINT8> &Data) {
  size_t Length = Data.size() + 4;
  std::vector<UINT8> Node{Type, SubType, (UINT8)(Length & 0xFF), (UINT8)(Length >> 8)};
  Node.insert(Node.end(), Data.begin(), Data.end());
  Bytes.insert(Bytes.end() - 4, Node.begin(), Node.end());
  return *this;
}

DevicePathDouble &DevicePathDouble::PciRoot(UINT32 Uid) {
  return Node(2, 1, {0xD0, 0x41, 0x03, 0x0A, (UINT8)Uid, (UINT8)(Uid >> 8), (UINT8)(Uid >> 16), (UINT8)(Uid >> 24)});
}

DevicePathDouble &DevicePathDouble::Pci(UINT8 Device, UINT8 Function) { return Node(1, 1, {Function, Device}); }

DevicePathDouble &DevicePathDouble::Mac(UINT8 LastByte) {
  std::vector<UINT8> Data(33, 0);
  const UINT8 Address[6] = {0x52, 0x54, 0x00, 0x00, 0x00, LastByte};
  std::memcpy(Data.data(), Address, 6);
  Data[32] = 1;
  return Node(MESSAGING_DEVICE_PATH, 11, Data);
}

DevicePathDouble &DevicePathDouble::Ipv4() { return Node(MESSAGING_DEVICE_PATH, MSG_IPv4_DP, std::vector<UINT8>(23)); }

DevicePathDouble &DevicePathDouble::File(const std::u16string &Path) {
  std::vector<UINT8> Data((Path.size() + 1) * 2, 0);
  std::memcpy(Data.data(), Path.data(), Path.size() * 2);
  return Node(MEDIA_DEVICE_PATH, MEDIA_FILEPATH_DP, Data);
}

DevicePathDouble &DevicePathDouble::Fv(const EFI_GUID &Guid) { return Node(MEDIA_DEVICE_PATH, 7, GuidBytes(Guid)); }

DevicePathDouble &DevicePathDouble::FvFile(const EFI_GUID &Guid) { return Node(MEDIA_DEVICE_PATH, 6, GuidBytes(Guid)); }

std::u16string DevicePathText(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Path);
  std::u16string Text;
  while (Bytes[0] != END_DEVICE_PATH_TYPE) {
    size_t Length = Bytes[2] | (Bytes[3] << 8);
    if (Length < 4) {
      break;
    }
    if (!Text.empty()) {
      Text.push_back(u'/');
    }
    Text.append(NodeText(Bytes[0], Bytes[1], Bytes + 4, Length));
    Bytes += Length;
  }
  return Text;
}

DevicePathToTextDouble::DevicePathToTextDouble() {
  Protocol.ConvertDeviceNodeToText = ConvertPath;
  Protocol.ConvertDevicePathToText = ConvertPath;
}

EFI_HANDLE DevicePathToTextDouble::Publish(Firmware &Target) { return Target.Publish(DevicePathToTextGuid, &Protocol); }

} // namespace FirmwareDouble
