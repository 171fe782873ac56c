/* The recorded identifier, its section header and its numbered file names. */
#include "MachineIdentity.h"

#include "CharacterClasses.h"
#include "Library/FormatLib.h"
#include "Library/TextLib.h"
#include "SectionLookup.h"

VOID RecordMachineId(const CHAR8 *Identifier, CHAR16 MachineId[MachineIdLength + 1]) {
  CHAR8 IdentifierCopy[MachineIdLength + 1];
  MoveBytes(IdentifierCopy, Identifier, MachineIdLength);
  IdentifierCopy[MachineIdLength] = '\0';
  WidenByteString(MachineId, IdentifierCopy);
}

VOID BuildSectionHeader(const CHAR16 *MachineId, CHAR16 Header[SectionHeaderLength]) {
  Header[0] = CharacterOpenBracket;
  CopyWideStringCounted(&Header[1], MachineId, MachineIdLength);
  Header[MachineIdLength + 1] = u']';
  Header[MachineIdLength + 2] = 0;
  UpperCaseAsciiLetters(Header);
}

VOID FormatNumberedFileName(const CHAR16 *MachineId, UINTN FileNumber, CHAR8 *Name, UINTN NameSize) {
  FormatToAscii(Name, NameSize, "%s.%d", MachineId, FileNumber);
}
