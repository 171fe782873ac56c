/* The report as text for the people who write configuration files. */
#include <cstdio>

#include "ReportText.h"
#include "TextLayout.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* One line of a table, printf-style. */
template <typename... Arguments> std::string Row(const char *Format, Arguments... Values) {
  char Line[160];
  std::snprintf(Line, sizeof(Line), Format, Values...);
  return Line;
}

std::string Plural(uint64_t Count, const char *One, const char *Many) {
  return std::to_string(Count) + " " + (Count == 1 ? One : Many);
}

std::string MachineText(const ConfigurationReport &Report, const MachineReport &Machine) {
  std::string Out = "Machine " + DisplayBytes(Machine.Identifier) + ": the driver looks for the header " +
                    DisplayText(Machine.Header) + "\n";
  if (!Machine.SectionFound && !Machine.NearMisses.empty()) {
    Out += "Section not found: no header's first token is exactly " + DisplayText(Machine.Header);
    for (const SectionReport &Near : Machine.NearMisses) {
      Out += "; line " + std::to_string(Near.Line) + " has " + DisplayText(Near.Header);
    }
    return Out + "\n";
  }
  if (!Machine.SectionFound && Machine.SwallowedLine != 0) {
    return Out + "Section not found: " + DisplayText(Machine.Header) + " stands at the start of line " +
           std::to_string(Machine.SwallowedLine) + ", but a double quote left open on line " +
           std::to_string(Machine.SwallowingLine) + " joins it to line " + std::to_string(Machine.SwallowingLine) +
           ": the header is swallowed, and the driver never finds it\n";
  }
  if (!Machine.SectionFound) {
    return Out + "Section not found: no line of " + Report.FileName + " begins with " + DisplayText(Machine.Header) +
           "\n";
  }
  Out += "Section found: header on line " + std::to_string(Machine.HeaderLine) + "\n";
  if (Machine.Entries.empty()) {
    Out += "No entries.\n";
  } else {
    Out += "Entry   Line  ValueSize  Value\n";
    for (const EntryReport &Entry : Machine.Entries) {
      if (Entry.Value) {
        Out += Row("%5lld  %5llu  %9llu  ", static_cast<long long>(Entry.Index),
                   static_cast<unsigned long long>(Entry.Line), static_cast<unsigned long long>(Entry.ValueSize)) +
               DisplayText(*Entry.Value) + "\n";
      } else {
        Out += Row("%5lld  %5llu  %9s  (no value)\n", static_cast<long long>(Entry.Index),
                   static_cast<unsigned long long>(Entry.Line), "-");
      }
    }
  }
  Out += "GetEntryCount: " + std::to_string(Machine.EntryCount) + "\n";
  for (const FileNameReport &File : Machine.Files) {
    Out += "File " + std::to_string(File.Number) + ": " + File.Name +
           (File.Cut ? " (cut from " + File.FullName + ")" : "") + "\n";
  }
  return Out;
}

std::string SectionsText(const std::vector<SectionReport> &Sections) {
  if (Sections.empty()) {
    return "No section headers.\n";
  }
  std::string Out = "Sections: " + std::to_string(Sections.size()) + "\n  Line  Entries  Header\n";
  for (const SectionReport &Section : Sections) {
    Out += Row("%6llu  %7llu  ", static_cast<unsigned long long>(Section.Line),
               static_cast<unsigned long long>(Section.EntryCount)) +
           DisplayText(Section.Header) + (Section.Duplicate ? "  (repeated header: never read)" : "") + "\n";
  }
  return Out;
}

} // namespace

std::string ReportAsText(const ConfigurationReport &Report) {
  if (!Report.Error.empty()) {
    return Report.FileName + ": cannot read: " + Report.Error + "\n";
  }
  std::string Out =
      Report.FileName + ": " + Plural(Report.Size, "byte", "bytes") + ", " + EncodingText(Report.Encoding) + "\n";
  if (!Report.EncodingNote.empty()) {
    Out += "Encoding: " + Report.EncodingNote + "\n";
  }
  if (Report.Machine) {
    Out += MachineText(Report, *Report.Machine);
  }
  if (Report.Sections) {
    Out += SectionsText(*Report.Sections);
  }
  if (Report.Warnings.empty()) {
    return Out + "No warnings.\n";
  }
  Out += Plural(Report.Warnings.size(), "warning", "warnings") + ":\n";
  for (const Warning &Item : Report.Warnings) {
    const std::string Where = Item.Line == 0 ? Report.FileName : Report.FileName + ":" + std::to_string(Item.Line);
    Out += Where + (Item.Error ? ": error: " : ": warning: ") + Item.Message + " [" + Item.Code + "]\n";
  }
  return Out;
}

} // namespace RivariCheck
