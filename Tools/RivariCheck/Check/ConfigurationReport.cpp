/* The analysis of one configuration file: layout, machine, sections, warnings and outcome. */
#include "ConfigurationReport.h"

#include <algorithm>
#include <tuple>

#include "LayoutWarnings.h"
#include "MachineView.h"
#include "SectionEntries.h"
#include "UnmatchableHeaders.h"

namespace RivariCheck {

namespace {

/* Every header of the file with the count of its own section, and the entry warnings of each section read. */
std::vector<SectionReport> ReadAllSections(const std::vector<uint8_t> &Text, const TextLayout &Layout,
                                           std::vector<Warning> &Warnings) {
  std::vector<SectionReport> Sections;
  std::vector<std::u16string> Seen;
  for (size_t Index = 0; Index < Layout.Lines.size(); Index++) {
    if (!IsHeaderLine(Layout.Lines[Index])) {
      continue;
    }
    SectionReport Section;
    Section.Header = Layout.Lines[Index].Tokens[0];
    Section.Line = Layout.Lines[Index].FirstLine;
    Section.Duplicate = std::find(Seen.begin(), Seen.end(), Section.Header) != Seen.end();
    // A repeated header is reached by no lookup: its entries raise no warnings.
    std::vector<Warning> SectionWarnings;
    Section.EntryCount = ReadSectionAfter(Text, Layout, Index, SectionWarnings).Count;
    if (!Section.Duplicate) {
      Seen.push_back(Section.Header);
      Warnings.insert(Warnings.end(), SectionWarnings.begin(), SectionWarnings.end());
    }
    Sections.push_back(std::move(Section));
  }
  return Sections;
}

/* Orders warnings by line, drops repeats (a section can be read for the machine and for --all). */
void SortWarnings(std::vector<Warning> &Warnings) {
  std::stable_sort(Warnings.begin(), Warnings.end(),
                   [](const Warning &Left, const Warning &Right) { return Left.Line < Right.Line; });
  auto Same = [](const Warning &Left, const Warning &Right) {
    return std::tie(Left.Code, Left.Line, Left.Message) == std::tie(Right.Code, Right.Line, Right.Message);
  };
  std::vector<Warning> Unique;
  for (Warning &Item : Warnings) {
    if (std::none_of(Unique.begin(), Unique.end(), [&](const Warning &Kept) { return Same(Kept, Item); })) {
      Unique.push_back(std::move(Item));
    }
  }
  Warnings = std::move(Unique);
}

} // namespace

ConfigurationReport AnalyzeConfiguration(const std::string &FileName, const std::vector<uint8_t> &Text,
                                         const ReportRequest &Request) {
  ConfigurationReport Report;
  Report.FileName = FileName;
  Report.Size = Text.size();
  const TextLayout Layout = LayOutText(Text);
  Report.Encoding = EncodingName(Layout.Encoding);
  if (LooksUtf16BigEndian(Text, Layout.Encoding)) {
    Report.EncodingNote = "the file is UTF-16BE, which the driver does not read (it reads 8-bit text, 8-bit text after "
                          "a UTF-8 BOM, and UTF-16LE): re-save it as UTF-16LE, or as UTF-8 when it holds ASCII only";
  }

  std::u16string MachineHeader;
  if (Request.Identifier) {
    Report.Machine = ReadMachine(Text, Layout, Request, Report.Warnings);
    MachineHeader = Report.Machine->Header;
    AddDuplicateHeaderWarnings(Layout, &MachineHeader, Report.Warnings);
  }
  if (Request.FileWarnings) {
    AddLayoutWarnings(Layout, Request.Identifier ? &MachineHeader : nullptr, Report.Warnings);
  }
  if (Request.AllSections) {
    Report.Sections = ReadAllSections(Text, Layout, Report.Warnings);
    AddDuplicateHeaderWarnings(Layout, nullptr, Report.Warnings);
    AddUnmatchableHeaderWarnings(Layout, Report.Warnings);
  }
  SortWarnings(Report.Warnings);

  const bool Missing = (Report.Machine && !Report.Machine->SectionFound) ||
                       (!Report.Machine && Report.Sections && Report.Sections->empty());
  if (Missing) {
    Report.Outcome = ReportOutcome::SectionMissing;
  } else if (!Report.Warnings.empty()) {
    Report.Outcome = ReportOutcome::Warnings;
  }
  return Report;
}

ConfigurationReport UnreadableReport(const std::string &FileName, const std::string &Error) {
  ConfigurationReport Report;
  Report.FileName = FileName;
  Report.Outcome = ReportOutcome::Unreadable;
  Report.Error = Error;
  return Report;
}

int ExitStatus(const ConfigurationReport &Report) {
  switch (Report.Outcome) {
  case ReportOutcome::Clean:
    return 0;
  case ReportOutcome::Warnings:
    return 1;
  default:
    return 2;
  }
}

} // namespace RivariCheck
