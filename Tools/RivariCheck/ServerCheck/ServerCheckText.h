/* The server check as text for people. */
#ifndef TOLVANE_TOOLS_SERVER_CHECK_TEXT_H
#define TOLVANE_TOOLS_SERVER_CHECK_TEXT_H

#include <string>

#include "ServerReport.h"

namespace RivariCheck {

/*
 * The requests and what came of them, the fetch's verdict and the notes,
 * the configuration as the server sent it, the numbered files, and a last
 * line when the check cannot tell; each line ended by a line feed.
 */
std::string ServerCheckAsText(const ServerCheckReport &Report);

} // namespace RivariCheck

#endif
