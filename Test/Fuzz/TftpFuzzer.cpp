/*
 * The TFTP client under an arbitrary server: the fuzzer's bytes are the
 * datagrams that answer each packet the client sends (from the transfer
 * port, or from a stranger), read with the client's own packet parser and
 * taken through its receive path for a size query or a windowed read. The
 * client must end every transfer, keep no more than it was allowed, keep
 * what it kept in order, and send a bounded number of packets; the parser
 * must read every datagram within its bytes.
 */
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>

#include "TftpClient.h"

namespace {

using namespace RivariCheck;
using Bytes = std::vector<uint8_t>;

const Endpoint Server = {0x7F000001, 69};
const Endpoint Transfer = {0x7F000001, 40000};
const Endpoint Stranger = {0x7F000001, 40001};
constexpr auto PacketTime = std::chrono::milliseconds(10);

/* Reads the fuzzer's bytes as a script: per client packet, a count of datagrams, each with a length and a source. */
class FuzzedLink final : public DatagramLink {
public:
  FuzzedLink(const uint8_t *Data, size_t Size) : Cursor(Data), End(Data + Size) {}

  bool Send(const Endpoint &, const Bytes &Packet, std::string &) override {
    Sends++;
    ParseTftpPacket(Packet); // what the client sends parses too
    const uint8_t Count = Take() % 4;
    for (uint8_t Index = 0; Index < Count && Cursor < End; Index++) {
      const uint8_t Flags = Take();
      const size_t Length = std::min<size_t>(size_t(Take()) << 8 | Take(), size_t(End - Cursor));
      Pending.push_back({Flags & 1 ? Stranger : Transfer, Bytes(Cursor, Cursor + Length)});
      Cursor += Length;
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
    const TftpPacket Packet = ParseTftpPacket(Next.Bytes);
    if (!Packet.Malformed && Packet.Opcode == 3 && Packet.DataSize + 4 != Next.Bytes.size()) {
      std::abort();
    }
    return Next;
  }

  LinkClock::time_point Now() override { return Clock; }

  size_t Sends = 0;

private:
  uint8_t Take() { return Cursor < End ? *Cursor++ : 0; }

  const uint8_t *Cursor;
  const uint8_t *End;
  std::deque<Datagram> Pending;
  LinkClock::time_point Clock{};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  if (Size < 1) {
    return 0;
  }
  TransferRequest Request;
  Request.FileName = "rivari.ini";
  Request.SizeOnly = (Data[0] & 1) != 0;
  Request.Options = Request.SizeOnly ? std::vector<TftpOption>{{"tsize", "0"}, {"windowsize", "4"}}
                                     : std::vector<TftpOption>{{"blksize", "64"}, {"windowsize", "4"}};
  Request.MostBytes = 4096;
  FuzzedLink Link(Data + 1, Size - 1);
  const TransferResult Result = RunTransfer(Link, Server, Request);
  // Nothing beyond the allowed bytes, nothing lost from what was counted.
  if (Result.Data.size() > Request.MostBytes || Result.Received != Result.Data.size() ||
      Result.Blocks * Result.BlockSize < Result.Received) {
    std::abort();
  }
  // Each datagram makes the client send at most a few packets; each silence at most the schedule's.
  if (Link.Sends > 3 * (Size + 1) + Request.Sends * (Size + 1)) {
    std::abort();
  }
  if (Result.Seconds > 1e6) {
    std::abort();
  }
  return 0;
}
