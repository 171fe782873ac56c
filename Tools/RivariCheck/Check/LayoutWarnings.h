/* The warnings about the layout of the file as a whole. */
#ifndef TOLVANE_TOOLS_LAYOUT_WARNINGS_H
#define TOLVANE_TOOLS_LAYOUT_WARNINGS_H

#include <string>
#include <vector>

#include "ConfigurationReport.h"
#include "TextLayout.h"

namespace RivariCheck {

/*
 * Lines before the first header, headers with blanks inside the brackets,
 * unclosed double quotes. MachineHeader, when given, names the machine's
 * header in messages about headers that would be it without their blanks.
 */
void AddLayoutWarnings(const TextLayout &Layout, const std::u16string *MachineHeader, std::vector<Warning> &Warnings);

/* Second headers with the same first token as an earlier one; Only limits the check to that token. */
void AddDuplicateHeaderWarnings(const TextLayout &Layout, const std::u16string *Only, std::vector<Warning> &Warnings);

} // namespace RivariCheck

#endif
