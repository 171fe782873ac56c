/* One TFTP read, step by step: request, options, blocks, acknowledgements, and how it ended. */
#include "TftpClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace RivariCheck {

namespace {

/* Resends within one wait: the last packet goes out again every Timeout / ResendsPerWait. */
constexpr int ResendsPerWait = 5;
constexpr uint32_t SmallestBlockSize = 8;
constexpr uint32_t DefaultBlockSize = 512;

/* The session of one transfer, handed to every step. */
struct TransferSession {
  DatagramLink &Link;
  const TransferRequest &Request;
  Endpoint Server;               // where the request goes
  std::optional<Endpoint> Peer;  // the server's transfer port, from its first answer
  std::vector<uint8_t> LastSent; // what a wait sends again
  uint16_t NextBlock = 1;
  bool Started = false; // data or an option acknowledgement has come
  bool Finished = false;
  TransferResult Result;
};

bool SameName(const std::string &Left, const char *Right) {
  const std::string Other = Right;
  return Left.size() == Other.size() && std::equal(Left.begin(), Left.end(), Other.begin(), [](char A, char B) {
           return std::tolower(static_cast<unsigned char>(A)) == std::tolower(static_cast<unsigned char>(B));
         });
}

/* A decimal option value; none for anything but digits that fit. */
std::optional<uint64_t> DecimalValue(const std::string &Text) {
  uint64_t Value = 0;
  const char *End = Text.data() + Text.size();
  const auto [Stop, Error] = std::from_chars(Text.data(), End, Value);
  if (Text.empty() || Error != std::errc() || Stop != End) {
    return std::nullopt;
  }
  return Value;
}

/* Sends Bytes to the transfer's peer (the server before it answered); a failure ends the transfer. */
void SendToPeer(TransferSession &Session, std::vector<uint8_t> Bytes) {
  std::string Error;
  if (!Session.Link.Send(Session.Peer.value_or(Session.Server), Bytes, Error)) {
    Session.Result.End = TransferEnd::SendFailed;
    Session.Result.Problem = Error;
    Session.Finished = true;
  }
  Session.LastSent = std::move(Bytes);
}

/* Ends the transfer with End and tells the server with an error packet; nothing waits for an answer to it. */
void EndTransfer(TransferSession &Session, TransferEnd End, TftpErrorCode Code, const std::string &Message) {
  std::string Ignored;
  Session.Link.Send(Session.Peer.value_or(Session.Server), ErrorPacket(Code, Message), Ignored);
  Session.Result.End = End;
  Session.Finished = true;
}

/* Ends the transfer on a fault of the server's, with Problem as the reason given and recorded. */
void EndWithError(TransferSession &Session, TransferEnd End, TftpErrorCode Code, const std::string &Problem) {
  EndTransfer(Session, End, Code, Problem);
  Session.Result.Problem = Problem;
}

/*
 * Accepts the options the server acknowledged: only those asked for, each
 * once, a size in digits, a block size from 8 up to the one asked for.
 * Error 8 ends the transfer otherwise.
 */
void TakeOptions(TransferSession &Session, const std::vector<TftpOption> &Options) {
  TransferResult &Result = Session.Result;
  for (const TftpOption &Option : Options) {
    const std::optional<uint64_t> Value = DecimalValue(Option.second);
    if (SameName(Option.first, "tsize") && Session.Request.AskSize && !Result.SizeAnswer && Value) {
      Result.SizeAnswer = Value;
    } else if (SameName(Option.first, "blksize") && Session.Request.BlockSize && !Result.BlockSizeAnswer && Value &&
               *Value >= SmallestBlockSize && *Value <= *Session.Request.BlockSize) {
      Result.BlockSizeAnswer = static_cast<uint32_t>(*Value);
    } else {
      EndWithError(Session, TransferEnd::BadOptions, TftpErrorCode::OptionRefused,
                   "option acknowledgement holds " + Option.first + "=" + Option.second +
                       ", which was not asked for in this form");
      return;
    }
  }
  Result.OptionsAcknowledged = true;
  Result.BlockSize = Result.BlockSizeAnswer.value_or(DefaultBlockSize);
  Session.Started = true;
  if (Session.Request.SizeOnly) {
    EndTransfer(Session, TransferEnd::SizeAnswered, TftpErrorCode::OptionRefused, "size query only");
    return;
  }
  SendToPeer(Session, AcknowledgementPacket(0));
}

/* A data packet: the next block is kept and acknowledged; the previous one acknowledged again; others ignored. */
bool TakeData(TransferSession &Session, const TftpPacket &Packet) {
  TransferResult &Result = Session.Result;
  if (!Session.Started) {
    // Options were asked for and data came instead: the server ignored them (RFC 2347).
    Result.DataAtOnce = Session.Request.BlockSize.has_value() || Session.Request.AskSize;
    Session.Started = true;
    if (Session.Request.SizeOnly) {
      EndTransfer(Session, TransferEnd::DataInsteadOfSize, TftpErrorCode::OptionRefused, "size query only");
      return true;
    }
  }
  if (Packet.Block != Session.NextBlock) {
    if (Packet.Block == static_cast<uint16_t>(Session.NextBlock - 1) && Result.Blocks > 0) {
      SendToPeer(Session, AcknowledgementPacket(Packet.Block));
    }
    Result.IgnoredPackets++;
    return false;
  }
  if (Packet.DataSize > Result.BlockSize) {
    EndWithError(Session, TransferEnd::BadPacket, TftpErrorCode::IllegalOperation,
                 "data block " + std::to_string(Packet.Block) + " holds " + std::to_string(Packet.DataSize) +
                     " bytes, more than the block size " + std::to_string(Result.BlockSize));
    return true;
  }
  if (Result.Data.size() + Packet.DataSize > Session.Request.MostBytes) {
    EndWithError(Session, TransferEnd::TooLarge, TftpErrorCode::AllocationExceeded,
                 "the file is larger than " + std::to_string(Session.Request.MostBytes) + " bytes");
    return true;
  }
  Result.Data.insert(Result.Data.end(), Packet.Data, Packet.Data + Packet.DataSize);
  Result.Received = Result.Data.size();
  Result.Blocks++;
  SendToPeer(Session, AcknowledgementPacket(Packet.Block));
  Session.NextBlock++;
  if (Packet.DataSize < Result.BlockSize && !Session.Finished) {
    Result.End = TransferEnd::Complete;
    Session.Finished = true;
  }
  return true;
}

/* Handles one packet from the peer; true when it moved the transfer on (the wait starts afresh). */
bool TakePacket(TransferSession &Session, const std::vector<uint8_t> &Bytes) {
  const TftpPacket Packet = ParseTftpPacket(Bytes);
  if (Packet.Malformed) {
    EndWithError(Session, TransferEnd::BadPacket, TftpErrorCode::IllegalOperation, Packet.Problem);
    return true;
  }
  switch (static_cast<TftpOpcode>(Packet.Opcode)) {
  case TftpOpcode::Data:
    return TakeData(Session, Packet);
  case TftpOpcode::Error:
    Session.Result.End = TransferEnd::ServerError;
    Session.Result.ErrorCode = Packet.ErrorCode;
    Session.Result.ErrorMessage = Packet.ErrorMessage;
    Session.Finished = true;
    return true;
  case TftpOpcode::OptionAcknowledgement:
    if (!Session.Started && (Session.Request.AskSize || Session.Request.BlockSize)) {
      TakeOptions(Session, Packet.Options);
      return true;
    }
    if (Session.Result.OptionsAcknowledged && Session.Result.Blocks == 0) {
      // Our acknowledgement of it was lost or late: the server sent it again.
      SendToPeer(Session, AcknowledgementPacket(0));
      Session.Result.IgnoredPackets++;
      return false;
    }
    EndWithError(Session, TransferEnd::BadPacket, TftpErrorCode::IllegalOperation,
                 "option acknowledgement where none can come");
    return true;
  default:
    EndWithError(Session, TransferEnd::BadPacket, TftpErrorCode::IllegalOperation,
                 "opcode " + std::to_string(Packet.Opcode) + " from a server sending a file");
    return true;
  }
}

/*
 * Whether Datagram belongs to the transfer. The server's first answer names
 * its transfer port; anything from another address or port gets error 5
 * and is otherwise ignored (RFC 1350, section 4).
 */
bool FromPeer(TransferSession &Session, const Datagram &Datagram) {
  if (!Session.Peer && Datagram.From.Address == Session.Server.Address) {
    Session.Peer = Datagram.From;
  }
  if (Session.Peer && Datagram.From == *Session.Peer) {
    return true;
  }
  std::string Ignored;
  Session.Link.Send(Datagram.From, ErrorPacket(TftpErrorCode::UnknownTransferId, "Unknown transfer ID"), Ignored);
  Session.Result.IgnoredPackets++;
  return false;
}

} // namespace

std::vector<TftpOption> RequestOptions(const TransferRequest &Request) {
  std::vector<TftpOption> Options;
  if (Request.BlockSize) {
    Options.emplace_back("blksize", std::to_string(*Request.BlockSize));
  }
  if (Request.AskSize) {
    Options.emplace_back("tsize", "0");
  }
  return Options;
}

TransferResult RunTransfer(DatagramLink &Link, const Endpoint &Server, const TransferRequest &Request) {
  TransferSession Session{Link, Request, Server, std::nullopt, {}, 1, false, false, {}};
  const LinkClock::time_point Start = Link.Now();
  const auto ResendEvery = std::max(Request.Timeout / ResendsPerWait, std::chrono::milliseconds(1));

  SendToPeer(Session, ReadRequestPacket(Request.FileName, RequestOptions(Request)));
  LinkClock::time_point GiveUp = Link.Now() + Request.Timeout;
  LinkClock::time_point Resend = Link.Now() + ResendEvery;
  while (!Session.Finished) {
    const std::optional<Datagram> Received = Link.Receive(std::min(GiveUp, Resend));
    if (!Received) {
      const LinkClock::time_point Now = Link.Now();
      if (Now >= GiveUp) {
        Session.Result.End = TransferEnd::Timeout;
        break;
      }
      if (Now >= Resend) {
        SendToPeer(Session, Session.LastSent);
        Session.Result.Resends++;
        Resend = Now + ResendEvery;
      }
      continue;
    }
    if (FromPeer(Session, *Received) && TakePacket(Session, Received->Bytes)) {
      GiveUp = Link.Now() + Request.Timeout;
      Resend = Link.Now() + ResendEvery;
    }
  }
  Session.Result.Seconds = std::chrono::duration<double>(Link.Now() - Start).count();
  return Session.Result;
}

std::string DescribeTransferEnd(const TransferResult &Result) {
  switch (Result.End) {
  case TransferEnd::Complete:
    return std::to_string(Result.Received) + " bytes received";
  case TransferEnd::SizeAnswered:
    return Result.SizeAnswer ? "size answered: " + std::to_string(*Result.SizeAnswer) + " bytes"
                             : "options acknowledged without a size";
  case TransferEnd::DataInsteadOfSize:
    return "no size: the server ignored the options and sent data at once";
  case TransferEnd::ServerError:
    return "error " + std::to_string(Result.ErrorCode) + " \"" + Result.ErrorMessage + "\"";
  case TransferEnd::Timeout:
    return Result.Blocks == 0 ? std::string("no answer")
                              : "silent after block " + std::to_string(Result.Blocks) + " (" +
                                    std::to_string(Result.Received) + " bytes)";
  case TransferEnd::BadPacket:
    return "bad packet: " + Result.Problem;
  case TransferEnd::BadOptions:
    return "options refused: " + Result.Problem;
  case TransferEnd::TooLarge:
    return "stopped: " + Result.Problem;
  case TransferEnd::SendFailed:
    return "cannot send: " + Result.Problem;
  }
  return "";
}

} // namespace RivariCheck
