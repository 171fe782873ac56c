/*
 * EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL, as published in the UEFI
 * specification: installed on the PXE Base Code's handle, and with the
 * mode's MakeCallbacks set (SetParameters), it is shown each packet the
 * PXE Base Code sends and receives.
 */
#ifndef TOLVANE_PROTOCOL_PXE_BASE_CODE_CALLBACK_H
#define TOLVANE_PROTOCOL_PXE_BASE_CODE_CALLBACK_H

#include "Protocol/PxeBaseCode.h"

#define EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL_GUID                                                                       \
  {                                                                                                                    \
    0x245DCA21, 0xFB7B, 0x11D3, { 0x8F, 0x01, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B }                                     \
  }

#define EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL_REVISION 0x00010000

typedef enum {
  EFI_PXE_BASE_CODE_FUNCTION_FIRST,
  EFI_PXE_BASE_CODE_FUNCTION_DHCP,
  EFI_PXE_BASE_CODE_FUNCTION_DISCOVER,
  EFI_PXE_BASE_CODE_FUNCTION_MTFTP,
  EFI_PXE_BASE_CODE_FUNCTION_UDP_WRITE,
  EFI_PXE_BASE_CODE_FUNCTION_UDP_READ,
  EFI_PXE_BASE_CODE_FUNCTION_ARP,
  EFI_PXE_BASE_CODE_FUNCTION_IGMP,
  EFI_PXE_BASE_CODE_PXE_FUNCTION_LAST
} EFI_PXE_BASE_CODE_FUNCTION;

typedef enum {
  EFI_PXE_BASE_CODE_CALLBACK_STATUS_FIRST,
  EFI_PXE_BASE_CODE_CALLBACK_STATUS_CONTINUE,
  EFI_PXE_BASE_CODE_CALLBACK_STATUS_ABORT,
  EFI_PXE_BASE_CODE_CALLBACK_STATUS_LAST
} EFI_PXE_BASE_CODE_CALLBACK_STATUS;

typedef struct _EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL;

typedef EFI_PXE_BASE_CODE_CALLBACK_STATUS(EFIAPI *EFI_PXE_CALLBACK)(EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *This,
                                                                    EFI_PXE_BASE_CODE_FUNCTION Function,
                                                                    BOOLEAN Received, UINT32 PacketLen,
                                                                    EFI_PXE_BASE_CODE_PACKET *Packet);

struct _EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL {
  UINT64 Revision;
  EFI_PXE_CALLBACK Callback;
};

#ifdef __cplusplus
static_assert(sizeof(EFI_PXE_BASE_CODE_FUNCTION) == 4, "PXE callback function is a 32-bit enum");
static_assert(EFI_PXE_BASE_CODE_FUNCTION_MTFTP == 3, "PXE callback function MTFTP");
static_assert(EFI_PXE_BASE_CODE_CALLBACK_STATUS_CONTINUE == 1, "PXE callback status CONTINUE");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL, Callback) == 8, "PXE callback.Callback");

/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiPxeBaseCodeCallbackProtocolGuid = EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL_GUID;
#endif

#endif
