/*
 * EFI_DEVICE_PATH_TO_TEXT_PROTOCOL, as published in the UEFI specification:
 * device paths as the firmware writes them ("PciRoot(0x0)/Pci(0x2,0x0)/...").
 */
#ifndef TOLVANE_PROTOCOL_DEVICE_PATH_TO_TEXT_H
#define TOLVANE_PROTOCOL_DEVICE_PATH_TO_TEXT_H

#include "Uefi/UefiTables.h"

#define EFI_DEVICE_PATH_TO_TEXT_PROTOCOL_GUID                                                                          \
  {                                                                                                                    \
    0x8B843E20, 0x8132, 0x4852, { 0x90, 0xCC, 0x55, 0x1A, 0x4E, 0x4A, 0x7F, 0x1C }                                     \
  }

/* The text is a pool block the caller releases; NULL when the firmware has no pool for it. */
typedef CHAR16 *(EFIAPI *EFI_DEVICE_PATH_TO_TEXT_PATH)(const EFI_DEVICE_PATH_PROTOCOL *DevicePath, BOOLEAN DisplayOnly,
                                                       BOOLEAN AllowShortcuts);

typedef struct {
  EFI_DEVICE_PATH_TO_TEXT_PATH ConvertDeviceNodeToText;
  EFI_DEVICE_PATH_TO_TEXT_PATH ConvertDevicePathToText;
} EFI_DEVICE_PATH_TO_TEXT_PROTOCOL;

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_DEVICE_PATH_TO_TEXT_PROTOCOL, ConvertDevicePathToText) == 8,
              "DevicePathToText.ConvertDevicePathToText");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiDevicePathToTextProtocolGuid = EFI_DEVICE_PATH_TO_TEXT_PROTOCOL_GUID;
#endif

#endif
