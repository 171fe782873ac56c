/* The machine's view: the lookup of its section, its entries and count, its numbered file names. */
#ifndef TOLVANE_TOOLS_MACHINE_VIEW_H
#define TOLVANE_TOOLS_MACHINE_VIEW_H

#include <cstdint>
#include <string>
#include <vector>

#include "ConfigurationReport.h"
#include "TextLayout.h"

namespace RivariCheck {

/* The machine identifier as the fetch records it from the 8 bytes a caller passes (Identifier padded with NUL). */
std::u16string RecordedMachineId(const std::string &Identifier);

/* Numbered file Number of MachineId: the name the driver asks for, and the name before the cut. */
FileNameReport NameFile(const std::u16string &MachineId, int64_t Number);

/*
 * The machine's view: the lookup of its section, its entries and count,
 * and its numbered file names, with the warnings about the identifier, the
 * machine's headers and the file names.
 */
MachineReport ReadMachine(const std::vector<uint8_t> &Text, const TextLayout &Layout, const ReportRequest &Request,
                          std::vector<Warning> &Warnings);

} // namespace RivariCheck

#endif
