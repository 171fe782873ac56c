/* The server check's parts of the two report forms. */
#ifndef TOLVANE_TOOLS_SERVER_OUTPUT_H
#define TOLVANE_TOOLS_SERVER_OUTPUT_H

#include <nlohmann/json.hpp>
#include <string>

#include "ServerReport.h"

namespace RivariCheck {

/* The requests for rivari.ini, what came of them, the fetch's verdict and the notes, as text. */
std::string ServerText(const ServerReport &Server);

/* The numbered files as a table, or nothing when none were checked. */
std::string NumberedFilesText(const ServerReport &Server);

/* The whole server part as the JSON "server" object. */
nlohmann::ordered_json ServerJson(const ServerReport &Server);

} // namespace RivariCheck

#endif
