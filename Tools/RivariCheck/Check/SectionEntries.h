/* The entries GetEntry answers over one section, with the warnings about its lines. */
#ifndef TOLVANE_TOOLS_SECTION_ENTRIES_H
#define TOLVANE_TOOLS_SECTION_ENTRIES_H

#include <cstdint>
#include <vector>

#include "ConfigurationReport.h"
#include "TextLayout.h"
#include "TextReader.h"

namespace RivariCheck {

/* The entries GetEntry answers over Section, and the count GetEntryCount returns. */
struct SectionEntries {
  std::vector<EntryReport> Entries;
  uint64_t Count = 0;
};

/*
 * Reads the section whose header is line HeaderIndex of Layout: entries and
 * values from the driver's entry scan over Section, line numbers and the
 * warnings about its lines (duplicates, gaps, values, first tokens) from
 * Layout.
 */
SectionEntries ReadSectionEntries(const TextLayout &Layout, size_t HeaderIndex, TextReader *Section,
                                  std::vector<Warning> &Warnings);

/*
 * The entries of the section after line HeaderIndex, read from the copy
 * that the driver's ExtractSection makes from there.
 */
SectionEntries ReadSectionAfter(const std::vector<uint8_t> &Text, const TextLayout &Layout, size_t HeaderIndex,
                                std::vector<Warning> &Warnings);

} // namespace RivariCheck

#endif
