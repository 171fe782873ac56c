/* The firmware double's tables and its pool; the handle database and events have files of their own. */
#include "Double/FirmwareDouble.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace FirmwareDouble {

namespace {
Firmware *ActiveFirmware = nullptr;
}

std::string GuidText(const EFI_GUID &Guid) {
  char Text[40];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Guid.Data1, Guid.Data2,
                Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2], Guid.Data4[3], Guid.Data4[4], Guid.Data4[5],
                Guid.Data4[6], Guid.Data4[7]);
  return Text;
}

Firmware::Firmware() : Previous(ActiveFirmware) {
  BootServices.Hdr.Signature = 0x56524553544f4f42ULL; // "BOOTSERV"
  BootServices.AllocatePool = AllocatePool;
  BootServices.FreePool = FreePool;
  BootServices.LocateProtocol = LocateProtocol;
  BootServices.InstallMultipleProtocolInterfaces = InstallMultipleProtocolInterfaces;
  BootServices.UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfaces;
  BootServices.InstallProtocolInterface = InstallProtocolInterface;
  BootServices.UninstallProtocolInterface = UninstallProtocolInterface;
  BootServices.ReinstallProtocolInterface = ReinstallProtocolInterface;
  BootServices.HandleProtocol = HandleProtocol;
  BootServices.OpenProtocol = OpenProtocol;
  BootServices.CloseProtocol = CloseProtocol;
  BootServices.OpenProtocolInformation = OpenProtocolInformation;
  BootServices.ProtocolsPerHandle = ProtocolsPerHandle;
  BootServices.LocateHandle = LocateHandle;
  BootServices.LocateHandleBuffer = LocateHandleBuffer;
  BootServices.LocateDevicePath = LocateDevicePath;
  BootServices.RegisterProtocolNotify = RegisterProtocolNotify;
  BootServices.ConnectController = ConnectController;
  BootServices.DisconnectController = DisconnectController;
  BootServices.CreateEvent = CreateEvent;
  BootServices.CreateEventEx = CreateEventEx;
  BootServices.CloseEvent = CloseEvent;
  BootServices.SignalEvent = SignalEvent;
  SystemTable.Hdr.Signature = 0x5453595320494249ULL; // "IBI SYST"
  SystemTable.BootServices = &BootServices;
  SystemTable.RuntimeServices = &RuntimeServices;
  RuntimeServices.GetVariable = GetVariable;
  RuntimeServices.SetVariable = SetVariable;
  FirmwareAgent = NewHandle();
  ImageHandleValue = NewHandle();
  ActiveFirmware = this;
}

Firmware::~Firmware() {
  // Whatever a test leaked is reported by Leaks(); free it here so the sanitizers stay quiet about the double.
  for (auto &Entry : LiveBlocks) {
    std::free(const_cast<VOID *>(Entry.first));
  }
  ActiveFirmware = Previous;
}

Firmware *Firmware::Current() { return ActiveFirmware; }

size_t Firmware::BlockSize(const VOID *Buffer) const {
  auto Found = LiveBlocks.find(Buffer);
  return Found == LiveBlocks.end() ? 0 : Found->second.Size;
}

std::vector<std::string> Firmware::Leaks() const {
  std::vector<std::string> Result;
  for (const auto &Entry : LiveBlocks) {
    Result.push_back("block of " + std::to_string(Entry.second.Size) + " bytes from allocation " +
                     std::to_string(Entry.second.Number));
  }
  return Result;
}

long Firmware::FirstEvent(const std::string &Prefix) const {
  for (size_t Index = 0; Index < Events.size(); Index++) {
    if (Events[Index].rfind(Prefix, 0) == 0) {
      return (long)Index;
    }
  }
  return -1;
}

EFI_STATUS EFIAPI Firmware::AllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  Firmware &Self = *ActiveFirmware;
  size_t Number = ++Self.Allocations;
  if (!Self.QuietPool) {
    Self.AllocationTypes.push_back(Type);
    Self.AllocationSizes.push_back(Size);
    Self.Record("AllocatePool " + std::to_string(Size));
  }
  if (Number == Self.FailingAllocation || (Self.FailingFrom != 0 && Number >= Self.FailingFrom)) {
    // Leave junk behind, as a careless firmware might: callers must go by the status.
    *Buffer = reinterpret_cast<VOID *>(0xBAD0BAD0);
    return EFI_OUT_OF_RESOURCES;
  }
  size_t Live = 0;
  if (Self.PoolCapacity) {
    for (const auto &Item : Self.LiveBlocks) {
      Live += Item.second.Size;
    }
  }
  VOID *Block = nullptr;
  if (!Self.PoolCapacity || (Size <= *Self.PoolCapacity && Live <= *Self.PoolCapacity - Size)) {
    Block = std::malloc(Size == 0 ? 1 : Size);
  }
  if (Block == nullptr) {
    // The host or the capacity cannot give it: fail as firmware does, with the caller's pointer untouched.
    return EFI_OUT_OF_RESOURCES;
  }
  std::memset(Block, PoisonByte, Size);
  Self.LiveBlocks[Block] = {Size, Type, Number};
  Self.LiveSize += Size;
  Self.PeakSize = std::max(Self.PeakSize, Self.LiveSize);
  *Buffer = Block;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::FreePool(VOID *Buffer) {
  Firmware &Self = *ActiveFirmware;
  if (!Self.QuietPool) {
    Self.Record("FreePool");
  }
  auto Found = Self.LiveBlocks.find(Buffer);
  if (Found == Self.LiveBlocks.end()) {
    char Text[64];
    std::snprintf(Text, sizeof(Text), "FreePool of %p, not a live block", Buffer);
    Self.Errors.push_back(Text);
    return EFI_INVALID_PARAMETER;
  }
  Self.LiveSize -= Found->second.Size;
  Self.LiveBlocks.erase(Found);
  std::free(Buffer);
  return EFI_SUCCESS;
}

} // namespace FirmwareDouble
