/* IPv4 UDP sockets for the TFTP client, and server addresses from the command line. */
#include "UdpLink.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

namespace RivariCheck {

namespace {

/* The largest UDP payload IPv4 carries: no datagram is ever cut. */
constexpr size_t LargestDatagram = 65535;
constexpr uint16_t TftpPort = 69;
/* ICMP destination unreachable, code port unreachable (RFC 792). */
constexpr uint8_t IcmpUnreachable = 3;
constexpr uint8_t IcmpPortUnreachable = 3;

sockaddr_in SocketAddress(const Endpoint &Where) {
  sockaddr_in Address = {};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(Where.Address);
  Address.sin_port = htons(Where.Port);
  return Address;
}

/*
 * The oldest ICMP error queued on Socket (IP_RECVERR), as a datagram from
 * the endpoint the refused packet went to; none when the queue is empty
 * or its error is not a port unreachable (that one is dropped).
 */
std::optional<Datagram> QueuedUnreachable(int Socket) {
  sockaddr_in Destination = {};
  alignas(cmsghdr) char Control[256];
  char Payload[1];
  iovec Vector = {Payload, sizeof(Payload)};
  msghdr Message = {};
  Message.msg_name = &Destination;
  Message.msg_namelen = sizeof(Destination);
  Message.msg_iov = &Vector;
  Message.msg_iovlen = 1;
  Message.msg_control = Control;
  Message.msg_controllen = sizeof(Control);
  if (recvmsg(Socket, &Message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
    return std::nullopt;
  }
  for (cmsghdr *Header = CMSG_FIRSTHDR(&Message); Header != nullptr; Header = CMSG_NXTHDR(&Message, Header)) {
    if (Header->cmsg_level != IPPROTO_IP || Header->cmsg_type != IP_RECVERR) {
      continue;
    }
    sock_extended_err Error;
    std::memcpy(&Error, CMSG_DATA(Header), sizeof(Error));
    if (Error.ee_origin == SO_EE_ORIGIN_ICMP && Error.ee_type == IcmpUnreachable &&
        Error.ee_code == IcmpPortUnreachable) {
      Datagram Refused;
      Refused.From = {ntohl(Destination.sin_addr.s_addr), ntohs(Destination.sin_port)};
      Refused.PortUnreachable = true;
      return Refused;
    }
  }
  return std::nullopt;
}

class UdpLink final : public DatagramLink {
public:
  UdpLink(int Descriptor, std::string Shortfall) : Socket(Descriptor), Short(std::move(Shortfall)) {}
  UdpLink(const UdpLink &) = delete;
  UdpLink &operator=(const UdpLink &) = delete;
  ~UdpLink() override { close(Socket); }

  bool Send(const Endpoint &To, const std::vector<uint8_t> &Bytes, std::string &Error) override {
    const sockaddr_in Address = SocketAddress(To);
    if (sendto(Socket, Bytes.data(), Bytes.size(), 0, reinterpret_cast<const sockaddr *>(&Address), sizeof(Address)) <
        0) {
      Error = std::strerror(errno);
      return false;
    }
    return true;
  }

  std::optional<Datagram> Receive(LinkClock::time_point Deadline) override {
    for (;;) {
      const auto Left = std::chrono::ceil<std::chrono::milliseconds>(Deadline - Now());
      if (Left.count() <= 0) {
        return std::nullopt;
      }
      pollfd Wait = {Socket, POLLIN, 0};
      const int Ready = poll(&Wait, 1, static_cast<int>(std::min<int64_t>(Left.count(), 60000)));
      if (Ready <= 0) {
        continue; // timed out (checked above) or interrupted
      }
      // Errors first: reading the queue also clears the error a plain receive would fail with.
      if (std::optional<Datagram> Refused = QueuedUnreachable(Socket)) {
        return Refused;
      }
      Datagram Received;
      Received.Bytes.resize(LargestDatagram);
      sockaddr_in From = {};
      socklen_t FromSize = sizeof(From);
      const ssize_t Got = recvfrom(Socket, Received.Bytes.data(), Received.Bytes.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&From), &FromSize);
      if (Got < 0) {
        continue; // another ICMP error, nothing after all, or an interruption: the wait goes on
      }
      Received.Bytes.resize(static_cast<size_t>(Got));
      Received.From = {ntohl(From.sin_addr.s_addr), ntohs(From.sin_port)};
      return Received;
    }
  }

  LinkClock::time_point Now() override { return LinkClock::now(); }

  std::string Shortfall() const override { return Short; }

private:
  int Socket;
  std::string Short;
};

/*
 * Asks for Bytes of receive buffer: beyond the system's limit as root
 * (SO_RCVBUFFORCE), within it otherwise. Returns what is missing, in words,
 * or nothing when the socket holds Bytes.
 */
std::string AskReceiveBuffer(int Socket, size_t Bytes) {
  const int Asked = static_cast<int>(std::min<size_t>(Bytes, INT32_MAX / 2));
  if (setsockopt(Socket, SOL_SOCKET, SO_RCVBUFFORCE, &Asked, sizeof(Asked)) != 0) {
    setsockopt(Socket, SOL_SOCKET, SO_RCVBUF, &Asked, sizeof(Asked));
  }
  int Granted = 0;
  socklen_t Size = sizeof(Granted);
  getsockopt(Socket, SOL_SOCKET, SO_RCVBUF, &Granted, &Size);
  // The system reports twice what it grants to datagrams: the other half is its own bookkeeping.
  if (Granted / 2 >= Asked) {
    return "";
  }
  return "the system granted a receive buffer of " + std::to_string(Granted / 2) + " bytes, not the " +
         std::to_string(Asked) + " asked for (net.core.rmem_max; as root the check asks past it)";
}

} // namespace

std::unique_ptr<DatagramLink> OpenUdpLink(std::string &Error, size_t ReceiveBytes) {
  const int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (Socket < 0) {
    Error = std::strerror(errno);
    return nullptr;
  }
  const sockaddr_in Any = SocketAddress({INADDR_ANY, 0});
  if (bind(Socket, reinterpret_cast<const sockaddr *>(&Any), sizeof(Any)) < 0) {
    Error = std::strerror(errno);
    close(Socket);
    return nullptr;
  }
  // ICMP errors are reported to an unconnected socket only when asked for; the server answers from a new port.
  const int On = 1;
  if (setsockopt(Socket, IPPROTO_IP, IP_RECVERR, &On, sizeof(On)) != 0) {
    Error = std::strerror(errno);
    close(Socket);
    return nullptr;
  }
  return std::make_unique<UdpLink>(Socket, ReceiveBytes == 0 ? "" : AskReceiveBuffer(Socket, ReceiveBytes));
}

bool RoutesOverLoopback(const Endpoint &To) {
  if (To.Address >> 24 == 127) {
    return true;
  }
  // The address the system would send from: the same as the server's when the server is this host.
  const int Socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (Socket < 0) {
    return false;
  }
  const sockaddr_in Address = SocketAddress(To);
  sockaddr_in Local = {};
  socklen_t Size = sizeof(Local);
  const bool Known = connect(Socket, reinterpret_cast<const sockaddr *>(&Address), sizeof(Address)) == 0 &&
                     getsockname(Socket, reinterpret_cast<sockaddr *>(&Local), &Size) == 0;
  close(Socket);
  return Known && ntohl(Local.sin_addr.s_addr) == To.Address;
}

std::optional<Endpoint> ResolveServer(const std::string &Text, std::string &Error) {
  std::string Host = Text;
  uint16_t Port = TftpPort;
  const size_t Colon = Text.rfind(':');
  if (Colon != std::string::npos) {
    Host = Text.substr(0, Colon);
    const char *First = Text.data() + Colon + 1;
    const char *Last = Text.data() + Text.size();
    const auto [Stop, Failure] = std::from_chars(First, Last, Port);
    if (First == Last || Failure != std::errc() || Stop != Last || Port == 0) {
      Error = "the port in " + Text + " is not a number from 1 to 65535";
      return std::nullopt;
    }
  }
  addrinfo Hints = {};
  Hints.ai_family = AF_INET;
  Hints.ai_socktype = SOCK_DGRAM;
  addrinfo *Found = nullptr;
  const int Status = getaddrinfo(Host.c_str(), nullptr, &Hints, &Found);
  if (Status != 0 || Found == nullptr) {
    Error = Host + " is not an IPv4 address or a name that has one (" + gai_strerror(Status) + ")";
    return std::nullopt;
  }
  const auto *Address = reinterpret_cast<const sockaddr_in *>(Found->ai_addr);
  const Endpoint Server = {ntohl(Address->sin_addr.s_addr), Port};
  freeaddrinfo(Found);
  return Server;
}

std::string EndpointText(const Endpoint &Where) {
  return std::to_string(Where.Address >> 24) + "." + std::to_string(Where.Address >> 16 & 0xFF) + "." +
         std::to_string(Where.Address >> 8 & 0xFF) + "." + std::to_string(Where.Address & 0xFF) + ":" +
         std::to_string(Where.Port);
}

} // namespace RivariCheck
