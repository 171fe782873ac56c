/*
 * Entry point of the firmware test runner: disables the watchdog, connects
 * the controllers, runs the script \runner-script.txt of its volume and
 * shuts the machine down.
 */
#include "Runner.h"

namespace Runner {
EFI_HANDLE OwnImage;
EFI_SYSTEM_TABLE *System;
EFI_BOOT_SERVICES *Boot;

namespace {
const CHAR8 ScriptPath[] = "\\runner-script.txt";

/* Emits "runner: TEXT N". */
VOID EmitCount(const CHAR8 *Text, UINT64 Count) {
  TRANSCRIPT_LINE Line;
  LineStart(Line, "runner: ");
  Append(Line, Text);
  AppendUnsigned(Line, Count);
  Emit(Line);
}
} // namespace
} // namespace Runner

extern "C" EFI_STATUS EFIAPI RunnerMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  using namespace Runner;
  OwnImage = ImageHandle;
  System = SystemTable;
  Boot = SystemTable->BootServices;
  Boot->SetWatchdogTimer(0, 0, 0, NULL);

  EmitText("runner: start");
  CalibrateTimer();
  UINT64 Start = ReadCycles();
  UINTN Handles = ConnectAllControllers();
  EmitCount("connected handles ", Handles);
  EmitCount("PXE Base Code interfaces ", CountPublishedPxe());
  EmitCount("connect time ms ", MicrosecondsSince(Start) / 1000);

  VOID *Script = NULL;
  UINTN ScriptSize = 0;
  EFI_STATUS Status = ReadVolumeFile(ScriptPath, &Script, &ScriptSize);
  if (EFI_ERROR(Status)) {
    TRANSCRIPT_LINE Line;
    LineStart(Line, "runner: cannot read the script, ");
    AppendStatus(Line, Status);
    Emit(Line);
  } else {
    RunScript((CHAR8 *)Script, ScriptSize);
    Release(Script);
  }
  EmitText("runner: done");
  System->RuntimeServices->ResetSystem(EfiResetShutdown, EFI_SUCCESS, 0, NULL);
  return EFI_SUCCESS;
}
