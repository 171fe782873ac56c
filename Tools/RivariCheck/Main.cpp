/* rivari-check: shows what the driver reads from a rivari.ini and warns about the format's traps. */
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "ConfigurationReport.h"
#include "HostPlatform.h"
#include "ReportOutput.h"

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

Exit status:
  0   the section was found and nothing is wrong
  1   the section was found, with warnings
  2   the section is missing (with --all alone: the file has no header), or the file cannot be read
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
  CLI::App App{"Shows what the TolvaneService driver reads from a rivari.ini, and warns about the traps of "
               "the format.",
               "rivari-check"};
  App.footer(Examples);
  std::string FilePath;
  std::string Identifier;
  bool AllSections = false;
  bool Json = false;
  std::vector<int64_t> FileNumbers;
  App.add_option("FILE", FilePath, "The configuration file, as it lies on the TFTP server")->required();
  CLI::Option *Machine = App.add_option("-m,--machine", Identifier,
                                        "The machine identifier a caller passes to FetchConfiguration (8 characters)");
  App.add_flag("-a,--all", AllSections, "List every section header with its entry count");
  App.add_option("-f,--file-number", FileNumbers, "Show the TFTP name of numbered file N (repeatable; default 0)")
      ->needs(Machine)
      ->type_name("N");
  App.add_flag("--json", Json, "Write the report as JSON");

  try {
    App.parse(argc, argv);
    if (Machine->count() == 0 && !AllSections) {
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
    Request.FileNumbers = FileNumbers.empty() ? std::vector<int64_t>{0} : FileNumbers;
  }
  Request.AllSections = AllSections;

  std::vector<uint8_t> Text;
  std::string ReadError;
  const RivariCheck::ConfigurationReport Report = ReadWholeFile(FilePath, Text, ReadError)
                                                      ? RivariCheck::AnalyzeConfiguration(FilePath, Text, Request)
                                                      : RivariCheck::UnreadableReport(FilePath, ReadError);
  if (Json) {
    std::cout << RivariCheck::ReportAsJson(Report);
  } else if (Report.Outcome == RivariCheck::ReportOutcome::Unreadable) {
    std::cerr << "rivari-check: " << RivariCheck::ReportAsText(Report);
  } else {
    std::cout << RivariCheck::ReportAsText(Report);
  }
  return RivariCheck::ExitStatus(Report);
}
