/* The double's variable services: a store keyed by name and vendor GUID; writing no data deletes. */
#include <cstring>

#include "Double/FirmwareDouble.h"

namespace FirmwareDouble {

namespace {
std::u16string NameOf(const CHAR16 *Name) { return std::u16string(reinterpret_cast<const char16_t *>(Name)); }
} // namespace

EFI_STATUS EFIAPI Firmware::GetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 *Attributes, UINTN *Size,
                                        VOID *Data) {
  Firmware &Self = *Current();
  EFI_STATUS Status = Self.Enter("GetVariable");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Name == nullptr || Vendor == nullptr || Size == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = Self.Variables.find({NameOf(Name), GuidText(*Vendor)});
  if (Found == Self.Variables.end()) {
    return EFI_NOT_FOUND;
  }
  const auto &Bytes = Found->second.Data;
  if (*Size < Bytes.size() || Data == nullptr) {
    *Size = Bytes.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  std::memcpy(Data, Bytes.data(), Bytes.size());
  *Size = Bytes.size();
  if (Attributes != nullptr) {
    *Attributes = Found->second.Attributes;
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::SetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 Attributes, UINTN Size,
                                        const VOID *Data) {
  Firmware &Self = *Current();
  Self.Record("SetVariable");
  EFI_STATUS Status = Self.Enter("SetVariable");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Name == nullptr || Vendor == nullptr || (Size != 0 && Data == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  auto Key = std::make_pair(NameOf(Name), GuidText(*Vendor));
  if (Size == 0 || Attributes == 0) {
    return Self.Variables.erase(Key) != 0 ? EFI_SUCCESS : EFI_NOT_FOUND;
  }
  const auto *Bytes = static_cast<const UINT8 *>(Data);
  Self.Variables[Key] = {Attributes, std::vector<UINT8>(Bytes, Bytes + Size)};
  return EFI_SUCCESS;
}

} // namespace FirmwareDouble
