/* Fleet files for the split's differential checks, built from a stream of choices. */
#include "RivariCheckFleetFiles.h"

namespace FleetFiles {

namespace {

/* Takes the choices one byte at a time; zeros once they run out. */
class Choices {
public:
  Choices(const uint8_t *Data, size_t Length) : Bytes(Data), Size(Length) {}
  uint8_t Next() { return Used < Size ? Bytes[Used++] : 0; }
  size_t Pick(size_t Count) { return Next() % Count; }
  bool Left() const { return Used < Size; }

private:
  const uint8_t *Bytes;
  size_t Size;
  size_t Used = 0;
};

/* The pieces a line is made of: each a trap of the format or an ordinary line. */
std::string Line(Choices &From) {
  const std::string Identifier = Identifiers()[From.Pick(Identifiers().size() - 1)];
  std::string Lower = Identifier;
  for (char &Byte : Lower) {
    Byte = static_cast<char>(Byte >= 'A' && Byte <= 'Z' ? Byte + 32 : Byte);
  }
  const std::string Index = std::to_string(static_cast<int>(From.Pick(7)) - 1);
  switch (From.Pick(16)) {
  case 0:
  case 1:
  case 2:
    return "[" + Identifier + "]";
  case 3:
    return "  [" + Identifier + "] ; machine";
  case 4:
    return "[" + Lower + "]";
  case 5:
    return "[" + Identifier.substr(0, 4) + " " + Identifier.substr(4) + "]";
  case 6:
    return Index + " = \"quoted value " + Index + "\"";
  case 7:
    return Index + " \"opens a value";
  case 8:
    return "; it's a \"stray quote in a comment";
  case 9:
    return "# a comment";
  case 10:
    return "";
  case 11:
    return Index + "=a=b c";
  case 12:
    return std::string("2 nul") + '\0' + "after";
  case 13:
    return "\"";
  case 14:
    return "[" + Identifier + "]x";
  default:
    return Index + " plain-" + Index;
  }
}

/* The text of the file in its encoding: 8-bit, 8-bit after a UTF-8 BOM, UTF-16LE with or without a BOM. */
std::vector<uint8_t> Encode(const std::string &Text, size_t Encoding) {
  std::vector<uint8_t> File;
  if (Encoding == 1) {
    File = {0xEF, 0xBB, 0xBF};
  } else if (Encoding == 2) {
    File = {0xFF, 0xFE};
  }
  for (char Byte : Text) {
    File.push_back(static_cast<uint8_t>(Byte));
    if (Encoding >= 2) {
      File.push_back(0);
    }
  }
  return File;
}

} // namespace

const std::vector<std::string> &Identifiers() {
  static const std::vector<std::string> Names = {"AB12CD34", "EF56AB78", "00000001", "ZZZZZZZZ"};
  return Names;
}

std::vector<uint8_t> GenerateFleet(const uint8_t *Bytes, size_t Size) {
  Choices From(Bytes, Size);
  const size_t Encoding = From.Pick(4);
  const char *Breaks[] = {"\n", "\r\n", "\r"};
  const std::string Break = Breaks[From.Pick(3)];
  std::string Text;
  for (size_t Count = 0; From.Left() && Count < 400; Count++) {
    Text += Line(From) + Break;
  }
  if (From.Pick(2) == 0 && !Text.empty()) {
    Text.resize(Text.size() - Break.size());
  }
  return Encode(Text, Encoding);
}

} // namespace FleetFiles
