/*
 * EFI_SIMPLE_NETWORK_PROTOCOL and its mode, as published in the UEFI
 * specification. The driver uses Start, Stop, Initialize, Shutdown,
 * ReceiveFilters and Mode; the members after ReceiveFilters are typed
 * loosely but keep their places.
 */
#ifndef TOLVANE_PROTOCOL_SIMPLE_NETWORK_H
#define TOLVANE_PROTOCOL_SIMPLE_NETWORK_H

#include "Uefi/UefiBaseType.h"

#define EFI_SIMPLE_NETWORK_PROTOCOL_GUID                                                                               \
  {                                                                                                                    \
    0xA19832B9, 0xAC25, 0x11D3, { 0x9A, 0x2D, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D }                                     \
  }

#define MAX_MCAST_FILTER_CNT 16

typedef enum {
  EfiSimpleNetworkStopped,
  EfiSimpleNetworkStarted,
  EfiSimpleNetworkInitialized,
  EfiSimpleNetworkMaxState
} EFI_SIMPLE_NETWORK_STATE;

typedef struct {
  UINT32 State;
  UINT32 HwAddressSize;
  UINT32 MediaHeaderSize;
  UINT32 MaxPacketSize;
  UINT32 NvRamSize;
  UINT32 NvRamAccessSize;
  UINT32 ReceiveFilterMask;
  UINT32 ReceiveFilterSetting;
  UINT32 MaxMCastFilterCount;
  UINT32 MCastFilterCount;
  EFI_MAC_ADDRESS MCastFilter[MAX_MCAST_FILTER_CNT];
  EFI_MAC_ADDRESS CurrentAddress;
  EFI_MAC_ADDRESS BroadcastAddress;
  EFI_MAC_ADDRESS PermanentAddress;
  UINT8 IfType;
  BOOLEAN MacAddressChangeable;
  BOOLEAN MultipleTxSupported;
  BOOLEAN MediaPresentSupported;
  BOOLEAN MediaPresent;
} EFI_SIMPLE_NETWORK_MODE;

typedef struct _EFI_SIMPLE_NETWORK_PROTOCOL EFI_SIMPLE_NETWORK_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_START)(EFI_SIMPLE_NETWORK_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_STOP)(EFI_SIMPLE_NETWORK_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_INITIALIZE)(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINTN ExtraRxBufferSize,
                                                          UINTN ExtraTxBufferSize);
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_RESET)(EFI_SIMPLE_NETWORK_PROTOCOL *This, BOOLEAN ExtendedVerification);
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_SHUTDOWN)(EFI_SIMPLE_NETWORK_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_NETWORK_RECEIVE_FILTERS)(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINT32 Enable,
                                                               UINT32 Disable, BOOLEAN ResetMCastFilter,
                                                               UINTN MCastFilterCnt, EFI_MAC_ADDRESS *MCastFilter);

struct _EFI_SIMPLE_NETWORK_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_NETWORK_START Start;
  EFI_SIMPLE_NETWORK_STOP Stop;
  EFI_SIMPLE_NETWORK_INITIALIZE Initialize;
  EFI_SIMPLE_NETWORK_RESET Reset;
  EFI_SIMPLE_NETWORK_SHUTDOWN Shutdown;
  EFI_SIMPLE_NETWORK_RECEIVE_FILTERS ReceiveFilters;
  VOID *StationAddress;
  VOID *Statistics;
  VOID *MCastIpToMac;
  VOID *NvData;
  VOID *GetStatus;
  VOID *Transmit;
  VOID *Receive;
  EFI_EVENT WaitForPacket;
  EFI_SIMPLE_NETWORK_MODE *Mode;
};

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Revision) == 0, "SNP.Revision");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Start) == 8, "SNP.Start");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Stop) == 16, "SNP.Stop");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Initialize) == 24, "SNP.Initialize");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Reset) == 32, "SNP.Reset");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Shutdown) == 40, "SNP.Shutdown");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, ReceiveFilters) == 48, "SNP.ReceiveFilters");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_PROTOCOL, Mode) == 120, "SNP.Mode");
static_assert(sizeof(EFI_SIMPLE_NETWORK_MODE) == 656, "SNP mode size");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, State) == 0, "Mode.State");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, ReceiveFilterMask) == 24, "Mode.ReceiveFilterMask");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, ReceiveFilterSetting) == 28, "Mode.ReceiveFilterSetting");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, MaxMCastFilterCount) == 32, "Mode.MaxMCastFilterCount");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, MCastFilterCount) == 36, "Mode.MCastFilterCount");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, MCastFilter) == 40, "Mode.MCastFilter");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, CurrentAddress) == 552, "Mode.CurrentAddress");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, MediaPresentSupported) == 651, "Mode.MediaPresentSupported");
static_assert(__builtin_offsetof(EFI_SIMPLE_NETWORK_MODE, MediaPresent) == 652, "Mode.MediaPresent");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiSimpleNetworkProtocolGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;
#endif

#endif
