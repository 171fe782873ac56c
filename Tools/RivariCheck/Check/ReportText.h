/* The report as lines of text, for people. */
#ifndef TOLVANE_TOOLS_REPORT_TEXT_H
#define TOLVANE_TOOLS_REPORT_TEXT_H

#include <string>

#include "ConfigurationReport.h"

namespace RivariCheck {

/* The report as lines of text, each ended by a line feed. */
std::string ReportAsText(const ConfigurationReport &Report);

} // namespace RivariCheck

#endif
