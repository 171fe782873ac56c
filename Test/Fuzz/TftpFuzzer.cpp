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

#include "ScriptedTftpServer.h"
#include "TftpClient.h"

namespace {

using namespace RivariCheck;
using namespace ScriptedTftp;

/* The fuzzer's bytes as a server: per client packet, a count of datagrams, each with a source, a length, its bytes. */
class FuzzedServer {
public:
  FuzzedServer(const uint8_t *Data, size_t Size) : Cursor(Data), End(Data + Size) {}

  std::vector<Datagram> Answer() {
    std::vector<Datagram> Out;
    const uint8_t Count = Take() % 4;
    for (uint8_t Index = 0; Index < Count && Cursor < End; Index++) {
      const uint8_t Flags = Take();
      const size_t Length = std::min<size_t>(size_t(Take()) << 8 | Take(), size_t(End - Cursor));
      Bytes Packet(Cursor, Cursor + Length);
      Cursor += Length;
      const TftpPacket Parsed = ParseTftpPacket(Packet);
      if (!Parsed.Malformed && Parsed.Opcode == 3 && Parsed.DataSize + 4 != Packet.size()) {
        std::abort();
      }
      Out.push_back({Flags & 1 ? Stranger : Transfer, std::move(Packet)});
    }
    return Out;
  }

private:
  uint8_t Take() { return Cursor < End ? *Cursor++ : 0; }

  const uint8_t *Cursor;
  const uint8_t *End;
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
  FuzzedServer Fuzzed(Data + 1, Size - 1);
  ScriptedLink Link([&Fuzzed](const Endpoint &, const TftpPacket &) { return Fuzzed.Answer(); });
  const TransferResult Result = RunTransfer(Link, Server, Request);
  // Nothing beyond the allowed bytes, nothing lost from what was counted.
  if (Result.Data.size() > Request.MostBytes || Result.Received != Result.Data.size() ||
      Result.Blocks * Result.BlockSize < Result.Received) {
    std::abort();
  }
  // Each datagram makes the client send at most a few packets; each silence at most the schedule's.
  if (Link.Sent.size() > (3 + Request.Sends) * (Size + 1) || Result.Seconds > 1e6) {
    std::abort();
  }
  return 0;
}
