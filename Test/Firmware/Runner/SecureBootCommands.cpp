/*
 * The commands that show what Secure Boot did: the SecureBoot and SetupMode
 * variables, and the firmware's records of the images it refused.
 */
#include "Protocol/DevicePath.h"
#include "ScriptCommands.h"

namespace Runner {
namespace {
// The image execution information table is published under the image security database's GUID.
const EFI_GUID ImageSecurityDatabaseGuid = {
    0xD719B2CB, 0x3D3A, 0x4596, {0xA3, 0xBC, 0xDA, 0xD0, 0x0E, 0x67, 0x65, 0x6F}};
constexpr UINT32 ImageAuthenticationMask = 0x7;
constexpr UINT32 ImageInitialized = 0x8;

const CHAR8 *const ImageActionNames[] = {
    "EFI_IMAGE_EXECUTION_AUTH_UNTESTED",    "EFI_IMAGE_EXECUTION_AUTH_SIG_FAILED",
    "EFI_IMAGE_EXECUTION_AUTH_SIG_PASSED",  "EFI_IMAGE_EXECUTION_AUTH_SIG_NOT_FOUND",
    "EFI_IMAGE_EXECUTION_AUTH_SIG_FOUND",   "EFI_IMAGE_EXECUTION_POLICY_FAILED",
    "EFI_IMAGE_EXECUTION_AUTHENTICATION 6", "EFI_IMAGE_EXECUTION_AUTHENTICATION 7",
};

/* Reads a one-byte global variable; returns the failing status. */
EFI_STATUS ReadByteVariable(const CHAR16 *Name, UINT8 *Value) {
  UINTN Size = sizeof(*Value);
  return System->RuntimeServices->GetVariable(Name, &GlobalVariableGuid, NULL, &Size, Value);
}

/* Appends the value of a one-byte global variable, or the status of its read. */
VOID AppendByteVariable(TRANSCRIPT_LINE &Line, const CHAR8 *Label, const CHAR16 *Name) {
  UINT8 Value = 0;
  EFI_STATUS Status = ReadByteVariable(Name, &Value);
  Append(Line, Label);
  if (EFI_ERROR(Status)) {
    AppendStatus(Line, Status);
  } else {
    AppendUnsigned(Line, Value);
  }
}

/*
 * TRUE when the device path of one image execution information record, of
 * at most Size bytes, names Path in a file-path node (letters compared
 * without case, as FAT does).
 */
bool RecordNamesPath(const UINT8 *DevicePath, UINTN Size, const CHAR8 *Path) {
  UINTN Offset = 0;
  while (Offset + sizeof(EFI_DEVICE_PATH_PROTOCOL) <= Size) {
    const EFI_DEVICE_PATH_PROTOCOL *Node = (const EFI_DEVICE_PATH_PROTOCOL *)(DevicePath + Offset);
    UINTN NodeSize = DevicePathNodeSize(Node);
    if (Node->Type == END_DEVICE_PATH_TYPE || NodeSize < sizeof(EFI_DEVICE_PATH_PROTOCOL) || NodeSize > Size - Offset) {
      return false;
    }
    if (Node->Type == MEDIA_DEVICE_PATH && Node->SubType == MEDIA_FILEPATH_DP) {
      const UINT8 *Text = DevicePath + Offset + sizeof(EFI_DEVICE_PATH_PROTOCOL);
      UINTN Units = (NodeSize - sizeof(EFI_DEVICE_PATH_PROTOCOL)) / sizeof(CHAR16);
      UINTN Index = 0;
      for (; Index < Units; Index++) {
        CHAR16 Unit = (CHAR16)(Text[2 * Index] | (Text[2 * Index + 1] << 8));
        CHAR8 Expected = Path[Index];
        auto Lower = [](UINT32 Character) { return Character >= 'A' && Character <= 'Z' ? Character + 32 : Character; };
        if (Lower(Unit) != Lower((UINT8)Expected) || Expected == 0) {
          break;
        }
      }
      bool Terminated = Index == Units || (Text[2 * Index] == 0 && Text[2 * Index + 1] == 0);
      if (Path[Index] == 0 && Terminated) {
        return true;
      }
    }
    Offset += NodeSize;
  }
  return false;
}

/* The image execution information table, or NULL when the firmware publishes none. */
const UINT8 *ImageExecutionTable() {
  for (UINTN Index = 0; Index < System->NumberOfTableEntries; Index++) {
    if (GuidEquals(System->ConfigurationTable[Index].VendorGuid, ImageSecurityDatabaseGuid)) {
      return (const UINT8 *)System->ConfigurationTable[Index].VendorTable;
    }
  }
  return NULL;
}
} // namespace

/* secure-boot: the SecureBoot and SetupMode variables. */
VOID CommandSecureBoot(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  AppendByteVariable(Line, "SecureBoot ", u"SecureBoot");
  AppendByteVariable(Line, ", SetupMode ", u"SetupMode");
  Emit(Line);
}

/*
 * image-info IMAGE: the records of the image execution information table
 * for \EFI\Tolvane\IMAGE, by action. The firmware records the images it
 * refused; an image it ran leaves no record.
 */
VOID CommandImageInfo(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  if (Count != 2) {
    EmitUsageError(Line, "image-info IMAGE");
    return;
  }
  CHAR8 Path[128];
  DriverImagePath(Arguments[1], Path, sizeof(Path));
  const UINT8 *Table = ImageExecutionTable();
  if (Table == NULL) {
    Append(Line, "no image execution information table");
    Emit(Line);
    return;
  }
  UINTN Images = *(const UINTN *)Table;
  const UINT8 *Record = Table + sizeof(UINTN);
  UINTN Found = 0;
  for (UINTN Index = 0; Index < Images; Index++) {
    UINT32 Action = *(const UINT32 *)Record;
    UINT32 InfoSize = *(const UINT32 *)(Record + 4);
    if (InfoSize < 2 * sizeof(UINT32)) {
      Append(Line, "malformed record");
      break;
    }
    // The record holds its name (a NUL-terminated CHAR16 string), then the image's device path.
    UINTN Offset = 2 * sizeof(UINT32);
    while (Offset + 1 < InfoSize && (Record[Offset] != 0 || Record[Offset + 1] != 0)) {
      Offset += sizeof(CHAR16);
    }
    Offset += sizeof(CHAR16);
    if (Offset < InfoSize && RecordNamesPath(Record + Offset, InfoSize - Offset, Path)) {
      Append(Line, Found == 0 ? "" : ", ");
      Append(Line, ImageActionNames[Action & ImageAuthenticationMask]);
      Append(Line, (Action & ImageInitialized) != 0 ? " (initialized)" : "");
      Found++;
    }
    Record += InfoSize;
  }
  if (Found == 0) {
    Append(Line, "no record");
  }
  Emit(Line);
}

} // namespace Runner
