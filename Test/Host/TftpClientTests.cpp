/*
 * rivari-check's TFTP client against scripted servers: options, blocks,
 * windows, bad packets, strays and silence, with a clock that moves only
 * while the client waits.
 */
#include <gtest/gtest.h>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "FirmwareModel.h"
#include "ScriptedTftpServer.h"
#include "TftpClient.h"
#include "UdpLink.h"

namespace {

using namespace RivariCheck;
using namespace ScriptedTftp;

/* A read on the firmware's schedule (the table of firmware facts). */
TransferRequest ReadOf(uint64_t MostBytes = 1 << 20) {
  TransferRequest Request;
  Request.ResendInterval = FirmwareResendInterval;
  Request.Sends = FirmwareSends;
  Request.FileName = "rivari.ini";
  Request.Options = {{"blksize", "1024"}, {"tsize", "0"}, {"windowsize", "4"}};
  Request.MostBytes = MostBytes;
  return Request;
}

TransferRequest SizeQuery() {
  TransferRequest Request = ReadOf();
  Request.Options = {{"tsize", "0"}, {"windowsize", "4"}};
  Request.SizeOnly = true;
  return Request;
}

/* The firmware's patience: every send of a packet waited out. */
constexpr double Patience = double(FirmwarePatience.count()) / 1000;
constexpr uint32_t Resends = FirmwareSends - 1;
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
  uint64_t Received;    // bytes taken, which equal the file's first bytes
  int ErrorSentToPeer;  // the code of the error packet the client ended with, None for none
  uint32_t Resends = 0; // waits that ended in sending again
  size_t MostAcknowledgements = SIZE_MAX;
};

constexpr int None = -1;

std::vector<ClientCase> ClientCases() {
  const auto Spoil = [](uint64_t Which, std::function<std::vector<Datagram>(Bytes)> Instead) -> BlockSender {
    return [=](uint64_t Number, Bytes Payload) {
      return Number == Which ? Instead(Payload) : PlainBlock(Number, Payload);
    };
  };
  return {
      {"options agreed: the whole file in agreed blocks", ReadOf(), FileServer(File3000, 1024, Agreed),
       TransferEnd::Complete, 3000, None},
      {"options ignored: 512-byte blocks at once", ReadOf(), FileServer(File3000, 512, {}), TransferEnd::Complete, 3000,
       None},
      {"a file of whole blocks ends with an empty block", ReadOf(),
       FileServer(Pattern(2048), 1024, {{"blksize", "1024"}}), TransferEnd::Complete, 2048, None},
      {"size query ends with error 8 once answered", SizeQuery(), FileServer(File3000, 512, {{"tsize", "3000"}}),
       TransferEnd::SizeAnswered, 0, 8},
      {"size query answered with data ends with error 8", SizeQuery(), FileServer(File3000, 512, {}),
       TransferEnd::DataInsteadOfSize, 0, 8},
      {"block size above the one asked for is refused", ReadOf(), FileServer(File3000, 2048, {{"blksize", "2048"}}),
       TransferEnd::BadOptions, 0, 8},
      {"block size below 8 is refused", ReadOf(), FileServer(File3000, 4, {{"blksize", "4"}}), TransferEnd::BadOptions,
       0, 8},
      {"an option not asked for is passed over, as the firmware does", SizeQuery(),
       FileServer(File3000, 512, {{"timeout", "3"}, {"tsize", "3000"}}), TransferEnd::SizeAnswered, 0, 8},
      {"a size that is not a number is refused", SizeQuery(), FileServer(File3000, 512, {{"tsize", "12k"}}),
       TransferEnd::BadOptions, 0, 8},
      {"option names are read in any case", ReadOf(),
       FileServer(File3000, 1024, {{"BlkSize", "1024"}, {"TSize", "3000"}}), TransferEnd::Complete, 3000, None},
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
       TransferEnd::UnknownOpcode, 1024, 4},
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
       TransferEnd::Complete, 3000, None},
      {"a repeated block is acknowledged again and kept once", ReadOf(),
       FileServer(
           File3000, 1024, Agreed,
           Spoil(2,
                 [](Bytes Payload) {
                   return std::vector<Datagram>{{Transfer, Data(1, Bytes(1024, 0xEE))}, {Transfer, Data(2, Payload)}};
                 })),
       TransferEnd::Complete, 3000, None},
      {"a block ahead of the next is ignored", ReadOf(),
       FileServer(
           File3000, 1024, Agreed,
           Spoil(2,
                 [](Bytes Payload) {
                   return std::vector<Datagram>{{Transfer, Data(3, Bytes(10, 0xEE))}, {Transfer, Data(2, Payload)}};
                 })),
       TransferEnd::Complete, 3000, None},
      {"an error packet ends the transfer", ReadOf(),
       [](const Endpoint &, const TftpPacket &) {
         return std::vector<Datagram>{{Transfer, Error(1, "File not found")}};
       },
       TransferEnd::ServerError, 0, None},
      {"silence after two blocks times out", ReadOf(),
       FileServer(File3000, 1024, Agreed,
                  [](uint64_t Number, Bytes Payload) {
                    return Number > 2 ? std::vector<Datagram>{} : PlainBlock(Number, Payload);
                  }),
       TransferEnd::Timeout, 2048, 0, Resends},
      {"a server repeating block 1 for ever cannot keep the transfer alive", ReadOf(),
       [](const Endpoint &, const TftpPacket &Sent) {
         return Sent.Opcode == 1 ? std::vector<Datagram>{{Transfer, Oack(Agreed)}}
                                 : PlainBlock(1, Bytes(File3000.begin(), File3000.begin() + 1024));
       },
       TransferEnd::Timeout, 1024, 0, Resends},
      {"more than the most bytes ends with error 3", ReadOf(2500), FileServer(File3000, 1024, Agreed),
       TransferEnd::TooLarge, 2048, 3},
      {"a window larger than the one asked for is refused", ReadOf(),
       FileServer(File3000, 1024, {{"blksize", "1024"}, {"windowsize", "8"}}), TransferEnd::BadOptions, 0, 8},
      {"an option acknowledged twice is refused", ReadOf(),
       FileServer(File3000, 1024, {{"blksize", "1024"}, {"BLKSIZE", "1024"}}), TransferEnd::BadOptions, 0, 8},
      {"a window of four is acknowledged once per window", ReadOf(), WindowServer(File3000, 256, 4),
       TransferEnd::Complete, 3000, None, 0, 4},
      {"a block lost inside a window is asked for again at once", ReadOf(), WindowServer(File3000, 256, 4, {6}),
       TransferEnd::Complete, 3000, None, 0, 5},
      {"a window sent again after a lost acknowledgement gets one acknowledgement", ReadOf(),
       WindowServer(File3000, 256, 4, {}, 4), TransferEnd::Complete, 3000, None, 0, 5},
      {"a block sent again after a lost acknowledgement is acknowledged again at once", ReadOf(),
       WindowServer(File3000, 1024, 1, {}, 2), TransferEnd::Complete, 3000, None, 0, 5},
      {"an option acknowledgement sent again is acknowledged again at once", ReadOf(),
       WindowServer(File3000, 1024, 1, {}, 0), TransferEnd::Complete, 3000, None, 0, 5},
      {"ICMP port unreachable from the server's port ends the transfer at once", SizeQuery(), PortClosed(),
       TransferEnd::PortUnreachable, 0, None},
      {"ICMP port unreachable for another port is passed over", SizeQuery(),
       [](const Endpoint &, const TftpPacket &) {
         Datagram Refused;
         Refused.From = Stranger;
         Refused.PortUnreachable = true;
         return std::vector<Datagram>{Refused, {Transfer, Oack({{"tsize", "3000"}})}};
       },
       TransferEnd::SizeAnswered, 0, 8},
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
    if (Case.ErrorSentToPeer == None) {
      EXPECT_NE(Last.Opcode, 5);
    } else {
      EXPECT_EQ(Last.Opcode, 5);
      EXPECT_EQ(Last.ErrorCode, Case.ErrorSentToPeer);
    }
    EXPECT_EQ(Result.Resends, Case.Resends);
    EXPECT_LE(Link.SentCount(4), Case.MostAcknowledgements);
    // Nothing waits longer than the firmware's patience without the transfer moving on.
    EXPECT_LE(Result.Seconds, Patience + 0.01 * double(Result.Blocks + Link.Sent.size() + 10));
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

TEST(TftpClientTest, SilenceResendsTheLastPacketAsTheFirmwareDoesThenGivesUp) {
  TransferRequest Cut = SizeQuery();
  Cut.MostSilence = std::chrono::milliseconds(1500);
  const struct {
    const char *Name;
    TransferRequest Request;
    ServerScript Script;
    uint16_t ResentOpcode;
    size_t Sends;
    double Seconds;
    bool SilenceCut;
  } Cases[] = {
      {"no answer to the request", SizeQuery(),
       [](const Endpoint &, const TftpPacket &) { return std::vector<Datagram>{}; }, 1, FirmwareSends, Patience, false},
      {"no block after the option acknowledgement", ReadOf(),
       [](const Endpoint &, const TftpPacket &Sent) {
         return Sent.Opcode == 1 ? std::vector<Datagram>{{Transfer, Oack(Agreed)}} : std::vector<Datagram>{};
       },
       4, FirmwareSends, Patience, false},
      {"a shorter limit ends the wait early", Cut,
       [](const Endpoint &, const TftpPacket &) { return std::vector<Datagram>{}; }, 1, 1, 1.5, true},
  };
  for (const auto &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ScriptedLink Link(Case.Script);
    const TransferResult Result = RunTransfer(Link, Server, Case.Request);
    EXPECT_EQ(Result.End, TransferEnd::Timeout);
    EXPECT_EQ(Result.SilenceCut, Case.SilenceCut);
    EXPECT_EQ(Link.SentCount(Case.ResentOpcode), Case.Sends);
    EXPECT_EQ(Result.Resends, Case.Sends - 1);
    EXPECT_NEAR(Result.Seconds, Case.Seconds, 0.05);
  }
}

TEST(TftpClientTest, BlockNumbersRollOverToZeroOrToOne) {
  const Bytes Content = Pattern(8 * 70000 + 3);
  for (const uint16_t WrapTo : {0, 1}) {
    SCOPED_TRACE(WrapTo);
    // Block n on the wire: n up to 65535, then counted on from WrapTo.
    const auto Wire = [WrapTo](uint64_t Number) {
      return Number <= 0xFFFF ? uint16_t(Number) : uint16_t(WrapTo + (Number - 0x10000) % (0x10000 - WrapTo));
    };
    auto Next = std::make_shared<uint64_t>(0);
    ScriptedLink Link([&, Next](const Endpoint &, const TftpPacket &Sent) -> std::vector<Datagram> {
      if (Sent.Opcode == 1) {
        return {{Transfer, Oack({{"blksize", "8"}})}};
      }
      if (Sent.Opcode != 4 || Sent.Block != (*Next == 0 ? 0 : Wire(*Next)) || *Next * 8 > Content.size()) {
        return {};
      }
      const uint64_t Number = ++*Next;
      const size_t Start = (Number - 1) * 8;
      const size_t End = std::min<size_t>(Content.size(), Start + 8);
      return {{Transfer, Data(Wire(Number), Bytes(Content.begin() + long(Start), Content.begin() + long(End)))}};
    });
    TransferRequest Request = ReadOf(Content.size());
    Request.Options = {{"blksize", "8"}};
    const TransferResult Result = RunTransfer(Link, Server, Request);
    EXPECT_EQ(Result.End, TransferEnd::Complete);
    EXPECT_EQ(Result.Data, Content);
    EXPECT_EQ(Result.Resends, 0u);
  }
}

/* A free UDP port of 127.0.0.1 that nothing listens on any more. */
uint16_t ClosedLoopbackPort() {
  const int Probe = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in Address = {};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(Loopback);
  socklen_t Size = sizeof(Address);
  EXPECT_EQ(bind(Probe, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
  EXPECT_EQ(getsockname(Probe, reinterpret_cast<sockaddr *>(&Address), &Size), 0);
  close(Probe);
  return ntohs(Address.sin_port);
}

/* The real socket over loopback, which never leaves this host: the system's port unreachable reaches the client. */
TEST(UdpLinkTest, PortUnreachableArrivesAtOnceFromThePortThatRefused) {
  std::string Error;
  const std::unique_ptr<DatagramLink> Link = OpenUdpLink(Error);
  ASSERT_NE(Link, nullptr) << Error;
  const Endpoint Closed = {Loopback, ClosedLoopbackPort()};
  ASSERT_TRUE(Link->Send(Closed, ReadRequestPacket("rivari.ini", {{"tsize", "0"}}), Error)) << Error;
  const std::optional<Datagram> Answer = Link->Receive(Link->Now() + std::chrono::seconds(5));
  ASSERT_TRUE(Answer.has_value());
  EXPECT_TRUE(Answer->PortUnreachable);
  EXPECT_EQ(Answer->From, Closed);
  EXPECT_TRUE(RoutesOverLoopback(Closed));
}

} // namespace
