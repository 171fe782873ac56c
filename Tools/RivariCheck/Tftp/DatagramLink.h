/*
 * The seam between the TFTP client and the network: a UDP socket of its
 * own for one transfer, and a clock. The tool uses a real socket; tests
 * put a scripted server behind it, with a clock that moves only when the
 * client waits.
 */
#ifndef TOLVANE_TOOLS_DATAGRAM_LINK_H
#define TOLVANE_TOOLS_DATAGRAM_LINK_H

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace RivariCheck {

using LinkClock = std::chrono::steady_clock;

/* An IPv4 address and a UDP port, both in host order. */
struct Endpoint {
  uint32_t Address = 0;
  uint16_t Port = 0;
  bool operator==(const Endpoint &) const = default;
};

struct Datagram {
  Endpoint From;
  std::vector<uint8_t> Bytes;
  bool PortUnreachable = false; // not a datagram: ICMP port unreachable for what was sent to From
};

class DatagramLink {
public:
  virtual ~DatagramLink() = default;
  /* Sends Bytes to To; false with Error set when the system refuses to. */
  virtual bool Send(const Endpoint &To, const std::vector<uint8_t> &Bytes, std::string &Error) = 0;
  /* The next datagram (or port-unreachable answer) that arrives before Deadline, or none once it has passed. */
  virtual std::optional<Datagram> Receive(LinkClock::time_point Deadline) = 0;
  virtual LinkClock::time_point Now() = 0;
  /* What the link could not set up as asked (a receive buffer smaller than asked for); empty when nothing. */
  virtual std::string Shortfall() const { return ""; }
};

} // namespace RivariCheck

#endif
