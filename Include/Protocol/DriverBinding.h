/*
 * EFI_DRIVER_BINDING_PROTOCOL, as published in the UEFI specification, and
 * the OpenProtocol attributes a driver of the UEFI driver model uses.
 */
#ifndef TOLVANE_PROTOCOL_DRIVER_BINDING_H
#define TOLVANE_PROTOCOL_DRIVER_BINDING_H

#include "Uefi/UefiTables.h"

#define EFI_DRIVER_BINDING_PROTOCOL_GUID                                                                               \
  {                                                                                                                    \
    0x18A031AB, 0xB443, 0x4D1A, { 0xA5, 0xC0, 0x0C, 0x09, 0x26, 0x1E, 0x9F, 0x71 }                                     \
  }

#define EFI_OPEN_PROTOCOL_BY_HANDLE_PROTOCOL 0x00000001
#define EFI_OPEN_PROTOCOL_GET_PROTOCOL 0x00000002
#define EFI_OPEN_PROTOCOL_TEST_PROTOCOL 0x00000004
#define EFI_OPEN_PROTOCOL_BY_CHILD_CONTROLLER 0x00000008
#define EFI_OPEN_PROTOCOL_BY_DRIVER 0x00000010
#define EFI_OPEN_PROTOCOL_EXCLUSIVE 0x00000020

typedef struct _EFI_DRIVER_BINDING_PROTOCOL EFI_DRIVER_BINDING_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_SUPPORTED)(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE ControllerHandle,
                                                         EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_START)(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE ControllerHandle,
                                                     EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath);
typedef EFI_STATUS(EFIAPI *EFI_DRIVER_BINDING_STOP)(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE ControllerHandle,
                                                    UINTN NumberOfChildren, EFI_HANDLE *ChildHandleBuffer);

struct _EFI_DRIVER_BINDING_PROTOCOL {
  EFI_DRIVER_BINDING_SUPPORTED Supported;
  EFI_DRIVER_BINDING_START Start;
  EFI_DRIVER_BINDING_STOP Stop;
  UINT32 Version;
  EFI_HANDLE ImageHandle;
  EFI_HANDLE DriverBindingHandle;
};

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_DRIVER_BINDING_PROTOCOL, Start) == 8, "DriverBinding.Start");
static_assert(__builtin_offsetof(EFI_DRIVER_BINDING_PROTOCOL, Stop) == 16, "DriverBinding.Stop");
static_assert(__builtin_offsetof(EFI_DRIVER_BINDING_PROTOCOL, Version) == 24, "DriverBinding.Version");
static_assert(__builtin_offsetof(EFI_DRIVER_BINDING_PROTOCOL, ImageHandle) == 32, "DriverBinding.ImageHandle");
static_assert(__builtin_offsetof(EFI_DRIVER_BINDING_PROTOCOL, DriverBindingHandle) == 40,
              "DriverBinding.DriverBindingHandle");
static_assert(sizeof(EFI_DRIVER_BINDING_PROTOCOL) == 48, "EFI_DRIVER_BINDING_PROTOCOL size");
#endif

#endif
