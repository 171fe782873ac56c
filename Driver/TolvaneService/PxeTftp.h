/*
 * PXE start-up, DHCP, the station address and TFTP transfers. Each call
 * looks the PXE Base Code interface up again under PXE_BASE_CODE_VARIANT_GUID.
 */
#ifndef TOLVANE_DRIVER_PXE_TFTP_H
#define TOLVANE_DRIVER_PXE_TFTP_H

#include "Protocol/PxeBaseCode.h"
#include "Uefi/Uefi.h"

/* Starts the interface (already started counts as success) and runs DHCP; the status of Dhcp. */
[[nodiscard]] EFI_STATUS PxeStartDhcp();

/* Starts the interface if needed and copies Mode.StationIp; EFI_SUCCESS or the failing status. */
[[nodiscard]] EFI_STATUS GetStationAddress(EFI_IP_ADDRESS *StationIp);

/* One Mtftp call with the arguments unchanged; its status. */
[[nodiscard]] EFI_STATUS TftpTransfer(EFI_PXE_BASE_CODE_TFTP_OPCODE Operation, VOID *BufferPtr, BOOLEAN Overwrite,
                                      UINT64 *BufferSize, UINTN *BlockSize, EFI_IP_ADDRESS *ServerIp,
                                      const CHAR8 *Filename, EFI_PXE_BASE_CODE_MTFTP_INFO *Info, BOOLEAN DontUseBuffer);

#endif
