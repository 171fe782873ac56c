/*
 * A TFTP client for one read (RFC 1350) with the options of RFC 2347,
 * 2348 (blksize) and 2349 (tsize), written to observe a server: it
 * records what the server answered, not only the file.
 *
 * Timing: the client waits up to Timeout for each packet it expects. While
 * it waits it sends its last packet again every Timeout / 5 (the request,
 * or the last acknowledgement); after Timeout without the expected packet
 * it gives up. Packets that do not move the transfer on (a repeated block,
 * a stray from another port) neither count as the answer nor extend the
 * wait, so no server can keep a transfer alive without sending the file.
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
  std::optional<uint32_t> BlockSize; // asked for with blksize (8 to 65464)
  bool AskSize = false;              // tsize 0
  bool SizeOnly = false;             // end with error 8 once the options are acknowledged
  uint64_t MostBytes = 0;            // data beyond this ends the transfer with error 3
  std::chrono::milliseconds Timeout{5000};
};

enum class TransferEnd {
  Complete,          // the last block arrived
  SizeAnswered,      // a size-only request got its option acknowledgement and was ended
  DataInsteadOfSize, // a size-only request was answered with data: the server ignored the options
  ServerError,       // the server sent an error packet
  Timeout,           // nothing expected arrived within the timeout
  BadPacket,         // the server sent a packet the protocol does not allow here; ended with error 4
  BadOptions,        // the option acknowledgement cannot be accepted; ended with error 8
  TooLarge,          // more than MostBytes arrived; ended with error 3
  SendFailed,        // the system would not send
};

struct TransferResult {
  TransferEnd End = TransferEnd::Timeout;
  bool OptionsAcknowledged = false;        // an option acknowledgement came
  bool DataAtOnce = false;                 // the request was answered with data (options ignored)
  std::optional<uint64_t> SizeAnswer;      // tsize in the option acknowledgement
  std::optional<uint32_t> BlockSizeAnswer; // blksize in the option acknowledgement
  uint32_t BlockSize = 512;                // the block size the data came in
  std::vector<uint8_t> Data;
  uint64_t Received = 0; // bytes of data taken (Data may be dropped once looked at)
  uint64_t Blocks = 0;
  uint16_t ErrorCode = 0;      // ServerError
  std::string ErrorMessage;    // ServerError
  std::string Problem;         // BadPacket, BadOptions, TooLarge, SendFailed
  uint32_t Resends = 0;        // packets sent again after a wait
  uint32_t IgnoredPackets = 0; // repeats, out-of-order blocks, strays from other ports
  double Seconds = 0;
};

/* The options the request carries, in the order sent: blksize, then tsize. */
std::vector<TftpOption> RequestOptions(const TransferRequest &Request);

/* Runs one read of Request.FileName from Server over Link, a link used for no other transfer. */
TransferResult RunTransfer(DatagramLink &Link, const Endpoint &Server, const TransferRequest &Request);

/* "<n> bytes", "timed out after ...", "error 1 \"File not found\"": how a transfer ended, in a few words. */
std::string DescribeTransferEnd(const TransferResult &Result);

} // namespace RivariCheck

#endif
