/* Reading and checking the map of a split. */
#include "ClientMap.h"

#include <cctype>
#include <map>

#include "CharacterClasses.h"
#include "MachineIdentity.h"

namespace RivariCheck {

namespace {

std::string Trimmed(const std::string &Text) {
  const size_t First = Text.find_first_not_of(" \t\r");
  if (First == std::string::npos) {
    return "";
  }
  return Text.substr(First, Text.find_last_not_of(" \t\r") - First + 1);
}

bool IsHexDigit(char Character) { return std::isxdigit(static_cast<unsigned char>(Character)) != 0; }

/* The 12 hex digits of a MAC written with Separator after every Group digits, or an empty string. */
std::string MacDigits(const std::string &Text, char Separator, size_t Group) {
  std::string Digits;
  for (size_t Index = 0; Index < Text.size(); Index++) {
    const bool SeparatorPlace = Separator != 0 && (Index + 1) % (Group + 1) == 0;
    if (SeparatorPlace ? Text[Index] != Separator : !IsHexDigit(Text[Index])) {
      return "";
    }
    if (!SeparatorPlace) {
      Digits += static_cast<char>(std::tolower(static_cast<unsigned char>(Text[Index])));
    }
  }
  return Digits.size() == 12 ? Digits : "";
}

} // namespace

std::string CanonicalIpv4(const std::string &Text) {
  std::string Canonical;
  size_t Start = 0;
  for (int Part = 0; Part < 4; Part++) {
    const size_t End = Part < 3 ? Text.find('.', Start) : Text.size();
    if (End == std::string::npos) {
      return "";
    }
    const std::string Digits = Text.substr(Start, End - Start);
    // A leading zero reads as octal to some tools: refuse it rather than guess.
    if (Digits.empty() || Digits.size() > 3 || (Digits.size() > 1 && Digits[0] == '0')) {
      return "";
    }
    for (char Digit : Digits) {
      if (Digit < '0' || Digit > '9') {
        return "";
      }
    }
    if (std::stoi(Digits) > 255) {
      return "";
    }
    if (Part != 0) {
      Canonical += '.';
    }
    Canonical.append(Digits);
    Start = End + 1;
  }
  return Canonical;
}

std::string CanonicalMac(const std::string &Text) {
  std::string Digits;
  if (Text.size() == 17) {
    Digits = MacDigits(Text, Text[2] == '-' ? '-' : ':', 2);
  } else if (Text.size() == 14) {
    Digits = MacDigits(Text, '.', 4);
  } else if (Text.size() == 12) {
    Digits = MacDigits(Text, 0, 12);
  }
  if (Digits.empty()) {
    return "";
  }
  std::string Canonical;
  for (size_t Index = 0; Index < Digits.size(); Index += 2) {
    if (Index != 0) {
      Canonical += '-';
    }
    Canonical.append(Digits, Index, 2);
  }
  return Canonical;
}

std::string IdentifierProblem(const std::string &Identifier) {
  if (Identifier.size() != MachineIdLength) {
    return "identifier \"" + Identifier + "\" has " + std::to_string(Identifier.size()) + " characters, not " +
           std::to_string(MachineIdLength);
  }
  for (char Character : Identifier) {
    const CHAR16 Unit = static_cast<unsigned char>(Character);
    // Characters that end a token, open a header, or would make a file name a path.
    if (Unit <= CharacterSpace || Unit > 0x7E || IsTokenStop(Unit) || Character == '[' || Character == ']' ||
        Character == '/' || Character == '\\' || Character == ',') {
      return "identifier \"" + Identifier + "\" holds a character no section header or file name can carry";
    }
  }
  return "";
}

ClientMap ReadClientMap(const std::string &Text, AddressKind Kind) {
  ClientMap Map;
  std::map<std::string, uint64_t> AddressLines;
  uint64_t LineNumber = 0;
  // A map saved by a spreadsheet may open with a UTF-8 BOM.
  size_t Start = Text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (Start < Text.size()) {
    size_t End = Text.find('\n', Start);
    End = End == std::string::npos ? Text.size() : End;
    const std::string Line = Trimmed(Text.substr(Start, End - Start));
    Start = End + 1;
    LineNumber++;
    if (Line.empty() || Line[0] == '#') {
      continue;
    }
    const size_t Comma = Line.find(',');
    if (Comma == std::string::npos || Line.find(',', Comma + 1) != std::string::npos) {
      Map.Errors.push_back({LineNumber, "expected identifier,address"});
      continue;
    }
    ClientRow Row{LineNumber, Trimmed(Line.substr(0, Comma)), ""};
    const std::string Written = Trimmed(Line.substr(Comma + 1));
    const std::string Problem = IdentifierProblem(Row.Identifier);
    if (!Problem.empty()) {
      Map.Errors.push_back({LineNumber, Problem});
      continue;
    }
    Row.Address = Kind == AddressKind::Ipv4 ? CanonicalIpv4(Written) : CanonicalMac(Written);
    if (Row.Address.empty()) {
      Map.Errors.push_back({LineNumber, "\"" + Written + "\" is not " +
                                            (Kind == AddressKind::Ipv4 ? "an IPv4 address (a.b.c.d)"
                                                                       : "a MAC address (aa:bb:cc:dd:ee:ff)")});
      continue;
    }
    auto [Earlier, Inserted] = AddressLines.try_emplace(Row.Address, LineNumber);
    if (!Inserted) {
      Map.Errors.push_back(
          {LineNumber, "address " + Row.Address + " is already on line " + std::to_string(Earlier->second)});
      continue;
    }
    Map.Rows.push_back(Row);
  }
  return Map;
}

} // namespace RivariCheck
