/* The real network under the TFTP client: an IPv4 UDP socket on a port of its own. */
#ifndef TOLVANE_TOOLS_UDP_LINK_H
#define TOLVANE_TOOLS_UDP_LINK_H

#include <memory>

#include "DatagramLink.h"

namespace RivariCheck {

/*
 * A socket bound to a free port of every local address, with room for
 * ReceiveBytes of datagrams waiting to be read (0: the system's default);
 * none with Error set when the system has none. When the system grants
 * less room, the link's Shortfall says how much. ICMP port unreachable
 * answers arrive as datagrams marked PortUnreachable.
 */
std::unique_ptr<DatagramLink> OpenUdpLink(std::string &Error, size_t ReceiveBytes = 0);

/* Whether packets to To go over the loopback interface: a 127/8 address or one of this host's own. */
bool RoutesOverLoopback(const Endpoint &To);

/*
 * HOST or HOST:PORT (port 69 when none is given) as an IPv4 endpoint; a
 * name is looked up. None with Error set when it cannot be one.
 */
std::optional<Endpoint> ResolveServer(const std::string &Text, std::string &Error);

/* The endpoint as "A.B.C.D:PORT". */
std::string EndpointText(const Endpoint &Where);

} // namespace RivariCheck

#endif
