/* rivari-check server (and --server without a subcommand): the options of a server check and running one. */
#ifndef TOLVANE_TOOLS_SERVER_COMMAND_H
#define TOLVANE_TOOLS_SERVER_COMMAND_H

#include <string>

#include "CheckCommand.h"

namespace RivariCheck {

/* Text with PATIENCE replaced by the seconds of silence the firmware sits out, from the firmware model. */
std::string WithPatience(std::string Text);

/* Adds --timeout and --no-read, bound to Line; both need Server when it is given (the form without a subcommand). */
void AddServerWaitOptions(CLI::App &App, CheckCommandLine &Line, CLI::Option *Server);

/* Adds the "server" subcommand, its options bound to Line, to Parent; returns it. */
CLI::App *AddServerCommand(CLI::App &Parent, CheckCommandLine &Line);

/*
 * Checks the server Line names, prints the report; returns the exit status.
 * A HOST that names no server is reported after Prefix ("rivari-check
 * server: ", or "rivari-check: --server: ").
 */
int RunServerCommand(const CheckCommandLine &Line, const char *Prefix);

} // namespace RivariCheck

#endif
