/*
 * EFI_DEVICE_PATH_PROTOCOL: its GUID and the node types the firmware test
 * runner reads and builds. The node header itself is declared in Uefi/UefiTables.h.
 */
#ifndef TOLVANE_PROTOCOL_DEVICE_PATH_H
#define TOLVANE_PROTOCOL_DEVICE_PATH_H

#include "Uefi/UefiTables.h"

#define EFI_DEVICE_PATH_PROTOCOL_GUID                                                                                  \
  {                                                                                                                    \
    0x09576E91, 0x6D3F, 0x11D2, { 0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B }                                     \
  }

#define MESSAGING_DEVICE_PATH 0x03
#define MSG_IPv4_DP 0x0C
#define MSG_IPv6_DP 0x0D
#define MEDIA_DEVICE_PATH 0x04
#define MEDIA_FILEPATH_DP 0x04
#define MEDIA_PIWG_FW_FILE_DP 0x06
#define END_DEVICE_PATH_TYPE 0x7F
#define END_ENTIRE_DEVICE_PATH_SUBTYPE 0xFF

#ifdef __cplusplus
static_assert(sizeof(EFI_DEVICE_PATH_PROTOCOL) == 4, "EFI_DEVICE_PATH_PROTOCOL node header size");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiDevicePathProtocolGuid = EFI_DEVICE_PATH_PROTOCOL_GUID;
#endif

#endif
