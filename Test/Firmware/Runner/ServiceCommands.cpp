/*
 * The commands that call the five operations of TOLVANE_SERVICE_PROTOCOL,
 * always through the interface found under its GUID.
 */
#include "ScriptCommands.h"

namespace Runner {

UINT64 LastFetchMicroseconds;

namespace {
/* The identifier of the last fetch, for the file names the transcript shows. */
CHAR8 LastIdentifier[9];
constexpr UINTN MaxListedFiles = 100;

constexpr UINT8 UntouchedByte = 0xA5;
constexpr UINTN IdentifierBytes = 8;
constexpr UINTN EntryValueCapacity = 1024;

/* The interface, or NULL after emitting the failed look-up on Line. */
TOLVANE_SERVICE_PROTOCOL *ServiceOrReport(TRANSCRIPT_LINE &Line) {
  EFI_STATUS Status;
  TOLVANE_SERVICE_PROTOCOL *Service = LocateService(&Status);
  if (Service == NULL) {
    Append(Line, "no service interface (");
    AppendStatus(Line, Status);
    Append(Line, ")");
    Emit(Line);
  }
  return Service;
}

/* True when all Size bytes still hold the fill pattern. */
bool Untouched(const VOID *Buffer, UINTN Size) {
  const UINT8 *Bytes = (const UINT8 *)Buffer;
  for (UINTN Index = 0; Index < Size; Index++) {
    if (Bytes[Index] != UntouchedByte) {
      return false;
    }
  }
  return true;
}

/* Appends a GetEntry result: TRUE/FALSE and the value, if one was copied. */
VOID AppendEntryResult(TRANSCRIPT_LINE &Line, BOOLEAN Found, const CHAR16 *Value, UINTN ValueSize) {
  Append(Line, Found ? "TRUE" : "FALSE");
  if (Value == NULL) {
    return;
  }
  if (Untouched(Value, ValueSize)) {
    Append(Line, ", value untouched");
    return;
  }
  Append(Line, ", value=");
  AppendWide(Line, Value, ValueSize / sizeof(CHAR16));
}

/* A simple checksum of the bytes read, so that transcripts can show the content. */
UINT32 Checksum(const VOID *Buffer, UINTN Size) {
  const UINT8 *Bytes = (const UINT8 *)Buffer;
  UINT32 Hash = 2166136261u;
  for (UINTN Index = 0; Index < Size; Index++) {
    Hash = (Hash ^ Bytes[Index]) * 16777619u;
  }
  return Hash;
}

/* Calls FetchNumberedFile and appends its status, the size it left and, after a read into Buffer, its checksum. */
EFI_STATUS CallFetchNumberedFile(TRANSCRIPT_LINE &Line, TOLVANE_SERVICE_PROTOCOL *Service, UINTN Number, VOID *Buffer,
                                 UINTN *Size, UINTN Capacity) {
  UINT64 Start = ReadCycles();
  EFI_STATUS Status = Service->FetchNumberedFile(Service, Number, Buffer, Size);
  UINT64 Elapsed = MicrosecondsSince(Start);
  AppendStatus(Line, Status);
  Append(Line, ", size ");
  AppendUnsigned(Line, *Size);
  if (Buffer != NULL && !EFI_ERROR(Status) && *Size <= Capacity) {
    Append(Line, ", checksum ");
    AppendHex(Line, Checksum(Buffer, *Size), 8);
  }
  AppendElapsed(Line, Elapsed);
  return Status;
}

} // namespace

/* fetch SERVER ID: FetchConfiguration; ID is up to 8 characters, padded with NUL bytes. */
VOID CommandFetch(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  EFI_IP_ADDRESS Server;
  if (Count != 3 || !ParseAddress(Arguments[1], &Server)) {
    EmitUsageError(Line, "fetch SERVER ID");
    return;
  }
  CHAR8 Identifier[IdentifierBytes];
  FillBytes(Identifier, sizeof(Identifier), 0);
  for (UINTN Index = 0; Index < IdentifierBytes && Arguments[2][Index] != 0; Index++) {
    Identifier[Index] = Arguments[2][Index];
  }
  for (UINTN Index = 0; Index <= IdentifierBytes; Index++) {
    LastIdentifier[Index] = Index < IdentifierBytes ? Identifier[Index] : 0;
  }
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  UINT64 Start = ReadCycles();
  EFI_STATUS Status = Service->FetchConfiguration(Service, &Server, Identifier);
  LastFetchMicroseconds = MicrosecondsSince(Start);
  AppendStatus(Line, Status);
  if (EFI_ERROR(Status) && (Status & ~EFI_ERROR_BIT) >= 1 && (Status & ~EFI_ERROR_BIT) <= 5) {
    Append(Line, " (step ");
    AppendUnsigned(Line, Status & ~EFI_ERROR_BIT);
    Append(Line, ")");
  }
  AppendElapsed(Line, LastFetchMicroseconds);
  Emit(Line);
}

/* count: GetEntryCount. */
VOID CommandCount(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  UINT64 Start = ReadCycles();
  UINTN Entries = Service->GetEntryCount(Service);
  UINT64 Elapsed = MicrosecondsSince(Start);
  AppendUnsigned(Line, Entries);
  AppendElapsed(Line, Elapsed);
  Emit(Line);
}

/* get N SIZE|null: GetEntry with a SIZE-byte value buffer, or with none. */
VOID CommandGet(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  INT64 Index = 0;
  INT64 Size = 0;
  bool NoBuffer = Count == 3 && TextEquals(Arguments[2], "null");
  if (Count != 3 || !ParseSigned(Arguments[1], &Index) ||
      (!NoBuffer && (!ParseSigned(Arguments[2], &Size) || Size < 0))) {
    EmitUsageError(Line, "get N SIZE|null");
    return;
  }
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  CHAR16 *Value = NULL;
  if (!NoBuffer) {
    Value = (CHAR16 *)Allocate((UINTN)Size + sizeof(CHAR16));
    if (Value == NULL) {
      Append(Line, "runner out of memory");
      Emit(Line);
      return;
    }
    FillBytes(Value, (UINTN)Size + sizeof(CHAR16), UntouchedByte);
  }
  UINT64 Start = ReadCycles();
  BOOLEAN Found = Service->GetEntry(Service, (UINTN)Index, Value, (UINTN)Size);
  UINT64 Elapsed = MicrosecondsSince(Start);
  AppendEntryResult(Line, Found, Value, (UINTN)Size);
  AppendElapsed(Line, Elapsed);
  Emit(Line);
  Release(Value);
}

/* entries: GetEntryCount, then GetEntry for each counted entry with a 1024-byte buffer. */
VOID CommandEntries(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  UINT64 Start = ReadCycles();
  UINTN Entries = Service->GetEntryCount(Service);
  UINT64 Elapsed = MicrosecondsSince(Start);
  Append(Line, "count ");
  AppendUnsigned(Line, Entries);
  AppendElapsed(Line, Elapsed);
  Emit(Line);
  CHAR16 *Value = (CHAR16 *)Allocate(EntryValueCapacity);
  if (Value == NULL) {
    EmitText("entries: runner out of memory");
    return;
  }
  for (UINTN Index = 0; Index < Entries; Index++) {
    FillBytes(Value, EntryValueCapacity, UntouchedByte);
    BOOLEAN Found = Service->GetEntry(Service, Index, Value, EntryValueCapacity);
    LineStart(Line, "entry ");
    AppendUnsigned(Line, Index);
    Append(Line, ": ");
    AppendEntryResult(Line, Found, Value, EntryValueCapacity);
    Emit(Line);
  }
  Release(Value);
}

/* file N null|buffer CAPACITY: FetchNumberedFile without a buffer or with one of CAPACITY bytes. */
VOID CommandFile(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  INT64 Number = 0;
  INT64 Capacity = 0;
  if (Count != 4 || !ParseSigned(Arguments[1], &Number) || !ParseSigned(Arguments[3], &Capacity) || Capacity < 0 ||
      !(TextEquals(Arguments[2], "null") || TextEquals(Arguments[2], "buffer"))) {
    EmitUsageError(Line, "file N null|buffer CAPACITY");
    return;
  }
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  VOID *Buffer = NULL;
  if (TextEquals(Arguments[2], "buffer")) {
    Buffer = Allocate((UINTN)Capacity + 1);
    if (Buffer == NULL) {
      Append(Line, "runner out of memory");
      Emit(Line);
      return;
    }
  }
  UINTN Size = (UINTN)Capacity;
  CallFetchNumberedFile(Line, Service, (UINTN)Number, Buffer, &Size, (UINTN)Capacity);
  Emit(Line);
  Release(Buffer);
}

/*
 * file-compare N PATH: sizes file N with no buffer, reads it into a buffer of
 * that size, and compares it byte for byte with PATH on the runner's volume.
 */
VOID CommandFileCompare(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  INT64 Number = 0;
  if (Count != 3 || !ParseSigned(Arguments[1], &Number)) {
    EmitUsageError(Line, "file-compare N PATH");
    return;
  }
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  UINTN Size = 0;
  Append(Line, "sizing: ");
  EFI_STATUS Status = CallFetchNumberedFile(Line, Service, (UINTN)Number, NULL, &Size, 0);
  Emit(Line);
  if (Status != EFI_OUT_OF_RESOURCES) {
    return;
  }
  UINTN Capacity = Size;
  UINT8 *Buffer = (UINT8 *)Allocate(Capacity + 1);
  if (Buffer == NULL) {
    EmitText("file-compare: runner out of memory");
    return;
  }
  LineStart(Line, "file-compare ");
  Append(Line, Arguments[1]);
  Append(Line, " reading: ");
  Status = CallFetchNumberedFile(Line, Service, (UINTN)Number, Buffer, &Size, 0);
  Emit(Line);
  if (!EFI_ERROR(Status)) {
    LineStart(Line, "file-compare ");
    Append(Line, Arguments[1]);
    Append(Line, " against ");
    Append(Line, Arguments[2]);
    Append(Line, ": ");
    VOID *Expected = NULL;
    UINTN ExpectedSize = 0;
    EFI_STATUS ReadStatus = ReadVolumeFile(Arguments[2], &Expected, &ExpectedSize);
    if (EFI_ERROR(ReadStatus)) {
      Append(Line, "cannot read the reference file, ");
      AppendStatus(Line, ReadStatus);
    } else if (ExpectedSize != Size || Size > Capacity) {
      Append(Line, "sizes differ, reference ");
      AppendUnsigned(Line, ExpectedSize);
    } else {
      UINTN Difference = FirstDifference(Expected, Buffer, Size);
      if (Difference == Size) {
        Append(Line, "identical, ");
        AppendUnsigned(Line, Size);
        Append(Line, " bytes");
      } else {
        Append(Line, "differs at byte ");
        AppendUnsigned(Line, Difference);
      }
    }
    Release(Expected);
    Emit(Line);
  }
  Release(Buffer);
}

/*
 * files: the numbered files 0, 1, 2, ... of the last fetched identifier, each
 * sized and read, up to the first number whose size query does not answer
 * with a size.
 */
VOID CommandFiles(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  Append(Line, "numbered files of ");
  Append(Line, LastIdentifier);
  Emit(Line);
  for (UINTN Number = 0; Number < MaxListedFiles; Number++) {
    LineStart(Line, "file ");
    AppendUnsigned(Line, Number);
    Append(Line, " (");
    Append(Line, LastIdentifier);
    Append(Line, ".");
    AppendUnsigned(Line, Number);
    Append(Line, "): ");
    UINTN Size = 0;
    UINT64 Start = ReadCycles();
    EFI_STATUS Status = Service->FetchNumberedFile(Service, Number, NULL, &Size);
    if (Status != EFI_OUT_OF_RESOURCES) {
      AppendStatus(Line, Status);
      Append(Line, ", no further file");
      AppendElapsed(Line, MicrosecondsSince(Start));
      Emit(Line);
      return;
    }
    VOID *Buffer = Allocate(Size + 1);
    if (Buffer == NULL) {
      Append(Line, "runner out of memory");
      Emit(Line);
      return;
    }
    UINTN Capacity = Size;
    Status = Service->FetchNumberedFile(Service, Number, Buffer, &Size);
    UINT64 Elapsed = MicrosecondsSince(Start);
    AppendUnsigned(Line, Size);
    Append(Line, " bytes, read ");
    AppendStatus(Line, Status);
    if (!EFI_ERROR(Status) && Size <= Capacity) {
      Append(Line, ", checksum ");
      AppendHex(Line, Checksum(Buffer, Size), 8);
    }
    AppendElapsed(Line, Elapsed);
    Emit(Line);
    Release(Buffer);
  }
}

/* release: ReleaseConfiguration. */
VOID CommandRelease(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  TOLVANE_SERVICE_PROTOCOL *Service = ServiceOrReport(Line);
  if (Service == NULL) {
    return;
  }
  UINT64 Start = ReadCycles();
  EFI_STATUS Status = Service->ReleaseConfiguration(Service);
  UINT64 Elapsed = MicrosecondsSince(Start);
  AppendStatus(Line, Status);
  AppendElapsed(Line, Elapsed);
  Emit(Line);
}

} // namespace Runner
