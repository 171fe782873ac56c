/*
 * tolvane check SERVER: reads rivari.ini as the service does, at blocks of
 * 64512 bytes, and again at 1468, the largest block one Ethernet frame
 * carries. A 64512-byte block crosses the wire as some 44 IP fragments back
 * to back; a card whose receive ring is shorter loses the burst, and only
 * the small read arrives. The remedy is on the server: cap its block size.
 * A server may grant a smaller block than asked; then large blocks were
 * never tried, and the check says so instead of passing the card.
 */
#include "Library/PoolLib.h"
#include "TolvaneTool.h"

namespace {
constexpr UINTN FrameBlockSize = 1468;
CHAR8 ConfigurationFileName[] = TOLVANE_CONFIGURATION_FILE_NAME;

/* Starts Pxe and runs DHCP unless it has a station address already; the status of the step that failed. */
EFI_STATUS StartPxe(EFI_PXE_BASE_CODE_PROTOCOL *Pxe) {
  EFI_STATUS Status = Pxe->Start(Pxe, FALSE);
  if (EFI_ERROR(Status) && Status != EFI_ALREADY_STARTED) {
    Print(u"PXE start: status 0x%lX (%r)\n", Status, Status);
    return Status;
  }
  if (Pxe->Mode->StationIp.Addr[0] != 0) {
    return EFI_SUCCESS;
  }
  Status = Pxe->Dhcp(Pxe, TRUE);
  // A DHCP that fails leaves the firmware's ">>Start PXE over IPv4" without its line end.
  Print(EFI_ERROR(Status) ? u"\nDHCP: status 0x%lX (%r)\n" : u"DHCP: status 0x%lX (%r)\n", Status, Status);
  if (EFI_ERROR(Status)) {
    PrintAscii(DhcpFailureText);
  }
  return Status;
}

/*
 * One read of Size bytes asking for BlockSize; prints and returns its status
 * and, in *Granted, the block size the server granted as the firmware
 * reports it by writing another value back through the block size it was
 * handed; 0 when it reports none (the value it was handed is left alone,
 * which says nothing: the request is not evidence of the grant).
 */
EFI_STATUS ReadAtBlockSize(EFI_PXE_BASE_CODE_PROTOCOL *Pxe, EFI_IP_ADDRESS *Server, UINT64 Size, UINTN BlockSize,
                           UINTN *Granted) {
  *Granted = 0;
  // One byte more than promised, so that a file longer than its size answer is seen rather than cut.
  UINT64 Capacity = Size + 1;
  VOID *Buffer = Capacity > Size ? PoolAlloc((UINTN)Capacity) : NULL;
  if (Buffer == NULL) {
    Print(u"Read at blocks of %d: no pool for %ld bytes\n", BlockSize, Capacity);
    return EFI_OUT_OF_RESOURCES;
  }
  UINTN AgreedBlockSize = BlockSize;
  EFI_STATUS Status = Pxe->Mtftp(Pxe, EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer, FALSE, &Capacity, &AgreedBlockSize,
                                 Server, (UINT8 *)ConfigurationFileName, NULL, FALSE);
  PoolRelease(Buffer);
  if (EFI_ERROR(Status)) {
    Print(u"Read at blocks of %d: status 0x%lX (%r)\n", BlockSize, Status, Status);
  } else if (AgreedBlockSize != BlockSize) {
    *Granted = AgreedBlockSize;
    Print(u"Read at blocks of %d: status 0x%lX (%r), %ld bytes; the server granted blocks of %d\n", BlockSize, Status,
          Status, Capacity, AgreedBlockSize);
  } else {
    Print(u"Read at blocks of %d: status 0x%lX (%r), %ld bytes", BlockSize, Status, Status, Capacity);
    PrintAscii("; the firmware does not report the block size the server granted\n");
  }
  return Status;
}
} // namespace

EFI_STATUS ProbeBlockSizes(EFI_PXE_BASE_CODE_PROTOCOL *Pxe, EFI_IP_ADDRESS *Server) {
  EFI_STATUS Status = StartPxe(Pxe);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINT64 Size = 0;
  Status = Pxe->Mtftp(Pxe, EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, &Size, NULL, Server,
                      (UINT8 *)ConfigurationFileName, NULL, FALSE);
  Print(u"Size query of %a: status 0x%lX (%r), %ld bytes\n", ConfigurationFileName, Status, Status, Size);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  UINTN LargeGranted;
  UINTN SmallGranted;
  EFI_STATUS Large = ReadAtBlockSize(Pxe, Server, Size, TOLVANE_TFTP_BLOCK_SIZE, &LargeGranted);
  EFI_STATUS Small = ReadAtBlockSize(Pxe, Server, Size, FrameBlockSize, &SmallGranted);
  // "At the service's block size" is never said: a request the firmware leaves as it was is no proof of the grant.
  if (!EFI_ERROR(Large) && LargeGranted != 0) {
    Print(u"Server: delivers %a, but in blocks of %d, not the service's %d", ConfigurationFileName, LargeGranted,
          TOLVANE_TFTP_BLOCK_SIZE);
    PrintAscii(": large blocks were not tried, so this check cannot tell whether this card loses fragmented blocks\n");
  } else if (!EFI_ERROR(Large)) {
    Print(u"Server: delivers %a", ConfigurationFileName);
    PrintAscii(", at a block size the firmware does not report: if the server caps its block size below ");
    Print(u"%d", TOLVANE_TFTP_BLOCK_SIZE);
    PrintAscii(", large blocks were not tried, and this check cannot tell whether this card loses fragmented blocks\n");
  } else if (!EFI_ERROR(Small)) {
    Print(u"Server: THIS CARD LOSES FRAGMENTED BLOCKS: only blocks of %d arrive. Cap the server's block size: "
          u"tftpd-hpa with in.tftpd -B %d; dnsmasq keeps within one frame by default\n",
          FrameBlockSize, FrameBlockSize);
  } else {
    Print(u"Server: %a does not arrive at any block size: see the statuses above\n", ConfigurationFileName);
  }
  return Large;
}
