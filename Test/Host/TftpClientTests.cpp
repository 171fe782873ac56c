/*
 * rivari-check's TFTP client against scripted servers: options, blocks,
 * bad packets, strays and silence, with a clock that moves only while the
 * client waits.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>

#include "TftpClient.h"

namespace {

using namespace RivariCheck;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t Loopback = 0x7F000001;
const Endpoint Server = {Loopback, 69};
const Endpoint Transfer = {Loopback, 40000};
const Endpoint Stranger = {Loopback, 40001};
/* What each packet the scripted server sends costs on the clock: a flood still lets time pass. */
constexpr auto PacketTime = std::chrono::milliseconds(10);

Bytes Word(uint16_t Value) { return {static_cast<uint8_t>(Value >> 8), static_cast<uint8_t>(Value)}; }

Bytes Join(std::initializer_list<Bytes> Parts) {
  Bytes Out;
  for (const Bytes &Part : Parts) {
    Out.insert(Out.end(), Part.begin(), Part.end());
  }
  return Out;
}

Bytes Text(const std::string &Value) { return Bytes(Value.begin(), Value.end() + 1); }
Bytes Data(uint16_t Block, const Bytes &Payload) { return Join({Word(3), Word(Block), Payload}); }
Bytes Error(uint16_t Code, const std::string &Message) { return Join({Word(5), Word(Code), Text(Message)}); }

Bytes Oack(const std::vector<TftpOption> &Options) {
  Bytes Out = Word(6);
  for (const TftpOption &Option : Options) {
    Out = Join({Out, Text(Option.first), Text(Option.second)});
  }
  return Out;
}

/* The answers to one packet the client sent; the packet read with the client's own parser. */
using ServerScript = std::function<std::vector<Datagram>(const Endpoint &To, const TftpPacket &Sent)>;

class ScriptedLink final : public DatagramLink {
public:
  explicit ScriptedLink(ServerScript Script) : Answer(std::move(Script)) {}

  bool Send(const Endpoint &To, const Bytes &Packet, std::string &) override {
    Sent.push_back({To, Packet});
    for (Datagram &Reply : Answer(To, ParseTftpPacket(Packet))) {
      Pending.push_back(std::move(Reply));
    }
    return true;
  }

  std::optional<Datagram> Receive(LinkClock::time_point Deadline) override {
    if (Pending.empty() || Clock + PacketTime > Deadline) {
      Clock = std::max(Clock, Deadline);
      return std::nullopt;
    }
    Clock += PacketTime;
    Datagram Next = std::move(Pending.front());
    Pending.pop_front();
    return Next;
  }

  LinkClock::time_point Now() override { return Clock; }

  std::vector<Datagram> Sent; // From holds where the client sent it
  LinkClock::time_point Clock{};

private:
  ServerScript Answer;
  std::deque<Datagram> Pending;
};

/*
 * A server sending Content in BlockSize blocks from the transfer port,
 * acknowledging Options first when there are any, and sending each block
 * once, when the one before it is acknowledged. Block k goes out as
 * Block(k, payload), so that a row can spoil one.
 */
using BlockSender = std::function<std::vector<Datagram>(uint64_t Number, Bytes Payload)>;

std::vector<Datagram> PlainBlock(uint64_t Number, Bytes Payload) {
  return {{Transfer, Data(uint16_t(Number), Payload)}};
}

ServerScript FileServer(Bytes Content, uint32_t BlockSize, std::vector<TftpOption> Options,
                        BlockSender Block = PlainBlock) {
  auto Last = std::make_shared<uint64_t>(0); // the last block sent
  return [=](const Endpoint &, const TftpPacket &Sent) -> std::vector<Datagram> {
    auto SendNext = [&]() {
      const uint64_t Number = ++*Last;
      const size_t Start = std::min<size_t>(Content.size(), (Number - 1) * BlockSize);
      const size_t End = std::min<size_t>(Content.size(), Start + BlockSize);
      return Block(Number, Bytes(Content.begin() + long(Start), Content.begin() + long(End)));
    };
    if (Sent.Opcode == 1) {
      return Options.empty() ? SendNext() : std::vector<Datagram>{{Transfer, Oack(Options)}};
    }
    if (Sent.Opcode == 4 && Sent.Block == uint16_t(*Last) && *Last * BlockSize <= Content.size()) {
      return SendNext();
    }
    return {};
  };
}

Bytes Pattern(size_t Size) {
  Bytes Out(Size);
  for (size_t Index = 0; Index < Size; Index++) {
    Out[Index] = static_cast<uint8_t>(Index * 7 + Index / 251);
  }
  return Out;
}

TransferRequest ReadOf(uint64_t MostBytes = 1 << 20) {
  TransferRequest Request;
  Request.FileName = "rivari.ini";
  Request.BlockSize = 1024;
  Request.AskSize = true;
  Request.MostBytes = MostBytes;
  Request.Timeout = std::chrono::milliseconds(5000);
  return Request;
}

TransferRequest SizeQuery() {
  TransferRequest Request = ReadOf();
  Request.BlockSize.reset();
  Request.SizeOnly = true;
  return Request;
}

/* The last packet the client sent to Where. */
TftpPacket LastSentTo(const ScriptedLink &Link, const Endpoint &Where) {
  for (auto Item = Link.Sent.rbegin(); Item != Link.Sent.rend(); ++Item) {
    if (Item->From == Where) {
      return ParseTftpPacket(Item->Bytes);
    }
  }
  return {};
}

const Bytes File3000 = Pattern(3000);
const std::vector<TftpOption> Agreed = {{"blksize", "1024"}, {"tsize", "3000"}};

struct ClientCase {
  const char *Name;
  TransferRequest Request;
  ServerScript Script;
  TransferEnd End;
  uint64_t Received;        // bytes taken, which equal the file's first bytes
  uint16_t ErrorSentToPeer; // the code of the error packet the client ended with, 0 for none
};

std::vector<ClientCase> ClientCases() {
  const auto Spoil = [](uint64_t Which, std::function<std::vector<Datagram>(Bytes)> Instead) -> BlockSender {
    return [=](uint64_t Number, Bytes Payload) {
      return Number == Which ? Instead(Payload) : PlainBlock(Number, Payload);
    };
  };
  return {
      {"options agreed: the whole file in agreed blocks", ReadOf(), FileServer(File3000, 1024, Agreed),
       TransferEnd::Complete, 3000, 0},
      {"options ignored: 512-byte blocks at once", ReadOf(), FileServer(File3000, 512, {}), TransferEnd::Complete, 3000,
       0},
      {"a file of whole blocks ends with an empty block", ReadOf(),
       FileServer(Pattern(2048), 1024, {{"blksize", "1024"}}), TransferEnd::Complete, 2048, 0},
      {"size query ends with error 8 once answered", SizeQuery(), FileServer(File3000, 512, {{"tsize", "3000"}}),
       TransferEnd::SizeAnswered, 0, 8},
      {"size query answered with data ends with error 8", SizeQuery(), FileServer(File3000, 512, {}),
       TransferEnd::DataInsteadOfSize, 0, 8},
      {"block size above the one asked for is refused", ReadOf(), FileServer(File3000, 2048, {{"blksize", "2048"}}),
       TransferEnd::BadOptions, 0, 8},
      {"block size below 8 is refused", ReadOf(), FileServer(File3000, 4, {{"blksize", "4"}}), TransferEnd::BadOptions,
       0, 8},
      {"an option not asked for is refused", SizeQuery(),
       FileServer(File3000, 512, {{"tsize", "3000"}, {"timeout", "3"}}), TransferEnd::BadOptions, 0, 8},
      {"a size that is not a number is refused", SizeQuery(), FileServer(File3000, 512, {{"tsize", "12k"}}),
       TransferEnd::BadOptions, 0, 8},
      {"option names are read in any case", ReadOf(),
       FileServer(File3000, 1024, {{"BlkSize", "1024"}, {"TSize", "3000"}}), TransferEnd::Complete, 3000, 0},
      {"a block larger than agreed ends with error 4", ReadOf(),
       FileServer(File3000, 1024, Agreed,
                  Spoil(2,
                        [](Bytes Payload) {
                          Payload.push_back(0);
                          return std::vector<Datagram>{{Transfer, Data(2, Payload)}};
                        })),
       TransferEnd::BadPacket, 1024, 4},
      {"a packet too short for a block number ends with error 4", ReadOf(),
       FileServer(File3000, 1024, Agreed,
                  Spoil(2,
                        [](Bytes) {
                          return std::vector<Datagram>{{Transfer, Bytes{0, 3, 0}}};
                        })),
       TransferEnd::BadPacket, 1024, 4},
      {"an unknown opcode ends with error 4", ReadOf(),
       FileServer(File3000, 1024, Agreed,
                  Spoil(2,
                        [](Bytes) {
                          return std::vector<Datagram>{{Transfer, Bytes{0, 9, 0, 2}}};
                        })),
       TransferEnd::BadPacket, 1024, 4},
      {"an option acknowledgement without its final NUL ends with error 4", SizeQuery(),
       [](const Endpoint &, const TftpPacket &) {
         return std::vector<Datagram>{{Transfer, Join({Word(6), Bytes{'t', 's', 'i', 'z', 'e', 0, '9'}})}};
       },
       TransferEnd::BadPacket, 0, 4},
      {"a block from another port is refused there and the transfer goes on", ReadOf(),
       FileServer(
           File3000, 1024, Agreed,
           Spoil(2,
                 [](Bytes Payload) {
                   return std::vector<Datagram>{{Stranger, Data(2, Bytes(1024, 0xEE))}, {Transfer, Data(2, Payload)}};
                 })),
       TransferEnd::Complete, 3000, 0},
      {"a repeated block is acknowledged again and kept once", ReadOf(),
       FileServer(
           File3000, 1024, Agreed,
           Spoil(2,
                 [](Bytes Payload) {
                   return std::vector<Datagram>{{Transfer, Data(1, Bytes(1024, 0xEE))}, {Transfer, Data(2, Payload)}};
                 })),
       TransferEnd::Complete, 3000, 0},
      {"a block ahead of the next is ignored", ReadOf(),
       FileServer(
           File3000, 1024, Agreed,
           Spoil(2,
                 [](Bytes Payload) {
                   return std::vector<Datagram>{{Transfer, Data(3, Bytes(10, 0xEE))}, {Transfer, Data(2, Payload)}};
                 })),
       TransferEnd::Complete, 3000, 0},
      {"an error packet ends the transfer", ReadOf(),
       [](const Endpoint &, const TftpPacket &) {
         return std::vector<Datagram>{{Transfer, Error(1, "File not found")}};
       },
       TransferEnd::ServerError, 0, 0},
      {"silence after two blocks times out", ReadOf(),
       FileServer(File3000, 1024, Agreed,
                  [](uint64_t Number, Bytes Payload) {
                    return Number > 2 ? std::vector<Datagram>{} : PlainBlock(Number, Payload);
                  }),
       TransferEnd::Timeout, 2048, 0},
      {"a server repeating block 1 for ever cannot keep the transfer alive", ReadOf(),
       [](const Endpoint &, const TftpPacket &Sent) {
         return Sent.Opcode == 1 ? std::vector<Datagram>{{Transfer, Oack(Agreed)}}
                                 : PlainBlock(1, Bytes(File3000.begin(), File3000.begin() + 1024));
       },
       TransferEnd::Timeout, 1024, 0},
      {"more than the most bytes ends with error 3", ReadOf(2500), FileServer(File3000, 1024, Agreed),
       TransferEnd::TooLarge, 2048, 3},
  };
}

TEST(TftpClientTest, EachServerBehaviourEndsTheTransferAsTheProtocolSays) {
  for (const ClientCase &Case : ClientCases()) {
    SCOPED_TRACE(Case.Name);
    ScriptedLink Link(Case.Script);
    const TransferResult Result = RunTransfer(Link, Server, Case.Request);
    EXPECT_EQ(Result.End, Case.End);
    ASSERT_EQ(Result.Received, Case.Received);
    EXPECT_EQ(Result.Data, Bytes(File3000.begin(), File3000.begin() + long(Case.Received)));
    const TftpPacket Last = LastSentTo(Link, Transfer);
    if (Case.ErrorSentToPeer == 0) {
      EXPECT_NE(Last.Opcode, 5);
    } else {
      EXPECT_EQ(Last.Opcode, 5);
      EXPECT_EQ(Last.ErrorCode, Case.ErrorSentToPeer);
    }
    // Nothing waits longer than one timeout without the transfer moving on.
    EXPECT_LE(Result.Seconds, 5.0 + 0.01 * double(Result.Blocks + 10));
  }
}

TEST(TftpClientTest, StrayPacketsGetErrorFiveAtTheirSource) {
  const std::vector<ClientCase> Cases = ClientCases();
  const ClientCase &Case = *std::find_if(Cases.begin(), Cases.end(), [](const ClientCase &Item) {
    return std::string(Item.Name).find("another port") != std::string::npos;
  });
  ScriptedLink Link(Case.Script);
  const TransferResult Result = RunTransfer(Link, Server, Case.Request);
  const TftpPacket ToStranger = LastSentTo(Link, Stranger);
  EXPECT_EQ(ToStranger.Opcode, 5);
  EXPECT_EQ(ToStranger.ErrorCode, 5);
  EXPECT_EQ(Result.IgnoredPackets, 1u);
}

TEST(TftpClientTest, SilenceResendsTheLastPacketFiveTimesPerTimeoutThenGivesUp) {
  const struct {
    const char *Name;
    TransferRequest Request;
    ServerScript Script;
    uint16_t ResentOpcode;
  } Cases[] = {
      {"no answer to the request", SizeQuery(),
       [](const Endpoint &, const TftpPacket &) { return std::vector<Datagram>{}; }, 1},
      {"no block after the option acknowledgement", ReadOf(),
       [](const Endpoint &, const TftpPacket &Sent) {
         return Sent.Opcode == 1 ? std::vector<Datagram>{{Transfer, Oack(Agreed)}} : std::vector<Datagram>{};
       },
       4},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ScriptedLink Link(Case.Script);
    const TransferResult Result = RunTransfer(Link, Server, Case.Request);
    EXPECT_EQ(Result.End, TransferEnd::Timeout);
    EXPECT_EQ(Result.Resends, 4u);
    EXPECT_EQ(ParseTftpPacket(Link.Sent.back().Bytes).Opcode, Case.ResentOpcode);
    EXPECT_NEAR(Result.Seconds, 5.0, 0.05);
  }
}

TEST(TftpClientTest, BlockNumbersWrapAfter65535) {
  const Bytes Content = Pattern(8 * 70000 + 3);
  ScriptedLink Link(FileServer(Content, 8, {{"blksize", "8"}}));
  TransferRequest Request = ReadOf(Content.size());
  Request.BlockSize = 8;
  Request.AskSize = false;
  const TransferResult Result = RunTransfer(Link, Server, Request);
  EXPECT_EQ(Result.End, TransferEnd::Complete);
  EXPECT_EQ(Result.Data, Content);
}

} // namespace
