/*
 * The server check: the driver's requests for rivari.ini and the machine's
 * numbered files against a TFTP server, the driver's verdict on each, and
 * the analysis of the configuration as the server sends it.
 */
#ifndef TOLVANE_TOOLS_SERVER_CHECK_H
#define TOLVANE_TOOLS_SERVER_CHECK_H

#include <functional>
#include <memory>

#include "ConfigurationReport.h"
#include "DatagramLink.h"

namespace RivariCheck {

struct ServerCheckRequest {
  Endpoint Server;
  std::chrono::milliseconds Timeout{5000};
  bool ReadNumberedFiles = true; // false: size queries only
};

/* A fresh link for each transfer; none with Error set when there is none to be had. */
using LinkOpener = std::function<std::unique_ptr<DatagramLink>(std::string &Error)>;

/*
 * Checks the server and analyses what it sends for Request (numbered files
 * from Request.FileNumbers, or 0, 1, 2, ... until the first missing one
 * when it is empty). The report's Server part is set; its outcome is
 * FetchFails when the driver's fetch or a numbered file would fail on this
 * server.
 */
ConfigurationReport CheckServer(const LinkOpener &OpenLink, const ServerCheckRequest &Check,
                                const ReportRequest &Request);

/*
 * CheckServer over the network, against the server Text names (HOST or
 * HOST:PORT, port 69 by default); none with Error set when Text names no
 * IPv4 server.
 */
std::optional<ConfigurationReport> CheckServerAt(const std::string &Text, const ServerCheckRequest &Settings,
                                                 const ReportRequest &Request, std::string &Error);

} // namespace RivariCheck

#endif
