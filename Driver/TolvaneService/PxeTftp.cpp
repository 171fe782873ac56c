/* PXE start-up, DHCP, the station address and TFTP transfers. */
#include "PxeTftp.h"

#include "Library/FirmwareTables.h"
#include "Library/TextLib.h"
#include "TolvaneDriver.h"

namespace {

constexpr EFI_GUID PxeBaseCodeVariantGuid = PXE_BASE_CODE_VARIANT_GUID;

/* The PXE Base Code interface, looked up afresh; the status of LocateProtocol. */
EFI_STATUS LocatePxeBaseCode(EFI_PXE_BASE_CODE_PROTOCOL **Pxe) {
  VOID *Interface = NULL;
  EFI_STATUS Status = BootServices->LocateProtocol(&PxeBaseCodeVariantGuid, NULL, &Interface);
  *Pxe = static_cast<EFI_PXE_BASE_CODE_PROTOCOL *>(Interface);
  return Status;
}

/*
 * The interface, looked up afresh and started for IPv4; an interface already
 * started counts as success. The status of the look-up or of Start.
 */
EFI_STATUS LocateStartedPxeBaseCode(EFI_PXE_BASE_CODE_PROTOCOL **Pxe) {
  EFI_STATUS Status = LocatePxeBaseCode(Pxe);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  Status = (*Pxe)->Start(*Pxe, PxeUseIpv6);
  return Status == EFI_ALREADY_STARTED ? EFI_SUCCESS : Status;
}

} // namespace

/*
 * Starts the PXE Base Code interface and runs DHCP with sorted offers. The
 * status of Dhcp, or of the look-up or Start when they fail.
 */
EFI_STATUS PxeStartDhcp() {
  EFI_PXE_BASE_CODE_PROTOCOL *Pxe = NULL;
  EFI_STATUS Status = LocateStartedPxeBaseCode(&Pxe);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  return Pxe->Dhcp(Pxe, TRUE);
}

/*
 * Starts the interface if needed and copies all 16 bytes of its StationIp
 * to *StationIp. EFI_SUCCESS, or the status of the look-up or Start when
 * they fail (*StationIp is then not written).
 */
EFI_STATUS GetStationAddress(EFI_IP_ADDRESS *StationIp) {
  EFI_PXE_BASE_CODE_PROTOCOL *Pxe = NULL;
  EFI_STATUS Status = LocateStartedPxeBaseCode(&Pxe);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  MoveBytes(StationIp, &Pxe->Mode->StationIp, sizeof(EFI_IP_ADDRESS));
  return EFI_SUCCESS;
}

/*
 * One Mtftp call on the interface with the arguments as given. The status
 * of Mtftp, or of the look-up when it fails. Does not start the interface.
 */
EFI_STATUS TftpTransfer(EFI_PXE_BASE_CODE_TFTP_OPCODE Operation, VOID *BufferPtr, BOOLEAN Overwrite, UINT64 *BufferSize,
                        UINTN *BlockSize, EFI_IP_ADDRESS *ServerIp, const CHAR8 *Filename,
                        EFI_PXE_BASE_CODE_MTFTP_INFO *Info, BOOLEAN DontUseBuffer) {
  EFI_PXE_BASE_CODE_PROTOCOL *Pxe = NULL;
  EFI_STATUS Status = LocatePxeBaseCode(&Pxe);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // Mtftp only reads the name; its published signature lacks the const.
  auto *Name = reinterpret_cast<UINT8 *>(const_cast<CHAR8 *>(Filename));
  return Pxe->Mtftp(Pxe, Operation, BufferPtr, Overwrite, BufferSize, BlockSize, ServerIp, Name, Info, DontUseBuffer);
}
