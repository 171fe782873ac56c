/*
 * A firmware double for host tests: a real EFI_SYSTEM_TABLE whose boot
 * services are ours. The pool tracks every live block, poisons new blocks
 * and fails allocations on demand; LocateProtocol answers from a registry
 * that tests fill; installations and port writes are recorded. One event
 * log, in call order, across port writes and firmware calls.
 *
 * One double is active at a time (the firmware's functions are plain
 * function pointers and find it through Current()).
 */
#ifndef TOLVANE_TEST_FIRMWARE_DOUBLE_H
#define TOLVANE_TEST_FIRMWARE_DOUBLE_H

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Uefi/Uefi.h"

namespace FirmwareDouble {

inline constexpr UINT8 PoisonByte = 0xAF;

std::string GuidText(const EFI_GUID &Guid);

struct PoolBlock {
  size_t Size;
  EFI_MEMORY_TYPE Type;
  size_t Number; // 1 for the first allocation of the double's life
};

struct PublishedInterface {
  EFI_GUID Guid;
  EFI_HANDLE Handle;
  VOID *Interface;
};

struct InstallCall {
  EFI_HANDLE HandleBefore;
  EFI_HANDLE HandleAfter;
  std::vector<std::pair<EFI_GUID, VOID *>> Interfaces;
};

struct PortWrite {
  UINT16 Port;
  UINT8 Value;
};

class Firmware {
public:
  Firmware();
  ~Firmware();
  Firmware(const Firmware &) = delete;
  Firmware &operator=(const Firmware &) = delete;

  static Firmware *Current();

  EFI_SYSTEM_TABLE *Table() { return &SystemTable; }
  EFI_BOOT_SERVICES *Services() { return &BootServices; }
  EFI_HANDLE Image() { return ImageHandleValue; }

  // Pool control and inspection.
  void FailAllocationNumber(size_t Number) { FailingAllocation = Number; } // counted from 1, over the double's life
  void FailAllocationsFrom(size_t Number) { FailingFrom = Number; }        // this one and every later one
  void FailAllAllocations(bool Fail) { FailingFrom = Fail ? 1 : 0; }
  // The bytes the pool holds at most, live blocks together: a larger total fails as a small machine's pool would.
  std::optional<size_t> PoolCapacity;
  size_t AllocationCount() const { return Allocations; }
  size_t LiveBlockCount() const { return LiveBlocks.size(); }
  // Bytes in live blocks now, and the most there were since the last ForgetPoolPeak().
  size_t LiveBytes() const { return LiveSize; }
  size_t PoolPeak() const { return PeakSize; }
  void ForgetPoolPeak() { PeakSize = LiveSize; }
  const std::map<const VOID *, PoolBlock> &Blocks() const { return LiveBlocks; }
  bool IsLiveBlock(const VOID *Buffer) const { return LiveBlocks.count(Buffer) != 0; }
  size_t BlockSize(const VOID *Buffer) const;
  std::vector<std::string> Leaks() const;
  const std::vector<std::string> &PoolErrors() const { return Errors; }
  // For tests that make a bad free on purpose.
  void AcknowledgePoolErrors() { Errors.clear(); }
  // Pool calls still tracked and checked, but not logged: for tests that make millions of them.
  bool QuietPool = false;
  std::vector<EFI_MEMORY_TYPE> AllocationTypes;
  std::vector<size_t> AllocationSizes;

  // Protocol registry: the first interface published under a GUID is found first.
  EFI_HANDLE Publish(const EFI_GUID &Guid, VOID *Interface);
  std::vector<EFI_GUID> LocateCalls;
  std::vector<InstallCall> Installs;
  EFI_STATUS InstallStatus = EFI_SUCCESS; // what InstallMultipleProtocolInterfaces answers
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID &Guid) const;
  // The first interface under Guid, looked up without a firmware call being logged.
  VOID *Lookup(const EFI_GUID &Guid) const;

  // Port writes and the shared event log.
  std::vector<PortWrite> PortWrites;
  std::vector<std::string> Events;
  void Record(const std::string &Event) { Events.push_back(Event); }
  // Index of the first event starting with Prefix, or -1.
  long FirstEvent(const std::string &Prefix) const;

private:
  static EFI_STATUS EFIAPI AllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer);
  static EFI_STATUS EFIAPI FreePool(VOID *Buffer);
  static EFI_STATUS EFIAPI LocateProtocol(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
  static EFI_STATUS EFIAPI InstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...);

  EFI_HANDLE NewHandle();

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_HANDLE ImageHandleValue;
  std::map<const VOID *, PoolBlock> LiveBlocks;
  std::vector<std::string> Errors;
  std::vector<PublishedInterface> Registry;
  std::vector<std::unique_ptr<char>> Handles;
  size_t Allocations = 0;
  size_t LiveSize = 0;
  size_t PeakSize = 0;
  size_t FailingAllocation = 0;
  size_t FailingFrom = 0;
  Firmware *Previous;
};

} // namespace FirmwareDouble

#endif
