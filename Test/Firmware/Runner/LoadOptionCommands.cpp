/*
 * The commands for the firmware's Driver#### load options (write, show,
 * remove, with DriverOrder kept in step) and the reset into the next boot.
 */
#include "Protocol/DevicePath.h"
#include "Protocol/DevicePathToText.h"
#include "ScriptCommands.h"

namespace Runner {
const EFI_GUID GlobalVariableGuid = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};

namespace {
constexpr UINT32 LoadOptionActive = 0x00000001;
constexpr UINT32 LoadOptionAttributes =
    EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
const CHAR16 LoadOptionDescription[] = u"TolvaneService";
constexpr UINTN MaxOrderEntries = 64;
constexpr UINTN MaxLoadOptionSize = 1024;

/* "Driver" and the option number as four upper-case hex digits. */
VOID DriverOptionName(UINT16 Number, CHAR16 *Name) {
  const CHAR8 Prefix[] = "Driver";
  UINTN Length = 0;
  for (; Prefix[Length] != 0; Length++) {
    Name[Length] = (CHAR16)Prefix[Length];
  }
  for (int Shift = 12; Shift >= 0; Shift -= 4) {
    Name[Length++] = (CHAR16) "0123456789ABCDEF"[(Number >> Shift) & 0xF];
  }
  Name[Length] = 0;
}

/* Parses a load option number (0 to 0xFFFF); FALSE when the text is not one. */
bool ParseOptionNumber(const CHAR8 *Text, UINT16 *Number) {
  INT64 Value = 0;
  if (!ParseSigned(Text, &Value) || Value < 0 || Value > 0xFFFF) {
    return false;
  }
  *Number = (UINT16)Value;
  return true;
}

/*
 * The option number of "COMMAND N ..." with Expected words, and its variable
 * name; FALSE, with the usage error emitted, when the arguments are not that.
 */
bool OptionArgument(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count, UINTN Expected, const CHAR8 *Usage,
                    UINT16 *Number, CHAR16 *Name) {
  if (Count != Expected || !ParseOptionNumber(Arguments[1], Number)) {
    EmitUsageError(Line, Usage);
    return false;
  }
  DriverOptionName(*Number, Name);
  return true;
}

/* Reads DriverOrder into Order (MaxOrderEntries); a missing variable is an empty order. */
EFI_STATUS ReadDriverOrder(UINT16 *Order, UINTN *Count) {
  UINTN Size = MaxOrderEntries * sizeof(UINT16);
  EFI_STATUS Status = System->RuntimeServices->GetVariable(u"DriverOrder", &GlobalVariableGuid, NULL, &Size, Order);
  *Count = EFI_ERROR(Status) ? 0 : Size / sizeof(UINT16);
  return Status == EFI_NOT_FOUND ? EFI_SUCCESS : Status;
}

/* Writes DriverOrder, or deletes it when Count is 0. */
EFI_STATUS WriteDriverOrder(const UINT16 *Order, UINTN Count) {
  return System->RuntimeServices->SetVariable(u"DriverOrder", &GlobalVariableGuid,
                                              Count == 0 ? 0 : LoadOptionAttributes, Count * sizeof(UINT16), Order);
}

/*
 * Puts Number at the end of DriverOrder unless it is there (Add), or takes
 * it out, deleting the variable when it empties; then appends the status
 * and the order to Line.
 */
VOID UpdateDriverOrder(TRANSCRIPT_LINE &Line, UINT16 Number, bool Add) {
  UINT16 Order[MaxOrderEntries];
  UINTN Entries = 0;
  EFI_STATUS Status = ReadDriverOrder(Order, &Entries);
  UINTN Kept = 0;
  for (UINTN Index = 0; Index < Entries; Index++) {
    if (Order[Index] != Number) {
      Order[Kept++] = Order[Index];
    }
  }
  UINTN Count = Entries;
  if (Add && Kept == Entries && Entries < MaxOrderEntries) {
    Order[Count++] = Number;
  } else if (!Add) {
    Count = Kept;
  }
  if (!EFI_ERROR(Status) && Count != Entries) {
    Status = WriteDriverOrder(Order, Count);
  }
  Append(Line, ", DriverOrder ");
  AppendStatus(Line, Status);
  Append(Line, " (");
  for (UINTN Index = 0; Index < Count; Index++) {
    Append(Line, Index == 0 ? "" : ",");
    AppendHex(Line, Order[Index], 4);
  }
  Append(Line, ")");
}

/* Appends "NAME STATUS" for the variable a command set. */
VOID AppendVariableStatus(TRANSCRIPT_LINE &Line, const CHAR16 *Name, EFI_STATUS Status) {
  AppendWide(Line, Name, 16);
  Append(Line, " ");
  AppendStatus(Line, Status);
}

/*
 * The EFI_LOAD_OPTION for ImageName in the driver folder: attributes, the
 * file path list's length, the description and the device path, in a new
 * pool buffer of *Size bytes; NULL when the pool is exhausted.
 */
UINT8 *BuildDriverLoadOption(const CHAR8 *ImageName, UINTN *Size) {
  UINTN PathSize = 0;
  EFI_DEVICE_PATH_PROTOCOL *DevicePath = DriverFolderDevicePath(ImageName, &PathSize);
  if (DevicePath == NULL) {
    return NULL;
  }
  UINTN Total = sizeof(UINT32) + sizeof(UINT16) + sizeof(LoadOptionDescription) + PathSize;
  UINT8 *Option = (UINT8 *)Allocate(Total);
  if (Option != NULL) {
    UINT8 *Cursor = Option;
    for (UINTN Index = 0; Index < sizeof(UINT32); Index++) {
      *Cursor++ = (UINT8)(LoadOptionActive >> (8 * Index));
    }
    *Cursor++ = (UINT8)(PathSize & 0xFF);
    *Cursor++ = (UINT8)(PathSize >> 8);
    const UINT8 *Description = (const UINT8 *)LoadOptionDescription;
    for (UINTN Index = 0; Index < sizeof(LoadOptionDescription); Index++) {
      *Cursor++ = Description[Index];
    }
    const UINT8 *PathBytes = (const UINT8 *)DevicePath;
    for (UINTN Index = 0; Index < PathSize; Index++) {
      *Cursor++ = PathBytes[Index];
    }
    *Size = Total;
  }
  Release(DevicePath);
  return Option;
}

} // namespace

/*
 * load-option-write N IMAGE: writes DriverN (four hex digits), an active
 * load option for \EFI\Tolvane\IMAGE on the runner's volume, and appends N
 * to DriverOrder unless it is there already.
 */
VOID CommandLoadOptionWrite(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  UINT16 Number = 0;
  CHAR16 Name[16];
  if (!OptionArgument(Line, Arguments, Count, 3, "load-option-write N IMAGE", &Number, Name)) {
    return;
  }
  UINTN OptionSize = 0;
  UINT8 *Option = BuildDriverLoadOption(Arguments[2], &OptionSize);
  if (Option == NULL) {
    Append(Line, "cannot build the load option");
    Emit(Line);
    return;
  }
  EFI_STATUS Status =
      System->RuntimeServices->SetVariable(Name, &GlobalVariableGuid, LoadOptionAttributes, OptionSize, Option);
  Release(Option);
  AppendVariableStatus(Line, Name, Status);
  UpdateDriverOrder(Line, Number, true);
  Emit(Line);
}

/* load-option-remove N: deletes DriverN and takes N out of DriverOrder (deleting it when empty). */
VOID CommandLoadOptionRemove(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  UINT16 Number = 0;
  CHAR16 Name[16];
  if (!OptionArgument(Line, Arguments, Count, 2, "load-option-remove N", &Number, Name)) {
    return;
  }
  AppendVariableStatus(Line, Name, System->RuntimeServices->SetVariable(Name, &GlobalVariableGuid, 0, 0, NULL));
  UpdateDriverOrder(Line, Number, false);
  Emit(Line);
}

/*
 * load-option-show N: DriverN as the firmware holds it: its attributes, its
 * description and its device path as text.
 */
VOID CommandLoadOptionShow(TRANSCRIPT_LINE &Line, CHAR8 **Arguments, UINTN Count) {
  UINT16 Number = 0;
  CHAR16 Name[16];
  if (!OptionArgument(Line, Arguments, Count, 2, "load-option-show N", &Number, Name)) {
    return;
  }
  UINT8 Option[MaxLoadOptionSize];
  UINTN Size = sizeof(Option);
  EFI_STATUS Status = System->RuntimeServices->GetVariable(Name, &GlobalVariableGuid, NULL, &Size, Option);
  // Attributes (4 bytes), the path list's length (2), then the description's CHAR16s up to their terminator.
  UINTN Offset = sizeof(UINT32) + sizeof(UINT16);
  while (!EFI_ERROR(Status) && Offset + 1 < Size && (Option[Offset] != 0 || Option[Offset + 1] != 0)) {
    Offset += sizeof(CHAR16);
  }
  Offset += sizeof(CHAR16);
  if (EFI_ERROR(Status) || Offset > Size) {
    AppendStatus(Line, EFI_ERROR(Status) ? Status : EFI_VOLUME_CORRUPTED);
    Emit(Line);
    return;
  }
  UINT32 Attributes =
      (UINT32)Option[0] | ((UINT32)Option[1] << 8) | ((UINT32)Option[2] << 16) | ((UINT32)Option[3] << 24);
  Append(Line, "attributes ");
  AppendHex(Line, Attributes, 8);
  Append(Line, ", \"");
  // The description starts at an even offset of the variable; copied out so it is read aligned.
  CHAR16 Description[64];
  UINTN Units = 0;
  for (UINTN At = 6; At + 1 < Offset && Units + 1 < 64; At += 2) {
    Description[Units++] = (CHAR16)(Option[At] | (Option[At + 1] << 8));
  }
  Description[Units] = 0;
  AppendWide(Line, Description, Units);
  Append(Line, "\", ");
  EFI_DEVICE_PATH_TO_TEXT_PROTOCOL *ToText = NULL;
  CHAR16 *Text = NULL;
  if (!EFI_ERROR(Boot->LocateProtocol(&EfiDevicePathToTextProtocolGuid, NULL, (VOID **)&ToText))) {
    Text = ToText->ConvertDevicePathToText((const EFI_DEVICE_PATH_PROTOCOL *)(Option + Offset), FALSE, FALSE);
  }
  if (Text == NULL) {
    Append(Line, "(no text form)");
  } else {
    AppendWide(Line, Text, 512);
    Release(Text);
  }
  Emit(Line);
}

/*
 * reset: a cold reset. The harness runs QEMU without rebooting, starts the
 * next boot on the same variable store and hands the runner the rest of
 * the script.
 */
VOID CommandReset(TRANSCRIPT_LINE &Line, CHAR8 **, UINTN) {
  Append(Line, "resetting");
  Emit(Line);
  EmitText("runner: reset");
  System->RuntimeServices->ResetSystem(EfiResetCold, EFI_SUCCESS, 0, NULL);
}

} // namespace Runner
