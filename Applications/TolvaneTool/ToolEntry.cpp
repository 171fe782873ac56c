/* The field tool's entry point: its arguments from the Shell, the command table, the usage text. */
#include "Library/TextLib.h"
#include "Protocol/ShellParameters.h"
#include "TolvaneTool.h"

namespace {
constexpr EFI_GUID ShellParametersGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;

struct TOOL_COMMAND {
  const CHAR16 *Name;
  UINTN MinArguments;
  UINTN MaxArguments;
  EFI_STATUS (*Run)(CHAR16 **Arguments, UINTN Count);
};

constexpr TOOL_COMMAND Commands[] = {
    {u"check", 0, 1, RunCheck}, {u"fetch", 2, 2, RunFetch}, {u"entries", 0, 0, RunEntries},
    {u"entry", 1, 1, RunEntry}, {u"file", 1, 2, RunFile},   {u"release", 0, 0, RunRelease},
};

bool IsHelp(const CHAR16 *Argument) {
  return CompareWideStrings(Argument, u"-h") == 0 || CompareWideStrings(Argument, u"--help") == 0 ||
         CompareWideStrings(Argument, u"help") == 0;
}
} // namespace

EFI_STATUS ReportUsage() {
  Print(u"usage: tolvane check [SERVER] | fetch SERVER ID | entries | entry N | file N [PATH] | release | -h\n");
  return EFI_INVALID_PARAMETER;
}

namespace {
/* tolvane -h: each command, what it calls and what it takes. */
VOID PrintHelp() {
  Print(u"usage: tolvane COMMAND [ARGUMENTS]\n"
        u"  check [SERVER]      what the service needs, each with what to do when it is missing;\n"
        u"                      with SERVER, whether this card receives the service's large TFTP blocks\n");
  Print(u"  fetch SERVER ID     FetchConfiguration: SERVER an IPv4 address, ID 1 to 8 characters\n"
        u"  entries             GetEntryCount, then every entry with its value\n"
        u"  entry N             GetEntry N (0 to 9999)\n");
  Print(u"  file N [PATH]       FetchNumberedFile N (0 to 9999), saved to PATH when given (fs0:\\name)\n"
        u"  release             ReleaseConfiguration\n"
        u"  -h                  this text\n"
        u"Statuses are printed as numbers; the exit status (%%lasterror%%) is the command's status.\n");
}
} // namespace

extern "C" EFI_STATUS EFIAPI ToolMain(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;

  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters;
  if (EFI_ERROR(BootServices->HandleProtocol(Image, &ShellParametersGuid, (VOID **)&Parameters))) {
    Print(u"tolvane: start it from the UEFI Shell, which hands it its arguments\n");
    return EFI_UNSUPPORTED;
  }
  if (Parameters->Argc < 2) {
    return ReportUsage();
  }
  if (IsHelp(Parameters->Argv[1])) {
    PrintHelp();
    return EFI_SUCCESS;
  }
  UINTN Count = Parameters->Argc - 2;
  for (const TOOL_COMMAND &Command : Commands) {
    if (CompareWideStrings(Parameters->Argv[1], Command.Name) == 0) {
      if (Count < Command.MinArguments || Count > Command.MaxArguments) {
        break;
      }
      return Command.Run(Parameters->Argv + 2, Count);
    }
  }
  return ReportUsage();
}

VOID WriteConsole(const CHAR16 *Text) {
  // OutputString does not write to the text; its published signature lacks the const.
  SystemTable->ConOut->OutputString(SystemTable->ConOut, const_cast<CHAR16 *>(Text));
}
