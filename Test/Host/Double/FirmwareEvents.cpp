/*
 * The double's events and protocol notifications: a signalled event of
 * type EVT_NOTIFY_SIGNAL runs its notify function at once, unless a notify
 * function is running already (the firmware runs them at TPL_CALLBACK, one
 * at a time): then it runs when that one returns.
 */
#include <algorithm>

#include "Double/FirmwareDouble.h"

namespace FirmwareDouble {

namespace {
constexpr UINT32 EventNotifyWait = 0x00000100;
constexpr UINT32 EventTimer = 0x80000000;
constexpr EFI_TPL TplNotify = 16;
} // namespace

size_t Firmware::OpenEventCount() const {
  return (size_t)std::count_if(EventRecords.begin(), EventRecords.end(),
                               [](const std::unique_ptr<EventRecord> &Event) { return Event->Open; });
}

NotifyRegistration *Firmware::FindRegistration(VOID *Key) const {
  for (const auto &Registration : Registrations) {
    if (Registration.get() == Key) {
      return Registration.get();
    }
  }
  return nullptr;
}

EventRecord *Firmware::LiveEvent(EFI_EVENT Event) const {
  for (const auto &Record : EventRecords) {
    if (Record.get() == Event) {
      return Record->Open ? Record.get() : nullptr;
    }
  }
  return nullptr;
}

void Firmware::Signal(EFI_EVENT Event) { SignalRecord(static_cast<EventRecord *>(Event)); }

/* Every registration for Guid learns of Handle, and its event is signalled. */
void Firmware::Notify(EFI_HANDLE Handle, const EFI_GUID &Guid) {
  std::vector<EventRecord *> ToSignal;
  for (const auto &Registration : Registrations) {
    if (GuidEquals(Registration->Guid, Guid) && Registration->Event->Open) {
      Registration->Pending.push_back(Handle);
      ToSignal.push_back(Registration->Event);
    }
  }
  for (EventRecord *Event : ToSignal) {
    SignalRecord(Event);
  }
}

void Firmware::SignalRecord(EventRecord *Event) {
  if (Event->InGroup) {
    std::vector<EventRecord *> Members;
    for (const auto &Other : EventRecords) {
      if (Other->Open && Other->InGroup && GuidEquals(Other->Group, Event->Group)) {
        Members.push_back(Other.get());
      }
    }
    for (EventRecord *Member : Members) {
      Member->InGroup = false; // signalled once, as a member of no group
      SignalRecord(Member);
      Member->InGroup = true;
    }
    return;
  }
  Event->Signals++;
  if ((Event->Type & EVT_NOTIFY_SIGNAL) == 0 || !Event->Open) {
    return;
  }
  if (std::find(PendingNotifies.begin(), PendingNotifies.end(), Event) == PendingNotifies.end()) {
    PendingNotifies.push_back(Event);
  }
  RunPendingNotifies();
}

void Firmware::RunPendingNotifies() {
  if (Notifying) {
    return;
  }
  Notifying = true;
  while (!PendingNotifies.empty()) {
    EventRecord *Event = PendingNotifies.front();
    PendingNotifies.erase(PendingNotifies.begin());
    if (Event->Open) {
      Record("Notify");
      Event->Notify(Event, Event->Context);
    }
  }
  Notifying = false;
}

EFI_STATUS Firmware::NewEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY NotifyFunction, VOID *Context,
                              EFI_EVENT *Event) {
  if (Event == nullptr || (Type & ~(EVT_NOTIFY_SIGNAL | EventNotifyWait | EventTimer)) != 0 ||
      ((Type & EVT_NOTIFY_SIGNAL) && (Type & EventNotifyWait))) {
    return EFI_INVALID_PARAMETER;
  }
  if ((Type & (EVT_NOTIFY_SIGNAL | EventNotifyWait)) &&
      (NotifyFunction == nullptr || (Tpl != TPL_APPLICATION && Tpl != TPL_CALLBACK && Tpl != TplNotify))) {
    return EFI_INVALID_PARAMETER;
  }
  EventRecords.push_back(std::make_unique<EventRecord>(EventRecord{Type, Tpl, NotifyFunction, Context}));
  *Event = EventRecords.back().get();
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::CreateEvent(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY NotifyFunction, VOID *Context,
                                        EFI_EVENT *Event) {
  Firmware &Self = *Current();
  Self.Record("CreateEvent");
  EFI_STATUS Status = Self.Enter("CreateEvent");
  return EFI_ERROR(Status) ? Status : Self.NewEvent(Type, Tpl, NotifyFunction, Context, Event);
}

/* As CreateEvent; with Group, the event joins that group. */
EFI_STATUS EFIAPI Firmware::CreateEventEx(UINT32 Type, EFI_TPL Tpl, EFI_EVENT_NOTIFY NotifyFunction,
                                          const VOID *Context, const EFI_GUID *Group, EFI_EVENT *Event) {
  Firmware &Self = *Current();
  Self.Record("CreateEventEx");
  EFI_STATUS Status = Self.Enter("CreateEventEx");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = Self.NewEvent(Type, Tpl, NotifyFunction, const_cast<VOID *>(Context), Event);
  if (!EFI_ERROR(Status) && Group != nullptr) {
    auto *Record = static_cast<EventRecord *>(*Event);
    Record->InGroup = true;
    Record->Group = *Group;
  }
  return Status;
}

/* A closed event is signalled no more and its protocol registrations end. */
EFI_STATUS EFIAPI Firmware::CloseEvent(EFI_EVENT Event) {
  Firmware &Self = *Current();
  Self.Record("CloseEvent");
  EFI_STATUS Status = Self.Enter("CloseEvent");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EventRecord *Record = Self.LiveEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Record->Open = false;
  auto &List = Self.Registrations;
  List.erase(std::remove_if(List.begin(), List.end(),
                            [&](const std::unique_ptr<NotifyRegistration> &Registration) {
                              return Registration->Event == Record;
                            }),
             List.end());
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI Firmware::SignalEvent(EFI_EVENT Event) {
  Firmware &Self = *Current();
  Self.Record("SignalEvent");
  EFI_STATUS Status = Self.Enter("SignalEvent");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EventRecord *Record = Self.LiveEvent(Event);
  if (Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Self.SignalRecord(Record);
  return EFI_SUCCESS;
}

/* From now on each installation (or reinstallation) of Protocol is kept for the registration and signals Event. */
EFI_STATUS EFIAPI Firmware::RegisterProtocolNotify(const EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  Firmware &Self = *Current();
  Self.Record("RegisterProtocolNotify " + GuidText(*Protocol));
  EFI_STATUS Status = Self.Enter("RegisterProtocolNotify");
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EventRecord *Record = Self.LiveEvent(Event);
  if (Protocol == nullptr || Registration == nullptr || Record == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  Self.Registrations.push_back(std::make_unique<NotifyRegistration>(NotifyRegistration{*Protocol, Record, {}}));
  *Registration = Self.Registrations.back().get();
  return EFI_SUCCESS;
}

} // namespace FirmwareDouble
