/* Headers no identifier can ever match. */
#ifndef TOLVANE_TOOLS_UNMATCHABLE_HEADERS_H
#define TOLVANE_TOOLS_UNMATCHABLE_HEADERS_H

#include <optional>
#include <vector>

#include "ConfigurationReport.h"
#include "TextLayout.h"

namespace RivariCheck {

/* The unmatchable-header warning for a header line, when no 8-character identifier's header is its first token. */
std::optional<Warning> UnmatchableHeaderWarning(const LogicalLine &Line);

/*
 * Headers no identifier can ever match, except those a header-blanks or
 * header-case warning already names.
 */
void AddUnmatchableHeaderWarnings(const TextLayout &Layout, std::vector<Warning> &Warnings);

} // namespace RivariCheck

#endif
