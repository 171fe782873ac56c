/* A split's report for a person and as JSON (the shape is in Tools/RivariCheck/README.md). */
#ifndef TOLVANE_TOOLS_SPLIT_SPLIT_OUTPUT_H
#define TOLVANE_TOOLS_SPLIT_SPLIT_OUTPUT_H

#include <string>

#include "SplitRun.h"

namespace RivariCheck {

/* One line per machine, the reasons under it, the server's lines and a summary; WithTime adds the time taken. */
std::string SplitReportAsText(const SplitReport &Report, bool WithTime);

std::string SplitReportAsJson(const SplitReport &Report, bool WithTime);

} // namespace RivariCheck

#endif
