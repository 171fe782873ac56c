/*
 * What the driver reads from a rivari.ini, and the traps a writer fell into:
 * the analysis behind rivari-check. Sections and entry values come from the
 * driver's own reader, tokenizer, section lookup and entry scan; the report
 * adds line numbers and warnings.
 *
 * The analysis takes pool memory through the captured BootServices, so the
 * caller provides a platform (the tool's host platform, or a test double).
 */
#ifndef TOLVANE_TOOLS_CONFIGURATION_REPORT_H
#define TOLVANE_TOOLS_CONFIGURATION_REPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace RivariCheck {

/* What to look at: one machine, every section, or both. */
struct ReportRequest {
  std::optional<std::string> Identifier; // the bytes a caller would pass to FetchConfiguration
  bool AllSections = false;
  std::vector<int64_t> FileNumbers; // numbered files whose names to show (machine only)
  bool FileWarnings = true;         // warnings about the file as a whole (FALSE after the first of several machines)
};

/* One finding; Line is the physical line (from 1), 0 for findings about no line. */
struct Warning {
  std::string Code;
  uint64_t Line = 0;
  std::string Message;
  bool Error = false; // reported as an error (--error)
};

/* An entry the driver answers: GetEntry(Index) is TRUE. */
struct EntryReport {
  int64_t Index = 0;                   // the index as a signed 32-bit decimal, as GetEntry writes it
  uint64_t Line = 0;                   // the line that answers (the first for its number)
  std::optional<std::u16string> Value; // the CHAR16 units GetEntry copies; none when the line has no value
  uint64_t ValueSize = 0;              // bytes Value needs, terminator included (0 without a value)
};

/* A numbered file's TFTP name for this identifier. */
struct FileNameReport {
  int64_t Number = 0;
  std::string Name;     // as requested (at most 15 characters)
  std::string FullName; // as it would be without the cut
  bool Cut = false;
};

/* One section header of the file. */
struct SectionReport {
  std::u16string Header; // the header line's first token
  uint64_t Line = 0;
  uint64_t EntryCount = 0;
  bool Duplicate = false; // an earlier header has the same first token; no lookup reaches this one
};

/* The machine's view of the file. */
struct MachineReport {
  std::string Identifier;   // as given
  std::u16string MachineId; // as the fetch keeps it: at most 8 bytes, widened with their sign
  std::u16string Header;    // the first token the lookup looks for
  bool SectionFound = false;
  uint64_t HeaderLine = 0;
  std::vector<EntryReport> Entries; // ascending index
  uint64_t EntryCount = 0;          // what GetEntryCount returns
  std::vector<FileNameReport> Files;
  std::vector<SectionReport> NearMisses; // section missing: headers that begin like the machine's
  uint64_t SwallowedLine = 0;            // section missing: a physical line that begins with the header, swallowed
  uint64_t SwallowingLine = 0;           // the line whose open double quote swallowed it
};

enum class ReportOutcome {
  Clean,          // exit 0
  Warnings,       // exit 1
  SectionMissing, // exit 2
  Unreadable,     // exit 2
};

struct ConfigurationReport {
  std::string FileName;
  uint64_t Size = 0;
  std::string Encoding;     // "bytes", "utf8-bom" or "utf16"
  std::string EncodingNote; // what to do when the file is in an encoding the driver does not read
  std::optional<MachineReport> Machine;
  std::optional<std::vector<SectionReport>> Sections;
  std::vector<Warning> Warnings; // ordered by line
  ReportOutcome Outcome = ReportOutcome::Clean;
  std::string Error; // why the file could not be read
};

/* Analyses Text as the driver would read it. Never throws for any input. */
ConfigurationReport AnalyzeConfiguration(const std::string &FileName, const std::vector<uint8_t> &Text,
                                         const ReportRequest &Request);

/* A report for a file that could not be read (outcome Unreadable). */
ConfigurationReport UnreadableReport(const std::string &FileName, const std::string &Error);

/* The exit status of the tool for a report: 0, 1 or 2. */
int ExitStatus(const ConfigurationReport &Report);

} // namespace RivariCheck

#endif
