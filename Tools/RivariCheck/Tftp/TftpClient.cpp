/* One TFTP read, step by step: request, options, blocks and windows, acknowledgements, and how it ended. */
#include "TftpClient.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace RivariCheck {

namespace {

constexpr uint32_t SmallestBlockSize = 8;
constexpr uint32_t DefaultBlockSize = 512;
/* A data block this far behind the last one taken counts as a repeat; further is taken as ahead. */
constexpr uint16_t RepeatDistance = 0x8000;

/* The session of one transfer, handed to every step. */
struct TransferSession {
  DatagramLink &Link;
  const TransferRequest &Request;
  Endpoint Server;               // where the request goes
  std::optional<Endpoint> Peer;  // the server's transfer port, from its first answer
  std::vector<uint8_t> LastSent; // what a wait sends again before any answer
  uint16_t LastBlock = 0;        // the number of the last block taken in order (0 before the first)
  bool WrapsToOne = false;       // the server numbers the block after 65535 as 1, not 0
  uint32_t InWindow = 0;         // blocks taken since the last acknowledgement
  bool GapAcknowledged = false;  // a block ahead was answered with the last one taken; no more until the gap fills
  bool Started = false;          // data or an option acknowledgement has come
  bool Finished = false;
  TransferResult Result;
};

bool SameName(const std::string &Left, const std::string &Right) {
  return Left.size() == Right.size() && std::equal(Left.begin(), Left.end(), Right.begin(), [](char A, char B) {
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

/* The value the request gave option Name, when it asked for it with a number. */
std::optional<uint64_t> AskedValue(const TransferRequest &Request, const std::string &Name) {
  for (const TftpOption &Option : Request.Options) {
    if (SameName(Option.first, Name)) {
      return DecimalValue(Option.second);
    }
  }
  return std::nullopt;
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

/* Acknowledges the last block taken in order; the window counts afresh from there. */
void AcknowledgeLast(TransferSession &Session) {
  SendToPeer(Session, AcknowledgementPacket(Session.LastBlock));
  Session.InWindow = 0;
}

/*
 * Ends the transfer with End and, once the server has a transfer port,
 * tells it with an error packet so that it stops sending; nothing waits
 * for an answer to it.
 */
void EndTransfer(TransferSession &Session, TransferEnd End, TftpErrorCode Code, const std::string &Message) {
  if (Session.Peer) {
    std::string Ignored;
    Session.Link.Send(*Session.Peer, ErrorPacket(Code, Message), Ignored);
  }
  Session.Result.End = End;
  Session.Finished = true;
}

/* Ends the transfer on a fault of the server's, with Problem as the reason given and recorded. */
void EndWithError(TransferSession &Session, TransferEnd End, TftpErrorCode Code, const std::string &Problem) {
  EndTransfer(Session, End, Code, Problem);
  Session.Result.Problem = Problem;
}

/* Each acknowledged option's check: false when the value cannot be accepted. */
bool TakeSize(TransferSession &Session, uint64_t Value) {
  Session.Result.SizeAnswer = Value;
  return true;
}

bool TakeBlockSize(TransferSession &Session, uint64_t Value) {
  const std::optional<uint64_t> Asked = AskedValue(Session.Request, "blksize");
  if (!Asked || Value < SmallestBlockSize || Value > *Asked) {
    return false;
  }
  Session.Result.BlockSizeAnswer = static_cast<uint32_t>(Value);
  return true;
}

bool TakeWindowSize(TransferSession &Session, uint64_t Value) {
  const std::optional<uint64_t> Asked = AskedValue(Session.Request, "windowsize");
  if (!Asked || Value < 1 || Value > *Asked) {
    return false;
  }
  Session.Result.WindowAnswer = static_cast<uint32_t>(Value);
  return true;
}

struct OptionRule {
  const char *Name;
  bool (*Take)(TransferSession &Session, uint64_t Value);
};

constexpr OptionRule OptionRules[] = {
    {"tsize", TakeSize},
    {"blksize", TakeBlockSize},
    {"windowsize", TakeWindowSize},
};

/* Whether Option, acknowledged, may be taken: once, a value in range; one not asked for is passed over. */
bool TakeOption(TransferSession &Session, const TftpOption &Option, std::vector<std::string> &Seen) {
  const bool Asked = std::any_of(Session.Request.Options.begin(), Session.Request.Options.end(),
                                 [&](const TftpOption &Sent) { return SameName(Sent.first, Option.first); });
  const bool Repeated =
      std::any_of(Seen.begin(), Seen.end(), [&](const std::string &Name) { return SameName(Name, Option.first); });
  const std::optional<uint64_t> Value = DecimalValue(Option.second);
  Seen.push_back(Option.first);
  if (!Asked && !Repeated) {
    // The firmware passes over an option it did not ask for; so does the check, and records it.
    Session.Result.UnaskedOptions.push_back(Option);
    return true;
  }
  if (Repeated || !Value) {
    return false;
  }
  for (const OptionRule &Rule : OptionRules) {
    if (SameName(Option.first, Rule.Name)) {
      return Rule.Take(Session, *Value);
    }
  }
  return false;
}

/*
 * Accepts the options the server acknowledged, or ends the transfer with
 * error 8 at the first it cannot accept; every option is looked at first,
 * so that a size answered after a bad option is still recorded.
 */
void TakeOptions(TransferSession &Session, const std::vector<TftpOption> &Options) {
  TransferResult &Result = Session.Result;
  std::vector<std::string> Seen;
  const TftpOption *Refused = nullptr;
  for (const TftpOption &Option : Options) {
    if (!TakeOption(Session, Option, Seen) && Refused == nullptr) {
      Refused = &Option;
    }
  }
  if (Refused != nullptr) {
    EndWithError(Session, TransferEnd::BadOptions, TftpErrorCode::OptionRefused,
                 "option acknowledgement holds " + Refused->first + "=" + Refused->second +
                     ", which was not asked for in this form");
    return;
  }
  Result.OptionsAcknowledged = true;
  Result.BlockSize = Result.BlockSizeAnswer.value_or(DefaultBlockSize);
  Result.WindowSize = Result.WindowAnswer.value_or(1);
  Session.Started = true;
  if (Session.Request.SizeOnly) {
    EndTransfer(Session, TransferEnd::SizeAnswered, TftpErrorCode::OptionRefused, "size query only");
    return;
  }
  AcknowledgeLast(Session);
}

/* The number the next block in order carries. */
uint16_t ExpectedBlock(const TransferSession &Session) {
  const uint16_t Next = static_cast<uint16_t>(Session.LastBlock + 1);
  return Next == 0 && Session.WrapsToOne ? 1 : Next;
}

/*
 * A block out of order. A repeat of the last block taken means the server
 * missed our acknowledgement: it is acknowledged again, once per repeat of
 * that block, never for the other repeats of its window (each of those
 * would make a server send the window again). A block ahead means one was
 * lost inside a window: the last block taken is acknowledged once, so the
 * server sends again from there (RFC 7440).
 */
void TakeOutOfOrder(TransferSession &Session, const TftpPacket &Packet) {
  Session.Result.IgnoredPackets++;
  const uint16_t Behind = static_cast<uint16_t>(Session.LastBlock - Packet.Block);
  if (Behind < RepeatDistance) {
    if (Behind == 0 && Session.Result.Blocks > 0) {
      AcknowledgeLast(Session);
    }
    return;
  }
  if (!Session.GapAcknowledged) {
    AcknowledgeLast(Session);
    Session.GapAcknowledged = true;
  }
}

/* A data packet: the next block is kept, and acknowledged at the end of a window or of the file. */
bool TakeData(TransferSession &Session, const TftpPacket &Packet) {
  TransferResult &Result = Session.Result;
  if (!Session.Started) {
    // Options were asked for and data came instead: the server ignored them (RFC 2347).
    Result.DataAtOnce = !Session.Request.Options.empty();
    Session.Started = true;
    if (Session.Request.SizeOnly) {
      EndTransfer(Session, TransferEnd::DataInsteadOfSize, TftpErrorCode::OptionRefused, "size query only");
      return true;
    }
  }
  // The block after 65535 is 0 by the common convention; a server that counts on from 1 is followed.
  if (Packet.Block == 1 && Session.LastBlock == 0xFFFF && !Session.WrapsToOne) {
    Session.WrapsToOne = true;
  }
  if (Packet.Block != ExpectedBlock(Session)) {
    TakeOutOfOrder(Session, Packet);
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
  Session.LastBlock = Packet.Block;
  Session.GapAcknowledged = false;
  Session.InWindow++;
  const bool Last = Packet.DataSize < Result.BlockSize;
  if (Last || Session.InWindow >= Result.WindowSize) {
    AcknowledgeLast(Session);
  }
  if (Last && !Session.Finished) {
    Result.End = TransferEnd::Complete;
    Session.Finished = true;
  }
  return true;
}

/* An option acknowledgement: the answer to the request, a repeat of it, or a fault. */
bool TakeOptionAcknowledgement(TransferSession &Session, const TftpPacket &Packet) {
  if (!Session.Started && !Session.Request.Options.empty()) {
    TakeOptions(Session, Packet.Options);
    return true;
  }
  if (Session.Result.OptionsAcknowledged && Session.Result.Blocks == 0) {
    // Our acknowledgement of it was lost or late: the server sent it again.
    AcknowledgeLast(Session);
    Session.Result.IgnoredPackets++;
    return false;
  }
  EndWithError(Session, TransferEnd::UnexpectedPacket, TftpErrorCode::IllegalOperation,
               "option acknowledgement where none can come");
  return true;
}

/* Handles one packet from the peer; true when it moved the transfer on (the wait starts afresh). */
bool TakePacket(TransferSession &Session, const std::vector<uint8_t> &Bytes) {
  const TftpPacket Packet = ParseTftpPacket(Bytes);
  if (Packet.Malformed) {
    EndWithError(Session, Packet.UnknownOpcode ? TransferEnd::UnknownOpcode : TransferEnd::BadPacket,
                 TftpErrorCode::IllegalOperation,
                 Packet.UnknownOpcode ? "opcode " + std::to_string(Packet.Opcode) + " is not a TFTP opcode"
                                      : Packet.Problem);
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
    return TakeOptionAcknowledgement(Session, Packet);
  default:
    EndWithError(Session, TransferEnd::UnexpectedPacket, TftpErrorCode::IllegalOperation,
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

/* An ICMP port unreachable: for the server's port (or its transfer port, once known), nothing listens there. */
bool TakeUnreachable(TransferSession &Session, const Datagram &Answer) {
  if (Answer.From != Session.Peer.value_or(Session.Server)) {
    Session.Result.IgnoredPackets++;
    return false;
  }
  Session.Result.End = TransferEnd::PortUnreachable;
  Session.Finished = true;
  return true;
}

/* What a wait sends again: the request before any answer, else the acknowledgement of the last block taken. */
void SendAgain(TransferSession &Session) {
  if (Session.Started) {
    AcknowledgeLast(Session);
  } else {
    SendToPeer(Session, Session.LastSent);
  }
  Session.Result.Resends++;
}

/* Gives up after a silence: SilenceCut when the caller's limit ended the wait before the schedule. */
void GiveUp(TransferSession &Session, bool SilenceCut) {
  Session.Result.SilenceCut = SilenceCut;
  EndTransfer(Session, TransferEnd::Timeout, TftpErrorCode::NotDefined, "no answer: giving up");
}

} // namespace

TransferResult RunTransfer(DatagramLink &Link, const Endpoint &Server, const TransferRequest &Request) {
  TransferSession Session{Link, Request, Server, std::nullopt, {}, 0, false, 0, false, false, false, {}};
  const LinkClock::time_point Start = Link.Now();
  const auto Interval = std::max(Request.ResendInterval, std::chrono::milliseconds(1));

  SendToPeer(Session, ReadRequestPacket(Request.FileName, Request.Options));
  LinkClock::time_point WaitStart = Link.Now();
  LinkClock::time_point Resend = WaitStart + Interval;
  uint32_t Sends = 1; // of the packet the wait is for
  while (!Session.Finished) {
    const std::optional<LinkClock::time_point> CutAt =
        Request.MostSilence ? std::optional(WaitStart + *Request.MostSilence) : std::nullopt;
    const std::optional<Datagram> Received = Link.Receive(CutAt ? std::min(Resend, *CutAt) : Resend);
    const LinkClock::time_point Now = Link.Now();
    if (!Received) {
      const bool ScheduleEnds = Now >= Resend && Sends >= Request.Sends;
      if (CutAt && Now >= *CutAt) {
        GiveUp(Session, !ScheduleEnds);
      } else if (ScheduleEnds) {
        GiveUp(Session, false);
      } else if (Now >= Resend) {
        SendAgain(Session);
        Sends++;
        Resend = Now + Interval;
      }
      continue;
    }
    const bool MovedOn = Received->PortUnreachable
                             ? TakeUnreachable(Session, *Received)
                             : FromPeer(Session, *Received) && TakePacket(Session, Received->Bytes);
    if (MovedOn) {
      Session.Result.LongestWait =
          std::max(Session.Result.LongestWait, std::chrono::duration<double>(Now - WaitStart).count());
      WaitStart = Now;
      Resend = Now + Interval;
      Sends = 1;
    }
  }
  Session.Result.Seconds = std::chrono::duration<double>(Link.Now() - Start).count();
  return Session.Result;
}

} // namespace RivariCheck
