/* rivari-check: shows what the driver reads from a rivari.ini and warns about the format's traps. */
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "ConfigurationReport.h"
#include "FirmwareModel.h"
#include "HostPlatform.h"
#include "ReportOutput.h"
#include "ServerCheck.h"
#include "ServerCheckJson.h"
#include "ServerCheckText.h"
#include "Split/SplitCommand.h"
#include "WarningControl.h"

namespace {

/* Text with PATIENCE replaced by the seconds of silence the firmware sits out, from the firmware model. */
std::string WithPatience(std::string Text) {
  const std::string Mark = "PATIENCE";
  const std::string Seconds = std::to_string(RivariCheck::FirmwarePatience.count() / 1000);
  for (size_t At = Text.find(Mark); At != std::string::npos; At = Text.find(Mark, At + Seconds.size())) {
    Text.replace(At, Mark.size(), Seconds);
  }
  return Text;
}

/* Exit status for wrong use of the command line. */
constexpr int UsageError = 64;

constexpr const char *Examples = R"(Examples:
  rivari-check rivari.ini --machine AB12CD34
      the section of machine AB12CD34: every entry GetEntry answers, its value and size, the count
  rivari-check rivari.ini --machine AB12CD34 --file-number 7 --file-number 1234567
      also the TFTP names of numbered files 7 and 1234567 (names longer than 15 characters are cut)
  rivari-check rivari.ini --all
      every section header with its entry count
  rivari-check rivari.ini --machine AB12CD34 --json
      the same as JSON, for scripts
  rivari-check rivari.ini --machines fleet.txt --all --ignore missing-value
      every machine listed in fleet.txt (one identifier a line), every header, no missing-value warnings
  generate-config | rivari-check - --machine AB12CD34 --error all
      the file from standard input, every finding written as an error
  rivari-check --server 192.0.2.10 --machine AB12CD34
      the firmware's requests for the driver against a TFTP server, sent and waited for as the firmware does (up
      to PATIENCE s of silence): the size it answers, the block size and window it agrees to, whether FetchConfiguration
      would succeed and the pool it needs, the machine's section in the file it sends, and numbered files 0, 1,
      2, ... up to the first missing one
  rivari-check split rivari.ini --map fleet.csv --out tftp-root --for dnsmasq-ip
      each machine's own rivari.ini, proven to give the driver the same answers, laid out for the server
      (rivari-check split --help)

Exit status (with several machines, the highest of theirs):
  0   the section was found and nothing is wrong
  1   the section was found, with warnings or errors (those not left out with --ignore)
  2   the section is missing (with --all alone: the file has no header), or the file cannot be read
  3   with --server: the driver's fetch (a missing section included), or a numbered file, would fail on this server
  4   with --server: nothing would fail as far as the check can tell, but something it cannot tell (it could not
      send, or --timeout ended a wait the firmware would have sat out)
  64  wrong use of the command line
With --server the first that applies wins: 3, then 4, then the file's own 2, 1 or 0.

Values are shown as GetEntry copies them, double quotes included; in text output, characters other
than printable ASCII appear as \uXXXX (the CHAR16 the driver hands out). Warning lines read
FILE:LINE: warning: MESSAGE [CODE], as a compiler's do. Every warning code and the JSON shape:
rivari-check(1) and rivari-check.md (in /usr/share/doc/tolvane-service with the package,
Tools/RivariCheck/README.md in the source tree); the file format: Format.md beside it (docs/Format.md).
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

/* The whole file ("-": standard input), or false with Error set. */
bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Text, std::string &Error) {
  const bool Standard = Path == "-";
  std::FILE *File = Standard ? stdin : std::fopen(Path.c_str(), "rb");
  if (File == nullptr) {
    Error = std::strerror(errno);
    return false;
  }
  uint8_t Block[65536];
  size_t Got = 0;
  while ((Got = std::fread(Block, 1, sizeof(Block), File)) > 0) {
    Text.insert(Text.end(), Block, Block + Got);
  }
  const bool Failed = std::ferror(File) != 0;
  const int Reason = errno;
  if (!Standard) {
    std::fclose(File);
  }
  if (Failed) {
    Error = std::strerror(Reason);
  }
  return !Failed;
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "split") == 0) {
    return RivariCheck::RunSplitCommand(argc - 1, argv + 1);
  }
  CLI::App App{"Shows what the TolvaneService driver reads from a rivari.ini, and warns about the traps of "
               "the format.",
               "rivari-check"};
  App.footer(WithPatience(Examples));
  std::string FilePath;
  std::vector<std::string> Identifiers;
  std::string IdentifierList;
  RivariCheck::WarningControl Control;
  bool AllSections = false;
  bool Json = false;
  std::vector<int64_t> FileNumbers;
  std::string ServerName;
  double TimeoutSeconds = 0;
  bool NoRead = false;
  CLI::Option *File =
      App.add_option("FILE", FilePath, "The configuration file, as it lies on the TFTP server ('-': standard input)");
  App.add_option("-m,--machine", Identifiers,
                 "The machine identifier a caller passes to FetchConfiguration (8 characters; repeatable)");
  CLI::Option *MachineList =
      App.add_option("--machines", IdentifierList,
                     "Check every identifier listed in this file, one a line ('-': standard input)")
          ->type_name("LIST");
  App.add_flag("-a,--all", AllSections, "List every section header with its entry count");
  App.add_option("-f,--file-number", FileNumbers,
                 "Show the TFTP name of numbered file N, with --server also its download (repeatable; "
                 "default 0, with --server 0, 1, 2, ... up to the first missing one)")
      ->type_name("N");
  App.add_flag("--json", Json, "Write the report as JSON");
  CLI::Option *Server =
      App.add_option("-s,--server", ServerName, "Fetch rivari.ini from this TFTP server as the driver does")
          ->type_name("HOST[:PORT]")
          ->excludes(File);
  CLI::Option *Timeout =
      App.add_option("--timeout", TimeoutSeconds,
                     WithPatience("With --server: wait at most this many seconds of silence instead of the firmware's "
                                  "PATIENCE; a longer silence makes the verdict \"cannot tell\" (exit 4)"))
          ->check(CLI::Range(0.01, 600.0))
          ->type_name("SECONDS")
          ->needs(Server);
  App.add_flag("--no-read", NoRead, "With --server: size queries of numbered files only, no reads")->needs(Server);
  bool ShowModel = false;
  CLI::Option *Model = App.add_flag("--firmware-model", ShowModel,
                                    "Print, as JSON, what --server assumes of the firmware: its requests, how often "
                                    "and how far apart it sends, the pool limit, and its status per server behaviour");
  auto KnownCode = [](const std::string &Code) {
    return RivariCheck::IsWarningCode(Code) || Code == "all" ? std::string() : "no warning has the code " + Code;
  };
  App.add_option("--ignore", Control.Ignored, "Leave out warnings with this code ('all': every code; repeatable)")
      ->check(KnownCode)
      ->type_name("CODE");
  App.add_option("--error", Control.Errors, "Report warnings with this code as errors ('all': every code; repeatable)")
      ->check(KnownCode)
      ->type_name("CODE");

  try {
    App.parse(argc, argv);
    if (Model->count() != 0) {
      std::cout << RivariCheck::FirmwareModelAsJson();
      return 0;
    }
    if (File->count() == 0 && Server->count() == 0) {
      throw CLI::RequiredError("FILE or --server");
    }
    if (MachineList->count() != 0) {
      if (IdentifierList == "-" && FilePath == "-") {
        throw CLI::ValidationError("--machines", "FILE and the list cannot both be standard input");
      }
      std::FILE *List = IdentifierList == "-" ? stdin : std::fopen(IdentifierList.c_str(), "r");
      const bool Read = List != nullptr && ReadIdentifiers(List, Identifiers);
      if (List != nullptr && List != stdin) {
        std::fclose(List);
      }
      if (!Read || Identifiers.empty()) {
        throw CLI::ValidationError("--machines", IdentifierList + ": no identifiers read");
      }
    }
    if (Identifiers.empty() && !AllSections && Server->count() == 0) {
      throw CLI::RequiresError("FILE", "--machine or --all");
    }
    if (Identifiers.empty() && !FileNumbers.empty()) {
      throw CLI::RequiresError("--file-number", "--machine");
    }
    if (Identifiers.size() > 1 && Server->count() != 0) {
      throw CLI::ValidationError("--server", "checks one machine at a time");
    }
  } catch (const CLI::ParseError &Error) {
    const int Status = App.exit(Error);
    return Status == 0 ? 0 : UsageError;
  }

  RivariCheck::InstallHostPlatform();
  RivariCheck::ReportRequest Request;
  Request.AllSections = AllSections || Identifiers.empty();
  std::vector<RivariCheck::ConfigurationReport> Reports;
  if (Server->count() != 0) {
    if (!Identifiers.empty()) {
      Request.Identifier = Identifiers[0];
      Request.FileNumbers = FileNumbers;
    }
    RivariCheck::ServerCheckRequest Settings;
    if (Timeout->count() != 0) {
      Settings.MostSilence = std::chrono::milliseconds(static_cast<int64_t>(TimeoutSeconds * 1000));
    }
    Settings.ReadNumberedFiles = !NoRead;
    std::string ServerError;
    std::optional<RivariCheck::ServerCheckReport> Checked =
        RivariCheck::CheckServerAt(ServerName, Settings, Request, ServerError);
    if (!Checked) {
      std::cerr << "rivari-check: --server: " << ServerError << "\n";
      return UsageError;
    }
    RivariCheck::ApplyWarningControl(Checked->Configuration, Control);
    std::cout << (Json ? RivariCheck::ServerCheckAsJson(*Checked) : RivariCheck::ServerCheckAsText(*Checked));
    return RivariCheck::ServerExitStatus(*Checked);
  }
  std::vector<uint8_t> Text;
  std::string ReadError;
  const std::string Shown = FilePath == "-" ? StandardInputName : FilePath;
  if (!ReadWholeFile(FilePath, Text, ReadError)) {
    Reports.push_back(RivariCheck::UnreadableReport(Shown, ReadError));
  } else if (Identifiers.empty()) {
    Reports.push_back(RivariCheck::AnalyzeConfiguration(Shown, Text, Request));
  } else {
    Request.FileNumbers = FileNumbers.empty() ? std::vector<int64_t>{0} : FileNumbers;
    for (const std::string &Identifier : Identifiers) {
      Request.Identifier = Identifier;
      Reports.push_back(RivariCheck::AnalyzeConfiguration(Shown, Text, Request));
      // The warnings about the file as a whole and the list of sections come with the first machine only.
      Request.FileWarnings = false;
      Request.AllSections = false;
    }
  }

  int Status = 0;
  for (RivariCheck::ConfigurationReport &Report : Reports) {
    RivariCheck::ApplyWarningControl(Report, Control);
    Status = std::max(Status, RivariCheck::ExitStatus(Report));
  }
  if (Json) {
    // One machine: one report object, as always; several: an array of them, in the order given.
    std::string Joined;
    for (const RivariCheck::ConfigurationReport &Report : Reports) {
      Joined += (Joined.empty() ? "" : ",\n") + RivariCheck::ReportAsJson(Report);
    }
    std::cout << (Reports.size() == 1 ? Joined : "[\n" + Joined + "]\n");
  } else if (Reports[0].Outcome == RivariCheck::ReportOutcome::Unreadable) {
    std::cerr << "rivari-check: " << RivariCheck::ReportAsText(Reports[0]);
  } else {
    for (size_t Index = 0; Index < Reports.size(); Index++) {
      std::cout << (Index == 0 ? "" : "\n") << RivariCheck::ReportAsText(Reports[Index]);
    }
  }
  return Status;
}
