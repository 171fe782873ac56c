/* rivari-check check: the options of a file check, and the reports of the machines it asks for. */
#include "CheckCommand.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "ConfigurationReport.h"
#include "FileText.h"
#include "HostPlatform.h"
#include "ReportJson.h"
#include "ReportText.h"

namespace RivariCheck {

namespace {

constexpr const char *CheckFooter = R"(Examples:
  rivari-check check rivari.ini --machine AB12CD34
      the section of machine AB12CD34: every entry GetEntry answers, its value and size, the count
  rivari-check check rivari.ini --machine AB12CD34 --file-number 7 --file-number 1234567
      also the TFTP names of numbered files 7 and 1234567 (names longer than 15 characters are cut)
  rivari-check check rivari.ini --all --json
      every section header with its entry count, as JSON
  rivari-check check rivari.ini --machines fleet.txt --all --ignore missing-value
      every machine listed in fleet.txt (one identifier a line), every header, no missing-value warnings
  generate-config | rivari-check check - --machine AB12CD34 --error all
      the file from standard input, every finding written as an error

Exit status (with several machines, the highest of theirs):
  0   the section was found and nothing is wrong
  1   the section was found, with warnings or errors (those not left out with --ignore)
  2   the section is missing (with --all alone: the file has no header), or the file cannot be read
  64  wrong use of the command line
)";

/* Name shown for a file read from standard input. */
constexpr const char *StandardInputName = "<stdin>";

/* The identifiers listed in a file, one a line; blank lines and lines starting with # are skipped. */
bool ReadIdentifiers(std::FILE *File, std::vector<std::string> &Identifiers) {
  char Line[4096];
  while (std::fgets(Line, sizeof(Line), File) != nullptr) {
    std::string Identifier = Line;
    while (!Identifier.empty() && std::isspace(static_cast<unsigned char>(Identifier.back())) != 0) {
      Identifier.pop_back();
    }
    if (!Identifier.empty() && Identifier[0] != '#') {
      Identifiers.push_back(Identifier);
    }
  }
  return std::ferror(File) == 0;
}

} // namespace

void AddMachineOptions(CLI::App &App, CheckCommandLine &Line, MachineOptionsForm Form) {
  App.add_option("-m,--machine", Line.Identifiers,
                 "The machine identifier a caller passes to FetchConfiguration (8 characters; repeatable)");
  if (Form != MachineOptionsForm::ServerCheck) {
    Line.MachineList = App.add_option("--machines", Line.IdentifierList,
                                      "Check every identifier listed in this file, one a line ('-': standard input)")
                           ->type_name("LIST");
  }
  App.add_flag("-a,--all", Line.AllSections, "List every section header with its entry count");
  const char *FileNumberHelp =
      Form == MachineOptionsForm::FileCheck ? "Show the TFTP name of numbered file N (repeatable; default 0)"
      : Form == MachineOptionsForm::ServerCheck
          ? "Ask the server for numbered file N as the driver would (repeatable; default 0, 1, 2, ... up to the "
            "first missing one)"
          : "Show the TFTP name of numbered file N, with --server also its download (repeatable; default 0, with "
            "--server 0, 1, 2, ... up to the first missing one)";
  App.add_option("-f,--file-number", Line.FileNumbers, FileNumberHelp)->type_name("N");
  App.add_flag("--json", Line.Json, "Write the report as JSON");
}

void AddWarningOptions(CLI::App &App, CheckCommandLine &Line) {
  auto KnownCode = [](const std::string &Code) {
    return IsWarningCode(Code) || Code == "all" ? std::string() : "no warning has the code " + Code;
  };
  App.add_option("--ignore", Line.Control.Ignored, "Leave out warnings with this code ('all': every code; repeatable)")
      ->check(KnownCode)
      ->type_name("CODE");
  App.add_option("--error", Line.Control.Errors,
                 "Report warnings with this code as errors ('all': every code; repeatable)")
      ->check(KnownCode)
      ->type_name("CODE");
}

void CheckMachineChoice(CheckCommandLine &Line, bool ServerCheck) {
  if (Line.MachineList != nullptr && Line.MachineList->count() != 0) {
    if (Line.IdentifierList == "-" && Line.FilePath == "-") {
      throw CLI::ValidationError("--machines", "FILE and the list cannot both be standard input");
    }
    std::FILE *List = Line.IdentifierList == "-" ? stdin : std::fopen(Line.IdentifierList.c_str(), "r");
    const bool Read = List != nullptr && ReadIdentifiers(List, Line.Identifiers);
    if (List != nullptr && List != stdin) {
      std::fclose(List);
    }
    if (!Read || Line.Identifiers.empty()) {
      throw CLI::ValidationError("--machines", Line.IdentifierList + ": no identifiers read");
    }
  }
  if (Line.Identifiers.empty() && !Line.AllSections && !ServerCheck) {
    throw CLI::RequiresError("FILE", "--machine or --all");
  }
  if (Line.Identifiers.empty() && !Line.FileNumbers.empty()) {
    throw CLI::RequiresError("--file-number", "--machine");
  }
  if (Line.Identifiers.size() > 1 && ServerCheck) {
    throw CLI::ValidationError("--server", "checks one machine at a time");
  }
}

CLI::App *AddCheckCommand(CLI::App &Parent, CheckCommandLine &Line) {
  CLI::App *App = Parent.add_subcommand(
      "check", "Shows what the driver reads from a rivari.ini for each machine, and warns about the format's traps.");
  App->footer(CheckFooter);
  App->add_option("FILE", Line.FilePath, "The configuration file, as it lies on the TFTP server ('-': standard input)")
      ->required();
  AddMachineOptions(*App, Line, MachineOptionsForm::FileCheck);
  AddWarningOptions(*App, Line);
  return App;
}

int RunCheckCommand(const CheckCommandLine &Line) {
  InstallHostPlatform();
  ReportRequest Request;
  Request.AllSections = Line.AllSections || Line.Identifiers.empty();
  std::vector<ConfigurationReport> Reports;
  std::vector<uint8_t> Text;
  std::string ReadError;
  const std::string Shown = Line.FilePath == "-" ? StandardInputName : Line.FilePath;
  if (!ReadWholeFile(Line.FilePath, Text, ReadError)) {
    Reports.push_back(UnreadableReport(Shown, ReadError));
  } else if (Line.Identifiers.empty()) {
    Reports.push_back(AnalyzeConfiguration(Shown, Text, Request));
  } else {
    Request.FileNumbers = Line.FileNumbers.empty() ? std::vector<int64_t>{0} : Line.FileNumbers;
    for (const std::string &Identifier : Line.Identifiers) {
      Request.Identifier = Identifier;
      Reports.push_back(AnalyzeConfiguration(Shown, Text, Request));
      // The warnings about the file as a whole and the list of sections come with the first machine only.
      Request.FileWarnings = false;
      Request.AllSections = false;
    }
  }

  int Status = 0;
  for (ConfigurationReport &Report : Reports) {
    ApplyWarningControl(Report, Line.Control);
    Status = std::max(Status, ExitStatus(Report));
  }
  if (Line.Json) {
    // One machine: one report object, as always; several: an array of them, in the order given.
    std::string Joined;
    for (const ConfigurationReport &Report : Reports) {
      Joined += (Joined.empty() ? "" : ",\n") + ReportAsJson(Report);
    }
    std::cout << (Reports.size() == 1 ? Joined : "[\n" + Joined + "]\n");
  } else if (Reports[0].Outcome == ReportOutcome::Unreadable) {
    std::cerr << "rivari-check: " << ReportAsText(Reports[0]);
  } else {
    for (size_t Index = 0; Index < Reports.size(); Index++) {
      std::cout << (Index == 0 ? "" : "\n") << ReportAsText(Reports[Index]);
    }
  }
  return Status;
}

} // namespace RivariCheck
