/*
 * A scriptable EFI_PXE_BASE_CODE_PROTOCOL for host tests: Start (answers
 * EFI_ALREADY_STARTED once started), Dhcp (a script of statuses), a live
 * Mode with StationIp, and Mtftp over an in-memory TFTP tree (name ->
 * bytes) with size queries, reads with capacity checks, missing files and
 * injected statuses. Every call is logged with all of its arguments, here
 * and (by name, "PXE.Mtftp") in the firmware's event log. Tests publish it
 * under whichever GUID they choose. SetParameters turns callbacks on and
 * off: with them on, a read shows the callback installed on the handle
 * holding the interface under the standard GUID each packet it receives.
 */
#ifndef TOLVANE_TEST_PXE_BASE_CODE_DOUBLE_H
#define TOLVANE_TEST_PXE_BASE_CODE_DOUBLE_H

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Double/ScriptedInterface.h"
#include "Protocol/PxeBaseCode.h"
#include "Protocol/PxeBaseCodeCallback.h"

namespace FirmwareDouble {

enum class PxeOperation { Start, Dhcp, Mtftp, SetParameters };

std::string PxeOperationName(PxeOperation Operation);

struct MtftpArguments {
  EFI_PXE_BASE_CODE_TFTP_OPCODE Operation;
  VOID *BufferPtr;
  bool BufferPtrIsNull;
  BOOLEAN Overwrite;
  UINT64 *BufferSize;
  bool BufferSizeIsNull;
  UINT64 BufferSizeIn;  // the value pointed to on entry (0 when NULL)
  UINT64 BufferSizeOut; // the value pointed to on return (0 when NULL)
  UINTN *BlockSize;
  bool BlockSizeIsNull;
  UINTN BlockSizeValue; // the value pointed to (0 when NULL)
  EFI_IP_ADDRESS *ServerIp;
  std::array<UINT8, 16> ServerIpBytes; // zero when NULL
  bool FilenameIsNull;
  std::string Filename;
  EFI_PXE_BASE_CODE_MTFTP_INFO *Info;
  BOOLEAN DontUseBuffer;
};

struct PxeCall {
  PxeOperation Operation;
  EFI_PXE_BASE_CODE_PROTOCOL *This;
  BOOLEAN Flag; // UseIpv6 of Start, SortOffers of Dhcp
  bool StartedBefore;
  EFI_STATUS Status;
  MtftpArguments Mtftp; // for Mtftp calls only
};

/* Published under whichever GUID a test chooses (the driver looks under PXE_BASE_CODE_VARIANT_GUID). */
class PxeBaseCodeDouble
    : public ScriptedInterface<PxeBaseCodeDouble, EFI_PXE_BASE_CODE_PROTOCOL, PxeOperation, PxeCall> {
public:
  PxeBaseCodeDouble();

  // Live mode; tests may set StationIp (all 16 bytes) and Started.
  EFI_PXE_BASE_CODE_MODE Mode{};
  // Where a successful Dhcp puts the station, when set.
  std::optional<EFI_IP_ADDRESS> DhcpAddress;
  // The statuses of successive Dhcp calls; when it runs dry, Dhcp succeeds.
  std::deque<EFI_STATUS> DhcpScript;
  // The TFTP tree: file name -> contents.
  std::map<std::string, std::vector<UINT8>> Files;
  /*
   * When set, a read delivers only min(this, capacity, file size) bytes and
   * reports this value as the size received: a file that shrank between the
   * size query and the read, or (above the capacity) a firmware that
   * overstates what it wrote.
   */
  std::optional<UINT64> ReadReports;
  /* When set, a read writes this block size back through its BlockSize pointer, as firmware may after negotiating. */
  std::optional<UINTN> NegotiatedBlockSize;
  /*
   * The block size the server grants a read (at most the one asked): the
   * callback is shown an option acknowledgement naming it, then data blocks
   * of that size. Unset, it is
   * shown data blocks of 512 bytes and no acknowledgement, as from a server
   * that takes no options.
   */
  std::optional<UINTN> GrantedBlockSize;
  // A card that loses blocks larger than this (fragmented): such a read shows its acknowledgement, then times out.
  std::optional<UINTN> CardLosesBlocksAbove;
  // A firmware without callbacks: SetParameters refuses to turn them on, wherever the callback is.
  bool RefusesCallbacks = false;

  std::vector<const MtftpArguments *> MtftpCalls() const;

private:
  static EFI_STATUS EFIAPI Start(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN UseIpv6);
  static EFI_STATUS EFIAPI Stop(EFI_PXE_BASE_CODE_PROTOCOL *This);
  static EFI_STATUS EFIAPI Dhcp(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN SortOffers);
  static EFI_STATUS EFIAPI Mtftp(EFI_PXE_BASE_CODE_PROTOCOL *This, EFI_PXE_BASE_CODE_TFTP_OPCODE Operation,
                                 VOID *BufferPtr, BOOLEAN Overwrite, UINT64 *BufferSize, UINTN *BlockSize,
                                 EFI_IP_ADDRESS *ServerIp, UINT8 *Filename, EFI_PXE_BASE_CODE_MTFTP_INFO *Info,
                                 BOOLEAN DontUseBuffer);
  static EFI_STATUS EFIAPI SetParameters(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN *NewAutoArp, BOOLEAN *NewSendGUID,
                                         UINT8 *NewTTL, UINT8 *NewToS, BOOLEAN *NewMakeCallback);

  PxeCall &BeginCall(PxeOperation Operation, EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN Flag);
  EFI_STATUS Transfer(const MtftpArguments &Arguments, VOID *BufferPtr, UINT64 *BufferSize);
  /* Shows the callback, when on, the packets of a read of FileSize bytes in blocks of Block (granted or not). */
  void ShowReadPackets(UINT64 FileSize, UINTN Block, bool AcknowledgementOnly);

  // The callback SetParameters found on the interface's handle, while callbacks are on.
  EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *Callback = nullptr;
};

} // namespace FirmwareDouble

#endif
