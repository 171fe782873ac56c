/* What is wrong with a command line, said before the usage line: each argument check names its fault. */
#include "Library/TextLib.h"
#include "TolvaneTool.h"
#include "ToolArguments.h"

EFI_STATUS ReportUsage() {
  PrintAscii("usage: tolvane check [SERVER] | fetch SERVER ID | entries | entry N | file N [PATH] | release | -h\n");
  return ToolUsageError;
}

EFI_STATUS ReportUsageError(const CHAR16 *Fault, const CHAR16 *Argument) {
  Print(u"tolvane: ");
  Print(Fault, Argument);
  Print(u"\n");
  return ReportUsage();
}

EFI_STATUS ReportBadServer(const CHAR16 *Text) {
  return ReportUsageError(u"the server \"%s\" is not an IPv4 address: four numbers 0 to 255 with dots between", Text);
}

EFI_STATUS ReportBadIdentifier(const CHAR16 *Text) {
  UINTN Length = WideStringLength(Text);
  if (Length == 0 || Length > TOLVANE_IDENTIFIER_LENGTH) {
    Print(u"tolvane: the identifier has %d characters; 1 to %d\n", Length, TOLVANE_IDENTIFIER_LENGTH);
    return ReportUsage();
  }
  return ReportUsageError(u"the identifier \"%s\" holds a blank or a character outside printable ASCII", Text);
}

EFI_STATUS ReportBadNumber(const CHAR16 *What, const CHAR16 *Text) {
  Print(u"tolvane: the %s number \"%s\" is not a whole number from 0 to %d\n", What, Text, ToolNumberLimit);
  return ReportUsage();
}
