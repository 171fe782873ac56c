/*
 * TFTP packets (RFC 1350, options RFC 2347): the ones a reading client
 * sends, and a checked reading of the ones it receives. Nothing from the
 * wire is trusted: a packet that is too short, lacks a string's final NUL
 * or carries an unknown opcode is reported as malformed with the reason.
 */
#ifndef TOLVANE_TOOLS_TFTP_PACKET_H
#define TOLVANE_TOOLS_TFTP_PACKET_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace RivariCheck {

enum class TftpOpcode : uint16_t {
  ReadRequest = 1,
  WriteRequest = 2,
  Data = 3,
  Acknowledgement = 4,
  Error = 5,
  OptionAcknowledgement = 6,
};

/* Error codes of RFC 1350 and RFC 2347 that the client sends. */
enum class TftpErrorCode : uint16_t {
  NotDefined = 0,
  AllocationExceeded = 3,
  IllegalOperation = 4,
  UnknownTransferId = 5,
  OptionRefused = 8,
};

using TftpOption = std::pair<std::string, std::string>; // name, value

/* A read request in octet mode with Options in the order given. */
std::vector<uint8_t> ReadRequestPacket(const std::string &FileName, const std::vector<TftpOption> &Options);

/* An acknowledgement of Block (0 acknowledges an option acknowledgement). */
std::vector<uint8_t> AcknowledgementPacket(uint16_t Block);

/* An error packet with Code and Message. */
std::vector<uint8_t> ErrorPacket(TftpErrorCode Code, const std::string &Message);

/* A received packet, checked. */
struct TftpPacket {
  bool Malformed = false;
  std::string Problem; // why it is malformed
  bool UnknownOpcode = false;
  uint16_t Opcode = 0;
  uint16_t Block = 0;              // Data, Acknowledgement
  uint64_t DataSize = 0;           // Data: bytes after the header
  const uint8_t *Data = nullptr;   // Data: into the received bytes, valid while they live
  uint16_t ErrorCode = 0;          // Error
  std::string ErrorMessage;        // Error, without its NUL
  std::vector<TftpOption> Options; // OptionAcknowledgement, ReadRequest, WriteRequest: names as received
  std::string FileName;            // ReadRequest, WriteRequest
};

/* Reads Bytes as a TFTP packet; Malformed with Problem set when it cannot be one. */
TftpPacket ParseTftpPacket(const std::vector<uint8_t> &Bytes);

} // namespace RivariCheck

#endif
