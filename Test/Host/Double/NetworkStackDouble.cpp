/* The network cards and the two firmware drivers that bring them up, for the companion's and the field tool's suites.
 */
#include "Double/NetworkStackDouble.h"

#include <cstddef>

#include "Protocol/DevicePath.h"

namespace FirmwareDouble {

namespace {
constexpr EFI_GUID PciIoGuid = EFI_PCI_IO_PROTOCOL_GUID;
constexpr EFI_GUID DevicePathGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;
constexpr EFI_GUID SimpleNetworkGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;
constexpr EFI_GUID PxeBaseCodeGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
constexpr EFI_GUID DriverBindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;

EFI_BOOT_SERVICES &Services() { return *Firmware::Current()->Services(); }
} // namespace

NetworkStackDouble::NetworkStackDouble(Firmware &Firmware)
    : Target(Firmware), CardBinding{{CardSupported, CardStart, CardStop, 0x10, nullptr, nullptr}, this},
      PxeBinding{{PxeSupported, PxeStart, PxeStop, 0x10, nullptr, nullptr}, this} {
  CardDriverHandle = Target.NewHandle();
  PxeDriverHandle = Target.NewHandle();
  CardBinding.Binding.ImageHandle = CardBinding.Binding.DriverBindingHandle = CardDriverHandle;
  PxeBinding.Binding.ImageHandle = PxeBinding.Binding.DriverBindingHandle = PxeDriverHandle;
  Target.PublishOn(CardDriverHandle, DriverBindingGuid, &CardBinding.Binding);
  Target.PublishOn(PxeDriverHandle, DriverBindingGuid, &PxeBinding.Binding);
}

NetworkStackDouble &NetworkStackDouble::Of(EFI_DRIVER_BINDING_PROTOCOL *This) {
  return *reinterpret_cast<BindingRecord *>(reinterpret_cast<char *>(This) - offsetof(BindingRecord, Binding))->Owner;
}

CardDouble *NetworkStackDouble::CardAt(EFI_HANDLE Handle, EFI_HANDLE CardDouble::*Which) {
  for (CardDouble &Card : Cards) {
    if (Handle != nullptr && Card.*Which == Handle) {
      return &Card;
    }
  }
  return nullptr;
}

CardDouble &NetworkStackDouble::AddCard(UINT8 Device, UINT8 BaseClass) {
  CardDouble &Card = Cards.emplace_back();
  Card.BaseClass = BaseClass;
  Card.PciIo.Protocol.Pci.Read = ReadConfiguration;
  Card.PciIo.BaseClass = BaseClass;
  Card.PciPath.PciRoot(0).Pci(Device, 0);
  Card.NicPath.PciRoot(0).Pci(Device, 0).Mac(Device);
  Card.PxePath.PciRoot(0).Pci(Device, 0).Mac(Device).Ipv4();
  Card.Snp.Mode.MediaPresentSupported = TRUE;
  Card.Snp.Mode.MediaPresent = TRUE;
  Card.PciHandle = Target.PublishOn(nullptr, DevicePathGuid, Card.PciPath.Path());
  Target.PublishOn(Card.PciHandle, PciIoGuid, &Card.PciIo);
  return Card;
}

EFI_STATUS EFIAPI NetworkStackDouble::ReadConfiguration(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_WIDTH Width,
                                                        UINT32 Offset, UINTN Count, VOID *Buffer) {
  auto *Record = reinterpret_cast<PciIoRecord *>(This);
  if (Width != EfiPciIoWidthUint8 || Offset != PCI_CLASS_CODE_BASE_OFFSET || Count != 1) {
    return EFI_UNSUPPORTED;
  }
  *static_cast<UINT8 *>(Buffer) = Record->BaseClass;
  return EFI_SUCCESS;
}

void NetworkStackDouble::StartCardDriver(CardDouble &Card) {
  EFI_HANDLE Drivers[] = {CardDriverHandle, nullptr};
  Services().ConnectController(Card.PciHandle, Drivers, nullptr, FALSE);
}

void NetworkStackDouble::StartPxeDriver(CardDouble &Card) {
  EFI_HANDLE Drivers[] = {PxeDriverHandle, nullptr};
  Services().ConnectController(Card.NicHandle, Drivers, nullptr, FALSE);
}

EFI_STATUS NetworkStackDouble::StopPxeDriver(CardDouble &Card) {
  return Services().DisconnectController(Card.NicHandle, PxeDriverHandle, nullptr);
}

/* A PCI controller of class network that this driver does not run yet. */
EFI_STATUS EFIAPI NetworkStackDouble::CardSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                                    EFI_DEVICE_PATH_PROTOCOL *) {
  CardDouble *Card = Of(This).CardAt(Controller, &CardDouble::PciHandle);
  if (Card == nullptr || Card->BaseClass != PCI_CLASS_NETWORK) {
    return EFI_UNSUPPORTED;
  }
  return Card->NicHandle != nullptr ? EFI_ALREADY_STARTED : EFI_SUCCESS;
}

EFI_STATUS EFIAPI NetworkStackDouble::CardStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                                EFI_DEVICE_PATH_PROTOCOL *) {
  CardDouble &Card = *Of(This).CardAt(Controller, &CardDouble::PciHandle);
  VOID *PciIo;
  EFI_STATUS Status = Services().OpenProtocol(Controller, &PciIoGuid, &PciIo, This->DriverBindingHandle, Controller,
                                              EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_HANDLE Child = nullptr;
  Status = Services().InstallMultipleProtocolInterfaces(&Child, &DevicePathGuid, Card.NicPath.Path(),
                                                        &SimpleNetworkGuid, Card.Snp.Interface(), nullptr);
  if (EFI_ERROR(Status)) {
    Services().CloseProtocol(Controller, &PciIoGuid, This->DriverBindingHandle, Controller);
    return Status;
  }
  Card.NicHandle = Child;
  Services().OpenProtocol(Controller, &PciIoGuid, &PciIo, This->DriverBindingHandle, Child,
                          EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI NetworkStackDouble::CardStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN Count,
                                               EFI_HANDLE *Children) {
  CardDouble &Card = *Of(This).CardAt(Controller, &CardDouble::PciHandle);
  if (Count == 0) {
    return Services().CloseProtocol(Controller, &PciIoGuid, This->DriverBindingHandle, Controller);
  }
  Services().CloseProtocol(Controller, &PciIoGuid, This->DriverBindingHandle, Children[0]);
  EFI_STATUS Status = Services().UninstallMultipleProtocolInterfaces(Children[0], &DevicePathGuid, Card.NicPath.Path(),
                                                                     &SimpleNetworkGuid, Card.Snp.Interface(), nullptr);
  if (EFI_ERROR(Status)) {
    VOID *PciIo;
    Services().OpenProtocol(Controller, &PciIoGuid, &PciIo, This->DriverBindingHandle, Children[0],
                            EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
    return EFI_DEVICE_ERROR;
  }
  Card.NicHandle = nullptr;
  return EFI_SUCCESS;
}

/* A card's Simple Network handle that this driver does not hold yet. */
EFI_STATUS EFIAPI NetworkStackDouble::PxeSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                                   EFI_DEVICE_PATH_PROTOCOL *) {
  if (Of(This).CardAt(Controller, &CardDouble::NicHandle) == nullptr) {
    return EFI_UNSUPPORTED;
  }
  VOID *Network;
  EFI_STATUS Status = Services().OpenProtocol(Controller, &SimpleNetworkGuid, &Network, This->DriverBindingHandle,
                                              Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Services().CloseProtocol(Controller, &SimpleNetworkGuid, This->DriverBindingHandle, Controller);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI NetworkStackDouble::PxeStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                               EFI_DEVICE_PATH_PROTOCOL *) {
  CardDouble &Card = *Of(This).CardAt(Controller, &CardDouble::NicHandle);
  VOID *Network;
  EFI_STATUS Status = Services().OpenProtocol(Controller, &SimpleNetworkGuid, &Network, This->DriverBindingHandle,
                                              Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  EFI_HANDLE Child = nullptr;
  Status = Services().InstallMultipleProtocolInterfaces(&Child, &DevicePathGuid, Card.PxePath.Path(), &PxeBaseCodeGuid,
                                                        Card.Pxe.Interface(), &SimpleNetworkGuid, Network, nullptr);
  if (EFI_ERROR(Status)) {
    Services().CloseProtocol(Controller, &SimpleNetworkGuid, This->DriverBindingHandle, Controller);
    return Status;
  }
  Card.PxeHandle = Child;
  Services().OpenProtocol(Controller, &SimpleNetworkGuid, &Network, This->DriverBindingHandle, Child,
                          EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
  return EFI_SUCCESS;
}

/* The child goes with its interfaces; when an agent keeps PXE Base Code, the child stays and Stop fails. */
EFI_STATUS EFIAPI NetworkStackDouble::PxeStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN Count,
                                              EFI_HANDLE *Children) {
  CardDouble &Card = *Of(This).CardAt(Controller, &CardDouble::NicHandle);
  if (Count == 0) {
    return Services().CloseProtocol(Controller, &SimpleNetworkGuid, This->DriverBindingHandle, Controller);
  }
  Services().CloseProtocol(Controller, &SimpleNetworkGuid, This->DriverBindingHandle, Children[0]);
  EFI_STATUS Status = Services().UninstallMultipleProtocolInterfaces(Children[0], &DevicePathGuid, Card.PxePath.Path(),
                                                                     &PxeBaseCodeGuid, Card.Pxe.Interface(),
                                                                     &SimpleNetworkGuid, Card.Snp.Interface(), nullptr);
  if (EFI_ERROR(Status)) {
    VOID *Network;
    Services().OpenProtocol(Controller, &SimpleNetworkGuid, &Network, This->DriverBindingHandle, Children[0],
                            EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER);
    return EFI_DEVICE_ERROR;
  }
  Card.PxeHandle = nullptr;
  return EFI_SUCCESS;
}

} // namespace FirmwareDouble
