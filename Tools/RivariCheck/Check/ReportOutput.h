/* The two forms of a report: text for people, JSON for programs. */
#ifndef TOLVANE_TOOLS_REPORT_OUTPUT_H
#define TOLVANE_TOOLS_REPORT_OUTPUT_H

#include <string>

#include "ConfigurationReport.h"

namespace RivariCheck {

/* The report as lines of text, each ended by a line feed. */
std::string ReportAsText(const ConfigurationReport &Report);

/* The report as one JSON object (shape in Tools/RivariCheck/README.md), indented, ended by a line feed. */
std::string ReportAsJson(const ConfigurationReport &Report);

} // namespace RivariCheck

#endif
