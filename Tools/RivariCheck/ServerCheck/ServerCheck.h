/*
 * The server check: the firmware's requests for rivari.ini and the
 * machine's numbered files against a TFTP server, sent and waited for as
 * the firmware does, the driver's verdict on each, and the analysis of the
 * configuration as the server sends it.
 */
#ifndef TOLVANE_TOOLS_SERVER_CHECK_H
#define TOLVANE_TOOLS_SERVER_CHECK_H

#include <functional>
#include <memory>

#include "DatagramLink.h"
#include "ServerReport.h"

namespace RivariCheck {

struct ServerCheckRequest {
  Endpoint Server;
  std::optional<std::chrono::milliseconds> MostSilence; // --timeout: a shorter wait than the firmware's
  bool ReadNumberedFiles = true;                        // false: size queries only
  bool OverLoopback = false; // the server is reached over loopback, whose MTU no machine's path has
};

/* A fresh link for each transfer; none with Error set when there is none to be had. */
using LinkOpener = std::function<std::unique_ptr<DatagramLink>(std::string &Error)>;

/*
 * Checks the server and analyses what it sends for Request (numbered files
 * from Request.FileNumbers, or 0, 1, 2, ... until the first missing one
 * when it is empty). The outcome is FetchFails when the driver's fetch or
 * a numbered file would fail on this server, CannotTell when nothing would
 * fail that the check can see but something it cannot tell.
 */
ServerCheckReport CheckServer(const LinkOpener &OpenLink, const ServerCheckRequest &Check,
                              const ReportRequest &Request);

/*
 * CheckServer over the network, against the server Text names (HOST or
 * HOST:PORT, port 69 by default); none with Error set when Text names no
 * IPv4 server.
 */
std::optional<ServerCheckReport> CheckServerAt(const std::string &Text, const ServerCheckRequest &Settings,
                                               const ReportRequest &Request, std::string &Error);

/*
 * The exit status of the tool for a server check, by precedence: 3 when
 * something would fail, else 4 when something cannot be told, else the
 * configuration's own (2, 1 or 0).
 */
int ServerExitStatus(const ServerCheckReport &Report);

} // namespace RivariCheck

#endif
