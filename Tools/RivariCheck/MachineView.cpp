/* The machine's view of the file: its identifier, its section and entries, its numbered file names. */
#include <cstdlib>
#include <cstring>

#include "Library/FormatLib.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "ReportParts.h"
#include "SectionLookup.h"
#include "TolvaneService.h"

namespace RivariCheck {

namespace {

/* The identifier bytes the fetch reads: at most 8. */
constexpr size_t IdentifierLength = 8;
/* FileNameBuffer holds 15 characters and a NUL. */
constexpr UINTN FileNameSize = sizeof(ServiceState.FileNameBuffer);

/* Sets ServiceState.MachineId from Identifier as the configuration fetch does. */
void SetMachineId(const std::string &Identifier) {
  CHAR8 Bytes[IdentifierLength + 1] = {};
  std::memcpy(Bytes, Identifier.data(), std::min(Identifier.size(), IdentifierLength));
  WidenByteString(Bytes, ServiceState.MachineId);
}

/* Characters that end a token or start a comment, so that no header's first token can hold them. */
bool BreaksHeaderToken(unsigned char Byte) {
  return Byte == ' ' || Byte == '\t' || Byte == '=' || Byte == '#' || Byte == ';';
}

void AddIdentifierWarnings(const std::string &Identifier, const MachineReport &Machine,
                           std::vector<Warning> &Warnings) {
  const std::string Shown = "identifier \"" + DisplayBytes(Identifier) + "\"";
  const size_t Length = std::strlen(Identifier.c_str());
  if (Length > IdentifierLength) {
    Warnings.push_back({"identifier", 0,
                        Shown + " has " + std::to_string(Length) + " characters; the driver keeps only the first 8, " +
                            DisplayText(Machine.MachineId)});
  } else if (Length < IdentifierLength) {
    Warnings.push_back({"identifier", 0,
                        Shown + " has " + std::to_string(Length) +
                            " characters, not 8; the driver looks for a header line whose first token is exactly " +
                            DisplayText(Machine.Header)});
  }
  for (size_t Index = 0; Index < std::min(Length, IdentifierLength); Index++) {
    const unsigned char Byte = static_cast<unsigned char>(Identifier[Index]);
    char Detail[112];
    if (BreaksHeaderToken(Byte)) {
      std::snprintf(Detail, sizeof(Detail), " holds the character 0x%02X, which ends a token: no header can match",
                    Byte);
    } else if (Byte < 0x21 || Byte > 0x7E) {
      std::snprintf(Detail, sizeof(Detail),
                    " holds the byte 0x%02X, which is not plain printable ASCII (the driver widens it to 0x%04X)", Byte,
                    static_cast<unsigned>(ServiceState.MachineId[Index]));
    } else {
      continue;
    }
    Warnings.push_back({"identifier", 0, Shown + Detail});
    return;
  }
}

/* The first line whose first token is Header, or none. */
std::optional<size_t> FindHeaderLine(const TextLayout &Layout, const std::u16string &Header) {
  for (size_t Index = 0; Index < Layout.Lines.size(); Index++) {
    if (!Layout.Lines[Index].Tokens.empty() && Layout.Lines[Index].Tokens[0] == Header) {
      return Index;
    }
  }
  return std::nullopt;
}

/* Headers that differ from the machine's only in letter case. */
void AddHeaderCaseWarnings(const TextLayout &Layout, const std::u16string &Header, std::vector<Warning> &Warnings) {
  for (const LogicalLine &Line : Layout.Lines) {
    if (IsHeaderLine(Line) && FoldAsciiCase(Line.Tokens[0]) == Header) {
      Warnings.push_back({"header-case", Line.FirstLine,
                          "header " + DisplayText(Line.Tokens[0]) + " differs from " + DisplayText(Header) +
                              " only in letter case; the header must be written in upper case"});
    }
  }
}

FileNameReport NameFile(int64_t Number) {
  FileNameReport File;
  File.Number = Number;
  CHAR8 Name[FileNameSize] = {};
  CHAR8 FullName[64] = {};
  FormatToAscii(Name, FileNameSize, "%s.%d", ServiceState.MachineId, static_cast<UINTN>(Number));
  FormatToAscii(FullName, sizeof(FullName), "%s.%d", ServiceState.MachineId, static_cast<UINTN>(Number));
  File.Name = Name;
  File.FullName = FullName;
  File.Cut = File.Name != File.FullName;
  return File;
}

/* ", the name of file K" when the cut name is also the full name of another file K. */
std::string CutNameOwner(const FileNameReport &File) {
  const size_t Point = File.Name.rfind('.');
  if (Point == std::string::npos || Point + 1 >= File.Name.size()) {
    return "";
  }
  char *End = nullptr;
  const long long Other = std::strtoll(File.Name.c_str() + Point + 1, &End, 10);
  if (*End != '\0' || Other == File.Number || NameFile(Other).FullName != File.Name) {
    return "";
  }
  return ", the name of file " + std::to_string(Other);
}

} // namespace

MachineReport ReadMachine(const std::vector<uint8_t> &Text, const TextLayout &Layout, const ReportRequest &Request,
                          std::vector<Warning> &Warnings) {
  MachineReport Machine;
  Machine.Identifier = *Request.Identifier;
  CHAR16 SavedMachineId[9];
  CopyWideStringCounted(SavedMachineId, ServiceState.MachineId, 9);
  SetMachineId(Machine.Identifier);
  Machine.MachineId = ServiceState.MachineId;

  static const UINT8 NoText = 0;
  TextReader Section = {};
  const EFI_STATUS Status = FindMachineSection(Text.empty() ? &NoText : Text.data(), Text.size(), &Section);
  Machine.Header = SectionTemplate;
  AddIdentifierWarnings(Machine.Identifier, Machine, Warnings);

  if (Status == EFI_SUCCESS) {
    Machine.SectionFound = true;
    const std::optional<size_t> HeaderIndex = FindHeaderLine(Layout, Machine.Header);
    if (HeaderIndex) {
      Machine.HeaderLine = Layout.Lines[*HeaderIndex].FirstLine;
      SectionEntries Entries = ReadSectionEntries(Layout, *HeaderIndex, &Section, Warnings);
      Machine.Entries = std::move(Entries.Entries);
      Machine.EntryCount = Entries.Count;
    }
    if (Section.Buffer != NULL) {
      PoolRelease(Section.Buffer);
    }
  } else {
    AddHeaderCaseWarnings(Layout, Machine.Header, Warnings);
  }

  for (int64_t Number : Request.FileNumbers) {
    FileNameReport File = NameFile(Number);
    if (File.Cut) {
      Warnings.push_back({"file-name-cut", 0,
                          "numbered file " + std::to_string(Number) + " would be named " + File.FullName +
                              ", longer than 15 characters: it is requested as " + File.Name + CutNameOwner(File)});
    }
    Machine.Files.push_back(std::move(File));
  }
  CopyWideStringCounted(ServiceState.MachineId, SavedMachineId, 9);
  return Machine;
}

} // namespace RivariCheck
