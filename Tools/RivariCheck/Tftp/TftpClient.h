/*
 * A TFTP client for one read (RFC 1350) with the options of RFC 2347,
 * 2348 (blksize), 2349 (tsize) and 7440 (windowsize), written to observe a
 * server: it records what the server answered, not only the file.
 *
 * Timing: after each packet it sends (the request, or an acknowledgement)
 * the client waits ResendInterval for the next packet it expects, sends
 * the same packet again, and gives up after Sends sends without an answer,
 * or earlier once MostSilence has passed without one. Packets that do not
 * move the transfer on (a repeated block, a stray from another port)
 * neither count as the answer nor extend the wait, so no server can keep
 * a transfer alive without sending the file. On giving up, and on any
 * fault of the server's, the client tells the server with an error packet.
 * An ICMP port unreachable for what went to the server (or its transfer
 * port) ends the transfer at once: nothing listens there.
 */
#ifndef TOLVANE_TOOLS_TFTP_CLIENT_H
#define TOLVANE_TOOLS_TFTP_CLIENT_H

#include <chrono>
#include <optional>

#include "DatagramLink.h"
#include "TftpPacket.h"

namespace RivariCheck {

struct TransferRequest {
  std::string FileName;
  std::vector<TftpOption> Options; // sent as given, in order; tsize, blksize and windowsize are understood
  bool SizeOnly = false;           // end with error 8 once the options are acknowledged
  uint64_t MostBytes = 0;          // data beyond this ends the transfer with error 3
  std::chrono::milliseconds ResendInterval{4000};
  uint32_t Sends = 6;                                   // of each packet, the first included
  std::optional<std::chrono::milliseconds> MostSilence; // gives up earlier than the schedule when set
};

enum class TransferEnd {
  Complete,          // the last block arrived
  SizeAnswered,      // a size-only request got its option acknowledgement and was ended
  DataInsteadOfSize, // a size-only request was answered with data: the server ignored the options
  ServerError,       // the server sent an error packet
  Timeout,           // nothing expected arrived within the wait; ended with error 0
  BadPacket,         // the server sent a packet too short or cut; ended with error 4
  UnknownOpcode,     // the server sent an opcode TFTP does not have; ended with error 4
  UnexpectedPacket,  // the server sent a packet the protocol does not allow here; ended with error 4
  BadOptions,        // an option acknowledged twice or with a value out of range; ended with error 8
  TooLarge,          // more than MostBytes arrived; ended with error 3
  SendFailed,        // the system would not send
  PortUnreachable,   // ICMP port unreachable answered a packet to the server: nothing listens there
};

struct TransferResult {
  TransferEnd End = TransferEnd::Timeout;
  bool OptionsAcknowledged = false;        // an option acknowledgement came
  bool DataAtOnce = false;                 // the request was answered with data (options ignored)
  std::optional<uint64_t> SizeAnswer;      // tsize in the option acknowledgement
  std::optional<uint32_t> BlockSizeAnswer; // blksize in the option acknowledgement
  std::optional<uint32_t> WindowAnswer;    // windowsize in the option acknowledgement
  std::vector<TftpOption> UnaskedOptions;  // acknowledged without being asked for: passed over
  uint32_t BlockSize = 512;                // the block size the data came in
  uint32_t WindowSize = 1;                 // blocks the server sends per acknowledgement
  std::vector<uint8_t> Data;
  uint64_t Received = 0; // bytes of data taken (Data may be dropped once looked at)
  uint64_t Blocks = 0;
  uint16_t ErrorCode = 0;      // ServerError
  std::string ErrorMessage;    // ServerError, as received
  std::string Problem;         // BadPacket, UnknownOpcode, UnexpectedPacket, BadOptions, TooLarge, SendFailed
  bool SilenceCut = false;     // Timeout: MostSilence ended the wait before the schedule did
  uint32_t Resends = 0;        // packets sent again after a wait
  uint32_t IgnoredPackets = 0; // repeats, out-of-order blocks, strays from other ports
  double LongestWait = 0;      // seconds of the longest silence the transfer got past
  double Seconds = 0;
};

/* Runs one read of Request.FileName from Server over Link, a link used for no other transfer. */
TransferResult RunTransfer(DatagramLink &Link, const Endpoint &Server, const TransferRequest &Request);

} // namespace RivariCheck

#endif
