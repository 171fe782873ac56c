/* rivari-check: shows what the driver reads from a rivari.ini and warns about the format's traps. */
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "ConfigurationReport.h"
#include "HostPlatform.h"
#include "ReportOutput.h"
#include "ServerCheck.h"
#include "Split/SplitCommand.h"

namespace {

/* Exit status for wrong use of the command line. */
constexpr int UsageError = 64;

constexpr const char *Examples = R"(Examples:
  rivari-check rivari.ini --machine ab12cd34
      the section of machine ab12cd34: every entry GetEntry answers, its value and size, the count
  rivari-check rivari.ini --machine ab12cd34 --file-number 7 --file-number 1234567
      also the TFTP names of numbered files 7 and 1234567 (names longer than 15 characters are cut)
  rivari-check rivari.ini --all
      every section header with its entry count
  rivari-check rivari.ini --machine ab12cd34 --json
      the same as JSON, for scripts
  rivari-check --server 192.0.2.10 --machine ab12cd34
      the driver's requests against a TFTP server: the size it answers, the block size it agrees to, whether
      FetchConfiguration would succeed, the machine's section in the file it sends, and numbered files 0, 1, 2, ...
      up to the first missing one

Exit status:
  0   the section was found and nothing is wrong
  1   the section was found, with warnings
  2   the section is missing (with --all alone: the file has no header), or the file cannot be read
  3   with --server: the driver's fetch, or a numbered file asked for, would fail on this server
  64  wrong use of the command line

Values are shown as GetEntry copies them, double quotes included; in text output, characters other
than printable ASCII appear as \uXXXX (the CHAR16 the driver hands out). The JSON shape is documented
in Tools/RivariCheck/README.md.
)";

/* The whole file, or false with Error set. */
bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Text, std::string &Error) {
  std::FILE *File = std::fopen(Path.c_str(), "rb");
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
  std::fclose(File);
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
  App.footer(Examples);
  std::string FilePath;
  std::string Identifier;
  bool AllSections = false;
  bool Json = false;
  std::vector<int64_t> FileNumbers;
  std::string ServerName;
  double TimeoutSeconds = 5;
  bool NoRead = false;
  CLI::Option *File = App.add_option("FILE", FilePath, "The configuration file, as it lies on the TFTP server");
  CLI::Option *Machine = App.add_option("-m,--machine", Identifier,
                                        "The machine identifier a caller passes to FetchConfiguration (8 characters)");
  App.add_flag("-a,--all", AllSections, "List every section header with its entry count");
  App.add_option("-f,--file-number", FileNumbers,
                 "Show the TFTP name of numbered file N, with --server also its download (repeatable; "
                 "default 0, with --server 0, 1, 2, ... up to the first missing one)")
      ->needs(Machine)
      ->type_name("N");
  App.add_flag("--json", Json, "Write the report as JSON");
  CLI::Option *Server =
      App.add_option("-s,--server", ServerName, "Fetch rivari.ini from this TFTP server as the driver does")
          ->type_name("HOST[:PORT]")
          ->excludes(File);
  App.add_option("--timeout", TimeoutSeconds, "With --server: seconds to wait for each answer (default 5)")
      ->check(CLI::Range(0.01, 600.0))
      ->type_name("SECONDS")
      ->needs(Server);
  App.add_flag("--no-read", NoRead, "With --server: size queries of numbered files only, no reads")->needs(Server);

  try {
    App.parse(argc, argv);
    if (File->count() == 0 && Server->count() == 0) {
      throw CLI::RequiredError("FILE or --server");
    }
    if (Machine->count() == 0 && !AllSections && Server->count() == 0) {
      throw CLI::RequiresError("FILE", "--machine or --all");
    }
  } catch (const CLI::ParseError &Error) {
    const int Status = App.exit(Error);
    return Status == 0 ? 0 : UsageError;
  }

  RivariCheck::InstallHostPlatform();
  RivariCheck::ReportRequest Request;
  if (Machine->count() != 0) {
    Request.Identifier = Identifier;
    Request.FileNumbers = FileNumbers.empty() && Server->count() == 0 ? std::vector<int64_t>{0} : FileNumbers;
  }
  Request.AllSections = AllSections || Machine->count() == 0;

  std::vector<uint8_t> Text;
  std::string ReadError;
  std::optional<RivariCheck::ConfigurationReport> Checked;
  if (Server->count() != 0) {
    RivariCheck::ServerCheckRequest Settings;
    Settings.Timeout = std::chrono::milliseconds(static_cast<int64_t>(TimeoutSeconds * 1000));
    Settings.ReadNumberedFiles = !NoRead;
    Checked = RivariCheck::CheckServerAt(ServerName, Settings, Request, ReadError);
    if (!Checked) {
      std::cerr << "rivari-check: --server: " << ReadError << "\n";
      return UsageError;
    }
  } else {
    Checked = ReadWholeFile(FilePath, Text, ReadError) ? RivariCheck::AnalyzeConfiguration(FilePath, Text, Request)
                                                       : RivariCheck::UnreadableReport(FilePath, ReadError);
  }
  const RivariCheck::ConfigurationReport &Report = *Checked;
  if (Json) {
    std::cout << RivariCheck::ReportAsJson(Report);
  } else if (Report.Outcome == RivariCheck::ReportOutcome::Unreadable) {
    std::cerr << "rivari-check: " << RivariCheck::ReportAsText(Report);
  } else {
    std::cout << RivariCheck::ReportAsText(Report);
  }
  return RivariCheck::ExitStatus(Report);
}
