/*
 * The double's ConnectController and DisconnectController: Driver Bindings
 * found on their handles, tried in the order the UEFI specification gives
 * (the caller's list first, then by Version, highest first), children
 * connected when asked to recurse, and Stop called for the children first.
 */
#include <algorithm>

#include "Double/FirmwareDouble.h"
#include "Protocol/DriverBinding.h"

namespace FirmwareDouble {

namespace {
constexpr EFI_GUID DriverBindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;
constexpr int DepthLimit = 16;
} // namespace

/*
 * Tries every binding until none starts any more: a started driver may
 * have made the controller fit another. EFI_NOT_FOUND when none started.
 */
EFI_STATUS Firmware::Connect(EFI_HANDLE Controller, EFI_HANDLE *Drivers, EFI_DEVICE_PATH_PROTOCOL *Remaining,
                             bool Recursive, int Depth) {
  if (Find(Controller) == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Order;
  for (EFI_HANDLE *Driver = Drivers; Driver != nullptr && *Driver != nullptr; Driver++) {
    if (auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(InterfaceOn(*Driver, DriverBindingGuid))) {
      Order.push_back(Binding);
    }
  }
  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Others;
  for (EFI_HANDLE Handle : HandlesWith(DriverBindingGuid)) {
    auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(InterfaceOn(Handle, DriverBindingGuid));
    if (std::find(Order.begin(), Order.end(), Binding) == Order.end()) {
      Others.push_back(Binding);
    }
  }
  std::stable_sort(Others.begin(), Others.end(), [](EFI_DRIVER_BINDING_PROTOCOL *A, EFI_DRIVER_BINDING_PROTOCOL *B) {
    return A->Version > B->Version;
  });
  Order.insert(Order.end(), Others.begin(), Others.end());

  std::vector<EFI_DRIVER_BINDING_PROTOCOL *> Started;
  for (bool OneStarted = true; OneStarted;) {
    OneStarted = false;
    for (EFI_DRIVER_BINDING_PROTOCOL *Binding : Order) {
      if (std::find(Started.begin(), Started.end(), Binding) != Started.end() || Find(Controller) == nullptr) {
        continue;
      }
      Record("DriverBinding.Supported");
      if (EFI_ERROR(Binding->Supported(Binding, Controller, Remaining))) {
        continue;
      }
      Record("DriverBinding.Start");
      if (!EFI_ERROR(Binding->Start(Binding, Controller, Remaining))) {
        Started.push_back(Binding);
        OneStarted = true;
        break;
      }
    }
  }
  if (Recursive && Depth < DepthLimit && Find(Controller) != nullptr) {
    std::vector<EFI_HANDLE> Children;
    for (const ProtocolEntry &Entry : Find(Controller)->Protocols) {
      for (const OpenRecord &Record : Entry.Opens) {
        if ((Record.Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) &&
            std::find(Children.begin(), Children.end(), Record.Controller) == Children.end()) {
          Children.push_back(Record.Controller);
        }
      }
    }
    for (EFI_HANDLE Child : Children) {
      Connect(Child, nullptr, nullptr, true, Depth + 1);
    }
  }
  return Started.empty() ? EFI_NOT_FOUND : EFI_SUCCESS;
}

/*
 * Each agent that holds an interface of Controller BY_DRIVER (only Driver's
 * when given) is asked to stop: its children first, then the controller.
 * An agent without a binding cannot be asked and counts as refusing.
 * Returns the first refusal's status.
 */
EFI_STATUS Firmware::Disconnect(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child) {
  if (Find(Controller) == nullptr || (Driver != nullptr && Find(Driver) == nullptr) ||
      (Child != nullptr && Find(Child) == nullptr)) {
    return EFI_INVALID_PARAMETER;
  }
  std::vector<EFI_HANDLE> Agents;
  for (const ProtocolEntry &Entry : Find(Controller)->Protocols) {
    for (const OpenRecord &Record : Entry.Opens) {
      if ((Record.Attributes & EFI_OPEN_PROTOCOL_BY_DRIVER) && (Driver == nullptr || Record.Agent == Driver) &&
          std::find(Agents.begin(), Agents.end(), Record.Agent) == Agents.end()) {
        Agents.push_back(Record.Agent);
      }
    }
  }
  EFI_STATUS Result = EFI_SUCCESS;
  for (EFI_HANDLE Agent : Agents) {
    auto *Binding = static_cast<EFI_DRIVER_BINDING_PROTOCOL *>(InterfaceOn(Agent, DriverBindingGuid));
    if (Binding == nullptr || Find(Controller) == nullptr) {
      Result = EFI_ERROR(Result) ? Result : EFI_DEVICE_ERROR;
      continue;
    }
    std::vector<EFI_HANDLE> Children;
    for (const ProtocolEntry &Entry : Find(Controller)->Protocols) {
      for (const OpenRecord &Record : Entry.Opens) {
        if (Record.Agent == Agent && (Record.Attributes & EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER) &&
            (Child == nullptr || Record.Controller == Child) &&
            std::find(Children.begin(), Children.end(), Record.Controller) == Children.end()) {
          Children.push_back(Record.Controller);
        }
      }
    }
    EFI_STATUS Status = EFI_SUCCESS;
    if (!Children.empty()) {
      Record("DriverBinding.Stop children");
      Status = Binding->Stop(Binding, Controller, Children.size(), Children.data());
    }
    if (!EFI_ERROR(Status) && (Child == nullptr || Children.empty())) {
      Record("DriverBinding.Stop");
      Status = Binding->Stop(Binding, Controller, 0, nullptr);
    }
    if (EFI_ERROR(Status) && !EFI_ERROR(Result)) {
      Result = Status;
    }
  }
  return Result;
}

EFI_STATUS EFIAPI Firmware::ConnectController(EFI_HANDLE Controller, EFI_HANDLE *Drivers,
                                              EFI_DEVICE_PATH_PROTOCOL *Remaining, BOOLEAN Recursive) {
  Firmware &Self = *Current();
  Self.Record("ConnectController");
  EFI_STATUS Status = Self.Enter("ConnectController");
  return EFI_ERROR(Status) ? Status : Self.Connect(Controller, Drivers, Remaining, Recursive, 0);
}

EFI_STATUS EFIAPI Firmware::DisconnectController(EFI_HANDLE Controller, EFI_HANDLE Driver, EFI_HANDLE Child) {
  Firmware &Self = *Current();
  Self.Record("DisconnectController");
  EFI_STATUS Status = Self.Enter("DisconnectController");
  return EFI_ERROR(Status) ? Status : Self.Disconnect(Controller, Driver, Child);
}

} // namespace FirmwareDouble
