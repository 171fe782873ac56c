/*
 * The double's handle database: interfaces installed, reinstalled and
 * uninstalled on handles, looked up in installation order, and opened and
 * closed with the attribute rules of the UEFI specification.
 */
#include <algorithm>
#include <cstdarg>
#include <cstring>

#include <gtest/gtest.h>

#include "Double/FirmwareDouble.h"
#include "Protocol/DevicePath.h"
#include "Protocol/DriverBinding.h"

namespace FirmwareDouble {

namespace {
constexpr EFI_GUID DevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;

constexpr UINT32 ByDriver = EFI_OPEN_PROTOCOL_BY_DRIVER;
constexpr UINT32 Exclusive = EFI_OPEN_PROTOCOL_EXCLUSIVE;

/* The bytes of Path before its end node. */
size_t PathLength(const EFI_DEVICE_PATH_PROTOCOL *Path) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Path);
  size_t Offset = 0;
  while (Bytes[Offset] != END_DEVICE_PATH_TYPE) {
    size_t NodeLength = Bytes[Offset + 2] | (Bytes[Offset + 3] << 8);
    if (NodeLength < 4) {
      break; // a malformed node ends the path rather than loop forever
    }
    Offset += NodeLength;
  }
  return Offset;
}

/* TRUE when the nodes of Prefix (Length bytes) start Path at a node boundary. */
bool StartsPath(const EFI_DEVICE_PATH_PROTOCOL *Path, const EFI_DEVICE_PATH_PROTOCOL *Prefix, size_t Length) {
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(Path);
  return PathLength(Path) >= Length && std::memcmp(Bytes, Prefix, Length) == 0;
}

bool IsDriverOpen(const OpenRecord &Record) { return (Record.Attributes & (ByDriver | Exclusive)) != 0; }

/* The GUID and interface pairs of a Multiple call, up to the NULL that ends them. */
std::vector<std::pair<EFI_GUID, VOID *>> InterfacePairs(__builtin_ms_va_list &Arguments) {
  std::vector<std::pair<EFI_GUID, VOID *>> Pairs;
  for (;;) {
    const EFI_GUID *Guid = __builtin_va_arg(Arguments, const EFI_GUID *);
    if (Guid == nullptr) {
      return Pairs;
    }
    VOID *Interface = __builtin_va_arg(Arguments, VOID *);
    Pairs.emplace_back(*Guid, Interface);
  }
}
} // namespace

EFI_HANDLE Firmware::NewHandle() {
  Handles.push_back(std::make_unique<HandleRecord>());
  Handles.back()->Permanent = true;
  return Handles.back().get();
}

HandleRecord *Firmware::Find(EFI_HANDLE Handle) const {
  for (const auto &Record : Handles) {
    if (Record.get() == Handle && Record->Valid) {
      return Record.get();
    }
  }
  return nullptr;
}

bool Firmware::IsValidHandle(EFI_HANDLE Handle) const { return Find(Handle) != nullptr; }

ProtocolEntry *Firmware::FindEntry(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  HandleRecord *Record = Find(Handle);
  if (Record == nullptr) {
    return nullptr;
  }
  for (ProtocolEntry &Entry : Record->Protocols) {
    if (GuidEquals(Entry.Guid, Guid)) {
      return &Entry;
    }
  }
  return nullptr;
}

EFI_STATUS Firmware::Enter(const std::string &Service) {
  ServiceCalls++;
  auto Queue = Injected.find(Service);
  if (Queue != Injected.end() && !Queue->second.empty()) {
    EFI_STATUS Status = Queue->second.front();
    Queue->second.pop_front();
    if (Status != EFI_SUCCESS) {
      Record(Service + " injected");
      return Status;
    }
  }
  if (ServiceCalls == FailingServiceCall) {
    Record(Service + " failed by number");
    return FailingServiceStatus;
  }
  return EFI_SUCCESS;
}

EFI_HANDLE Firmware::Publish(const EFI_GUID &Guid, VOID *Interface) { return PublishOn(NewHandle(), Guid, Interface); }

EFI_HANDLE Firmware::PublishOn(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface) {
  if (Handle == nullptr) {
    Handle = NewHandle();
  }
  EFI_STATUS Status = Install(&Handle, Guid, Interface);
  if (EFI_ERROR(Status)) {
    ADD_FAILURE() << "PublishOn " << GuidText(Guid) << ": status 0x" << std::hex << Status;
  }
  return Handle;
}

EFI_STATUS Firmware::Withdraw(EFI_HANDLE Handle, const EFI_GUID &Guid) {
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  return Entry == nullptr ? EFI_NOT_FOUND : Uninstall(Handle, Guid, Entry->Interface);
}

std::vector<EFI_HANDLE> Firmware::HandlesWith(const EFI_GUID &Guid) const {
  EFI_STATUS Status;
  return Search(ByProtocol, &Guid, nullptr, &Status);
}

std::vector<EFI_HANDLE> Firmware::AllHandleList() const {
  EFI_STATUS Status;
  return Search(AllHandles, nullptr, nullptr, &Status);
}

VOID *Firmware::Lookup(const EFI_GUID &Guid) const {
  std::vector<EFI_HANDLE> Found = HandlesWith(Guid);
  return Found.empty() ? nullptr : FindEntry(Found[0], Guid)->Interface;
}

VOID *Firmware::InterfaceOn(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  return Entry == nullptr ? nullptr : Entry->Interface;
}

std::vector<OpenRecord> Firmware::OpensOf(EFI_HANDLE Handle, const EFI_GUID &Guid) const {
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  return Entry == nullptr ? std::vector<OpenRecord>{} : Entry->Opens;
}

/* A second interface of one GUID on a handle is refused; a new handle is made when *Handle is NULL. */
EFI_STATUS Firmware::Install(EFI_HANDLE *Handle, const EFI_GUID &Guid, VOID *Interface) {
  if (*Handle == nullptr) {
    Handles.push_back(std::make_unique<HandleRecord>());
    *Handle = Handles.back().get();
  } else if (Find(*Handle) == nullptr) {
    return EFI_INVALID_PARAMETER;
  } else if (FindEntry(*Handle, Guid) != nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Find(*Handle)->Protocols.push_back({Guid, Interface, ++InstallationCount, {}});
  Notify(*Handle, Guid);
  return EFI_SUCCESS;
}

bool Firmware::ReleaseDriverOpens(EFI_HANDLE Handle, const EFI_GUID &Guid) {
  std::vector<EFI_HANDLE> Agents;
  if (FindEntry(Handle, Guid) == nullptr) {
    return true;
  }
  for (const OpenRecord &Record : FindEntry(Handle, Guid)->Opens) {
    if (IsDriverOpen(Record) && std::find(Agents.begin(), Agents.end(), Record.Agent) == Agents.end()) {
      Agents.push_back(Record.Agent);
    }
  }
  for (EFI_HANDLE Agent : Agents) {
    Disconnect(Handle, Agent, nullptr);
  }
  if (FindEntry(Handle, Guid) == nullptr) {
    return true;
  }
  const auto &Opens = FindEntry(Handle, Guid)->Opens;
  return std::none_of(Opens.begin(), Opens.end(), IsDriverOpen);
}

/*
 * The agents holding the interface BY_DRIVER are asked to stop first; while
 * one still holds it, or a child's open remains, the interface stays, the
 * stopped drivers are connected again and the answer is EFI_ACCESS_DENIED.
 */
EFI_STATUS Firmware::Uninstall(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Interface) {
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  if (Find(Handle) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Entry == nullptr || Entry->Interface != Interface) {
    return EFI_NOT_FOUND;
  }
  bool Released = ReleaseDriverOpens(Handle, Guid);
  Entry = FindEntry(Handle, Guid);
  if (Entry == nullptr || Entry->Interface != Interface) {
    return EFI_NOT_FOUND; // a stopped driver took it away itself
  }
  auto &Opens = Entry->Opens;
  Opens.erase(std::remove_if(Opens.begin(), Opens.end(),
                             [](const OpenRecord &Record) {
                               return (Record.Attributes &
                                       (EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL | EFI_OPEN_PROTOCOL_GET_PROTOCOL |
                                        EFI_OPEN_PROTOCOL_TEST_PROTOCOL)) != 0;
                             }),
              Opens.end());
  if (!Released || !Opens.empty()) {
    Connect(Handle, nullptr, nullptr, true, 0);
    return EFI_ACCESS_DENIED;
  }
  HandleRecord *Record = Find(Handle);
  Record->Protocols.erase(Record->Protocols.begin() + (Entry - Record->Protocols.data()));
  if (Record->Protocols.empty() && !Record->Permanent) {
    Record->Valid = false;
  }
  return EFI_SUCCESS;
}

/* As an uninstall and an install in one: the holders are stopped, the interface replaced, then drivers connected. */
EFI_STATUS Firmware::Reinstall(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID *Old, VOID *New) {
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  if (Find(Handle) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  if (Entry == nullptr || Entry->Interface != Old) {
    return EFI_NOT_FOUND;
  }
  if (!ReleaseDriverOpens(Handle, Guid)) {
    Connect(Handle, nullptr, nullptr, true, 0);
    return EFI_ACCESS_DENIED;
  }
  Entry = FindEntry(Handle, Guid);
  if (Entry == nullptr || Entry->Interface != Old) {
    return EFI_NOT_FOUND;
  }
  Entry->Interface = New;
  Notify(Handle, Guid);
  Connect(Handle, nullptr, nullptr, true, 0);
  return EFI_SUCCESS;
}

/*
 * The attribute rules: BY_DRIVER is held by one agent (the same agent again
 * gets EFI_ALREADY_STARTED, another EFI_ACCESS_DENIED); an EXCLUSIVE open
 * refuses every later BY_DRIVER or EXCLUSIVE open and, to be granted, has
 * the BY_DRIVER holders stopped. TEST_PROTOCOL leaves no record.
 */
EFI_STATUS Firmware::Open(EFI_HANDLE Handle, const EFI_GUID &Guid, VOID **Interface, EFI_HANDLE Agent,
                          EFI_HANDLE Controller, UINT32 Attributes) {
  if (Interface == nullptr && Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    return EFI_INVALID_PARAMETER;
  }
  if (Find(Handle) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  switch (Attributes) {
  case EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL:
  case EFI_OPEN_PROTOCOL_GET_PROTOCOL:
  case EFI_OPEN_PROTOCOL_TEST_PROTOCOL:
    break;
  case EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER:
    if (Find(Agent) == nullptr || Find(Controller) == nullptr || Controller == Handle) {
      return EFI_INVALID_PARAMETER;
    }
    break;
  case ByDriver:
  case ByDriver | Exclusive:
    if (Find(Agent) == nullptr || Find(Controller) == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    break;
  case Exclusive:
    if (Find(Agent) == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    break;
  default:
    return EFI_INVALID_PARAMETER;
  }
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  if (Entry == nullptr) {
    if (Interface != nullptr && Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
      *Interface = nullptr;
    }
    return EFI_UNSUPPORTED;
  }
  if (Attributes & (ByDriver | Exclusive)) {
    bool HeldByOthers = false;
    for (const OpenRecord &Record : Entry->Opens) {
      if (!IsDriverOpen(Record)) {
        continue;
      }
      if (Record.Agent == Agent && Record.Attributes == Attributes) {
        *Interface = Entry->Interface;
        return EFI_ALREADY_STARTED;
      }
      if ((Record.Attributes & Exclusive) || Attributes == ByDriver) {
        return EFI_ACCESS_DENIED;
      }
      HeldByOthers = true;
    }
    if (HeldByOthers && !ReleaseDriverOpens(Handle, Guid)) {
      return EFI_ACCESS_DENIED;
    }
    Entry = FindEntry(Handle, Guid);
    if (Entry == nullptr) {
      return EFI_UNSUPPORTED; // a stopped driver took the interface with it
    }
  }
  if (Attributes != EFI_OPEN_PROTOCOL_TEST_PROTOCOL) {
    *Interface = Entry->Interface;
    auto Same = std::find_if(Entry->Opens.begin(), Entry->Opens.end(), [&](const OpenRecord &Record) {
      return Record.Agent == Agent && Record.Controller == Controller && Record.Attributes == Attributes;
    });
    if (Same != Entry->Opens.end()) {
      Same->OpenCount++;
    } else {
      Entry->Opens.push_back({Agent, Controller, Attributes, 1});
    }
  }
  return EFI_SUCCESS;
}

/* Every open record of Agent for Controller goes; EFI_NOT_FOUND when there is none. */
EFI_STATUS Firmware::Close(EFI_HANDLE Handle, const EFI_GUID &Guid, EFI_HANDLE Agent, EFI_HANDLE Controller) {
  if (Find(Handle) == nullptr || Find(Agent) == nullptr || (Controller != nullptr && Find(Controller) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  ProtocolEntry *Entry = FindEntry(Handle, Guid);
  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }
  auto &Opens = Entry->Opens;
  size_t Before = Opens.size();
  Opens.erase(std::remove_if(
                  Opens.begin(), Opens.end(),
                  [&](const OpenRecord &Record) { return Record.Agent == Agent && Record.Controller == Controller; }),
              Opens.end());
  return Opens.size() == Before ? EFI_NOT_FOUND : EFI_SUCCESS;
}

/*
 * AllHandles in creation order; ByProtocol in installation order of the
 * interfaces; ByRegisterNotify the next handle new to the registration.
 */
std::vector<EFI_HANDLE> Firmware::Search(EFI_LOCATE_SEARCH_TYPE Type, const EFI_GUID *Protocol, VOID *Key,
                                         EFI_STATUS *Status) const {
  std::vector<EFI_HANDLE> Result;
  *Status = EFI_SUCCESS;
  if (Type == AllHandles) {
    for (const auto &Record : Handles) {
      if (Record->Valid && !Record->Protocols.empty()) {
        Result.push_back(Record.get());
      }
    }
  } else if (Type == ByProtocol) {
    if (Protocol == nullptr) {
      *Status = EFI_INVALID_PARAMETER;
      return Result;
    }
    std::vector<std::pair<size_t, EFI_HANDLE>> Ordered;
    for (const auto &Record : Handles) {
      for (const ProtocolEntry &Entry : Record->Valid ? Record->Protocols : std::vector<ProtocolEntry>{}) {
        if (GuidEquals(Entry.Guid, *Protocol)) {
          Ordered.emplace_back(Entry.Order, Record.get());
        }
      }
    }
    std::sort(Ordered.begin(), Ordered.end());
    for (const auto &Pair : Ordered) {
      Result.push_back(Pair.second);
    }
  } else if (Type == ByRegisterNotify) {
    NotifyRegistration *Registration = FindRegistration(Key);
    if (Registration == nullptr) {
      *Status = EFI_INVALID_PARAMETER;
      return Result;
    }
    for (EFI_HANDLE Handle : Registration->Pending) {
      if (FindEntry(Handle, Registration->Guid) != nullptr) {
        Result.push_back(Handle);
        break;
      }
    }
  } else {
    *Status = EFI_INVALID_PARAMETER;
    return Result;
  }
  if (Result.empty()) {
    *Status = EFI_NOT_FOUND;
  }
  return Result;
}

EFI_STATUS EFIAPI Firmware::InstallProtocolInterface(EFI_HANDLE *Handle, const EFI_GUID *Protocol,
                                                     EFI_INTERFACE_TYPE Type, VOID *Interface) {
  Firmware &Self = *Current();
  Self.Record("InstallProtocolInterface " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("InstallProtocolInterface");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Handle == nullptr || Type != EFI_NATIVE_INTERFACE) {
    return EFI_INVALID_PARAMETER;
  }
  return Self.Install(Handle, *Protocol, Interface);
}

EFI_STATUS EFIAPI Firmware::UninstallProtocolInterface(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Interface) {
  Firmware &Self = *Current();
  Self.Record("UninstallProtocolInterface " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("UninstallProtocolInterface");
  return EFI_ERROR(Status) ? Status : Self.Uninstall(Handle, *Protocol, Interface);
}

EFI_STATUS EFIAPI Firmware::ReinstallProtocolInterface(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID *Old,
                                                       VOID *New) {
  Firmware &Self = *Current();
  Self.Record("ReinstallProtocolInterface " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("ReinstallProtocolInterface");
  return EFI_ERROR(Status) ? Status : Self.Reinstall(Handle, *Protocol, Old, New);
}

/*
 * All or nothing: on a failure the interfaces installed by this call are
 * uninstalled again. A device path already on another handle is refused
 * with EFI_ALREADY_STARTED.
 */
EFI_STATUS EFIAPI Firmware::InstallMultipleProtocolInterfaces(EFI_HANDLE *Handle, ...) {
  Firmware &Self = *Current();
  Self.Record("InstallMultipleProtocolInterfaces");
  InstallCall Call{Handle == nullptr ? nullptr : *Handle, nullptr, {}};
  __builtin_ms_va_list Arguments;
  __builtin_ms_va_start(Arguments, Handle);
  Call.Interfaces = InterfacePairs(Arguments);
  __builtin_ms_va_end(Arguments);
  EFI_STATUS Status = Self.InstallStatus;
  if (!EFI_ERROR(Status)) {
    Status = Self.Enter("InstallMultipleProtocolInterfaces");
  }
  if (!EFI_ERROR(Status) && Handle == nullptr) {
    Status = EFI_INVALID_PARAMETER;
  }
  for (const auto &Pair : Call.Interfaces) {
    if (EFI_ERROR(Status) || !GuidEquals(Pair.first, DevicePathGuid)) {
      continue;
    }
    size_t Length = PathLength(static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Pair.second));
    for (EFI_HANDLE Other : Self.HandlesWith(DevicePathGuid)) {
      auto *Path = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Self.InterfaceOn(Other, DevicePathGuid));
      if (PathLength(Path) == Length &&
          StartsPath(Path, static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Pair.second), Length)) {
        Status = EFI_ALREADY_STARTED;
      }
    }
  }
  if (!EFI_ERROR(Status)) {
    EFI_HANDLE Target = *Handle;
    size_t Done = 0;
    for (; Done < Call.Interfaces.size(); Done++) {
      Status = Self.Install(&Target, Call.Interfaces[Done].first, Call.Interfaces[Done].second);
      if (EFI_ERROR(Status)) {
        break;
      }
    }
    if (EFI_ERROR(Status)) {
      while (Done-- > 0) {
        Self.Uninstall(Target, Call.Interfaces[Done].first, Call.Interfaces[Done].second);
      }
    } else {
      *Handle = Target;
    }
  }
  Call.HandleAfter = Handle == nullptr ? nullptr : *Handle;
  Self.Installs.push_back(Call);
  return Status;
}

/* All or nothing: should one interface stay, those taken away by this call are installed again. */
EFI_STATUS EFIAPI Firmware::UninstallMultipleProtocolInterfaces(EFI_HANDLE Handle, ...) {
  Firmware &Self = *Current();
  Self.Record("UninstallMultipleProtocolInterfaces");
  __builtin_ms_va_list Arguments;
  __builtin_ms_va_start(Arguments, Handle);
  std::vector<std::pair<EFI_GUID, VOID *>> Interfaces = InterfacePairs(Arguments);
  __builtin_ms_va_end(Arguments);
  EFI_STATUS Status = Self.Enter("UninstallMultipleProtocolInterfaces");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  size_t Done = 0;
  for (; Done < Interfaces.size(); Done++) {
    if (EFI_ERROR(Self.Uninstall(Handle, Interfaces[Done].first, Interfaces[Done].second))) {
      break;
    }
  }
  if (Done == Interfaces.size()) {
    return EFI_SUCCESS;
  }
  while (Done-- > 0) {
    Self.Install(&Handle, Interfaces[Done].first, Interfaces[Done].second);
  }
  return EFI_INVALID_PARAMETER;
}

EFI_STATUS EFIAPI Firmware::HandleProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface) {
  Firmware &Self = *Current();
  EFI_STATUS Status = Self.Enter("HandleProtocol");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Protocol == nullptr || Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  // The firmware opens on the caller's behalf, as an agent of its own.
  return Self.Open(Handle, *Protocol, Interface, Self.FirmwareAgent, nullptr, EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL);
}

EFI_STATUS EFIAPI Firmware::OpenProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, VOID **Interface,
                                         EFI_HANDLE Agent, EFI_HANDLE Controller, UINT32 Attributes) {
  Firmware &Self = *Current();
  Self.Record("OpenProtocol " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("OpenProtocol");
  return EFI_ERROR(Status) ? Status : Self.Open(Handle, *Protocol, Interface, Agent, Controller, Attributes);
}

EFI_STATUS EFIAPI Firmware::CloseProtocol(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE Agent,
                                          EFI_HANDLE Controller) {
  Firmware &Self = *Current();
  Self.Record("CloseProtocol " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("CloseProtocol");
  return EFI_ERROR(Status) ? Status : Self.Close(Handle, *Protocol, Agent, Controller);
}

EFI_STATUS EFIAPI Firmware::OpenProtocolInformation(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                    EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **Entries, UINTN *Count) {
  Firmware &Self = *Current();
  EFI_STATUS Status = Self.Enter("OpenProtocolInformation");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  ProtocolEntry *Entry = Self.FindEntry(Handle, *Protocol);
  if (Entry == nullptr) {
    return EFI_NOT_FOUND;
  }
  VOID *Buffer;
  Status =
      AllocatePool(EfiBootServicesData, Entry->Opens.size() * sizeof(EFI_OPEN_PROTOCOL_INFORMATION_ENTRY) + 1, &Buffer);
  if (EFI_ERROR(Status)) {
    return EFI_OUT_OF_RESOURCES;
  }
  auto *Out = static_cast<EFI_OPEN_PROTOCOL_INFORMATION_ENTRY *>(Buffer);
  for (size_t Index = 0; Index < Entry->Opens.size(); Index++) {
    const OpenRecord &Record = Entry->Opens[Index];
    Out[Index] = {Record.Agent, Record.Controller, Record.Attributes, Record.OpenCount};
  }
  *Entries = Out;
  *Count = Entry->Opens.size();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::ProtocolsPerHandle(EFI_HANDLE Handle, EFI_GUID ***Guids, UINTN *Count) {
  Firmware &Self = *Current();
  EFI_STATUS Status = Self.Enter("ProtocolsPerHandle");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  HandleRecord *Record = Self.Find(Handle);
  if (Record == nullptr || Guids == nullptr || Count == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  VOID *Buffer;
  if (EFI_ERROR(AllocatePool(EfiBootServicesData, Record->Protocols.size() * sizeof(EFI_GUID *) + 1, &Buffer))) {
    return EFI_OUT_OF_RESOURCES;
  }
  auto *Out = static_cast<EFI_GUID **>(Buffer);
  for (size_t Index = 0; Index < Record->Protocols.size(); Index++) {
    Out[Index] = &Record->Protocols[Index].Guid;
  }
  *Guids = Out;
  *Count = Record->Protocols.size();
  return EFI_SUCCESS;
}

/* ByRegisterNotify hands out one handle per call and forgets it once handed out. */
EFI_STATUS EFIAPI Firmware::LocateHandle(EFI_LOCATE_SEARCH_TYPE Type, const EFI_GUID *Protocol, VOID *Key,
                                         UINTN *BufferSize, EFI_HANDLE *Buffer) {
  Firmware &Self = *Current();
  Self.Record("LocateHandle");
  EFI_STATUS Status = Self.Enter("LocateHandle");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (BufferSize == nullptr || (Buffer == nullptr && *BufferSize != 0)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found = Self.Search(Type, Protocol, Key, &Status);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN Needed = Found.size() * sizeof(EFI_HANDLE);
  if (*BufferSize < Needed) {
    *BufferSize = Needed;
    return EFI_BUFFER_TOO_SMALL;
  }
  *BufferSize = Needed;
  std::copy(Found.begin(), Found.end(), Buffer);
  if (Type == ByRegisterNotify) {
    auto &Pending = Self.FindRegistration(Key)->Pending;
    Pending.erase(Pending.begin(), std::find(Pending.begin(), Pending.end(), Found[0]) + 1);
  }
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::LocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE Type, const EFI_GUID *Protocol, VOID *Key,
                                               UINTN *Count, EFI_HANDLE **Buffer) {
  Firmware &Self = *Current();
  Self.Record("LocateHandleBuffer");
  EFI_STATUS Status = Self.Enter("LocateHandleBuffer");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Count == nullptr || Buffer == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found = Self.Search(Type, Protocol, Key, &Status);
  if (EFI_ERROR(Status)) {
    *Count = 0;
    *Buffer = nullptr;
    return Status;
  }
  VOID *Block;
  if (EFI_ERROR(AllocatePool(EfiBootServicesData, Found.size() * sizeof(EFI_HANDLE), &Block))) {
    return EFI_OUT_OF_RESOURCES;
  }
  std::copy(Found.begin(), Found.end(), static_cast<EFI_HANDLE *>(Block));
  if (Type == ByRegisterNotify) {
    auto &Pending = Self.FindRegistration(Key)->Pending;
    Pending.erase(Pending.begin(), std::find(Pending.begin(), Pending.end(), Found[0]) + 1);
  }
  *Count = Found.size();
  *Buffer = static_cast<EFI_HANDLE *>(Block);
  return EFI_SUCCESS;
}

/* With a registration: the next interface new to it. Without: the earliest installed. */
EFI_STATUS EFIAPI Firmware::LocateProtocol(const EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  Firmware &Self = *Current();
  Self.LocateCalls.push_back(*Protocol);
  Self.Record("LocateProtocol " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("LocateProtocol");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Interface == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Found = Registration == nullptr
                                      ? Self.HandlesWith(*Protocol)
                                      : Self.Search(ByRegisterNotify, Protocol, Registration, &Status);
  if (Found.empty()) {
    *Interface = nullptr;
    return EFI_NOT_FOUND;
  }
  if (Registration != nullptr) {
    auto &Pending = Self.FindRegistration(Registration)->Pending;
    Pending.erase(Pending.begin(), std::find(Pending.begin(), Pending.end(), Found[0]) + 1);
  }
  *Interface = Self.FindEntry(Found[0], *Protocol)->Interface;
  return EFI_SUCCESS;
}

/* The handle with Protocol whose device path is the longest start of *Path; *Path moves behind it. */
EFI_STATUS EFIAPI Firmware::LocateDevicePath(const EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **Path,
                                             EFI_HANDLE *Device) {
  Firmware &Self = *Current();
  EFI_STATUS Status = Self.Enter("LocateDevicePath");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  if (Protocol == nullptr || Path == nullptr || *Path == nullptr || Device == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  EFI_HANDLE Best = nullptr;
  size_t BestLength = 0;
  for (EFI_HANDLE Handle : Self.HandlesWith(*Protocol)) {
    auto *Own = static_cast<EFI_DEVICE_PATH_PROTOCOL *>(Self.InterfaceOn(Handle, DevicePathGuid));
    if (Own == nullptr) {
      continue;
    }
    size_t Length = PathLength(Own);
    if ((Best == nullptr || Length > BestLength) && StartsPath(*Path, Own, Length)) {
      Best = Handle;
      BestLength = Length;
    }
  }
  if (Best == nullptr) {
    return EFI_NOT_FOUND;
  }
  *Device = Best;
  *Path = reinterpret_cast<EFI_DEVICE_PATH_PROTOCOL *>(reinterpret_cast<UINT8 *>(*Path) + BestLength);
  return EFI_SUCCESS;
}

} // namespace FirmwareDouble
