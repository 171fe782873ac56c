/* rivari-check check (and the form without a subcommand): the options of a file check and running one. */
#ifndef TOLVANE_TOOLS_CHECK_COMMAND_H
#define TOLVANE_TOOLS_CHECK_COMMAND_H

#include <cstdint>
#include <string>
#include <vector>

#include "WarningControl.h"

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace RivariCheck {

/* Exit status for wrong use of the command line. */
constexpr int UsageError = 64;

/* What a file check or a server check was given. */
struct CheckCommandLine {
  std::string FilePath;
  std::vector<std::string> Identifiers;
  std::string IdentifierList;
  WarningControl Control;
  bool AllSections = false;
  bool Json = false;
  std::vector<int64_t> FileNumbers;
  std::string ServerName;
  double TimeoutSeconds = 0;
  bool NoRead = false;
  CLI::Option *MachineList = nullptr; // --machines, when the form has it
  CLI::Option *Timeout = nullptr;     // --timeout, when the form has it
};

/* Where the machine options are offered: their help says what --file-number does there. */
enum class MachineOptionsForm {
  FileCheck,         // rivari-check check: names only, and --machines
  ServerCheck,       // rivari-check server: downloads
  WithoutSubcommand, // the form without a subcommand: names, downloads with --server, and --machines
};

/* Adds --machine, --machines (but for a server check), --all, --file-number and --json, bound to Line. */
void AddMachineOptions(CLI::App &App, CheckCommandLine &Line, MachineOptionsForm Form);

/* Adds --ignore and --error, bound to Line. */
void AddWarningOptions(CLI::App &App, CheckCommandLine &Line);

/*
 * Reads the --machines list and checks that the machines asked for fit the
 * form (a server check takes one); throws CLI::ParseError otherwise.
 */
void CheckMachineChoice(CheckCommandLine &Line, bool ServerCheck);

/* Adds the "check" subcommand, its options bound to Line, to Parent; returns it. */
CLI::App *AddCheckCommand(CLI::App &Parent, CheckCommandLine &Line);

/* Checks the file Line names for the machines it asks for, prints the reports; returns the exit status. */
int RunCheckCommand(const CheckCommandLine &Line);

} // namespace RivariCheck

#endif
