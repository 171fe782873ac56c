/* IPv4 UDP sockets for the TFTP client, and server addresses from the command line. */
#include "UdpLink.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace RivariCheck {

namespace {

/* The largest UDP payload IPv4 carries: no datagram is ever cut. */
constexpr size_t LargestDatagram = 65535;
constexpr uint16_t TftpPort = 69;

sockaddr_in SocketAddress(const Endpoint &Where) {
  sockaddr_in Address = {};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(Where.Address);
  Address.sin_port = htons(Where.Port);
  return Address;
}

class UdpLink final : public DatagramLink {
public:
  explicit UdpLink(int Descriptor) : Socket(Descriptor) {}
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
      Datagram Received;
      Received.Bytes.resize(LargestDatagram);
      sockaddr_in From = {};
      socklen_t FromSize = sizeof(From);
      const ssize_t Got = recvfrom(Socket, Received.Bytes.data(), Received.Bytes.size(), 0,
                                   reinterpret_cast<sockaddr *>(&From), &FromSize);
      if (Got < 0) {
        continue; // an ICMP error queued on the socket, or an interruption: the wait goes on
      }
      Received.Bytes.resize(static_cast<size_t>(Got));
      Received.From = {ntohl(From.sin_addr.s_addr), ntohs(From.sin_port)};
      return Received;
    }
  }

  LinkClock::time_point Now() override { return LinkClock::now(); }

private:
  int Socket;
};

} // namespace

std::unique_ptr<DatagramLink> OpenUdpLink(std::string &Error) {
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
  return std::make_unique<UdpLink>(Socket);
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
