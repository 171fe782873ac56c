/*
 * The network companion's mark: TolvaneNetworkSetup.efi installs this GUID
 * on its image handle, beside its Driver Binding. A second copy finds it
 * and leaves; the field tool finds it to say that the companion is loaded.
 * The interface is the companion's revision. This header compiles as C11
 * and as C++.
 */
#ifndef TOLVANE_PROTOCOL_TOLVANE_NETWORK_SETUP_H
#define TOLVANE_PROTOCOL_TOLVANE_NETWORK_SETUP_H

#include "Uefi/UefiBaseType.h"

#define TOLVANE_NETWORK_SETUP_PROTOCOL_GUID                                                                            \
  {                                                                                                                    \
    0x6108B14B, 0x40B1, 0x4C01, { 0x87, 0x5A, 0xFC, 0xA5, 0xD3, 0xE9, 0x55, 0x91 }                                     \
  }

typedef struct {
  UINT32 Revision;
} TOLVANE_NETWORK_SETUP_PROTOCOL;

#define TOLVANE_NETWORK_SETUP_REVISION 0x00010000

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID TolvaneNetworkSetupProtocolGuid = TOLVANE_NETWORK_SETUP_PROTOCOL_GUID;
#endif

#endif
