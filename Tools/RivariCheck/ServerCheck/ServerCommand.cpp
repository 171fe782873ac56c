/* rivari-check server: the options of a server check, and its report. */
#include "ServerCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "FirmwareModel.h"
#include "HostPlatform.h"
#include "ServerCheck.h"
#include "ServerCheckJson.h"
#include "ServerCheckText.h"

namespace RivariCheck {

namespace {

constexpr const char *ServerFooter = R"(Examples:
  rivari-check server 192.0.2.10 --machine AB12CD34
      the firmware's requests for the driver against a TFTP server, sent and waited for as the firmware does (up
      to PATIENCE s of silence): the size it answers, the block size and window it agrees to, whether FetchConfiguration
      would succeed and the pool it needs, the machine's section in the file it sends, and numbered files 0, 1,
      2, ... up to the first missing one
  rivari-check server 192.0.2.10:6969 --machine AB12CD34 --file-number 3 --no-read --json
      a server on port 6969, the size query of numbered file 3 only, as JSON
  rivari-check server 192.0.2.10 --all --timeout 5
      every section header of the file the server sends, waiting at most 5 s of silence

Exit status (the first that applies wins):
  3   the driver's fetch (a missing section included), or a numbered file, would fail on this server
  4   nothing would fail as far as the check can tell, but something it cannot tell (it could not send, or
      --timeout ended a wait the firmware would have sat out)
  2, 1, 0  the file's own, as "rivari-check check" gives them
  64  wrong use of the command line, or HOST names no IPv4 server
)";

} // namespace

std::string WithPatience(std::string Text) {
  const std::string Mark = "PATIENCE";
  const std::string Seconds = std::to_string(FirmwarePatience.count() / 1000);
  for (size_t At = Text.find(Mark); At != std::string::npos; At = Text.find(Mark, At + Seconds.size())) {
    Text.replace(At, Mark.size(), Seconds);
  }
  return Text;
}

void AddServerWaitOptions(CLI::App &App, CheckCommandLine &Line, CLI::Option *Server) {
  Line.Timeout =
      App.add_option("--timeout", Line.TimeoutSeconds,
                     WithPatience("With --server: wait at most this many seconds of silence instead of the firmware's "
                                  "PATIENCE; a longer silence makes the verdict \"cannot tell\" (exit 4)"))
          ->check(CLI::Range(0.01, 600.0))
          ->type_name("SECONDS");
  CLI::Option *NoRead =
      App.add_flag("--no-read", Line.NoRead, "With --server: size queries of numbered files only, no reads");
  if (Server != nullptr) {
    Line.Timeout->needs(Server);
    NoRead->needs(Server);
  }
}

CLI::App *AddServerCommand(CLI::App &Parent, CheckCommandLine &Line) {
  CLI::App *App = Parent.add_subcommand(
      "server", "Fetches rivari.ini and the machine's numbered files from a TFTP server as the driver does, and "
                "tells whether the driver's fetch would succeed.");
  App->footer(WithPatience(ServerFooter));
  App->add_option("HOST", Line.ServerName, "The TFTP server (port 69 unless given)")
      ->required()
      ->type_name("HOST[:PORT]");
  AddMachineOptions(*App, Line, MachineOptionsForm::ServerCheck);
  AddServerWaitOptions(*App, Line, nullptr);
  AddWarningOptions(*App, Line);
  return App;
}

int RunServerCommand(const CheckCommandLine &Line, const char *Prefix) {
  InstallHostPlatform();
  ReportRequest Request;
  Request.AllSections = Line.AllSections || Line.Identifiers.empty();
  if (!Line.Identifiers.empty()) {
    Request.Identifier = Line.Identifiers[0];
    Request.FileNumbers = Line.FileNumbers;
  }
  ServerCheckRequest Settings;
  if (Line.Timeout != nullptr && Line.Timeout->count() != 0) {
    Settings.MostSilence = std::chrono::milliseconds(static_cast<int64_t>(Line.TimeoutSeconds * 1000));
  }
  Settings.ReadNumberedFiles = !Line.NoRead;
  std::string ServerError;
  std::optional<ServerCheckReport> Checked = CheckServerAt(Line.ServerName, Settings, Request, ServerError);
  if (!Checked) {
    std::cerr << Prefix << ServerError << "\n";
    return UsageError;
  }
  ApplyWarningControl(Checked->Configuration, Line.Control);
  std::cout << (Line.Json ? ServerCheckAsJson(*Checked) : ServerCheckAsText(*Checked));
  return ServerExitStatus(*Checked);
}

} // namespace RivariCheck
