/*
 * A machine's network cards as the firmware's drivers present them, for
 * host tests: each card a PCI controller; a card driver whose binding puts
 * Simple Network on a child with a MAC device path; a PXE driver whose
 * binding holds that Simple Network BY_DRIVER and puts PXE Base Code (and
 * the card's Simple Network again) on a child of its own. Both drivers
 * stop as the UEFI driver model has them: children first, interfaces
 * uninstalled, opens closed. Nothing is connected until someone connects.
 */
#ifndef TOLVANE_TEST_NETWORK_STACK_DOUBLE_H
#define TOLVANE_TEST_NETWORK_STACK_DOUBLE_H

#include <deque>

#include "Double/DevicePathDouble.h"
#include "Double/PxeBaseCodeDouble.h"
#include "Double/SimpleNetworkDouble.h"
#include "Protocol/DriverBinding.h"
#include "Protocol/PciIo.h"

namespace FirmwareDouble {

/* PCI I/O with the one configuration byte it answers: the base class. The protocol comes first, to find the record. */
struct PciIoRecord {
  EFI_PCI_IO_PROTOCOL Protocol;
  UINT8 BaseClass;
};

struct CardDouble {
  UINT8 BaseClass;
  PciIoRecord PciIo{};
  DevicePathDouble PciPath;
  DevicePathDouble NicPath;
  DevicePathDouble PxePath;
  SimpleNetworkDouble Snp;
  PxeBaseCodeDouble Pxe;
  EFI_HANDLE PciHandle = nullptr;
  EFI_HANDLE NicHandle = nullptr; // Simple Network, while the card driver runs
  EFI_HANDLE PxeHandle = nullptr; // PXE Base Code, while the PXE driver runs
};

class NetworkStackDouble {
public:
  /* Installs both drivers' bindings on handles of their own. */
  explicit NetworkStackDouble(Firmware &Target);
  NetworkStackDouble(const NetworkStackDouble &) = delete;
  NetworkStackDouble &operator=(const NetworkStackDouble &) = delete;

  /* A PCI controller of BaseClass at device Device, unconnected. */
  CardDouble &AddCard(UINT8 Device, UINT8 BaseClass = PCI_CLASS_NETWORK);

  /* Connects the card driver alone (the card gets Simple Network), then the PXE driver alone. */
  void StartCardDriver(CardDouble &Card);
  void StartPxeDriver(CardDouble &Card);
  /* The PXE driver lets go of the card, as when it is unloaded: the status of its Stop. */
  EFI_STATUS StopPxeDriver(CardDouble &Card);

  EFI_HANDLE CardDriverHandle;
  EFI_HANDLE PxeDriverHandle;
  std::deque<CardDouble> Cards;

private:
  struct BindingRecord {
    EFI_DRIVER_BINDING_PROTOCOL Binding;
    NetworkStackDouble *Owner;
  };
  static NetworkStackDouble &Of(EFI_DRIVER_BINDING_PROTOCOL *This);
  CardDouble *CardAt(EFI_HANDLE Handle, EFI_HANDLE CardDouble::*Which);

  static EFI_STATUS EFIAPI CardSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                         EFI_DEVICE_PATH_PROTOCOL *);
  static EFI_STATUS EFIAPI CardStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                     EFI_DEVICE_PATH_PROTOCOL *);
  static EFI_STATUS EFIAPI CardStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN Count,
                                    EFI_HANDLE *Children);
  static EFI_STATUS EFIAPI PxeSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                        EFI_DEVICE_PATH_PROTOCOL *);
  static EFI_STATUS EFIAPI PxeStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller,
                                    EFI_DEVICE_PATH_PROTOCOL *);
  static EFI_STATUS EFIAPI PxeStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN Count,
                                   EFI_HANDLE *Children);
  static EFI_STATUS EFIAPI ReadConfiguration(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_WIDTH Width, UINT32 Offset,
                                             UINTN Count, VOID *Buffer);

  Firmware &Target;
  BindingRecord CardBinding;
  BindingRecord PxeBinding;
};

} // namespace FirmwareDouble

#endif
