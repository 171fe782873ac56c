/* Building the packets a reading TFTP client sends, and checking the ones it receives. */
#include "TftpPacket.h"

namespace RivariCheck {

namespace {

void PutWord(std::vector<uint8_t> &Packet, uint16_t Value) {
  Packet.push_back(static_cast<uint8_t>(Value >> 8));
  Packet.push_back(static_cast<uint8_t>(Value & 0xFF));
}

void PutString(std::vector<uint8_t> &Packet, const std::string &Text) {
  Packet.insert(Packet.end(), Text.begin(), Text.end());
  Packet.push_back(0);
}

uint16_t WordAt(const std::vector<uint8_t> &Bytes, size_t Offset) {
  return static_cast<uint16_t>(Bytes[Offset] << 8 | Bytes[Offset + 1]);
}

TftpPacket Malformed(TftpPacket Packet, const char *Problem) {
  Packet.Malformed = true;
  Packet.Problem = Problem;
  return Packet;
}

/* The NUL-terminated name/value pairs after the opcode; false when a NUL or a value is missing. */
bool ReadOptions(const std::vector<uint8_t> &Bytes, std::vector<TftpOption> &Options) {
  std::vector<std::string> Strings;
  size_t Start = 2;
  for (size_t At = Start; At < Bytes.size(); At++) {
    if (Bytes[At] == 0) {
      Strings.emplace_back(Bytes.begin() + static_cast<std::ptrdiff_t>(Start),
                           Bytes.begin() + static_cast<std::ptrdiff_t>(At));
      Start = At + 1;
    }
  }
  if (Start != Bytes.size() || Strings.size() % 2 != 0) {
    return false;
  }
  for (size_t Index = 0; Index < Strings.size(); Index += 2) {
    Options.emplace_back(Strings[Index], Strings[Index + 1]);
  }
  return true;
}

} // namespace

std::vector<uint8_t> ReadRequestPacket(const std::string &FileName, const std::vector<TftpOption> &Options) {
  std::vector<uint8_t> Packet;
  PutWord(Packet, static_cast<uint16_t>(TftpOpcode::ReadRequest));
  PutString(Packet, FileName);
  PutString(Packet, "octet");
  for (const TftpOption &Option : Options) {
    PutString(Packet, Option.first);
    PutString(Packet, Option.second);
  }
  return Packet;
}

std::vector<uint8_t> AcknowledgementPacket(uint16_t Block) {
  std::vector<uint8_t> Packet;
  PutWord(Packet, static_cast<uint16_t>(TftpOpcode::Acknowledgement));
  PutWord(Packet, Block);
  return Packet;
}

std::vector<uint8_t> ErrorPacket(TftpErrorCode Code, const std::string &Message) {
  std::vector<uint8_t> Packet;
  PutWord(Packet, static_cast<uint16_t>(TftpOpcode::Error));
  PutWord(Packet, static_cast<uint16_t>(Code));
  PutString(Packet, Message);
  return Packet;
}

TftpPacket ParseTftpPacket(const std::vector<uint8_t> &Bytes) {
  TftpPacket Packet;
  if (Bytes.size() < 2) {
    return Malformed(Packet, "underlength packet: no opcode");
  }
  Packet.Opcode = WordAt(Bytes, 0);
  switch (static_cast<TftpOpcode>(Packet.Opcode)) {
  case TftpOpcode::Data:
  case TftpOpcode::Acknowledgement:
    if (Bytes.size() < 4) {
      return Malformed(Packet, "underlength packet: no block number");
    }
    Packet.Block = WordAt(Bytes, 2);
    Packet.DataSize = Bytes.size() - 4;
    Packet.Data = Bytes.data() + 4;
    return Packet;
  case TftpOpcode::Error:
    if (Bytes.size() < 4) {
      return Malformed(Packet, "underlength packet: no error code");
    }
    Packet.ErrorCode = WordAt(Bytes, 2);
    // A message without its final NUL is still shown: the transfer ends on this packet either way.
    for (size_t At = 4; At < Bytes.size() && Bytes[At] != 0; At++) {
      Packet.ErrorMessage.push_back(static_cast<char>(Bytes[At]));
    }
    return Packet;
  case TftpOpcode::OptionAcknowledgement:
    if (!ReadOptions(Bytes, Packet.Options)) {
      return Malformed(Packet, "option acknowledgement without a final NUL or with a name and no value");
    }
    return Packet;
  case TftpOpcode::ReadRequest:
  case TftpOpcode::WriteRequest:
    // The file name and the mode read as one more name/value pair before the options.
    if (!ReadOptions(Bytes, Packet.Options) || Packet.Options.empty()) {
      return Malformed(Packet, "request without a file name and mode");
    }
    Packet.FileName = Packet.Options.front().first;
    Packet.Options.erase(Packet.Options.begin());
    return Packet;
  }
  Packet.UnknownOpcode = true;
  return Malformed(Packet, "unknown opcode");
}

} // namespace RivariCheck
