/* Which warnings a run of rivari-check reports, and which it reports as errors. */
#ifndef TOLVANE_TOOLS_WARNING_CONTROL_H
#define TOLVANE_TOOLS_WARNING_CONTROL_H

#include <string>
#include <vector>

#include "ConfigurationReport.h"

namespace RivariCheck {

struct WarningControl {
  std::vector<std::string> Ignored; // codes left out of the report; "all" for every code
  std::vector<std::string> Errors;  // codes reported as errors; "all" for every code
};

/* Every warning code the tool reports, in the order of its README's table. */
const std::vector<std::string> &WarningCodes();

/* TRUE when Code is one of WarningCodes(). */
bool IsWarningCode(const std::string &Code);

/*
 * Drops the ignored warnings and marks the errors. A report whose only
 * findings were ignored is clean; a missing section or a failing fetch
 * keeps its outcome.
 */
void ApplyWarningControl(ConfigurationReport &Report, const WarningControl &Control);

} // namespace RivariCheck

#endif
