/*
 * Generated rivari.ini texts for the benchmarks: many machine sections of a
 * few entries each, comments and quoted values, in a form that the driver,
 * inih and iniparser all read (every entry is written "N = value").
 */
#ifndef TOLVANE_BENCHMARKS_CONFIGURATION_TEXT_H
#define TOLVANE_BENCHMARKS_CONFIGURATION_TEXT_H

#include <cstddef>
#include <string>

namespace ConfigurationText {

/* The identifier the benchmarks look up, and its header as written in the files. */
inline constexpr char MachineId[] = "ab12cd34";
inline constexpr char16_t WideMachineId[] = u"ab12cd34";
inline constexpr char MachineHeader[] = "AB12CD34";

/* Entries of the machine's section in the text of MakeFile. */
inline constexpr std::size_t MachineEntries = 5;

/*
 * A configuration of about Size bytes (never less) made of sections of five
 * entries, with the machine's section third from the end.
 */
std::string MakeFile(std::size_t Size);

/* The machine's header followed by Entries entries 0 to Entries - 1 and then another section. */
std::string MakeSection(std::size_t Entries);

} // namespace ConfigurationText

#endif
