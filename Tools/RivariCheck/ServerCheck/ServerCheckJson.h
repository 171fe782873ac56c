/* The server check as JSON for programs (shape in Tools/RivariCheck/README.md). */
#ifndef TOLVANE_TOOLS_SERVER_CHECK_JSON_H
#define TOLVANE_TOOLS_SERVER_CHECK_JSON_H

#include <string>

#include "ServerReport.h"

namespace RivariCheck {

/* The configuration's report with the check's outcome and exit status and the "server" object; indented, ended by a
 * line feed. */
std::string ServerCheckAsJson(const ServerCheckReport &Report);

/* The firmware model the check reads its verdicts from: requests, schedule, pool limit and every status row. */
std::string FirmwareModelAsJson();

} // namespace RivariCheck

#endif
