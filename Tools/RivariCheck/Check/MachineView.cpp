/* The machine's view of the file: its identifier, its section and entries, its numbered file names. */
#include "MachineView.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "MachineIdentity.h"
#include "SectionEntries.h"
#include "SectionLookup.h"
#include "UnmatchableHeaders.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* The header the lookup looks for. */
std::u16string SectionHeaderOf(const std::u16string &MachineId) {
  CHAR16 Header[SectionHeaderLength];
  BuildSectionHeader(MachineId.c_str(), Header);
  return Header;
}

/* Characters that end a token or start a comment, so that no header's first token can hold them. */
bool BreaksHeaderToken(unsigned char Byte) { return IsSeparator(Byte) || IsCommentStart(Byte); }

void AddIdentifierWarnings(const std::string &Identifier, const MachineReport &Machine,
                           std::vector<Warning> &Warnings) {
  const std::string Shown = "identifier \"" + DisplayBytes(Identifier) + "\"";
  const size_t Length = std::strlen(Identifier.c_str());
  if (Length > MachineIdLength) {
    Warnings.push_back({"identifier", 0,
                        Shown + " has " + std::to_string(Length) + " characters; the driver keeps only the first 8, " +
                            DisplayText(Machine.MachineId)});
  } else if (Length < MachineIdLength) {
    Warnings.push_back({"identifier", 0,
                        Shown + " has " + std::to_string(Length) +
                            " characters, not 8; the driver looks for a header line whose first token is exactly " +
                            DisplayText(Machine.Header)});
  }
  const auto Kept = Identifier.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(Length, MachineIdLength));
  if (std::any_of(Identifier.begin(), Kept, [](char Byte) { return Byte >= 'a' && Byte <= 'z'; })) {
    Warnings.push_back({"identifier-case", 0,
                        Shown + " has lower-case letters: the driver looks for the header in upper case, " +
                            DisplayText(Machine.Header) + ", but asks for numbered files as the caller wrote it, " +
                            NameFile(Machine.MachineId, 0).Name +
                            ", ...; name the files so on a server that tells letter case apart, or pass the "
                            "identifier in upper case"});
  }
  for (size_t Index = 0; Index < std::min<size_t>(Length, MachineIdLength); Index++) {
    const unsigned char Byte = static_cast<unsigned char>(Identifier[Index]);
    char Detail[112];
    if (BreaksHeaderToken(Byte)) {
      std::snprintf(Detail, sizeof(Detail), " holds the character 0x%02X, which ends a token: no header can match",
                    Byte);
    } else if (Byte < 0x21 || Byte > 0x7E) {
      std::snprintf(Detail, sizeof(Detail),
                    " holds the byte 0x%02X, which is not plain printable ASCII (the driver widens it to 0x%04X)", Byte,
                    static_cast<unsigned>(Machine.MachineId[Index]));
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

/*
 * Headers that begin as the machine's does but are not it ([AB12CD34]x,
 * [AB12CD34 without its bracket, [AB12CD345]), each with its warning.
 * Headers that differ only in letter case have a warning of their own.
 */
void AddNearMisses(const TextLayout &Layout, MachineReport &Machine, std::vector<Warning> &Warnings) {
  const std::u16string &Header = Machine.Header;
  const std::u16string Opening = Header.back() == u']' ? Header.substr(0, Header.size() - 1) : Header;
  for (const LogicalLine &Line : Layout.Lines) {
    if (!IsHeaderLine(Line)) {
      continue;
    }
    const std::u16string Upper = UpperCased(Line.Tokens[0]);
    if (Upper == Header || Upper.compare(0, Opening.size(), Opening) != 0) {
      continue;
    }
    Machine.NearMisses.push_back({Line.Tokens[0], Line.FirstLine, 0, false});
    if (std::optional<Warning> Found = UnmatchableHeaderWarning(Line)) {
      Warnings.push_back(std::move(*Found));
    }
  }
}

/*
 * The first physical line that begins with Header (after blanks) inside a
 * logical line an open double quote joined: the reader never sees it as a
 * header. Records it and the line the quote opened on.
 */
void FindSwallowedHeader(const TextLayout &Layout, MachineReport &Machine) {
  for (const LogicalLine &Line : Layout.Lines) {
    uint64_t Physical = Line.FirstLine;
    for (size_t Index = 0; Index + 1 < Line.Text.size(); Index++) {
      if (!IsLineBreak(Line.Text[Index])) {
        continue;
      }
      if (Line.Text[Index] == CharacterCarriageReturn && Line.Text[Index + 1] == CharacterLineFeed) {
        Index++;
      }
      Physical++;
      size_t Start = Index + 1;
      while (Start < Line.Text.size() && IsSeparator(Line.Text[Start])) {
        Start++;
      }
      const size_t End = Start + Machine.Header.size();
      if (Line.Text.compare(Start, Machine.Header.size(), Machine.Header) == 0 &&
          (End == Line.Text.size() || IsSeparator(Line.Text[End]) || IsCommentStart(Line.Text[End]) ||
           IsLineBreak(Line.Text[End]))) {
        Machine.SwallowedLine = Physical;
        Machine.SwallowingLine = Line.FirstLine;
        return;
      }
    }
  }
}

/* Headers that differ from the machine's only in letter case. */
void AddHeaderCaseWarnings(const TextLayout &Layout, const std::u16string &Header, std::vector<Warning> &Warnings) {
  for (const LogicalLine &Line : Layout.Lines) {
    if (IsHeaderLine(Line) && UpperCased(Line.Tokens[0]) == Header) {
      Warnings.push_back({"header-case", Line.FirstLine,
                          "header " + DisplayText(Line.Tokens[0]) + " differs from " + DisplayText(Header) +
                              " only in letter case; the header must be written in upper case"});
    }
  }
}

/* ", the name of file K" when the cut name is also the full name of another file K. */
std::string CutNameOwner(const std::u16string &MachineId, const FileNameReport &File) {
  const size_t Point = File.Name.rfind('.');
  if (Point == std::string::npos || Point + 1 >= File.Name.size()) {
    return "";
  }
  char *End = nullptr;
  const long long Other = std::strtoll(File.Name.c_str() + Point + 1, &End, 10);
  if (*End != '\0' || Other == File.Number || NameFile(MachineId, Other).FullName != File.Name) {
    return "";
  }
  return ", the name of file " + std::to_string(Other);
}

} // namespace

std::u16string RecordedMachineId(const std::string &Identifier) {
  CHAR8 Bytes[MachineIdLength] = {};
  std::memcpy(Bytes, Identifier.data(), std::min<size_t>(Identifier.size(), MachineIdLength));
  CHAR16 MachineId[MachineIdLength + 1];
  RecordMachineId(Bytes, MachineId);
  return MachineId;
}

FileNameReport NameFile(const std::u16string &MachineId, int64_t Number) {
  FileNameReport File;
  File.Number = Number;
  CHAR8 Name[NumberedFileNameSize] = {};
  CHAR8 FullName[64] = {};
  FormatNumberedFileName(MachineId.c_str(), static_cast<UINTN>(Number), Name, sizeof(Name));
  FormatNumberedFileName(MachineId.c_str(), static_cast<UINTN>(Number), FullName, sizeof(FullName));
  File.Name = Name;
  File.FullName = FullName;
  File.Cut = File.Name != File.FullName;
  return File;
}

MachineReport ReadMachine(const std::vector<uint8_t> &Text, const TextLayout &Layout, const ReportRequest &Request,
                          std::vector<Warning> &Warnings) {
  MachineReport Machine;
  Machine.Identifier = *Request.Identifier;
  Machine.MachineId = RecordedMachineId(Machine.Identifier);
  Machine.Header = SectionHeaderOf(Machine.MachineId);

  static const UINT8 NoText = 0;
  TextReader Section = {};
  const EFI_STATUS Status =
      FindSection(Text.empty() ? &NoText : Text.data(), Text.size(), Machine.Header.c_str(), &Section);
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
    AddNearMisses(Layout, Machine, Warnings);
    FindSwallowedHeader(Layout, Machine);
  }

  for (int64_t Number : Request.FileNumbers) {
    FileNameReport File = NameFile(Machine.MachineId, Number);
    if (File.Cut) {
      Warnings.push_back({"file-name-cut", 0,
                          "numbered file " + std::to_string(Number) + " would be named " + File.FullName +
                              ", longer than 15 characters: it is requested as " + File.Name +
                              CutNameOwner(Machine.MachineId, File)});
    }
    Machine.Files.push_back(std::move(File));
  }
  return Machine;
}

} // namespace RivariCheck
