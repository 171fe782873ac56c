#include "Double/TestValues.h"

#include <cstring>

EFI_IP_ADDRESS Ipv4(UINT8 A, UINT8 B, UINT8 C, UINT8 D) {
  EFI_IP_ADDRESS Address{};
  Address.v4.Addr[0] = A;
  Address.v4.Addr[1] = B;
  Address.v4.Addr[2] = C;
  Address.v4.Addr[3] = D;
  return Address;
}

bool SameAddress(const EFI_IP_ADDRESS &First, const EFI_IP_ADDRESS &Second) {
  return std::memcmp(&First, &Second, sizeof(EFI_IP_ADDRESS)) == 0;
}

std::u16string Widen(const std::string &Text) {
  std::u16string Wide;
  for (unsigned char Character : Text) {
    Wide.push_back(Character);
  }
  return Wide;
}

std::string Utf16Bytes(const std::u16string &Text, bool WithBom) {
  std::string Bytes = WithBom ? std::string("\xFF\xFE") : std::string();
  for (char16_t Unit : Text) {
    Bytes.push_back(static_cast<char>(Unit & 0xFF));
    Bytes.push_back(static_cast<char>(Unit >> 8));
  }
  return Bytes;
}
