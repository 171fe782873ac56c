/*
 * Scripted TFTP servers behind the client's datagram seam, for the client's
 * and the server check's tests: a link whose clock moves only while the
 * client waits, packet builders, and servers that send a file in lockstep
 * or in windows, with faults a row can choose.
 */
#ifndef TOLVANE_TEST_SCRIPTED_TFTP_SERVER_H
#define TOLVANE_TEST_SCRIPTED_TFTP_SERVER_H

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "TftpClient.h"

namespace ScriptedTftp {

using RivariCheck::Datagram;
using RivariCheck::Endpoint;
using RivariCheck::TftpOption;
using RivariCheck::TftpPacket;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t Loopback = 0x7F000001;
inline const Endpoint Server = {Loopback, 69};
inline const Endpoint Transfer = {Loopback, 40000};
inline const Endpoint Stranger = {Loopback, 40001};

Bytes Word(uint16_t Value);
Bytes Join(std::initializer_list<Bytes> Parts);
Bytes Text(const std::string &Value); // with its final NUL
Bytes Data(uint16_t Block, const Bytes &Payload);
Bytes Error(uint16_t Code, const std::string &Message);
Bytes Oack(const std::vector<TftpOption> &Options);
/* Size bytes of a pattern that repeats at no block size. */
Bytes Pattern(size_t Size);

/* The answers to one packet the client sent, the packet read with the client's own parser. */
using ServerScript = std::function<std::vector<Datagram>(const Endpoint &To, const TftpPacket &Sent)>;

/* Each packet the server sends costs this on the clock: a flood still lets time pass. */
constexpr auto PacketTime = std::chrono::milliseconds(10);

class ScriptedLink final : public RivariCheck::DatagramLink {
public:
  explicit ScriptedLink(ServerScript Script) : Answer(std::move(Script)) {}
  bool Send(const Endpoint &To, const Bytes &Packet, std::string &) override;
  std::optional<Datagram> Receive(RivariCheck::LinkClock::time_point Deadline) override;
  RivariCheck::LinkClock::time_point Now() override { return Clock; }
  std::string Shortfall() const override { return Short; }

  /* How many packets with Opcode the client sent. */
  size_t SentCount(uint16_t Opcode) const;

  std::vector<Datagram> Sent; // From holds where the client sent it
  RivariCheck::LinkClock::time_point Clock{};
  std::string Short; // what the link reports it could not set up

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
std::vector<Datagram> PlainBlock(uint64_t Number, Bytes Payload);
ServerScript FileServer(Bytes Content, uint32_t BlockSize, std::vector<TftpOption> Options,
                        BlockSender Block = PlainBlock);

/*
 * A server sending Content in windows of Window blocks (RFC 7440), after an
 * option acknowledgement of blksize and windowsize: each acknowledgement,
 * repeated or not, is answered with the window after the block it names
 * (so a client that acknowledges too often makes it send windows over and
 * over). Blocks in Lose are lost the first time they are sent; the first
 * acknowledgement of LoseAcknowledgement is lost, and the server sends
 * what it acknowledged again, as on its own timeout.
 */
ServerScript WindowServer(Bytes Content, uint32_t BlockSize, uint32_t Window, std::set<uint64_t> Lose = {},
                          std::optional<uint16_t> LoseAcknowledgement = std::nullopt);

/*
 * A server of Files (name -> contents) for one transfer: error 1 for a
 * name it lacks; else the size and a 512-byte block size acknowledged when
 * asked for (no window), then the file block by block. ErrorMessage is
 * the text of its error 1.
 */
ServerScript TreeServer(std::map<std::string, Bytes> Files, std::string ErrorMessage = "File not found");

/* A server that answers every request with Packet, and every other packet with nothing. */
ServerScript AnswerOnce(Bytes Packet);

/* No server: every packet to To is answered with ICMP port unreachable. */
ServerScript PortClosed();

} // namespace ScriptedTftp

#endif
