/*
 * A firmware double for host tests: a real EFI_SYSTEM_TABLE whose boot
 * services are ours. The pool tracks every live block, poisons new blocks
 * and fails allocations on demand. A handle database keeps the UEFI rules:
 * interfaces in installation order, open records, protocol notifications,
 * Driver Bindings run by ConnectController and DisconnectController, and
 * uninstalls refused while an agent keeps an interface BY_DRIVER. Events
 * run their notify functions when signalled, one at a time. Any service
 * call can be made to fail. One event log, in call order, across port
 * writes and firmware calls.
 *
 * One double is active at a time (the firmware's functions are plain
 * function pointers and find it through Current()).
 */
#ifndef TOLVANE_TEST_FIRMWARE_DOUBLE_H
#define TOLVANE_TEST_FIRMWARE_DOUBLE_H

#include <cstddef>
#include <deque>
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

/* One open of an interface, as OpenProtocolInformation reports it. */
struct OpenRecord {
  EFI_HANDLE Agent;
  EFI_HANDLE Controller;
  UINT32 Attributes;
  UINT32 OpenCount;
};

/* One interface on a handle; Order numbers installations over the double's life. */
struct ProtocolEntry {
  EFI_GUID Guid;
  VOID *Interface;
  size_t Order;
  std::vector<OpenRecord> Opens;
};

/* A handle: its interfaces; a handle left with none is gone (Valid false), as in firmware. */
struct HandleRecord {
  std::vector<ProtocolEntry> Protocols;
  bool Valid = true;
  bool Permanent = false; // the image handle and handles made by tests stay when emptied
};

struct EventRecord {
  UINT32 Type;
  EFI_TPL Tpl;
  EFI_EVENT_NOTIFY Notify;
  VOID *Context;
  bool Open = true;
  size_t Signals = 0;
  bool InGroup = false;
  EFI_GUID Group{}; // signalling one event of a group signals them all
};

/* A RegisterProtocolNotify registration: the handles installed since, not yet handed out. */
struct NotifyRegistration {
  EFI_GUID Guid;
  EventRecord *Event;
  std::vector<EFI_HANDLE> Pending;
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

  // Handle database, set up by tests without a firmware call being logged. Installed interfaces notify as any do.
  // Publish installs Interface on a new handle, PublishOn on Handle (a new one when NULL); both return the handle.
  EFI_HANDLE Publish(const EFI_GUID &Guid, VOID *Interface);
  EFI_HANDLE PublishOn(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface);
  // Uninstalls as firmware does (BY_DRIVER agents asked to stop); the status.
  EFI_STATUS Withdraw(EFI_HANDLE Handle, const EFI_GUID &Guid);
  // A handle with no interface that stays: an agent or an image handle for tests.
  EFI_HANDLE NewHandle();
  std::vector<EFI_GUID> LocateCalls;
  std::vector<InstallCall> Installs;
  EFI_STATUS InstallStatus = EFI_SUCCESS; // what InstallMultipleProtocolInterfaces answers
  // The handles holding Guid, in installation order of the interfaces.
  std::vector<EFI_HANDLE> HandlesWith(const EFI_GUID &Guid) const;
  // The first interface under Guid, looked up without a firmware call being logged.
  VOID *Lookup(const EFI_GUID &Guid) const;
  // The interface Guid on Handle, or nullptr; its open records (empty when absent).
  VOID *InterfaceOn(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  std::vector<OpenRecord> OpensOf(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  bool IsValidHandle(EFI_HANDLE Handle) const;
  // Every live handle, in creation order.
  std::vector<EFI_HANDLE> AllHandleList() const;

  // Service failures. The next call of the named service ("OpenProtocol", "CreateEvent", ...) answers Status
  // and changes nothing; queued statuses are used one per call, EFI_SUCCESS letting that call answer as usual.
  void InjectStatus(const std::string &Service, EFI_STATUS Status) { Injected[Service].push_back(Status); }
  // The Nth call (from 1) of any handle or event service a program makes answers Status; 0 for none.
  void FailServiceCallNumber(size_t Number, EFI_STATUS Status = EFI_DEVICE_ERROR) {
    FailingServiceCall = Number;
    FailingServiceStatus = Status;
  }
  size_t ServiceCallCount() const { return ServiceCalls; }

  // Variables (runtime services): name and vendor GUID text -> attributes and bytes.
  struct Variable {
    UINT32 Attributes;
    std::vector<UINT8> Data;
  };
  std::map<std::pair<std::u16string, std::string>, Variable> Variables;

  // Events: the ones created and still open.
  size_t OpenEventCount() const;
  // Signals Event as SignalEvent does (for tests standing in for a firmware event).
  void Signal(EFI_EVENT Event);

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
  static EFI_STATUS EFIAPI UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...);
  static EFI_STATUS EFIAPI InstallProtocolInterface(EFI_HANDLE *Handle, const EFI_GUID *Protocol,
                                                    EFI_INTERFACE_TYPE Type, VOID *Interface);
  static EFI_STATUS EFIAPI UninstallProtocolInterface(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface);
  static EFI_STATUS EFIAPI ReinstallProtocolInterface(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Old,
                                                      VOID *New);
  static EFI_STATUS EFIAPI HandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface);
  static EFI_STATUS EFIAPI OpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface, EFI_HANDLE Agent,
                                        EFI_HANDLE Controller, UINT32 Attributes);
  static EFI_STATUS EFIAPI CloseProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent,
                                         EFI_HANDLE Controller);
  static EFI_STATUS EFIAPI OpenProtocolInformation(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                   EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **Entries, UINTN *Count);
  static EFI_STATUS EFIAPI ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***Guids, UINTN *Count);
  static EFI_STATUS EFIAPI LocateHandle(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID *Protocol, VOID *Key,
                                        UINTN *BufferSize, EFI_HANDLE *Buffer);
  static EFI_STATUS EFIAPI LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID *Protocol, VOID *Key,
                                              UINTN *Count, EFI_HANDLE **Buffer);
  static EFI_STATUS EFIAPI LocateDevicePath(const EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **Path,
                                            EFI_HANDLE *Device);
  static EFI_STATUS EFIAPI RegisterProtocolNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration);
  static EFI_STATUS EFIAPI ConnectController(EFI_HANDLE Controller, EFI_HANDLE *Drivers,
                                             EFI_DEVICE_PATH_PROTOCOL *Remaining, BOOLEAN Recursive);
  static EFI_STATUS EFIAPI DisconnectController(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child);
  static EFI_STATUS EFIAPI CreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, VOID *Context,
                                       EFI_EVENT *Event);
  static EFI_STATUS EFIAPI CreateEventEx(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, const VOID *Context,
                                         const EFI_GUID *Group, EFI_EVENT *Event);
  static EFI_STATUS EFIAPI CloseEvent(EFI_EVENT Event);
  static EFI_STATUS EFIAPI GetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 *Attributes, UINTN *Size,
                                       VOID *Data);
  static EFI_STATUS EFIAPI SetVariable(const CHAR16 *Name, const EFI_GUID *Vendor, UINT32 Attributes, UINTN Size,
                                       const VOID *Data);
  static EFI_STATUS EFIAPI SignalEvent(EFI_EVENT Event);

  // The firmware's own work, called by the services above and by each other; no call is counted or logged.
  HandleRecord *Find(EFI_HANDLE Handle) const;
  ProtocolEntry *FindEntry(EFI_HANDLE Handle, const EFI_GUID &Guid) const;
  EFI_STATUS Install(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface);
  EFI_STATUS Uninstall(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface);
  EFI_STATUS Reinstall(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Old, VOID *New);
  // Asks every BY_DRIVER agent of Entry to stop; TRUE when none holds it any more.
  bool ReleaseDriverOpens(EFI_HANDLE Handle, const EFI_GUID &Guid);
  EFI_STATUS Open(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID **Interface, EFI_HANDLE Agent, EFI_HANDLE Controller,
                  UINT32 Attributes);
  EFI_STATUS Close(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_HANDLE Agent, EFI_HANDLE Controller);
  std::vector<EFI_HANDLE> Search(EFI_LOCATE_SEARCH_TYPE Search, const EFI_GUID *Protocol, VOID *Key,
                                 EFI_STATUS *Status) const;
  EFI_STATUS Connect(EFI_HANDLE Controller, EFI_HANDLE *Drivers, EFI_DEVICE_PATH_PROTOCOL *Remaining, bool Recursive,
                     int Depth);
  EFI_STATUS Disconnect(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child);
  void Notify(EFI_HANDLE Handle, const EFI_GUID &Guid);
  EFI_STATUS NewEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY Notify, VOID *Context, EFI_EVENT *Event);
  void SignalRecord(EventRecord *Event);
  // The record of an open event, or nullptr for a closed or unknown one.
  EventRecord *LiveEvent(EFI_EVENT Event) const;
  void RunPendingNotifies();
  // The answer of a counted service call: an injected or numbered failure, or EFI_SUCCESS to go on.
  EFI_STATUS Enter(const std::string &Service);
  NotifyRegistration *FindRegistration(VOID *Key) const;

  EFI_SYSTEM_TABLE SystemTable{};
  EFI_BOOT_SERVICES BootServices{};
  EFI_RUNTIME_SERVICES RuntimeServices{};
  EFI_HANDLE ImageHandleValue;
  EFI_HANDLE FirmwareAgent;
  std::map<const VOID *, PoolBlock> LiveBlocks;
  std::vector<std::string> Errors;
  std::vector<std::unique_ptr<HandleRecord>> Handles;
  std::vector<std::unique_ptr<EventRecord>> EventRecords;
  std::vector<std::unique_ptr<NotifyRegistration>> Registrations;
  std::vector<EventRecord *> PendingNotifies;
  bool Notifying = false;
  size_t InstallationCount = 0;
  std::map<std::string, std::deque<EFI_STATUS>> Injected;
  size_t ServiceCalls = 0;
  size_t FailingServiceCall = 0;
  EFI_STATUS FailingServiceStatus = EFI_DEVICE_ERROR;
  size_t Allocations = 0;
  size_t LiveSize = 0;
  size_t PeakSize = 0;
  size_t FailingAllocation = 0;
  size_t FailingFrom = 0;
  Firmware *Previous;
};

} // namespace FirmwareDouble

#endif
