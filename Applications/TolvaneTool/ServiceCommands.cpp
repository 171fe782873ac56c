/* tolvane fetch, entries, entry, file and release: one service operation each, its status printed as a number. */
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "MachineIdentity.h"
#include "TolvaneTool.h"
#include "ToolArguments.h"

namespace {
constexpr EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;

/* The largest value an entry line prints whole, in characters. */
constexpr UINTN EntryValueLength = 400;

/* What each failed fetch step means to the person at the machine, by step code. */
constexpr const CHAR16 *FetchStepTexts[] = {
    NULL,
    u"step 1: no network link (or no card with Simple Network: tolvane check)",
    u"step 2: PXE start or DHCP failed (no PXE Base Code where the service looks, or no DHCP answer)",
    u"step 3: no station address",
    u"step 4: the size query of " TOLVANE_CONFIGURATION_FILE_NAME u" failed (server address, file missing)",
    u"step 5: no section for this identifier in " TOLVANE_CONFIGURATION_FILE_NAME,
};

/* Step 2's cause: no interface where the service looks, or else (PXE Base Code being there) DHCP. */
VOID ExplainPxeStep() {
  VOID *Pxe;
  if (EFI_ERROR(BootServices->LocateProtocol(&PxeBaseCodeVariantProtocolGuid, NULL, &Pxe))) {
    PrintAscii("No PXE Base Code under the variant GUID: load TolvaneNetworkSetup.efi before the service\n");
  } else {
    PrintAscii(DhcpFailureText);
  }
}

TOLVANE_SERVICE_PROTOCOL *LocateService() {
  TOLVANE_SERVICE_PROTOCOL *Service;
  if (EFI_ERROR(BootServices->LocateProtocol(&ServiceGuid, NULL, (VOID **)&Service))) {
    PrintAscii("The service is not loaded: load TolvaneService.efi (tolvane check shows what is missing)\n");
    return NULL;
  }
  return Service;
}

/*
 * TRUE when the service holds a section: it has entries, or this tool
 * fetched in this boot and did not release since. A section fetched by
 * another caller with no entries is not seen.
 */
bool HoldsConfiguration(TOLVANE_SERVICE_PROTOCOL *Service) {
  TOOL_FETCH_RECORD Record;
  return Service->GetEntryCount(Service) != 0 || LoadFetchRecord(&Record);
}

EFI_STATUS ReportNothingFetched() {
  PrintAscii(
      "No configuration is held (no fetch in this boot, or it was released): run tolvane fetch SERVER ID first\n");
  return ToolNothingFetched;
}

/*
 * After a failed download: the server and the file name the service asked
 * with, from the tool's record of the last fetch. The service keeps the
 * identifier as typed (a lower-case one names lower-case files) and the
 * server of the last fetch, failed or not.
 */
VOID ExplainFileRequest(UINTN Number) {
  TOOL_FETCH_RECORD Record;
  if (!LoadFetchRecord(&Record)) {
    return;
  }
  CHAR16 MachineId[TOLVANE_IDENTIFIER_LENGTH + 1];
  RecordMachineId(Record.Identifier, MachineId);
  CHAR8 Name[NumberedFileNameSize];
  FormatNumberedFileName(MachineId, Number, Name, sizeof(Name));
  Print(u"Asked %d.%d.%d.%d for %a\n", Record.Server[0], Record.Server[1], Record.Server[2], Record.Server[3], Name);
  if (EFI_ERROR(Record.Status)) {
    Print(u"  the server of the last fetch, which failed (0x%lX)", Record.Status);
    PrintAscii("; entries still lists the section fetched before it, if any\n");
  }
  for (UINTN Index = 0; Record.Identifier[Index] != 0; Index++) {
    if (Record.Identifier[Index] >= 'a' && Record.Identifier[Index] <= 'z') {
      Print(u"  the identifier was fetched as %a", Record.Identifier);
      PrintAscii(": file names keep its case; fetch it in upper case to ask for the server's usual names\n");
      break;
    }
  }
}

/* Prints entry Index's value, or that it has none; FALSE when GetEntry finds no such entry. */
bool PrintEntry(TOLVANE_SERVICE_PROTOCOL *Service, UINTN Index) {
  CHAR16 Value[EntryValueLength + 1];
  Value[0] = 0;
  if (!Service->GetEntry(Service, Index, Value, sizeof(Value))) {
    Print(u"Entry %d: not found\n", Index);
    return false;
  }
  // GetEntry answers TRUE and leaves Value alone when the value does not fit.
  if (Value[0] == 0) {
    Print(u"Entry %d: (longer than %d characters, or empty)\n", Index, EntryValueLength);
  } else {
    Print(u"Entry %d: %s\n", Index, (const CHAR16 *)Value);
  }
  return true;
}
} // namespace

EFI_STATUS RunFetch(CHAR16 **Arguments, UINTN) {
  EFI_IP_ADDRESS Server;
  CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH + 1];
  if (!ParseIpv4Address(Arguments[0], &Server)) {
    return ReportBadServer(Arguments[0]);
  }
  if (!ParseIdentifier(Arguments[1], Identifier)) {
    return ReportBadIdentifier(Arguments[1]);
  }
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService();
  if (Service == NULL) {
    return ToolOperationFailed;
  }
  EFI_STATUS Status = Service->FetchConfiguration(Service, &Server, Identifier);
  // Recorded whatever the outcome: the service keeps this server (and a failed fetch's) for file downloads.
  TOOL_FETCH_RECORD Record = {};
  MoveBytes(Record.Server, Server.v4.Addr, sizeof(Record.Server));
  MoveBytes(Record.Identifier, Identifier, sizeof(Record.Identifier));
  Record.Status = Status;
  SaveFetchRecord(Record);
  UINTN Code = Status & ~EFI_ERROR_BIT;
  if (!EFI_ERROR(Status)) {
    Print(u"FetchConfiguration: 0x%lX, the section of %a is held\n", Status, Identifier);
  } else if (Code >= TOLVANE_FETCH_STEP_MEDIA && Code <= TOLVANE_FETCH_STEP_SECTION) {
    // A failed DHCP leaves the firmware's ">>Start PXE over IPv4" without its line end.
    Print(Code == TOLVANE_FETCH_STEP_PXE_DHCP ? u"\nFetchConfiguration: 0x%lX, %s\n"
                                              : u"FetchConfiguration: 0x%lX, %s\n",
          Status, FetchStepTexts[Code]);
    if (Code == TOLVANE_FETCH_STEP_PXE_DHCP) {
      ExplainPxeStep();
    }
  } else {
    Print(u"FetchConfiguration: 0x%lX (%r): the read of %a failed\n", Status, Status, TOLVANE_CONFIGURATION_FILE_NAME);
  }
  return OperationResult(Status);
}

EFI_STATUS RunEntries(CHAR16 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService();
  if (Service == NULL) {
    return ToolOperationFailed;
  }
  UINTN Count = Service->GetEntryCount(Service);
  if (Count == 0 && !HoldsConfiguration(Service)) {
    return ReportNothingFetched();
  }
  Print(u"GetEntryCount: %d\n", Count);
  for (UINTN Index = 0; Index < Count; Index++) {
    PrintEntry(Service, Index);
  }
  return Count == 0 ? ToolOperationFailed : EFI_SUCCESS;
}

EFI_STATUS RunEntry(CHAR16 **Arguments, UINTN) {
  UINTN Index;
  if (!ParseNumber(Arguments[0], ToolNumberLimit, &Index)) {
    return ReportBadNumber(u"entry", Arguments[0]);
  }
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService();
  if (Service == NULL) {
    return ToolOperationFailed;
  }
  if (!HoldsConfiguration(Service)) {
    return ReportNothingFetched();
  }
  return PrintEntry(Service, Index) ? EFI_SUCCESS : ToolOperationFailed;
}

EFI_STATUS RunFile(CHAR16 **Arguments, UINTN Count) {
  UINTN Number;
  if (!ParseNumber(Arguments[0], ToolNumberLimit, &Number)) {
    return ReportBadNumber(u"file", Arguments[0]);
  }
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService();
  if (Service == NULL) {
    return ToolOperationFailed;
  }
  if (!HoldsConfiguration(Service)) {
    return ReportNothingFetched();
  }
  UINTN Size = 0;
  EFI_STATUS Status = Service->FetchNumberedFile(Service, Number, NULL, &Size);
  if (Status != EFI_OUT_OF_RESOURCES) {
    Print(u"FetchNumberedFile %d: 0x%lX (%r)\n", Number, Status, Status);
    ExplainFileRequest(Number);
    return ToolOperationFailed;
  }
  // One byte more than the size answer, so that an empty file still gets a buffer.
  UINTN Capacity = Size + 1;
  VOID *Buffer = Capacity > Size ? PoolAlloc(Capacity) : NULL;
  if (Buffer == NULL) {
    Print(u"FetchNumberedFile %d: no pool for %d bytes\n", Number, Capacity);
    return ToolOperationFailed;
  }
  Status = Service->FetchNumberedFile(Service, Number, Buffer, &Capacity);
  Print(u"FetchNumberedFile %d: 0x%lX (%r), %d bytes\n", Number, Status, Status, EFI_ERROR(Status) ? 0 : Capacity);
  if (EFI_ERROR(Status)) {
    ExplainFileRequest(Number);
  } else if (Count == 2) {
    Status = SaveShellFile(Arguments[1], Buffer, Capacity);
    Print(u"Saved to %s: 0x%lX (%r)\n", Arguments[1], Status, Status);
  }
  PoolRelease(Buffer);
  return OperationResult(Status);
}

EFI_STATUS RunRelease(CHAR16 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService();
  if (Service == NULL) {
    return ToolOperationFailed;
  }
  EFI_STATUS Status = Service->ReleaseConfiguration(Service);
  Print(u"ReleaseConfiguration: 0x%lX (%r)\n", Status, Status);
  if (!EFI_ERROR(Status)) {
    ForgetFetchRecord();
  }
  return OperationResult(Status);
}
