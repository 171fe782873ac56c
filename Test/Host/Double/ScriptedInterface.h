/*
 * What every scriptable protocol of the double shares: the record that
 * carries the protocol and finds its owner from This, publication, the call
 * log (here and, by name, in the firmware's event log), and statuses that
 * tests inject per operation. Each double derives from it with its own
 * protocol, operations and call record.
 */
#ifndef TOLVANE_TEST_SCRIPTED_INTERFACE_H
#define TOLVANE_TEST_SCRIPTED_INTERFACE_H

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "Double/FirmwareDouble.h"

namespace FirmwareDouble {

/*
 * OwnerType derives from this; ProtocolType is the protocol record handed
 * to the driver; CallType holds at least Operation and Status.
 */
template <typename OwnerType, typename ProtocolType, typename OperationType, typename CallType>
class ScriptedInterface {
public:
  ScriptedInterface(const ScriptedInterface &) = delete;
  ScriptedInterface &operator=(const ScriptedInterface &) = delete;

  ProtocolType *Interface() { return &Record.Protocol; }
  /* Publishes the interface with Target under Guid. */
  EFI_HANDLE Publish(Firmware &Target, const EFI_GUID &Guid) { return Target.Publish(Guid, Interface()); }

  /*
   * The next call of Operation answers Status instead of its own answer. An
   * error leaves everything as it was; a warning makes the call take effect
   * and then answers the warning. Queued statuses are used one per call.
   */
  void InjectStatus(OperationType Operation, EFI_STATUS Status) { Injected[Operation].push_back(Status); }

  std::vector<CallType> Calls;

  std::vector<OperationType> Operations() const {
    std::vector<OperationType> Result;
    for (const CallType &Call : Calls) {
      Result.push_back(Call.Operation);
    }
    return Result;
  }

protected:
  /* Prefix names the interface in the firmware's event log ("SNP", "PXE"). */
  explicit ScriptedInterface(const char *Prefix) : EventPrefix(Prefix) {
    Record.Owner = static_cast<OwnerType *>(this);
  }

  static OwnerType &Of(ProtocolType *This) {
    auto *Owner =
        reinterpret_cast<InterfaceRecord *>(reinterpret_cast<char *>(This) - offsetof(InterfaceRecord, Protocol));
    return *Owner->Owner;
  }

  /* Records the event "<Prefix>.<Name>" and logs Call; the logged call, for the answer to complete. */
  CallType &LogCall(const std::string &Name, const CallType &Call) {
    if (Firmware *Active = Firmware::Current()) {
      Active->Record(EventPrefix + "." + Name);
    }
    Calls.push_back(Call);
    return Calls.back();
  }

  /* Answers the call: an injected error as it is; otherwise Action's own answer, or an injected warning. */
  template <typename ActionType> EFI_STATUS Answer(CallType &Call, ActionType Action) {
    auto &Queue = Injected[Call.Operation];
    const bool HaveInjected = !Queue.empty();
    const EFI_STATUS InjectedStatus = HaveInjected ? Queue.front() : EFI_SUCCESS;
    if (HaveInjected) {
      Queue.pop_front();
    }
    EFI_STATUS Status;
    if (HaveInjected && EFI_ERROR(InjectedStatus)) {
      Status = InjectedStatus;
    } else {
      Status = Action();
      if (!EFI_ERROR(Status) && HaveInjected) {
        Status = InjectedStatus;
      }
    }
    Call.Status = Status;
    return Status;
  }

  struct InterfaceRecord {
    ProtocolType Protocol;
    OwnerType *Owner;
  };
  InterfaceRecord Record{};

private:
  std::string EventPrefix;
  std::map<OperationType, std::deque<EFI_STATUS>> Injected;
};

} // namespace FirmwareDouble

#endif
