/*
 * The parts of the configuration analysis, each in its own file: entry
 * numbers, the entries of one section, the machine's view, and the warnings
 * about the file as a whole.
 */
#ifndef TOLVANE_TOOLS_REPORT_PARTS_H
#define TOLVANE_TOOLS_REPORT_PARTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ConfigurationReport.h"
#include "TextLayout.h"
#include "TextReader.h"

namespace RivariCheck {

/* Why a first token that is not an entry number never matches an index, as a phrase. */
std::string UnmatchableReason(const std::u16string &Token);

/*
 * When an entry line holds more than its value (more tokens, or a comment
 * with no blank before it), the warning that says what GetEntry returns,
 * what the line loses and how to quote it. EntryName names the entry
 * ("entry 3 of [AB12CD34]").
 */
std::optional<Warning> ValueCutWarning(const LogicalLine &Line, const std::string &EntryName);

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

/*
 * Lines before the first header, headers with blanks inside the brackets,
 * unclosed double quotes. MachineHeader, when given, names the machine's
 * header in messages about headers that would be it without their blanks.
 */
void AddLayoutWarnings(const TextLayout &Layout, const std::u16string *MachineHeader, std::vector<Warning> &Warnings);

/* The unmatchable-header warning for a header line, when no 8-character identifier's header is its first token. */
std::optional<Warning> UnmatchableHeaderWarning(const LogicalLine &Line);

/*
 * Headers no identifier can ever match, except those a header-blanks or
 * header-case warning already names.
 */
void AddUnmatchableHeaderWarnings(const TextLayout &Layout, std::vector<Warning> &Warnings);

/* Second headers with the same first token as an earlier one; Only limits the check to that token. */
void AddDuplicateHeaderWarnings(const TextLayout &Layout, const std::u16string *Only, std::vector<Warning> &Warnings);

/* Text in UTF-8 for a token or value: each unit as the code point of its number. */
std::string Utf8Text(const std::u16string &Units);

/* Text for a person: printable ASCII as it stands, every other unit as \uXXXX. */
std::string DisplayText(const std::u16string &Units);

/* Bytes for a person: printable ASCII as it stands, every other byte as \xHH. */
std::string DisplayBytes(const std::string &Bytes);

/* Text with the letters a to z made upper case, as the lookup makes its header (tokens hold no 0). */
std::u16string UpperCased(std::u16string Text);

} // namespace RivariCheck

#endif
