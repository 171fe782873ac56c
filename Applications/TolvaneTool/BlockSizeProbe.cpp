/*
 * tolvane check SERVER: reads rivari.ini as the service does, at blocks of
 * 64512 bytes, and again at 1468, the largest block one Ethernet frame
 * carries. A 64512-byte block crosses the wire as some 44 IP fragments back
 * to back; a card whose receive ring is shorter loses the burst, and only
 * the small read arrives. The remedy is on the server: cap its block size.
 * A server may grant a smaller block than asked (its option
 * acknowledgement, which the firmware's callback shows); then large blocks
 * were never tried, and the check says so instead of passing the card.
 */
#include "Library/PoolLib.h"
#include "TolvaneTool.h"

namespace {
constexpr UINTN FrameBlockSize = 1468;
CHAR8 ConfigurationFileName[] = TOLVANE_CONFIGURATION_FILE_NAME;
const CHAR8 CannotTellText[] = "this check cannot tell whether this card loses fragmented blocks\n";

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
 * and, in *Granted, the block size the server granted as the firmware's
 * callback saw it; 0 when it saw none (the request is no evidence of it).
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
  TakeGrant();
  UINTN Asked = BlockSize;
  EFI_STATUS Status = Pxe->Mtftp(Pxe, EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer, FALSE, &Capacity, &Asked, Server,
                                 (UINT8 *)ConfigurationFileName, NULL, FALSE);
  *Granted = TakeGrant();
  PoolRelease(Buffer);
  Print(u"Read at blocks of %d: status 0x%lX (%r)", BlockSize, Status, Status);
  if (EFI_ERROR(Status) && *Granted != 0) {
    Print(u" after the server granted blocks of %d\n", *Granted);
  } else if (EFI_ERROR(Status)) {
    PrintAscii("\n");
  } else if (*Granted != 0) {
    Print(u", %ld bytes in blocks of %d\n", Capacity, *Granted);
  } else {
    Print(u", %ld bytes", Capacity);
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
  WatchGrants(Pxe);
  UINTN LargeGranted;
  UINTN SmallGranted;
  EFI_STATUS Large = ReadAtBlockSize(Pxe, Server, Size, TOLVANE_TFTP_BLOCK_SIZE, &LargeGranted);
  EFI_STATUS Small = ReadAtBlockSize(Pxe, Server, Size, FrameBlockSize, &SmallGranted);
  StopWatchingGrants(Pxe);
  // Large blocks are said to arrive only when the server granted them and the file needed one beyond a frame.
  if (!EFI_ERROR(Large) && LargeGranted == TOLVANE_TFTP_BLOCK_SIZE && Size > FrameBlockSize) {
    Print(u"Server: delivers %a in blocks of %d: this card receives the service's large blocks\n",
          ConfigurationFileName, LargeGranted);
  } else if (!EFI_ERROR(Large) && LargeGranted == TOLVANE_TFTP_BLOCK_SIZE) {
    Print(u"Server: delivers %a in blocks of %d, but the file fits one frame", ConfigurationFileName, LargeGranted);
    PrintAscii(": no large block was sent, so ");
    PrintAscii(CannotTellText);
  } else if (!EFI_ERROR(Large) && LargeGranted != 0) {
    Print(u"Server: delivers %a, but in blocks of %d, not the service's %d", ConfigurationFileName, LargeGranted,
          TOLVANE_TFTP_BLOCK_SIZE);
    PrintAscii(": large blocks were not tried, so ");
    PrintAscii(CannotTellText);
  } else if (!EFI_ERROR(Large)) {
    Print(u"Server: delivers %a", ConfigurationFileName);
    PrintAscii(", at a block size the firmware does not report: if the server caps its block size below ");
    Print(u"%d", TOLVANE_TFTP_BLOCK_SIZE);
    PrintAscii(", large blocks were not tried, and ");
    PrintAscii(CannotTellText);
  } else if (!EFI_ERROR(Small)) {
    Print(u"Server: THIS CARD LOSES FRAGMENTED BLOCKS: only blocks of %d arrive. Cap the server's block size: "
          u"tftpd-hpa with in.tftpd -B %d; dnsmasq keeps within one frame by default\n",
          FrameBlockSize, FrameBlockSize);
  } else {
    Print(u"Server: %a does not arrive at any block size: see the statuses above\n", ConfigurationFileName);
  }
  return Large;
}
