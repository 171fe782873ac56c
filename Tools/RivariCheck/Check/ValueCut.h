/* The warning for an entry line that holds more than its value. */
#ifndef TOLVANE_TOOLS_VALUE_CUT_H
#define TOLVANE_TOOLS_VALUE_CUT_H

#include <optional>
#include <string>

#include "ConfigurationReport.h"
#include "TextLayout.h"

namespace RivariCheck {

/*
 * When an entry line holds more than its value (more tokens, or a comment
 * with no blank before it), the warning that says what GetEntry returns,
 * what the line loses and how to quote it. EntryName names the entry
 * ("entry 3 of [AB12CD34]").
 */
std::optional<Warning> ValueCutWarning(const LogicalLine &Line, const std::string &EntryName);

} // namespace RivariCheck

#endif
