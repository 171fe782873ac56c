/* The commands that act on the platform: the driver image, handles, PXE publication, the UART. */
#include "ScriptCommands.h"

namespace Runner {
namespace {
constexpr UINT16 SerialBase = 0x3F8;
constexpr UINT16 LineControlPort = SerialBase + 3;
constexpr UINT8 DivisorLatchAccess = 0x80;
} // namespace

/* load-driver [IMAGE]: LoadImage of \EFI\Tolvane\IMAGE (TolvaneService.efi) and StartImage. */
VOID CommandLoadDriver(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  if (Count > 2) {
    EmitUsageError(Line, "load-driver [IMAGE]");
    return;
  }
  EFI_STATUS StartStatus;
  UINT64 Start = ReadCycles();
  EFI_STATUS Status = LoadServiceDriver(Count == 2 ? Arguments[1] : "TolvaneService.efi", &StartStatus);
  UINT64 Elapsed = MicrosecondsSince(Start);
  Append(Line, "load ");
  AppendStatus(Line, Status);
  Append(Line, ", start ");
  AppendStatus(Line, StartStatus);
  AppendElapsed(Line, Elapsed);
  Emit(Line);
}

/* handles: the number of handles that carry the service protocol. */
VOID CommandHandles(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  AppendUnsigned(Line, CountServiceHandles());
  Append(Line, " with the service protocol");
  Emit(Line);
}

/*
 * publish-pxe none | publish-pxe NIC NAME: withdraws the runner's variant
 * publication, then publishes card NIC's PXE Base Code. The harness writes
 * NIC; the transcript shows only NAME, so expectations do not depend on it.
 */
VOID CommandPublishPxe(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  INT64 Nic = 0;
  bool Withdraw = Count == 2 && TextEquals(Arguments[1], "none");
  if (!Withdraw && (Count != 3 || !ParseSigned(Arguments[1], &Nic) || Nic <= 0 || Nic > 255)) {
    EmitUsageError(Line, "publish-pxe none|NIC NAME");
    return;
  }
  LineStart(Line, "publish-pxe ");
  Append(Line, Withdraw ? "none" : Arguments[2]);
  Append(Line, ": ");
  AppendStatus(Line, PublishPxeVariant((UINTN)Nic));
  Emit(Line);
}

/* serial-check: reads back the UART's line control and divisor, then restores the line control. */
VOID CommandSerialCheck(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  UINT8 LineControl = ReadPort(LineControlPort);
  WritePort(LineControlPort, LineControl | DivisorLatchAccess);
  UINT8 DivisorLow = ReadPort(SerialBase);
  UINT8 DivisorHigh = ReadPort(SerialBase + 1);
  WritePort(LineControlPort, LineControl);
  Append(Line, "line control ");
  AppendHex(Line, LineControl, 2);
  Append(Line, ", divisor ");
  AppendUnsigned(Line, ((UINT64)DivisorHigh << 8) | DivisorLow);
  Emit(Line);
}

} // namespace Runner
