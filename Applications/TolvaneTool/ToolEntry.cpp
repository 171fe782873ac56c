/* The field tool's entry point: its arguments from the Shell, the command table, the usage text. */
#include "Library/TextLib.h"
#include "Protocol/ShellParameters.h"
#include "TolvaneTool.h"

namespace {

struct TOOL_COMMAND {
  const CHAR16 *Name;
  UINTN MinArguments;
  UINTN MaxArguments;
  const CHAR16 *Takes; // what follows the name, for the error of a wrong count
  EFI_STATUS (*Run)(CHAR16 **Arguments, UINTN Count);
};

constexpr TOOL_COMMAND Commands[] = {
    {u"check", 0, 1, u"an optional SERVER", RunCheck},   {u"fetch", 2, 2, u"SERVER ID", RunFetch},
    {u"entries", 0, 0, u"no argument", RunEntries},      {u"entry", 1, 1, u"N", RunEntry},
    {u"file", 1, 2, u"N and an optional PATH", RunFile}, {u"release", 0, 0, u"no argument", RunRelease},
};

bool IsHelp(const CHAR16 *Argument) {
  return CompareWideStrings(Argument, u"-h") == 0 || CompareWideStrings(Argument, u"--help") == 0 ||
         CompareWideStrings(Argument, u"help") == 0;
}
} // namespace

namespace {
/* tolvane -h: each command, what it calls and what it takes. */
VOID PrintHelp() {
  PrintAscii("usage: tolvane COMMAND [ARGUMENTS]\n"
             "  check [SERVER]      what the service needs, each with what to do when it is missing;\n"
             "                      with SERVER, whether this card receives the service's large TFTP blocks\n");
  PrintAscii("  fetch SERVER ID     FetchConfiguration: SERVER an IPv4 address, ID 1 to 8 characters\n"
             "  entries             GetEntryCount, then every entry with its value\n"
             "  entry N             GetEntry N (0 to 9999)\n");
  PrintAscii("  file N [PATH]       FetchNumberedFile N (0 to 9999), saved to PATH when given (fs0:\\name)\n"
             "  release             ReleaseConfiguration\n"
             "  -h                  this text\n"
             "Statuses are printed as numbers. Exit status (%lasterror%): 0x0 done; 0x2 the command line is wrong;\n"
             "  0x15 the operation failed (its status is printed); 0x13 no configuration held: fetch first\n");
}
} // namespace

extern "C" EFI_STATUS EFIAPI ToolMain(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;

  EFI_SHELL_PARAMETERS_PROTOCOL *Parameters;
  if (EFI_ERROR(BootServices->HandleProtocol(Image, &EfiShellParametersProtocolGuid, (VOID **)&Parameters))) {
    PrintAscii("tolvane: start it from the UEFI Shell, which hands it its arguments\n");
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
        Print(u"tolvane: %s takes %s; %d given\n", Command.Name, Command.Takes, Count);
        return ReportUsage();
      }
      return Command.Run(Parameters->Argv + 2, Count);
    }
  }
  return ReportUsageError(u"no command \"%s\"", Parameters->Argv[1]);
}

VOID PrintAscii(const CHAR8 *Text) {
  CHAR8 Piece[128];
  while (*Text != 0) {
    UINTN Length = 0;
    while (Text[Length] != 0 && Text[Length] != '\n' && Length < sizeof(Piece) - 1) {
      Piece[Length] = Text[Length];
      Length++;
    }
    Piece[Length] = 0;
    Text += Length;
    bool LineEnd = *Text == '\n';
    Text += LineEnd ? 1 : 0;
    Print(LineEnd ? u"%a\n" : u"%a", (const CHAR8 *)Piece);
  }
}

VOID WriteConsole(const CHAR16 *Text) {
  // OutputString does not write to the text; its published signature lacks the const.
  SystemTable->ConOut->OutputString(SystemTable->ConOut, const_cast<CHAR16 *>(Text));
}
