/*
 * EFI_PXE_BASE_CODE_PROTOCOL and its mode, as published in the UEFI
 * specification. The driver uses Start, Dhcp, Mtftp and Mode.StationIp,
 * the field tool SetParameters;
 * the other members keep their places.
 */
#ifndef TOLVANE_PROTOCOL_PXE_BASE_CODE_H
#define TOLVANE_PROTOCOL_PXE_BASE_CODE_H

#include "Uefi/UefiBaseType.h"

/* The GUID under which stock firmware publishes the interface. */
#define EFI_PXE_BASE_CODE_PROTOCOL_GUID                                                                                \
  {                                                                                                                    \
    0x03C4E603, 0xAC28, 0x11D3, { 0x9A, 0x2D, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D }                                     \
  }

/* The GUID under which the driver looks the interface up (first field differs). */
#define PXE_BASE_CODE_VARIANT_GUID                                                                                     \
  {                                                                                                                    \
    0x04C4E604, 0xAC28, 0x11D3, { 0x9A, 0x2D, 0x00, 0x90, 0x27, 0x3F, 0xC1, 0x4D }                                     \
  }

typedef enum {
  EFI_PXE_BASE_CODE_TFTP_FIRST,
  EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE,
  EFI_PXE_BASE_CODE_TFTP_READ_FILE,
  EFI_PXE_BASE_CODE_TFTP_WRITE_FILE,
  EFI_PXE_BASE_CODE_TFTP_READ_DIRECTORY,
  EFI_PXE_BASE_CODE_MTFTP_GET_FILE_SIZE,
  EFI_PXE_BASE_CODE_MTFTP_READ_FILE,
  EFI_PXE_BASE_CODE_MTFTP_READ_DIRECTORY,
  EFI_PXE_BASE_CODE_MTFTP_LAST
} EFI_PXE_BASE_CODE_TFTP_OPCODE;

typedef UINT16 EFI_PXE_BASE_CODE_UDP_PORT;

typedef struct {
  EFI_IP_ADDRESS MCastIp;
  EFI_PXE_BASE_CODE_UDP_PORT CPort;
  EFI_PXE_BASE_CODE_UDP_PORT SPort;
  UINT16 ListenTimeout;
  UINT16 TransmitTimeout;
} EFI_PXE_BASE_CODE_MTFTP_INFO;

/* A received packet; only its size and alignment matter here. */
typedef union {
  UINT8 Raw[1472];
  UINT32 Align;
} EFI_PXE_BASE_CODE_PACKET;

#define EFI_PXE_BASE_CODE_MAX_IPCNT 8
#define EFI_PXE_BASE_CODE_MAX_ARP_ENTRIES 8
#define EFI_PXE_BASE_CODE_MAX_ROUTE_ENTRIES 8

typedef struct {
  UINT8 Filters;
  UINT8 IpCnt;
  UINT16 reserved;
  EFI_IP_ADDRESS IpList[EFI_PXE_BASE_CODE_MAX_IPCNT];
} EFI_PXE_BASE_CODE_IP_FILTER;

typedef struct {
  EFI_IP_ADDRESS IpAddr;
  EFI_MAC_ADDRESS MacAddr;
} EFI_PXE_BASE_CODE_ARP_ENTRY;

typedef struct {
  EFI_IP_ADDRESS IpAddr;
  EFI_IP_ADDRESS SubnetMask;
  EFI_IP_ADDRESS GwAddr;
} EFI_PXE_BASE_CODE_ROUTE_ENTRY;

typedef struct {
  UINT8 Type;
  UINT8 Code;
  UINT16 Checksum;
  UINT32 Reserved;
  UINT8 Data[494];
} EFI_PXE_BASE_CODE_ICMP_ERROR;

typedef struct {
  UINT8 ErrorCode;
  CHAR8 ErrorString[127];
} EFI_PXE_BASE_CODE_TFTP_ERROR;

typedef struct {
  BOOLEAN Started;
  BOOLEAN Ipv6Available;
  BOOLEAN Ipv6Supported;
  BOOLEAN UsingIpv6;
  BOOLEAN BisSupported;
  BOOLEAN BisDetected;
  BOOLEAN AutoArp;
  BOOLEAN SendGUID;
  BOOLEAN DhcpDiscoverValid;
  BOOLEAN DhcpAckReceived;
  BOOLEAN ProxyOfferReceived;
  BOOLEAN PxeDiscoverValid;
  BOOLEAN PxeReplyReceived;
  BOOLEAN PxeBisReplyReceived;
  BOOLEAN IcmpErrorReceived;
  BOOLEAN TftpErrorReceived;
  BOOLEAN MakeCallbacks;
  UINT8 TTL;
  UINT8 ToS;
  EFI_IP_ADDRESS StationIp;
  EFI_IP_ADDRESS SubnetMask;
  EFI_PXE_BASE_CODE_PACKET DhcpDiscover;
  EFI_PXE_BASE_CODE_PACKET DhcpAck;
  EFI_PXE_BASE_CODE_PACKET ProxyOffer;
  EFI_PXE_BASE_CODE_PACKET PxeDiscover;
  EFI_PXE_BASE_CODE_PACKET PxeReply;
  EFI_PXE_BASE_CODE_PACKET PxeBisReply;
  EFI_PXE_BASE_CODE_IP_FILTER IpFilter;
  UINT32 ArpCacheEntries;
  EFI_PXE_BASE_CODE_ARP_ENTRY ArpCache[EFI_PXE_BASE_CODE_MAX_ARP_ENTRIES];
  UINT32 RouteTableEntries;
  EFI_PXE_BASE_CODE_ROUTE_ENTRY RouteTable[EFI_PXE_BASE_CODE_MAX_ROUTE_ENTRIES];
  EFI_PXE_BASE_CODE_ICMP_ERROR IcmpError;
  EFI_PXE_BASE_CODE_TFTP_ERROR TftpError;
} EFI_PXE_BASE_CODE_MODE;

typedef struct _EFI_PXE_BASE_CODE_PROTOCOL EFI_PXE_BASE_CODE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PXE_BASE_CODE_START)(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN UseIpv6);
typedef EFI_STATUS(EFIAPI *EFI_PXE_BASE_CODE_STOP)(EFI_PXE_BASE_CODE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_PXE_BASE_CODE_DHCP)(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN SortOffers);
typedef EFI_STATUS(EFIAPI *EFI_PXE_BASE_CODE_MTFTP)(EFI_PXE_BASE_CODE_PROTOCOL *This,
                                                    EFI_PXE_BASE_CODE_TFTP_OPCODE Operation, VOID *BufferPtr,
                                                    BOOLEAN Overwrite, UINT64 *BufferSize, UINTN *BlockSize,
                                                    EFI_IP_ADDRESS *ServerIp, UINT8 *Filename,
                                                    EFI_PXE_BASE_CODE_MTFTP_INFO *Info, BOOLEAN DontUseBuffer);

/* The PXE Base Code's SetParameters; each NULL argument leaves its setting as it is. */
typedef EFI_STATUS(EFIAPI *EFI_PXE_BASE_CODE_SET_PARAMETERS)(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN *NewAutoArp,
                                                             BOOLEAN *NewSendGUID, UINT8 *NewTTL, UINT8 *NewToS,
                                                             BOOLEAN *NewMakeCallback);

struct _EFI_PXE_BASE_CODE_PROTOCOL {
  UINT64 Revision;
  EFI_PXE_BASE_CODE_START Start;
  EFI_PXE_BASE_CODE_STOP Stop;
  EFI_PXE_BASE_CODE_DHCP Dhcp;
  VOID *Discover;
  EFI_PXE_BASE_CODE_MTFTP Mtftp;
  VOID *UdpWrite;
  VOID *UdpRead;
  VOID *SetIpFilter;
  VOID *Arp;
  EFI_PXE_BASE_CODE_SET_PARAMETERS SetParameters;
  VOID *SetStationIp;
  VOID *SetPackets;
  EFI_PXE_BASE_CODE_MODE *Mode;
};

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Revision) == 0, "PXE.Revision");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Start) == 8, "PXE.Start");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Stop) == 16, "PXE.Stop");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Dhcp) == 24, "PXE.Dhcp");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Discover) == 32, "PXE.Discover");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Mtftp) == 40, "PXE.Mtftp");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, SetParameters) == 80, "PXE.SetParameters");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_PROTOCOL, Mode) == 104, "PXE.Mode");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_MODE, MakeCallbacks) == 16, "PXE Mode.MakeCallbacks");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_MODE, UsingIpv6) == 3, "PXE Mode.UsingIpv6");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_MODE, StationIp) == 20, "PXE Mode.StationIp");
static_assert(__builtin_offsetof(EFI_PXE_BASE_CODE_MODE, SubnetMask) == 36, "PXE Mode.SubnetMask");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiPxeBaseCodeProtocolGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
inline constexpr EFI_GUID PxeBaseCodeVariantProtocolGuid = PXE_BASE_CODE_VARIANT_GUID;
#endif

#endif
