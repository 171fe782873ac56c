/* The real network under the TFTP client: an IPv4 UDP socket on a port of its own. */
#ifndef TOLVANE_TOOLS_UDP_LINK_H
#define TOLVANE_TOOLS_UDP_LINK_H

#include <memory>

#include "DatagramLink.h"

namespace RivariCheck {

/* A socket bound to a free port of every local address; none with Error set when the system has none. */
std::unique_ptr<DatagramLink> OpenUdpLink(std::string &Error);

/*
 * HOST or HOST:PORT (port 69 when none is given) as an IPv4 endpoint; a
 * name is looked up. None with Error set when it cannot be one.
 */
std::optional<Endpoint> ResolveServer(const std::string &Text, std::string &Error);

/* The endpoint as "A.B.C.D:PORT". */
std::string EndpointText(const Endpoint &Where);

} // namespace RivariCheck

#endif
