/* The command line of rivari-check split. */
#include "SplitCommand.h"

#include <CLI/CLI.hpp>
#include <iostream>

#include "HostPlatform.h"
#include "SplitOutput.h"

namespace RivariCheck {

namespace {

constexpr const char *Footer =
    R"(MAP has one "identifier,address" row per line (blank lines and lines starting with # are
skipped): the 8-character identifier the machine's caller passes to FetchConfiguration, and the address its TFTP
server knows it by: an IPv4 address (a.b.c.d) for dnsmasq-ip and tftpd-hpa, a MAC address for dnsmasq-mac
(aa:bb:cc:dd:ee:ff, AA-BB-CC-DD-EE-FF, aabb.ccdd.eeff or aabbccddeeff).

Examples:
  rivari-check split rivari.ini --map fleet.csv --out /srv/tftp-split
      one folder per client IP address with its own rivari.ini and numbered files, for dnsmasq
  rivari-check split rivari.ini --map fleet.csv --out /srv/tftp-split --for tftpd-hpa
      the same files for tftpd-hpa, with the map file that sends each client its own
  rivari-check /srv/tftp-split/10.0.2.15/rivari.ini --machine ABCD1234
      what the machine at 10.0.2.15 will receive, checked from the operator's host

Every client file is checked with the driver's own section lookup, entry scan and count: a machine whose answers
would differ, whose section is missing, duplicated or swallowed by an open double quote, whose identifier has
lower-case letters, or whose file has tokens before the first header, is reported and gets no file unless
--force. A reason that holds back every client is printed once, with the line to fix. The split writes only inside
--out, never through a link, and removes the client files of an earlier run that it no longer makes.

Exit status:
  0   every client written, each giving the same answers
  1   some clients reported (held back, or written with --force)
  2   the file or the map cannot be read, a map row cannot be used, or --out cannot be written (or its
      parent is missing without --parents)
  64  wrong use of the command line
)";

} // namespace

CLI::App *AddSplitCommand(CLI::App &Parent, SplitCommandLine &Line) {
  CLI::App *App = Parent.add_subcommand(
      "split", "Writes each client's own rivari.ini, laid out for its TFTP server, proven to give the same answers.");
  App->footer(Footer);
  SplitRequest &Request = Line.Request;
  App->add_option("FILE", Request.FilePath, "The fleet's rivari.ini, beside its numbered files")->required();
  App->add_option("--map", Request.MapPath, "The clients: identifier,address rows")->required()->type_name("MAP");
  App->add_option("--out", Request.OutPath, "The folder to serve (created if missing; its parent must exist)")
      ->required()
      ->type_name("DIR");
  App->add_flag("--parents", Request.Parents, "Create the missing parent folders of --out too");
  std::vector<std::string> Servers;
  for (ServerKind Kind : ServerKinds) {
    Servers.push_back(ServerKindName(Kind));
  }
  std::string ServerHelp = Servers.front() + " (default)";
  for (size_t Index = 1; Index < Servers.size(); Index++) {
    ServerHelp += (Index + 1 == Servers.size() ? " or " : ", ") + Servers[Index];
  }
  App->add_option("--for", Line.Server, ServerHelp)->check(CLI::IsMember(Servers))->type_name("SERVER");
  App->add_flag("--force", Request.Force, "Write a reported client's file all the same (never through a link)");
  App->add_flag("--json", Line.Json, "Write the report as JSON");
  App->add_flag("--time", Line.WithTime, "Add the time the split took");
  return App;
}

int RunSplitCommand(SplitCommandLine &Line) {
  SplitRequest &Request = Line.Request;
  Request.Kind = *ServerKindNamed(Line.Server);

  InstallHostPlatform();
  const SplitReport Report = RunSplit(Request);
  const int Status = SplitExitStatus(Report);
  if (Line.Json) {
    std::cout << SplitReportAsJson(Report, Line.WithTime);
  } else if (Status == 2) {
    std::cerr << "rivari-check split: " << SplitReportAsText(Report, Line.WithTime);
  } else {
    std::cout << SplitReportAsText(Report, Line.WithTime);
  }
  return Status;
}

} // namespace RivariCheck
