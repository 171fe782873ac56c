/* rivari-check: shows what the driver reads from a rivari.ini and warns about the format's traps. */
#include <CLI/CLI.hpp>
#include <iostream>

#include "CheckCommand.h"
#include "ServerCheckJson.h"
#include "ServerCommand.h"
#include "SplitCommand.h"

namespace {

constexpr const char *Examples = R"(Subcommands (each with its own --help and examples):
  rivari-check check FILE --machine ID ...     what the driver reads from FILE for each machine
  rivari-check server HOST --machine ID ...    the firmware's requests against a TFTP server
  rivari-check split FILE --map MAP --out DIR  each client's own rivari.ini, laid out for its server
The forms without "check" and "server" below are accepted as well.

Examples:
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

/* The options of the form without a subcommand: a file check, or with --server a server check. */
struct PlainForm {
  bool ShowModel = false;
  CLI::Option *File = nullptr;
  CLI::Option *Server = nullptr;
  CLI::Option *Model = nullptr;
};

void AddPlainOptions(CLI::App &App, RivariCheck::CheckCommandLine &Line, PlainForm &Form) {
  Form.File = App.add_option("FILE", Line.FilePath,
                             "The configuration file, as it lies on the TFTP server ('-': standard input)");
  RivariCheck::AddMachineOptions(App, Line, RivariCheck::MachineOptionsForm::WithoutSubcommand);
  Form.Server =
      App.add_option("-s,--server", Line.ServerName, "Fetch rivari.ini from this TFTP server as the driver does")
          ->type_name("HOST[:PORT]")
          ->excludes(Form.File);
  RivariCheck::AddServerWaitOptions(App, Line, Form.Server);
  Form.Model = App.add_flag("--firmware-model", Form.ShowModel,
                            "Print, as JSON, what --server assumes of the firmware: its requests, how often "
                            "and how far apart it sends, the pool limit, and its status per server behaviour");
  RivariCheck::AddWarningOptions(App, Line);
}

} // namespace

int main(int argc, char **argv) {
  CLI::App App{"Shows what the TolvaneService driver reads from a rivari.ini, and warns about the traps of "
               "the format.",
               "rivari-check"};
  App.footer(RivariCheck::WithPatience(Examples));
  RivariCheck::CheckCommandLine Plain;
  PlainForm Form;
  AddPlainOptions(App, Plain, Form);
  RivariCheck::CheckCommandLine CheckLine;
  CLI::App *Check = RivariCheck::AddCheckCommand(App, CheckLine);
  RivariCheck::CheckCommandLine ServerLine;
  CLI::App *Server = RivariCheck::AddServerCommand(App, ServerLine);
  RivariCheck::SplitCommandLine SplitLine;
  CLI::App *Split = RivariCheck::AddSplitCommand(App, SplitLine);

  try {
    App.parse(argc, argv);
    if (Check->parsed()) {
      RivariCheck::CheckMachineChoice(CheckLine, false);
    } else if (Server->parsed()) {
      RivariCheck::CheckMachineChoice(ServerLine, true);
    } else if (!Split->parsed()) {
      if (Form.Model->count() != 0) {
        std::cout << RivariCheck::FirmwareModelAsJson();
        return 0;
      }
      if (Form.File->count() == 0 && Form.Server->count() == 0) {
        throw CLI::RequiredError("FILE or --server");
      }
      RivariCheck::CheckMachineChoice(Plain, Form.Server->count() != 0);
    }
  } catch (const CLI::ParseError &Error) {
    const int Status = App.exit(Error);
    return Status == 0 ? 0 : RivariCheck::UsageError;
  }

  if (Check->parsed()) {
    return RivariCheck::RunCheckCommand(CheckLine);
  }
  if (Server->parsed()) {
    return RivariCheck::RunServerCommand(ServerLine, "rivari-check server: ");
  }
  if (Split->parsed()) {
    return RivariCheck::RunSplitCommand(SplitLine);
  }
  if (Form.Server->count() != 0) {
    return RivariCheck::RunServerCommand(Plain, "rivari-check: --server: ");
  }
  return RivariCheck::RunCheckCommand(Plain);
}
