/* The report as JSON, for programs: its shape in Tools/RivariCheck/README.md. */
#ifndef TOLVANE_TOOLS_REPORT_JSON_H
#define TOLVANE_TOOLS_REPORT_JSON_H

#include <nlohmann/json.hpp>
#include <string>

#include "ConfigurationReport.h"

namespace RivariCheck {

/* The report as one JSON object, for a caller that adds members of its own (the server check). */
nlohmann::ordered_json ReportJsonObject(const ConfigurationReport &Report);

/* The report as one JSON object, indented, ended by a line feed. */
std::string ReportAsJson(const ConfigurationReport &Report);

/* Text for a JSON object as the tool writes it: indented, invalid UTF-8 replaced, ended by a line feed. */
std::string JsonText(const nlohmann::ordered_json &Json);

} // namespace RivariCheck

#endif
