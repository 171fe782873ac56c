/*
 * run-app IMAGE: loads and starts a UEFI application from \EFI\Tolvane and
 * copies what it prints on the console into the transcript, one
 * "app: TEXT" line per line it prints. The PXE driver's own progress lines,
 * which it prints only when it starts the card, are left out, so the lines
 * do not depend on what ran before.
 */
#include "ScriptCommands.h"

namespace Runner {
namespace {
TRANSCRIPT_LINE Captured;
const CHAR8 *const FirmwareProgress[] = {"app: >>Start PXE", "app:   Station IP address is"};
EFI_STATUS(EFIAPI *ConsoleOutput)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);

EFI_STATUS EFIAPI CaptureOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);

/* TRUE when the captured line is one of the PXE driver's progress lines. */
bool IsFirmwareProgress() {
  for (const CHAR8 *Prefix : FirmwareProgress) {
    UINTN Index = 0;
    while (Prefix[Index] != 0 && Index < Captured.Length && Captured.Text[Index] == Prefix[Index]) {
      Index++;
    }
    if (Prefix[Index] == 0) {
      return true;
    }
  }
  return false;
}

/* Emits the captured line, if it holds more than its prefix, through the console's own output. */
VOID FlushCaptured() {
  if (Captured.Length > 5 && !IsFirmwareProgress()) {
    System->ConOut->OutputString = ConsoleOutput;
    Emit(Captured);
    System->ConOut->OutputString = CaptureOutput;
  }
  LineStart(Captured, "app: ");
}

/* Stands in for ConOut's OutputString while the application runs: each line becomes a transcript line. */
EFI_STATUS EFIAPI CaptureOutput(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *, CHAR16 *String) {
  for (; *String != 0; String++) {
    if (*String == '\n') {
      FlushCaptured();
    } else if (*String != '\r') {
      CHAR16 Unit[2] = {*String, 0};
      AppendWide(Captured, Unit, 1);
    }
  }
  return EFI_SUCCESS;
}
} // namespace

VOID CommandRunApplication(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  if (Count != 2) {
    EmitUsageError(Line, "run-app IMAGE");
    return;
  }
  UINTN PathSize = 0;
  EFI_DEVICE_PATH_PROTOCOL *DevicePath = DriverFolderDevicePath(Arguments[1], &PathSize);
  EFI_HANDLE Application = NULL;
  EFI_STATUS Status =
      DevicePath == NULL ? EFI_OUT_OF_RESOURCES : Boot->LoadImage(FALSE, OwnImage, DevicePath, NULL, 0, &Application);
  Release(DevicePath);
  Append(Line, "load ");
  AppendStatus(Line, Status);
  if (EFI_ERROR(Status)) {
    Emit(Line);
    return;
  }
  Emit(Line);
  LineStart(Captured, "app: ");
  ConsoleOutput = System->ConOut->OutputString;
  System->ConOut->OutputString = CaptureOutput;
  Status = Boot->StartImage(Application, NULL, NULL);
  FlushCaptured();
  System->ConOut->OutputString = ConsoleOutput;
  LineStart(Line, Arguments[1]);
  Append(Line, " returned ");
  AppendStatus(Line, Status);
  Emit(Line);
}

} // namespace Runner
