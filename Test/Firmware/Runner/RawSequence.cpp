/*
 * raw-sequence SERVER FILE: the firmware calls a configuration fetch is made
 * of, made directly on the PXE Base Code the runner published (Start, Dhcp
 * with one retry, size query, read with 64512-byte blocks), each timed, and
 * the last fetch's time over their sum.
 */
#include "Protocol/PxeBaseCode.h"
#include "ScriptCommands.h"

namespace Runner {
namespace {
UINTN RequestedBlockSize = 64512;

/* Emits one step of the raw sequence. */
VOID EmitStep(const CHAR8 *Step, EFI_STATUS Status, const UINT64 *Size, UINT64 Microseconds) {
  TRANSCRIPT_LINE Line;
  LineStart(Line, "raw ");
  Append(Line, Step);
  Append(Line, ": ");
  AppendStatus(Line, Status);
  if (Size != NULL) {
    Append(Line, ", size ");
    AppendUnsigned(Line, *Size);
  }
  AppendElapsed(Line, Microseconds);
  Emit(Line);
}

/* Appends Numerator / Denominator with two decimals. */
VOID AppendRatio(TRANSCRIPT_LINE &Line, UINT64 Numerator, UINT64 Denominator) {
  if (Denominator == 0) {
    Append(Line, "n/a");
    return;
  }
  UINT64 Hundredths = (Numerator * 100 + Denominator / 2) / Denominator;
  AppendUnsigned(Line, Hundredths / 100);
  Append(Line, ".");
  AppendUnsigned(Line, (Hundredths / 10) % 10);
  AppendUnsigned(Line, Hundredths % 10);
}
} // namespace

VOID CommandRawSequence(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  EFI_IP_ADDRESS Server;
  if (Count != 3 || !ParseAddress(Arguments[1], &Server)) {
    EmitUsageError(Line, "raw-sequence SERVER FILE");
    return;
  }
  EFI_PXE_BASE_CODE_PROTOCOL *Pxe = (EFI_PXE_BASE_CODE_PROTOCOL *)PublishedPxe();
  if (Pxe == NULL) {
    Append(Line, "no PXE Base Code published");
    Emit(Line);
    return;
  }
  Append(Line, "begin");
  Emit(Line);

  UINT64 Start = ReadCycles();
  EFI_STATUS Status = Pxe->Start(Pxe, FALSE);
  UINT64 StartTime = MicrosecondsSince(Start);
  EmitStep("start", Status, NULL, StartTime);

  Start = ReadCycles();
  Status = Pxe->Dhcp(Pxe, TRUE);
  if (EFI_ERROR(Status)) {
    Status = Pxe->Dhcp(Pxe, TRUE);
  }
  UINT64 DhcpTime = MicrosecondsSince(Start);
  EmitStep("dhcp", Status, NULL, DhcpTime);

  UINT64 FileSize = 0;
  Start = ReadCycles();
  Status = Pxe->Mtftp(Pxe, EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, &FileSize, NULL, &Server,
                      (UINT8 *)Arguments[2], NULL, TRUE);
  UINT64 SizeTime = MicrosecondsSince(Start);
  EmitStep("size query", Status, &FileSize, SizeTime);
  if (EFI_ERROR(Status)) {
    return;
  }

  VOID *Buffer = Allocate((UINTN)FileSize + 1);
  if (Buffer == NULL) {
    EmitText("raw read: runner out of memory");
    return;
  }
  Start = ReadCycles();
  Status = Pxe->Mtftp(Pxe, EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer, FALSE, &FileSize, &RequestedBlockSize, &Server,
                      (UINT8 *)Arguments[2], NULL, FALSE);
  UINT64 ReadTime = MicrosecondsSince(Start);
  Release(Buffer);
  EmitStep("read", Status, &FileSize, ReadTime);

  UINT64 RawTotal = StartTime + DhcpTime + SizeTime + ReadTime;
  LineStart(Line, "raw total");
  AppendElapsed(Line, RawTotal);
  Emit(Line);

  /* The bracket keeps the measured figures out of the transcript comparison. */
  LineStart(Line, "overhead [fetch ");
  AppendUnsigned(Line, LastFetchMicroseconds / 1000);
  Append(Line, " ms / raw ");
  AppendUnsigned(Line, RawTotal / 1000);
  Append(Line, " ms = ");
  AppendRatio(Line, LastFetchMicroseconds, RawTotal);
  Append(Line, "; without DHCP ");
  UINT64 FetchWithoutDhcp = LastFetchMicroseconds > DhcpTime ? LastFetchMicroseconds - DhcpTime : 0;
  AppendUnsigned(Line, FetchWithoutDhcp / 1000);
  Append(Line, " ms / ");
  AppendUnsigned(Line, (RawTotal - DhcpTime) / 1000);
  Append(Line, " ms = ");
  AppendRatio(Line, FetchWithoutDhcp, RawTotal - DhcpTime);
  Append(Line, "]");
  Emit(Line);
}

} // namespace Runner
